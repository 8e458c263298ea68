#include "host/WindowLayout.h"

void SizeToEdge(int edge, RECT* rect, int32_t width, int32_t minHeight) {
    int32_t height = rect->bottom - rect->top;
    if (height < minHeight)
        height = minHeight;
    const bool left = edge == WMSZ_LEFT || edge == WMSZ_TOPLEFT || edge == WMSZ_BOTTOMLEFT;
    const bool right = edge == WMSZ_RIGHT || edge == WMSZ_TOPRIGHT || edge == WMSZ_BOTTOMRIGHT;
    const bool top = edge == WMSZ_TOP || edge == WMSZ_TOPLEFT || edge == WMSZ_TOPRIGHT;
    const bool bottom = edge == WMSZ_BOTTOM || edge == WMSZ_BOTTOMLEFT || edge == WMSZ_BOTTOMRIGHT;
    if (left)
        rect->left = rect->right - width;
    if (right)
        rect->right = rect->left + width;
    if (top)
        rect->top = rect->bottom - height;
    if (bottom)
        rect->bottom = rect->top + height;
}
