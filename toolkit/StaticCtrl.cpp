#include "toolkit/StaticCtrl.h"

namespace toolkit {

StaticCtrl::StaticCtrl(HWND parent_, int controlId)
    : parent(parent_), control(GetDlgItem(parent_, controlId)) {}

int StaticCtrl::SetText(const char* text) {
    return SendMessageA(control, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text)) ? 1 : 0;
}

HWND StaticCtrl::GetHwnd() {
    return control;
}

} // namespace toolkit
