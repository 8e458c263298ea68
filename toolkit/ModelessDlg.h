// What every page (a modeless child dialog shown in the main window's tab
// area) shares: the four fields a page object starts with, and how its window
// is created, placed, shown and destroyed.
//
// A page class holds a ModelessDlg as its first field and publishes itself in
// thePage<PageClass> when it is constructed; its dialog procedure finds the
// object there, already during WM_INITDIALOG. The page builds its control
// wrappers after CreatePage and deletes them when it closes.
#pragma once

#include <windows.h>

#include <cstdint>

namespace toolkit {

// Where a page goes, in the parent's client coordinates.
struct PageRect {
    int32_t left;
    int32_t top;
    int32_t width;
    int32_t height;
};

struct ModelessDlg {
    HINSTANCE instance; // module that holds the template
    HWND window;        // 0 while the page is closed
    HWND parent;
    int32_t templateId;

    ModelessDlg(HINSTANCE instance, HWND parent, int32_t templateId);
    // Destroys the page window if one is open.
    ~ModelessDlg();
    // A copy would destroy the same window twice.
    ModelessDlg(const ModelessDlg&) = delete;
    ModelessDlg& operator=(const ModelessDlg&) = delete;

    // Creates the page window hidden and, when a rectangle is given, moves it
    // there and shows it. 1 when the window exists, else 0.
    int OpenModelessDlg(DLGPROC procedure, const PageRect* rect);
    // The two halves, for pages that fill their controls in between.
    int CreatePage(DLGPROC procedure);
    void ShowPage(const PageRect& rect);
    // Destroys the page window if there is one.
    void CloseModelessDlg();
};

// The one object of each page class in this program (or plug-in library).
template <class Page> inline Page* thePage = nullptr;

} // namespace toolkit
