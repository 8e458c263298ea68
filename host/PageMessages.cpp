#include "host/PageMessages.h"

INT_PTR CommonPageMessage(toolkit::ModelessDlg* page, HWND window, UINT message) {
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
        // Closed by itself or with the main window: no stale handle is destroyed later.
        if (page && page->window == window)
            page->window = nullptr;
        return FALSE;
    case WM_COMMAND:
        return TRUE;
    }
    return FALSE;
}
