#include "Walkthrough.h"

#include <commctrl.h>

#include <algorithm>
#include <cstdio>
#include <fstream>

namespace e2e {
namespace {

const int kDeviceLine = 1001, kDeviceList = 1002;

struct ProcessWindows {
    DWORD process;
    HWND except;
    std::vector<HWND> found;
};

BOOL CALLBACK CollectWindows(HWND window, LPARAM data) {
    ProcessWindows* search = reinterpret_cast<ProcessWindows*>(data);
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    if (owner == search->process && window != search->except && IsWindowVisible(window))
        search->found.push_back(window);
    return TRUE;
}

std::vector<HWND> TopLevelWindows(const HostProcess& host, HWND except) {
    ProcessWindows search = {host.process.dwProcessId, except, {}};
    EnumWindows(CollectWindows, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

// The plug-in's page: the main window's child that holds the status list.
HWND PluginPage(const HostProcess& host) {
    for (HWND child = GetWindow(host.window, GW_CHILD); child;
         child = GetWindow(child, GW_HWNDNEXT))
        if (GetDlgItem(child, kWexaRows))
            return child;
    return nullptr;
}

HWND PageItem(const HostProcess& host, int id) {
    return GetDlgItem(PluginPage(host), id);
}

} // namespace

Walkthrough::Walkthrough(HostProcess& program) : host(program) {}

int Walkthrough::Fail(const std::string& why) {
    if (failure.empty())
        failure = why;
    return 0;
}

int Walkthrough::OpenTab(const std::string& caption) {
    for (int i = 0; i < host.TabCount(); ++i)
        if (host.TabCaption(i) == caption) {
            host.ClickTab(i);
            const int selected = int(SendMessageA(host.Child(1001), TCM_GETCURSEL, 0, 0));
            return selected == i ? 1 : Fail("the tab \"" + caption + "\" did not open");
        }
    return Fail("no tab \"" + caption + "\"");
}

// Selects the row of the first drive `matches` (list, row) takes.
template <class Matches> int SelectDrive(Walkthrough& walk, Matches matches) {
    const HostProcess& host = walk.host;
    const HWND list = host.PageItem(kDeviceList);
    for (int row = 0; row < host.ListRows(list); ++row)
        if (matches(list, row)) {
            host.SelectRows(list, {row});
            const std::string model = host.ListText(list, row, 2);
            if (Text(host.PageItem(kDeviceLine)).rfind(model, 0) != 0)
                return walk.Fail("the device page did not take the drive " + model);
            return 1;
        }
    return 0;
}

int Walkthrough::ChooseDrive(int adapter, int target) {
    if (SelectDrive(*this, [&](HWND list, int row) {
            return host.ListText(list, row, 0) == std::to_string(adapter) &&
                   host.ListText(list, row, 1) == std::to_string(target);
        }))
        return 1;
    return Fail("no drive at " + std::to_string(adapter) + ":" + std::to_string(target) +
                " on the device page (" + std::to_string(DeviceRows()) + " rows)");
}

int Walkthrough::ChooseDrive(const std::string& product, const std::string& revision) {
    if (SelectDrive(*this, [&](HWND list, int row) {
            return host.ListText(list, row, 2).find(product) != std::string::npos &&
                   host.ListText(list, row, 3) == revision;
        }))
        return 1;
    return Fail("no drive " + product + " " + revision + " on the device page (" +
                std::to_string(DeviceRows()) + " rows)");
}

int Walkthrough::ChooseImage(const std::string& path) {
    const HWND edit = PageItem(host, kWexaFile);
    if (!edit)
        return Fail("the plug-in's page is not open");
    // As typed: the edit reports the change, which enables Download.
    SendMessageA(edit, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(path.c_str()));
    if (!IsWindowEnabled(PageItem(host, kWexaDownload)))
        return Fail("Download stayed disabled with an image chosen");
    return 1;
}

HWND Walkthrough::ClickDownload() {
    const HWND button = PageItem(host, kWexaDownload);
    if (!button || !IsWindowEnabled(button)) {
        Fail("Download is not there to click");
        return nullptr;
    }
    // Posted as the button would: the click's handler runs a modal box.
    PostMessageA(PluginPage(host), WM_COMMAND, MAKEWPARAM(kWexaDownload, BN_CLICKED),
                 reinterpret_cast<LPARAM>(button));
    const HWND box = WaitForBox("Notice", 60);
    if (!box)
        Fail("no notice after Download; the page says \"" + Message() + "\"");
    return box;
}

HWND Walkthrough::WaitForBox(const std::string& caption, int seconds) const {
    HWND box = nullptr;
    WaitUntil(
        [&] {
            for (HWND window : TopLevelWindows(host, host.window))
                if (Text(window) == caption)
                    box = window;
            return box != nullptr;
        },
        seconds);
    return box;
}

std::string Walkthrough::BoxText(HWND box) const {
    return Text(GetDlgItem(box, 0xFFFF));
}

int Walkthrough::Answer(HWND box, int button) {
    PostMessageA(box, WM_COMMAND, MAKEWPARAM(button, BN_CLICKED),
                 reinterpret_cast<LPARAM>(GetDlgItem(box, button)));
    if (!WaitUntil([&] { return !IsWindow(box); }, 30))
        return Fail("the notice stayed open");
    return 1;
}

int Walkthrough::WaitForMessage(const std::string& text, int seconds) {
    if (WaitUntil([&] { return Message() == text; }, seconds))
        return 1;
    return Fail("waited for \"" + text + "\", the page says \"" + Message() + "\"");
}

int Walkthrough::WaitForEnd(int seconds) {
    // The message lines the page ends a transfer with; the ones before the
    // transfer ("Transfer F/W Code...") pass too quickly to wait for.
    const auto ended = [&] {
        const std::string message = Message();
        return message == kDownloaded ||
               message == "Invalid check sum Fail to Download, Restart Now!" ||
               message == "New F/W is something wrong. no response to Inquiry !";
    };
    if (!WaitUntil(ended, seconds))
        return Fail("the transfer did not end in " + std::to_string(seconds) +
                    " s; the page says \"" + Message() + "\"");
    // Row 7 is written after the message line, by the same handler.
    WaitUntil([&] { return !Row(7).empty() || Message() != kDownloaded; }, 10);
    return Message() == kDownloaded ? 1 : Fail("the download ended with \"" + Message() + "\"");
}

std::string Walkthrough::Message() const {
    return Text(PageItem(host, kWexaMessage));
}

std::string Walkthrough::Row(int row) const {
    return host.ListText(PageItem(host, kWexaRows), row, 1);
}

int Walkthrough::DeviceRows() const {
    return host.ListRows(host.PageItem(kDeviceList));
}

std::string Walkthrough::DeviceRow(int row) const {
    const HWND list = host.PageItem(kDeviceList);
    std::string text;
    for (int column = 0; column < 4; ++column)
        text += (column ? "|" : "") + host.ListText(list, row, column);
    return text;
}

int Walkthrough::Progress() const {
    const HWND bar = FindWindowExA(PageItem(host, kWexaRows), nullptr, PROGRESS_CLASSA, nullptr);
    return bar ? int(SendMessageA(bar, PBM_GETPOS, 0, 0)) : -1;
}

void Walkthrough::Shot(const std::string& name) {
    if (shotFolder.empty())
        return;
    RECT all;
    GetWindowRect(host.window, &all);
    for (HWND window : TopLevelWindows(host, host.window)) {
        RedrawWindow(window, nullptr, nullptr, RDW_INVALIDATE | RDW_ALLCHILDREN | RDW_UPDATENOW);
        RECT rect;
        GetWindowRect(window, &rect);
        UnionRect(&all, &all, &rect);
    }
    RedrawWindow(host.window, nullptr, nullptr, RDW_INVALIDATE | RDW_ALLCHILDREN | RDW_UPDATENOW);
    SendMessageA(host.window, WM_NULL, 0, 0);
    // The X server draws what Wine sent it; nothing to wait on.
    Sleep(300);
    const std::string out = shotFolder + "/" + name + ".png";
    const std::string geometry =
        std::to_string(all.right - all.left) + "x" + std::to_string(all.bottom - all.top) + "+" +
        std::to_string(std::max(0L, all.left)) + "+" + std::to_string(std::max(0L, all.top));
    // tools/run.sh photographs the display for us: it takes NAME.want (the
    // part of the screen) and leaves NAME.png once the picture is whole.
    // Starting ImageMagick from here would cost this program its output.
    const std::string windowsOut = UnixToWindows(out);
    const std::string want = UnixToWindows(shotFolder + "/" + name);
    DeleteFileA(windowsOut.c_str());
    { std::ofstream(want + ".part") << geometry << "\n"; }
    MoveFileA((want + ".part").c_str(), (want + ".want").c_str());
    if (!WaitUntil(
            [&] { return GetFileAttributesA(windowsOut.c_str()) != INVALID_FILE_ATTRIBUTES; },
            60)) {
        DeleteFileA((want + ".want").c_str());
        Fail("no picture at " + out + " (tools/run.sh takes them)");
        return;
    }
    shots.push_back(out);
    std::printf("%s\n", out.c_str());
    std::fflush(stdout);
}

} // namespace e2e
