// The About page behind the tab "About" of the full mode.
#pragma once

#include "toolkit/ModelessDlg.h"

class AboutDlg {
  public:
    toolkit::ModelessDlg page;

    AboutDlg(HINSTANCE instance, HWND parent, int32_t templateId);

    int OpenModelessDlg(const toolkit::PageRect* rect);
    void CloseModelessDlg();

    static INT_PTR CALLBACK Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
};
