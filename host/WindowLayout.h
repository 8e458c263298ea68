// The arithmetic of the main window's layout, apart from any window: the
// fixed width and minimum height while an edge is dragged.
#pragma once

#include <windows.h>

#include <cstdint>

// Changes the edges of `rect` that move when `edge` (WMSZ_LEFT .. WMSZ_BOTTOMRIGHT)
// is dragged: the width becomes `width`, the height at least `minHeight`.
// Any other edge code leaves the rectangle as proposed.
void SizeToEdge(int edge, RECT* rect, int32_t width, int32_t minHeight);
