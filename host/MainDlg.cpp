#include "host/MainDlg.h"

#include "host/AboutDlg.h"
#include "host/ComPort.h"
#include "host/DeviceDlg.h"
#include "host/Placement.h"
#include "host/PluginFile.h"
#include "host/Resource.h"
#include "host/WindowLayout.h"
#include "toolkit/Registry.h"

#include <commctrl.h>

#include <cstdio>
#include <cstring>
#include <new>

// No drive selected reads the same on both sides of the plug-in interface.
static_assert(DeviceChannel::kNoAdapter == HDLL_NO_DRIVE, "");
static_assert(DeviceChannel::kNoTarget == HDLL_NO_DRIVE, "");

namespace {

const char* const kSettingsKey = "SOFTWARE\\Corvane";
const char* const kProductName = "Corvane";
const char* const kCodeName = "Brindlemoss";

// While a close waits for the page, this timer looks whether it let go.
const UINT_PTR kWatchTimer = 1;
const UINT kWatchPeriod = 250;
const char* const kClosingLater =
    "The drive is being written: closing when the download has ended.";
const wchar_t* const kEndSessionRefused =
    L"A drive is being written. Ending the session now can leave it unusable.";

typedef BOOL(WINAPI* BlockReasonCreateProc)(HWND, LPCWSTR);
typedef BOOL(WINAPI* BlockReasonDestroyProc)(HWND);

// The reason shown where the system shows one (Vista and later); older
// systems lack the call.
void* User32Proc(const char* name) {
    HMODULE user32 = GetModuleHandleA("user32.dll");
    return user32 ? reinterpret_cast<void*>(GetProcAddress(user32, name)) : nullptr;
}

// The work areas of every monitor, as many as fit.
struct WorkAreas {
    Box areas[16];
    size_t count;
};

BOOL CALLBACK AddWorkArea(HMONITOR monitor, HDC, LPRECT, LPARAM data) {
    WorkAreas& found = *reinterpret_cast<WorkAreas*>(data);
    MONITORINFO info = {};
    info.cbSize = sizeof info;
    if (found.count < sizeof found.areas / sizeof found.areas[0] && GetMonitorInfoA(monitor, &info))
        found.areas[found.count++] = {info.rcWork.left, info.rcWork.top, info.rcWork.right,
                                      info.rcWork.bottom};
    return TRUE;
}

// The full-height toggle of the maximize command.
int maximized = 0;
RECT restoredRect = {};

void InitControls() {
    INITCOMMONCONTROLSEX classes = {sizeof classes, ICC_TAB_CLASSES | ICC_LISTVIEW_CLASSES};
    InitCommonControlsEx(&classes);
}

RECT RectInClient(HWND parent, HWND child) {
    RECT rect;
    GetWindowRect(child, &rect);
    MapWindowPoints(nullptr, parent, reinterpret_cast<POINT*>(&rect), 2);
    return rect;
}

// The folder the program was loaded from (or thePluginFolder), ending in a
// backslash; 0 when its name does not fit.
int PluginFolder(char (&folder)[MAX_PATH]) {
    if (thePluginFolder) {
        const int written = std::snprintf(folder, sizeof folder, "%s\\", thePluginFolder);
        return written > 0 && static_cast<size_t>(written) < sizeof folder;
    }
    const DWORD length = GetModuleFileNameA(nullptr, folder, sizeof folder);
    if (length == 0 || length >= sizeof folder)
        return 0;
    char* slash = std::strrchr(folder, '\\');
    if (!slash)
        return 0;
    slash[1] = '\0';
    return 1;
}

} // namespace

MainDlg::MainDlg(HINSTANCE instance_, int templateId, DLGPROC procedure, int showCommand)
    : instance(instance_), window(nullptr), plugins(), pluginCount(0), channel(nullptr),
      tab(nullptr), status(nullptr), about(nullptr), device(nullptr), currentTab(kNoTab),
      pageRect(), minWidth(0), minHeight(0), clientWidth(0), clientHeight(0), plainMode(0),
      pendingClose(0), pendingSave(0), blockReason(0) {
    theMainDlg = this;

    channel = new (std::nothrow) DeviceChannel(1024, ChannelUser::Host);
    if (!channel || !channel->buffer)
        return;

    // The template holds a tab control: its class must exist before the window.
    InitControls();
    window = CreateDialogParamA(instance, MAKEINTRESOURCEA(templateId), nullptr, procedure, 0);
    if (!window)
        return;

    // The minimum is the dialog's own size, whatever place was saved.
    RECT outer;
    GetWindowRect(window, &outer);
    minWidth = outer.right - outer.left;
    minHeight = outer.bottom - outer.top;
    RestorePosition(window);

    tab = new toolkit::TabCtrl(window, IDC_TABS);
    status = new toolkit::StaticCtrl(window, IDC_STATUS);
    about = new AboutDlg(instance, window, IDD_ABOUT);
    device = new DeviceDlg(instance, window, channel, IDD_DEVICE);

    // A copy of the program under another file name runs in the plain mode.
    plainMode = std::strstr(GetCommandLineA(), kProductName) ? 0 : 1;
    SetRegistry("Morphing", static_cast<DWORD>(plainMode), nullptr);
    SetRegistry("CodeName", 0, kCodeName);

    InitDialog();

    ShowWindow(window, showCommand);
    UpdateWindow(window);

    RECT client;
    GetClientRect(window, &client);
    clientWidth = client.right - client.left;
    clientHeight = client.bottom - client.top;
}

MainDlg::~MainDlg() {
    delete about;
    delete device;
    delete tab;
    delete status;
    delete channel;
    if (window && IsWindow(window))
        DestroyWindow(window);
    if (theMainDlg == this)
        theMainDlg = nullptr;
}

int MainDlg::InitDialog() {
    InitControls();

    HICON icon = LoadIconA(instance, MAKEINTRESOURCEA(plainMode ? IDI_PLAIN : IDI_FULL));
    SendMessageA(window, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(icon));
    if (plainMode)
        SetWindowTextA(window, "Firmware Downloader");

    channel->ScanDevices();

    if (!plainMode) {
        for (uint32_t index = 0; index < ComPort::kProbedPorts; ++index) {
            ComPort port;
            if (!port.Open(index))
                continue;
            if (channel->deviceCount < DeviceChannel::kMaxDevices) {
                DeviceEntry& entry = channel->devices[channel->deviceCount++];
                entry.adapter = DeviceChannel::kNoAdapter;
                entry.target = static_cast<uint8_t>(index);
                std::snprintf(entry.model, sizeof entry.model, "%s", ComPort::Name(index));
                entry.version[0] = '\0';
            }
            port.Close();
        }
    }

    channel->SelectEntry(0);
    DWORD adapter = 0, target = 0;
    if (GetRegistry("Adapter", &adapter, nullptr) && GetRegistry("Target", &target, nullptr))
        SelectDevice(adapter & 0xFF, target & 0xFF);

    LoadPlugins();

    tab->AddItem("Infomation");
    if (!plainMode)
        tab->AddItem("About");

    currentTab = kNoTab;
    SelectTab(static_cast<uint32_t>(tab->GetCurSel()));
    return 1;
}

int MainDlg::SelectDevice(uint32_t adapter, uint32_t target) {
    const uint8_t oldAdapter = channel->GetAdapter();
    const uint8_t oldTarget = channel->GetTarget();
    channel->SetAdapter(static_cast<uint8_t>(adapter));
    channel->SetTarget(static_cast<uint8_t>(target));
    if (channel->FindSelectedDevice() == -1) {
        channel->SetAdapter(oldAdapter);
        channel->SetTarget(oldTarget);
        return 0;
    }
    return 1;
}

void MainDlg::SaveSettings() {
    // The open plug-in page gets no close first: destroy takes it down.
    for (uint32_t i = 0; i < pluginCount; ++i)
        if (plugins[i].destroy)
            plugins[i].destroy();
    pluginCount = 0;

    RECT outer;
    GetWindowRect(window, &outer);
    SetRegistry("Adapter", channel->GetAdapter(), nullptr);
    SetRegistry("Target", channel->GetTarget(), nullptr);
    SetRegistry("X", static_cast<DWORD>(outer.left), nullptr);
    SetRegistry("Y", static_cast<DWORD>(outer.top), nullptr);
    SetRegistry("MinX", static_cast<DWORD>(minWidth), nullptr);
    SetRegistry("MinY", static_cast<DWORD>(minHeight), nullptr);
}

int MainDlg::MessageLoop() {
    MSG message = {};
    BOOL got;
    while ((got = GetMessageA(&message, nullptr, 0, 0)) != 0) {
        if (got == -1)
            break;
        if (IsDialogMessageA(window, &message))
            continue;
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
    return static_cast<int>(message.wParam);
}

void MainDlg::LoadPlugins() {
    pluginCount = 0;
    // A program started as administrator from a folder of downloads must not
    // run the libraries that lie there.
    char folder[MAX_PATH];
    if (!PluginFolder(folder))
        return;
    char pattern[MAX_PATH + 8];
    std::snprintf(pattern, sizeof pattern, "%s*.dll", folder);
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA(pattern, &found);
    if (search == INVALID_HANDLE_VALUE)
        return;

    do {
        // The table is full: further libraries are not even loaded.
        if (pluginCount >= kMaxPlugins)
            break;
        if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) ||
            !IsPluginFileName(found.cFileName))
            continue;
        // Loaded from the file the scan found, never by a bare name that the
        // loader might resolve to a library of the same name elsewhere.
        char path[MAX_PATH * 2];
        const int written = std::snprintf(path, sizeof path, "%s%s", folder, found.cFileName);
        if (written < 0 || static_cast<size_t>(written) >= sizeof path)
            continue;

        if (!CreatePlugin(path))
            continue;
        char caption[MAX_PATH];
        std::snprintf(caption, sizeof caption, "%s", found.cFileName);
        if (char* dot = std::strrchr(caption, '.'))
            *dot = '\0';
        tab->AddItem(caption);
        pluginCount++;
    } while (FindNextFileA(search, &found));
    FindClose(search);
}

bool MainDlg::CreatePlugin(const char* path) {
    const uint32_t n = pluginCount;
    PluginSlot& slot = plugins[n];
    slot = PluginSlot();
    slot.library = LoadLibraryA(path);
    if (!slot.library)
        return false;
    slot.open = reinterpret_cast<HDLL_OpenProc>(
        reinterpret_cast<void*>(GetProcAddress(slot.library, "HDLL_Open")));
    slot.close = reinterpret_cast<HDLL_CloseProc>(
        reinterpret_cast<void*>(GetProcAddress(slot.library, "HDLL_Close")));
    slot.create = reinterpret_cast<HDLL_CreateProc>(
        reinterpret_cast<void*>(GetProcAddress(slot.library, "HDLL_Create")));
    slot.destroy = reinterpret_cast<HDLL_DestroyProc>(
        reinterpret_cast<void*>(GetProcAddress(slot.library, "HDLL_Destroy")));
    // Not a plug-in: it stays loaded, and the next name takes this slot.
    if (!slot.create)
        return false;
    FillContext(static_cast<int>(n));
    // A plug-in without its page object has nothing to show.
    return slot.create(theContext) != 0;
}

void MainDlg::FillContext(int index) {
    const RECT tabRect = RectInClient(window, tab->GetHwnd());
    const int32_t left = tabRect.left + kPageInsetLeft, top = tabRect.top + kPageInsetTop;
    const int32_t right = tabRect.right - kPageInsetRight;
    const int32_t bottom = tabRect.bottom - kPageInsetBottom;
    pageRect = {left, top, right - left, bottom - top};

    theContext.module =
        index >= 0 && static_cast<uint32_t>(index) < kMaxPlugins ? plugins[index].library : nullptr;
    theContext.mainWindow = window;
    theContext.tabControl = tab->GetHwnd();
    theContext.statusLine = status->GetHwnd();
    theContext.left = pageRect.left;
    theContext.top = pageRect.top;
    theContext.width = pageRect.width;
    theContext.height = pageRect.height;
    theContext.adapter = channel->GetAdapter();
    theContext.target = channel->GetTarget();
    theContext.reserved[0] = theContext.reserved[1] = 0;
}

void MainDlg::SelectTab(uint32_t index) {
    const uint32_t n = pluginCount;
    const uint32_t leaving = currentTab;
    if (leaving < n) {
        if (plugins[leaving].close)
            plugins[leaving].close();
    } else if (leaving == n) {
        device->CloseModelessDlg();
    } else if (leaving == n + 1) {
        about->CloseModelessDlg();
    }

    currentTab = index;
    if (index < n) {
        FillContext(static_cast<int>(index));
        if (plugins[index].open)
            plugins[index].open(theContext);
    } else if (index == n) {
        FillContext(-1);
        device->OpenModelessDlg(&pageRect);
        status->SetText("Select Device...");
    } else if (index == n + 1) {
        FillContext(-1);
        about->OpenModelessDlg(&pageRect);
        status->SetText("About of Corvane...");
    }
}

HWND MainDlg::OpenPage() const {
    HWND last = GetWindow(tab->GetHwnd(), GW_HWNDLAST);
    if (last == tab->GetHwnd() || last == status->GetHwnd())
        return nullptr;
    return last;
}

void MainDlg::OnSize(int width, int height) {
    // Before the first show there is no height to compare with.
    if (width == 0 || height == 0 || !tab || clientHeight == 0)
        return;
    const int delta = height - clientHeight;
    clientHeight = height;

    const RECT tabRect = RectInClient(window, tab->GetHwnd());
    MoveWindow(tab->GetHwnd(), tabRect.left, tabRect.top, tabRect.right - tabRect.left,
               tabRect.bottom - tabRect.top + delta, TRUE);
    if (HWND page = OpenPage()) {
        const RECT pageArea = RectInClient(window, page);
        MoveWindow(page, pageArea.left, pageArea.top, pageArea.right - pageArea.left,
                   pageArea.bottom - pageArea.top + delta, TRUE);
    }
    const RECT line = RectInClient(window, status->GetHwnd());
    MoveWindow(status->GetHwnd(), line.left, line.top + delta, line.right - line.left,
               line.bottom - line.top, TRUE);
}

void MainDlg::OnSizing(int edge, RECT* rect) {
    SizeToEdge(edge, rect, minWidth, minHeight);
}

void MainDlg::OnMaximize() {
    if (!maximized) {
        GetWindowRect(window, &restoredRect);
        // The outer width stays: the window's width is fixed.
        MoveWindow(window, restoredRect.left, 0, restoredRect.right - restoredRect.left,
                   GetSystemMetrics(SM_CYFULLSCREEN), TRUE);
        maximized = 1;
    } else {
        MoveWindow(window, restoredRect.left, restoredRect.top,
                   restoredRect.right - restoredRect.left, restoredRect.bottom - restoredRect.top,
                   TRUE);
        maximized = 0;
    }
}

int MainDlg::RestorePosition(HWND window) {
    DWORD x, y, width, height;
    if (!toolkit::GetRegistry(HKEY_CURRENT_USER, kSettingsKey, "X", &x, nullptr) ||
        !toolkit::GetRegistry(HKEY_CURRENT_USER, kSettingsKey, "Y", &y, nullptr) ||
        !toolkit::GetRegistry(HKEY_CURRENT_USER, kSettingsKey, "MinX", &width, nullptr) ||
        !toolkit::GetRegistry(HKEY_CURRENT_USER, kSettingsKey, "MinY", &height, nullptr))
        return 1;
    RECT own;
    GetWindowRect(window, &own);
    WorkAreas found = {};
    EnumDisplayMonitors(nullptr, nullptr, AddWorkArea, reinterpret_cast<LPARAM>(&found));
    Box place;
    if (PlaceOnWorkArea(x, y, height, own.right - own.left, own.bottom - own.top, found.areas,
                        found.count, place))
        MoveWindow(window, static_cast<int>(place.left), static_cast<int>(place.top),
                   static_cast<int>(place.right - place.left),
                   static_cast<int>(place.bottom - place.top), FALSE);
    return 1;
}

bool MainDlg::PageHolds() const {
    return tab && !IsWindowEnabled(tab->GetHwnd());
}

void MainDlg::RequestClose(bool save) {
    if (!PageHolds()) {
        if (save)
            SaveSettings();
        DestroyWindow(window);
        return;
    }
    // The window keeps answering and says why it stays.
    pendingClose = 1;
    pendingSave = pendingSave || save;
    status->SetText(kClosingLater);
    MessageBeep(MB_ICONEXCLAMATION);
    SetTimer(window, kWatchTimer, kWatchPeriod, nullptr);
}

BOOL MainDlg::QueryEndSession(LPARAM reason) {
    HWND page = OpenPage();
    if (!page || SendMessageA(page, WM_QUERYENDSESSION, 0, reason))
        return TRUE;
    const BlockReasonCreateProc create =
        reinterpret_cast<BlockReasonCreateProc>(User32Proc("ShutdownBlockReasonCreate"));
    if (create && create(window, kEndSessionRefused))
        blockReason = 1;
    SetTimer(window, kWatchTimer, kWatchPeriod, nullptr);
    return FALSE;
}

void MainDlg::OnWatch() {
    if (PageHolds())
        return;
    KillTimer(window, kWatchTimer);
    const BlockReasonDestroyProc destroy =
        reinterpret_cast<BlockReasonDestroyProc>(User32Proc("ShutdownBlockReasonDestroy"));
    if (blockReason && destroy)
        destroy(window);
    blockReason = 0;
    if (pendingClose) {
        pendingClose = 0;
        RequestClose(pendingSave != 0);
    }
}

void MainDlg::OnTabChange() {
    // A program's message can change the selection of a disabled tab control:
    // the page that holds the host stays open.
    if (PageHolds()) {
        SendMessageA(tab->GetHwnd(), TCM_SETCURSEL, currentTab, 0);
        return;
    }
    SelectTab(static_cast<uint32_t>(tab->GetCurSel()));
}

void MainDlg::OnCommand(WPARAM wParam, LPARAM lParam) {
    if (LOWORD(wParam) == IDCLOSE) {
        RequestClose(false);
        return;
    }
    HWND page = HIWORD(wParam) == 0 && tab ? OpenPage() : nullptr;
    if (!page)
        return;
    // Enter and Escape in the main window belong to the page, as its own
    // buttons: a disabled one sends nothing.
    HWND control = GetDlgItem(page, LOWORD(wParam));
    if (!control || IsWindowEnabled(control))
        SendMessageA(page, WM_COMMAND, wParam, lParam);
}

int MainDlg::SetRegistry(const char* name, DWORD dwValue, const char* strValue) {
    return toolkit::SetRegistry(HKEY_CURRENT_USER, kSettingsKey, name, dwValue, strValue);
}

int MainDlg::GetRegistry(const char* name, DWORD* dwValue, char* strValue) {
    return toolkit::GetRegistry(HKEY_CURRENT_USER, kSettingsKey, name, dwValue, strValue);
}

int MainDlg::Run(HINSTANCE instance, int showCommand, int templateId) {
    MainDlg* main = new (std::nothrow) MainDlg(instance, templateId, MainDlgProc, showCommand);
    if (!main)
        return 1;
    // Nothing came up: no loop would ever end.
    const int code = main->window ? main->MessageLoop() : 1;
    delete main;
    return code;
}

namespace {

// The messages that end the program or the session, or wait for that.
INT_PTR EndingMessage(MainDlg* self, HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_CLOSE:
        if (self)
            self->RequestClose(true);
        else
            DestroyWindow(window);
        return TRUE;
    case WM_QUERYENDSESSION:
        SetWindowLongPtrA(window, DWLP_MSGRESULT, self ? self->QueryEndSession(lParam) : TRUE);
        return TRUE;
    case WM_TIMER:
        if (self && wParam == kWatchTimer)
            self->OnWatch();
        return TRUE;
    case WM_DESTROY:
        PostQuitMessage(0);
        return TRUE;
    }
    return FALSE;
}

} // namespace

INT_PTR CALLBACK MainDlgProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    MainDlg* self = theMainDlg;
    switch (message) {
    case WM_INITDIALOG:
        return TRUE;
    case WM_SIZE:
        if (self)
            self->OnSize(LOWORD(lParam), HIWORD(lParam));
        return TRUE;
    case WM_SIZING:
        if (self)
            self->OnSizing(static_cast<int>(wParam), reinterpret_cast<RECT*>(lParam));
        return TRUE;
    case WM_SYSCOMMAND:
        if ((wParam & 0xFFF0) == SC_MAXIMIZE && self) {
            self->OnMaximize();
            return TRUE;
        }
        return FALSE;
    case WM_NOTIFY: {
        const NMHDR* header = reinterpret_cast<const NMHDR*>(lParam);
        if (self && self->tab && header->idFrom == IDC_TABS && header->code == TCN_SELCHANGE)
            self->OnTabChange();
        return TRUE;
    }
    case WM_COMMAND:
        if (self)
            self->OnCommand(wParam, lParam);
        else if (LOWORD(wParam) == IDCLOSE)
            DestroyWindow(window);
        return TRUE;
    case WM_SELECT_DEVICE: {
        const int result =
            self ? self->SelectDevice(HIWORD(wParam) & 0xFF, LOWORD(wParam) & 0xFF) : 0;
        // An open device page shows the drive chosen from outside.
        if (result && self->currentTab == self->pluginCount)
            self->device->ShowCurrent();
        // A dialog's sender gets the stored result, not the procedure's return value.
        SetWindowLongPtrA(window, DWLP_MSGRESULT, result);
        return TRUE;
    }
    }
    return EndingMessage(self, window, message, wParam, lParam);
}
