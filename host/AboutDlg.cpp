#include "host/AboutDlg.h"

AboutDlg::AboutDlg(HINSTANCE instance, HWND parent, int32_t templateId)
    : page(instance, parent, templateId) {
    toolkit::thePage<AboutDlg> = this;
}

int AboutDlg::OpenModelessDlg(const toolkit::PageRect* rect) {
    return page.OpenModelessDlg(Procedure, rect);
}

void AboutDlg::CloseModelessDlg() {
    page.CloseModelessDlg();
}

INT_PTR CALLBACK AboutDlg::Procedure(HWND window, UINT message, WPARAM, LPARAM) {
    switch (message) {
    case WM_INITDIALOG:
        return TRUE;
    case WM_PAINT:
        // The page sits over the tab control's body, which paints across it.
        InvalidateRect(window, nullptr, TRUE);
        return FALSE;
    case WM_CLOSE:
        DestroyWindow(window);
        return TRUE;
    case WM_DESTROY:
        // Closed by itself: the object must not destroy a stale handle later.
        if (toolkit::thePage<AboutDlg> && toolkit::thePage<AboutDlg>->page.window == window)
            toolkit::thePage<AboutDlg>->page.window = nullptr;
        return FALSE;
    case WM_COMMAND:
        return TRUE;
    }
    return FALSE;
}
