#include "toolkit/ModelessDlg.h"

namespace toolkit {

ModelessDlg::ModelessDlg(HINSTANCE instance_, HWND parent_, int32_t templateId_)
    : instance(instance_), window(nullptr), parent(parent_), templateId(templateId_) {}

ModelessDlg::~ModelessDlg() {
    if (window)
        CloseModelessDlg();
}

int ModelessDlg::OpenModelessDlg(DLGPROC procedure, const PageRect* rect) {
    if (CreatePage(procedure) && rect)
        ShowPage(*rect);
    return window ? 1 : 0;
}

int ModelessDlg::CreatePage(DLGPROC procedure) {
    window = CreateDialogParamA(instance, MAKEINTRESOURCEA(templateId), parent, procedure, 0);
    return window ? 1 : 0;
}

void ModelessDlg::ShowPage(const PageRect& rect) {
    // Not repainted here: showing the window paints it once, in place.
    MoveWindow(window, rect.left, rect.top, rect.width, rect.height, FALSE);
    ShowWindow(window, SW_SHOW);
}

void ModelessDlg::CloseModelessDlg() {
    if (window)
        DestroyWindow(window);
    window = nullptr;
}

} // namespace toolkit
