// The arithmetic of the main window's layout, apart from any window: the
// fixed width and minimum height while an edge is dragged, and whether a
// saved position lies on the screen.
#pragma once

#include <windows.h>

#include <cstdint>

// Changes the edges of `rect` that move when `edge` (WMSZ_LEFT .. WMSZ_BOTTOMRIGHT)
// is dragged: the width becomes `width`, the height at least `minHeight`.
// Any other edge code leaves the rectangle as proposed.
void SizeToEdge(int edge, RECT* rect, int32_t width, int32_t minHeight);

// Unsigned 32-bit sums, so a negative position counts as off-screen.
bool PositionOnScreen(uint32_t x, uint32_t y, uint32_t width, uint32_t height, uint32_t screenWidth,
                      uint32_t screenHeight);
