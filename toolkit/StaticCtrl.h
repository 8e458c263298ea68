// A static text of a dialog; the control stays the dialog's.
#pragma once

#include <windows.h>

namespace toolkit {

class StaticCtrl {
  public:
    HWND parent;
    HWND control;

    StaticCtrl(HWND parent, int controlId);

    // 1 when the control took the text, else 0.
    int SetText(const char* text);
    HWND GetHwnd();
};

} // namespace toolkit
