// The device page behind the tab "Infomation": the drives the channel found,
// and the one that every plug-in works on.
#pragma once

#include "command/DeviceChannel.h"
#include "toolkit/ListCtrl.h"
#include "toolkit/ModelessDlg.h"
#include "toolkit/StaticCtrl.h"

class DeviceDlg {
  public:
    toolkit::ModelessDlg page;
    DeviceChannel* channel; // not owned
    // Kept while the page is closed, for the life of the process.
    int32_t columnWidths[4];
    toolkit::ListCtrl* list;            // only while the page is open
    toolkit::StaticCtrl* currentDevice; // only while the page is open
    // ShowCurrent is changing the list's selection: its notices are not clicks.
    bool showing;

    DeviceDlg(HINSTANCE instance, HWND parent, DeviceChannel* channel, int32_t templateId);
    ~DeviceDlg();
    DeviceDlg(const DeviceDlg&) = delete;
    DeviceDlg& operator=(const DeviceDlg&) = delete;

    int OpenModelessDlg(const toolkit::PageRect* rect);
    void CloseModelessDlg();
    // Makes the drive of a list row current; a row out of range means the
    // row chosen last.
    void SelectRow(int row);
    // The channel's current drive, chosen elsewhere: its row selected and
    // shown in the current-device line.
    void ShowCurrent();

    static INT_PTR CALLBACK Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
};

// The row chosen last; it outlives the page window.
extern int32_t lastSelectedRow;
