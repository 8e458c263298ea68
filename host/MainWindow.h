// What others see of the host's main window: the message that selects a
// drive from outside, and where a page sits over the tab control.
#pragma once

#include <windows.h>

#include <cstdint>

// wParam carries the adapter number in its high 16 bits and the target number
// in its low 16 bits (the low byte of each counts); the answer is 1 when that
// pair is in the device table, else 0 and the current drive stays.
constexpr UINT WM_SELECT_DEVICE = WM_USER + 1;

// A page covers the tab control's body: its window rectangle inset by these,
// the top one clearing the row of tabs.
constexpr int32_t kPageInsetLeft = 5;
constexpr int32_t kPageInsetTop = 25;
constexpr int32_t kPageInsetRight = 5;
constexpr int32_t kPageInsetBottom = 5;
