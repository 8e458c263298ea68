// The host's one object: the main window with its tab control and status
// line, the device channel, the plug-in table and the host's own pages, from
// start-up to the settings written at close.
#pragma once

#include "command/DeviceChannel.h"
#include "host/MainWindow.h"
#include "plugin/PluginInterface.h"
#include "toolkit/ModelessDlg.h"
#include "toolkit/StaticCtrl.h"
#include "toolkit/TabCtrl.h"

#include <windows.h>

#include <cstdint>

class AboutDlg;
class DeviceDlg;

struct PluginSlot {
    HMODULE library;
    HDLL_CreateProc create;
    HDLL_OpenProc open;
    HDLL_CloseProc close;
    HDLL_DestroyProc destroy;
};

class MainDlg {
  public:
    enum : uint32_t { kMaxPlugins = 30, kNoTab = 999 };

    HINSTANCE instance;
    HWND window;
    PluginSlot plugins[kMaxPlugins];
    uint32_t pluginCount;
    DeviceChannel* channel;
    toolkit::TabCtrl* tab;
    toolkit::StaticCtrl* status;
    AboutDlg* about;
    DeviceDlg* device;
    uint32_t currentTab;
    toolkit::PageRect pageRect;
    int32_t minWidth, minHeight;       // outer size right after creation
    int32_t clientWidth, clientHeight; // the height follows every resize
    int32_t plainMode;
    // A close asked for while the open page held the host, done once it lets
    // go: 0 none, else whether the settings are written first.
    int32_t pendingClose;
    int32_t pendingSave;
    // The reason given to the system for a refused end of the session.
    int32_t blockReason;

    // Leaves `window` 0 when the channel or the window could not be created.
    MainDlg(HINSTANCE instance, int templateId, DLGPROC procedure, int showCommand);
    ~MainDlg();
    MainDlg(const MainDlg&) = delete;
    MainDlg& operator=(const MainDlg&) = delete;

    int InitDialog();
    // 1 when the pair is in the device table; else 0 and the previous pair stays.
    int SelectDevice(uint32_t adapter, uint32_t target);
    void SaveSettings();
    int MessageLoop();

    // Plug-ins are the libraries in the program's own folder, never in the
    // working directory, whatever directory the program was started in.
    void LoadPlugins();
    // Loads the library into the next free slot and creates its page object;
    // true when it is a plug-in that gets a tab.
    bool CreatePlugin(const char* path);
    // `index` is a slot, or -1 for a page of the host.
    void FillContext(int index);
    void SelectTab(uint32_t index);
    void OnSize(int width, int height);
    void OnSizing(int edge, RECT* rect);
    void OnMaximize();
    // Measures the window as created and moves it to the saved place where
    // that lies on a work area; always 1.
    static int RestorePosition(HWND window);

    // The open page holds the host while the tab control is disabled: it is
    // in its download or one of its boxes, and must not be closed under it.
    bool PageHolds() const;
    // WM_CLOSE (save) and IDCLOSE (no save): now, or once the page lets go.
    void RequestClose(bool save);
    // Whether the session may end: not while the open page refuses (a
    // drive being written).
    BOOL QueryEndSession(LPARAM reason);
    // The watch timer: the page let go, so the waiting close happens.
    void OnWatch();
    void OnCommand(WPARAM wParam, LPARAM lParam);
    // The tab control's selection changed: the new tab's page, unless the
    // open page holds the host.
    void OnTabChange();

    int SetRegistry(const char* name, DWORD dwValue, const char* strValue);
    int GetRegistry(const char* name, DWORD* dwValue, char* strValue);

    // Start-up to exit: the exit code of the message loop, or 1 when the
    // program could not come up.
    static int Run(HINSTANCE instance, int showCommand, int templateId);

    // The page open over the tab control: the sibling created last, when
    // there is one besides the tab control and the status line.
    HWND OpenPage() const;
};

INT_PTR CALLBACK MainDlgProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

inline MainDlg* theMainDlg = nullptr;
// The folder plug-ins are looked for in: null for the program's own. Tests
// name an empty folder of their own.
inline const char* thePluginFolder = nullptr;
// The record handed to plug-ins, refreshed by FillContext before each call.
inline HDLL_Context theContext = {};
