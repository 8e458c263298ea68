// A tab control of a dialog; the control stays the dialog's.
#pragma once

#include <windows.h>

#include <commctrl.h>

#include <cstdint>

namespace toolkit {

class TabCtrl {
  public:
    HWND parent;
    HWND control;
    TCITEMA item; // reused for every insertion
    // Tabs inserted through this wrapper; others are not counted.
    int32_t tabCount;

    TabCtrl(HWND parent, int controlId);

    // Inserts at the tab count, so after every tab this wrapper inserted.
    int AddItem(const char* caption);
    // Index of the new tab, or -1.
    int InsertItem(int index, const char* caption);
    // Index of the selected tab, or -1.
    int GetCurSel();
    HWND GetHwnd();
};

} // namespace toolkit
