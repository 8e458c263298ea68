// Whole-program tests of Corvane.exe under Wine: each test starts the real
// program in a scratch directory, drives it with window messages and checks
// its windows, the calls its plug-ins received and the settings it wrote.
#include "HostProcess.h"

#include "host/MainWindow.h"
#include "plugin/PluginInterface.h"

#include <commctrl.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>

using e2e::HostProcess;
using e2e::Plugin;
namespace settings = e2e::settings;

namespace {

const int kTabs = 1001, kStatus = 1000, kLine = 1001, kList = 1002;

struct Call {
    std::string plugin, what;
    int self = -1;
    unsigned long main = 0, tab = 0, status = 0;
    long left = 0, top = 0, width = 0, height = 0;
    unsigned adapter = 0, target = 0, reserved0 = 9, reserved1 = 9;
    int icon = -1;
};

std::vector<Call> Parse(const std::vector<std::string>& lines) {
    std::vector<Call> calls;
    for (const std::string& line : lines) {
        Call call;
        char plugin[128] = {}, what[32] = {};
        std::sscanf(line.c_str(), "%127s %31s", plugin, what);
        call.plugin = plugin;
        call.what = what;
        const char* rest = std::strstr(line.c_str(), "self=");
        if (rest)
            std::sscanf(rest,
                        "self=%d main=%lu tab=%lu status=%lu rect=%ld,%ld,%ld,%ld dev=%u,%u "
                        "reserved=%u,%u icon=%d",
                        &call.self, &call.main, &call.tab, &call.status, &call.left, &call.top,
                        &call.width, &call.height, &call.adapter, &call.target, &call.reserved0,
                        &call.reserved1, &call.icon);
        calls.push_back(call);
    }
    return calls;
}

std::string Sequence(const std::vector<Call>& calls) {
    std::string text;
    for (const Call& call : calls)
        text += (text.empty() ? "" : " ") + call.plugin + ":" + call.what;
    return text;
}

// Plug-ins in the directory search's order, as the host must take them.
std::vector<std::string> PluginOrder(const HostProcess& host) {
    std::vector<std::string> names;
    for (const std::string& name : host.DllOrder())
        if (name != "WNASPI32.DLL" && name != "NotAPlugin.dll")
            names.push_back(name);
    return names;
}

std::vector<std::string> Tabs(const HostProcess& host) {
    std::vector<std::string> tabs;
    for (int i = 0; i < host.TabCount(); ++i)
        tabs.push_back(host.TabCaption(i));
    return tabs;
}

std::string Row(const HostProcess& host, HWND list, int row) {
    std::string text;
    for (int column = 0; column < 4; ++column)
        text += (column ? "|" : "") + host.ListText(list, row, column);
    return text;
}

// Adapter 0 empty, three drives on adapter 1: entry 0 is (1, 0), not (0, 0).
const char* const kThreeDrives = R"(adapter
adapter
drive 0 vendor="QVSIM" product="ONE" revision="1.00"
drive 1 vendor="QVSIM" product="TWO" revision="2.00"
drive 4 vendor="QVSIM" product="FOUR" revision="4.00"
)";

class HostTest : public ::testing::Test {
  protected:
    void SetUp() override {
        settings::Clear();
        e2e::SetComPort(0, false);
        e2e::SetComPort(1, false);
    }
    void TearDown() override {
        settings::Clear();
        e2e::SetComPort(0, false);
        e2e::SetComPort(1, false);
    }
};

// The full mode with plug-ins: tabs, calls and contexts, the device page,
// layout, the drive chosen from outside, and the settings written at close.
TEST_F(HostTest, FullModeSession) {
    settings::SetText("CodeName", "stale");
    HostProcess host("Corvane.exe", {{"Alpha.dll", "Alpha.dll"},
                                     {"NotAPlugin.dll", "NotAPlugin.dll"},
                                     {"x.y.dll", "x.y.dll"},
                                     {"Beta.dll", "Beta.dll"}});
    ASSERT_TRUE(host.Start());
    const std::vector<std::string> order = PluginOrder(host);
    ASSERT_EQ(order.size(), 3u);

    EXPECT_EQ(e2e::Text(host.window), "Corvane");
    std::vector<std::string> expectedTabs;
    for (const std::string& name : order)
        expectedTabs.push_back(name.substr(0, name.rfind('.')));
    expectedTabs.push_back("Infomation");
    expectedTabs.push_back("About");
    EXPECT_EQ(Tabs(host), expectedTabs);

    DWORD morphing = 9;
    EXPECT_TRUE(settings::GetDword("Morphing", &morphing));
    EXPECT_EQ(morphing, 0u);
    EXPECT_EQ(settings::GetText("CodeName"), "Brindlemoss");

    // Created once each in slot order, then the first tab opened; no close before it.
    std::vector<Call> calls = Parse(host.Calls());
    ASSERT_EQ(calls.size(), 4u);
    std::string expected;
    for (const std::string& name : order)
        expected += name + ":create ";
    expected += order[0] + ":open";
    EXPECT_EQ(Sequence(calls), expected);
    const HWND tabs = host.Child(kTabs);
    const RECT tabRect = e2e::RectIn(host.window, tabs);
    for (const Call& call : calls) {
        EXPECT_EQ(call.self, 1) << call.plugin;
        EXPECT_EQ(call.main, reinterpret_cast<uintptr_t>(host.window));
        EXPECT_EQ(call.tab, reinterpret_cast<uintptr_t>(tabs));
        EXPECT_EQ(call.status, reinterpret_cast<uintptr_t>(host.Child(kStatus)));
        EXPECT_EQ(call.left, tabRect.left + kPageInsetLeft);
        EXPECT_EQ(call.top, tabRect.top + kPageInsetTop);
        EXPECT_EQ(call.width, tabRect.right - tabRect.left - kPageInsetLeft - kPageInsetRight);
        EXPECT_EQ(call.height, tabRect.bottom - tabRect.top - kPageInsetTop - kPageInsetBottom);
        EXPECT_EQ(call.adapter * 256 + call.target, 0u); // entry 0 of the default bank
        EXPECT_EQ(call.reserved0 + call.reserved1, 0u);
        EXPECT_EQ(call.icon, 108);
    }

    // The device page: the default bank's four drives, the disk not listed.
    host.ClickTab(3);
    EXPECT_EQ(e2e::Text(host.Child(kStatus)), "Select Device...");
    HWND list = host.PageItem(kList);
    ASSERT_TRUE(list);
    ASSERT_EQ(host.ListRows(list), 4);
    EXPECT_EQ(Row(host, list, 0), "0|0|QVSIM   CD-RW QV-2000   |1.00");
    EXPECT_EQ(Row(host, list, 1), "0|1|QVSIM   DVD-ROM QV-2100 |2.10");
    EXPECT_EQ(Row(host, list, 2), "1|0|QVSIM   DVD+RW QV-2200  |1.20");
    EXPECT_EQ(Row(host, list, 3), "1|1|QVSIM   CD-ROM QV-1000  |3.00");
    EXPECT_EQ(e2e::Text(host.PageItem(kLine)), "QVSIM   CD-RW QV-2000     1.00");
    const int initialWidths[4] = {61, 61, 238, 71};
    for (int column = 0; column < 4; ++column)
        EXPECT_EQ(SendMessageA(list, LVM_GETCOLUMNWIDTH, column, 0), initialWidths[column]);

    // Choosing a row, then clicking empty space, keeps that row's drive.
    host.SelectRows(list, {2});
    EXPECT_EQ(e2e::Text(host.PageItem(kLine)), "QVSIM   DVD+RW QV-2200    1.20");
    host.SelectRows(list, {});
    EXPECT_EQ(e2e::Text(host.PageItem(kLine)), "QVSIM   DVD+RW QV-2200    1.20");

    // A dragged column width survives the About tab.
    SendMessageA(list, LVM_SETCOLUMNWIDTH, 2, 150);
    host.ClickTab(4);
    EXPECT_EQ(e2e::Text(host.Child(kStatus)), "About of Corvane...");
    EXPECT_FALSE(host.PageItem(kList));
    host.ClickTab(3);
    list = host.PageItem(kList);
    EXPECT_EQ(SendMessageA(list, LVM_GETCOLUMNWIDTH, 2, 0), 150);

    // The drive from outside: the sender hears whether it is in the table.
    EXPECT_EQ(SendMessageA(host.window, WM_SELECT_DEVICE, MAKEWPARAM(7, 3), 0), 0);
    // Target in the low word, adapter in the high: adapter 0, target 1.
    EXPECT_EQ(SendMessageA(host.window, WM_SELECT_DEVICE, MAKEWPARAM(1, 0), 0), 1);
    // The open device page follows: its line and its list's selection.
    EXPECT_EQ(e2e::Text(host.PageItem(kLine)), "QVSIM   DVD-ROM QV-2100   2.10");
    EXPECT_EQ(SendMessageA(list, LVM_GETNEXTITEM, WPARAM(-1), LVNI_SELECTED), 1);
    EXPECT_EQ(SendMessageA(list, LVM_GETSELECTEDCOUNT, 0, 0), 1);

    // Taller by 40: tab control and page grow, the status line moves down.
    RECT outer;
    GetWindowRect(host.window, &outer);
    const RECT page = e2e::RectIn(host.window, host.Page());
    const RECT line = e2e::RectIn(host.window, host.Child(kStatus));
    SetWindowPos(host.window, nullptr, 0, 0, outer.right - outer.left,
                 outer.bottom - outer.top + 40, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    const RECT tabAfter = e2e::RectIn(host.window, tabs);
    const RECT pageAfter = e2e::RectIn(host.window, host.Page());
    const RECT lineAfter = e2e::RectIn(host.window, host.Child(kStatus));
    EXPECT_EQ(tabAfter.bottom - tabRect.bottom, 40);
    EXPECT_EQ(tabAfter.right, tabRect.right);
    EXPECT_EQ(pageAfter.bottom - page.bottom, 40);
    EXPECT_EQ(pageAfter.top, page.top);
    EXPECT_EQ(lineAfter.top - line.top, 40);
    EXPECT_EQ(lineAfter.bottom - line.bottom, 40);

    // The next open carries the drive chosen last (from outside) and the taller rectangle.
    host.ClickTab(1);
    calls = Parse(host.Calls());
    ASSERT_EQ(calls.size(), 6u);
    EXPECT_EQ(calls[4].plugin + ":" + calls[4].what, order[0] + ":close");
    EXPECT_EQ(calls[5].plugin + ":" + calls[5].what, order[1] + ":open");
    EXPECT_EQ(calls[5].adapter * 256 + calls[5].target, 0u * 256 + 1u);
    EXPECT_EQ(calls[5].height, calls[0].height + 40);

    // Dragging: the width stays the creation width, the height at least the creation height.
    GetWindowRect(host.window, &outer);
    const RECT proposed = {300, 200, 320, 210}; // far too small
    const RECT right = host.Sizing(WMSZ_RIGHT, proposed);
    EXPECT_EQ(right.right - right.left, outer.right - outer.left);
    EXPECT_EQ(right.left, 300);
    const RECT bottom = host.Sizing(WMSZ_BOTTOM, proposed);
    EXPECT_EQ(bottom.bottom - bottom.top, outer.bottom - outer.top - 40);
    EXPECT_EQ(bottom.right, 320);

    // Maximize is a full-height toggle; twice gives the same rectangle back.
    SendMessageA(host.window, WM_SYSCOMMAND, SC_MAXIMIZE, 0);
    RECT tall;
    GetWindowRect(host.window, &tall);
    EXPECT_EQ(tall.top, 0);
    EXPECT_EQ(tall.left, outer.left);
    EXPECT_EQ(tall.right - tall.left, outer.right - outer.left);
    EXPECT_EQ(tall.bottom, GetSystemMetrics(SM_CYFULLSCREEN));
    SendMessageA(host.window, WM_SYSCOMMAND, SC_MAXIMIZE | 2, 0); // double click: low bits set
    RECT back;
    GetWindowRect(host.window, &back);
    EXPECT_TRUE(EqualRect(&back, &outer));

    // The close box: every plug-in destroyed in slot order, no close first, six values written.
    EXPECT_EQ(host.Close(true), 0u);
    calls = Parse(host.Calls());
    ASSERT_EQ(calls.size(), 9u);
    EXPECT_EQ(Sequence({calls.begin() + 6, calls.end()}),
              order[0] + ":destroy " + order[1] + ":destroy " + order[2] + ":destroy");
    DWORD value = 0;
    EXPECT_TRUE(settings::GetDword("Adapter", &value) && value == 0);
    EXPECT_TRUE(settings::GetDword("Target", &value) && value == 1);
    EXPECT_TRUE(settings::GetDword("X", &value) && value == DWORD(outer.left));
    EXPECT_TRUE(settings::GetDword("Y", &value) && value == DWORD(outer.top));
    EXPECT_TRUE(settings::GetDword("MinX", &value) && value == DWORD(outer.right - outer.left));
    EXPECT_TRUE(settings::GetDword("MinY", &value) &&
                value == DWORD(outer.bottom - outer.top - 40));
}

// The plain mode under another file name, a saved drive restored before the
// plug-ins are created, and IDCLOSE, which writes nothing.
TEST_F(HostTest, PlainModeRestoresDriveAndIdCloseWritesNothing) {
    settings::SetDword("Adapter", 1);
    settings::SetDword("Target", 4);
    HostProcess host("Flasher.exe", {{"Alpha.dll", "Alpha.dll"}}, kThreeDrives);
    ASSERT_TRUE(host.Start());
    EXPECT_EQ(e2e::Text(host.window), "Firmware Downloader");
    EXPECT_EQ(Tabs(host), (std::vector<std::string>{"Alpha", "Infomation"}));
    DWORD value = 9;
    EXPECT_TRUE(settings::GetDword("Morphing", &value) && value == 1);
    EXPECT_EQ(settings::GetText("CodeName"), "Brindlemoss");

    std::vector<Call> calls = Parse(host.Calls());
    ASSERT_EQ(Sequence(calls), "Alpha.dll:create Alpha.dll:open");
    EXPECT_EQ(calls[0].icon, 107);
    EXPECT_EQ(calls[0].adapter * 256 + calls[0].target, 1u * 256 + 4u);

    host.ClickTab(1);
    HWND list = host.PageItem(kList);
    ASSERT_EQ(host.ListRows(list), 3);
    EXPECT_EQ(Row(host, list, 2), "1|4|QVSIM   FOUR            |4.00");
    EXPECT_EQ(e2e::Text(host.PageItem(kLine)), "QVSIM   FOUR              4.00");
    EXPECT_EQ(host.Close(false), 0u);
    EXPECT_EQ(Sequence(Parse(host.Calls())), "Alpha.dll:create Alpha.dll:open Alpha.dll:close");
    for (const char* name : {"X", "Y", "MinX", "MinY"})
        EXPECT_FALSE(settings::Has(name)) << name;
    EXPECT_TRUE(settings::GetDword("Target", &value) && value == 4);
}

// A saved drive no longer present, or only half of the pair, leaves entry 0
// current; a saved position partly off the screen is ignored, one on it is
// taken, always at the dialog's own size, which is what is saved again.
TEST_F(HostTest, RestoreFallsBackToFirstEntryAndScreen) {
    RECT templatePlace = {};
    {
        settings::SetDword("Adapter", 0);
        settings::SetDword("Target", 5);
        HostProcess host("Flasher.exe", {{"Alpha.dll", "Alpha.dll"}}, kThreeDrives);
        ASSERT_TRUE(host.Start());
        GetWindowRect(host.window, &templatePlace);
        EXPECT_EQ(host.Close(true), 0u);
        const std::vector<Call> calls = Parse(host.Calls());
        ASSERT_FALSE(calls.empty());
        EXPECT_EQ(calls[0].adapter * 256 + calls[0].target, 1u * 256 + 0u);
    }
    const LONG width = templatePlace.right - templatePlace.left;
    const LONG height = templatePlace.bottom - templatePlace.top;
    struct Case {
        DWORD x, y, width, height;
        bool moved;
    } cases[] = {
        {5000, 10, DWORD(width), DWORD(height), false},
        {DWORD(-100), 10, DWORD(width), DWORD(height), false},
        {20, DWORD(-50), DWORD(width), DWORD(height), false},
        {20, 30, DWORD(width), DWORD(height), true},
        {20, 30, 150, 60, true}, // tiny
    };
    for (const Case& c : cases) {
        settings::Clear();
        settings::SetDword("Target", 4); // without Adapter: no restore
        settings::SetDword("X", c.x);
        settings::SetDword("Y", c.y);
        settings::SetDword("MinX", c.width);
        settings::SetDword("MinY", c.height);
        HostProcess host("Flasher.exe", {{"Alpha.dll", "Alpha.dll"}}, kThreeDrives);
        ASSERT_TRUE(host.Start());
        RECT place;
        GetWindowRect(host.window, &place);
        if (c.moved)
            EXPECT_TRUE(place.left == LONG(c.x) && place.top == LONG(c.y)) << c.x;
        else
            EXPECT_TRUE(EqualRect(&place, &templatePlace)) << c.x;
        EXPECT_EQ(place.right - place.left, width) << c.x;
        EXPECT_EQ(place.bottom - place.top, height) << c.x;
        const std::vector<Call> calls = Parse(host.Calls());
        ASSERT_FALSE(calls.empty());
        EXPECT_EQ(calls[0].adapter * 256 + calls[0].target, 1u * 256 + 0u);
        EXPECT_EQ(host.Close(true), 0u);
        DWORD saved = 0;
        EXPECT_TRUE(settings::GetDword("MinX", &saved) && saved == DWORD(width)) << saved;
        EXPECT_TRUE(settings::GetDword("MinY", &saved) && saved == DWORD(height)) << saved;
    }
}

// Serial ports and a full plug-in table: the COM rows follow the prefix's
// com1/com2, and plug-ins beyond the 30th get no slot.
TEST_F(HostTest, ComPortsAndThirtyPlugins) {
    std::vector<Plugin> plugins;
    for (int i = 0; i < 32; ++i)
        plugins.push_back({"Alpha.dll", "P" + std::to_string(i) + ".dll"});
    e2e::SetComPort(0, true);
    e2e::SetComPort(1, true);
    {
        HostProcess host("Corvane.exe", plugins);
        ASSERT_TRUE(host.Start());
        EXPECT_EQ(host.TabCount(), 32);
        EXPECT_EQ(host.TabCaption(30), "Infomation");
        EXPECT_EQ(host.TabCaption(31), "About");
        int creates = 0;
        for (const Call& call : Parse(host.Calls()))
            creates += call.what == "create";
        EXPECT_EQ(creates, 30);

        host.ClickTab(30);
        HWND list = host.PageItem(kList);
        ASSERT_EQ(host.ListRows(list), 6);
        EXPECT_EQ(Row(host, list, 4), "255|0|COM1|");
        EXPECT_EQ(Row(host, list, 5), "255|1|COM2|");
        host.SelectRows(list, {4});
        EXPECT_EQ(e2e::Text(host.PageItem(kLine)), "COM1  ");
        EXPECT_EQ(host.Close(true), 0u);
        DWORD value = 0;
        EXPECT_TRUE(settings::GetDword("Adapter", &value) && value == 255);
    }
    e2e::SetComPort(0, false);
    {
        HostProcess host("Corvane.exe", {});
        ASSERT_TRUE(host.Start());
        HWND list = host.PageItem(kList);
        ASSERT_EQ(host.ListRows(list), 5);
        EXPECT_EQ(Row(host, list, 4), "255|1|COM2|");
        EXPECT_EQ(host.Close(true), 0u);
    }
}

// Plug-ins come from the program's own folder: a library in the directory
// the program was started in is never loaded, nor one of the same name as a
// plug-in beside the program.
TEST_F(HostTest, PluginsComeFromTheProgramsFolderOnly) {
    HostProcess host("Flasher.exe", {{"Alpha.dll", "Alpha.dll"}, {"Alpha.dll", "Beta.dll"}}, "",
                     {{"Beta.dll", "Beta.dll"}});
    ASSERT_TRUE(host.Start());
    EXPECT_EQ(Tabs(host), (std::vector<std::string>{"Beta", "Infomation"}));
    EXPECT_EQ(Sequence(Parse(host.Calls())), "Beta.dll:create Beta.dll:open");
    EXPECT_EQ(host.Close(true), 0u);
}

// Only files whose own name ends in ".dll" are plug-ins (the search for
// "*.dll" also matches the short name of "Wexa.dll_old"), and one whose create
// call fails gets no tab.
TEST_F(HostTest, BackupsAndFailedPluginsGetNoTab) {
    HostProcess host(
        "Corvane.exe",
        {{"Wexa.dll", "Wexa.dll"}, {"Wexa.dll", "Wexa.dll_old"}, {"Refusing.dll", "Refusing.dll"}});
    ASSERT_TRUE(host.Start());
    EXPECT_EQ(Tabs(host), (std::vector<std::string>{"Wexa", "Infomation", "About"}));
    EXPECT_EQ(Sequence(Parse(host.Calls())), "Refusing.dll:create");
    EXPECT_EQ(host.Close(true), 0u);
    EXPECT_EQ(Sequence(Parse(host.Calls())), "Refusing.dll:create");
}

// No drive and no plug-in: the device page opens first, shows no rows and
// says so; the current drive stays as it was.
TEST_F(HostTest, EmptyDeviceTable) {
    HostProcess host("Flasher.exe", {}, "# no host adapters\n");
    ASSERT_TRUE(host.Start());
    EXPECT_EQ(Tabs(host), (std::vector<std::string>{"Infomation"}));
    EXPECT_EQ(e2e::Text(host.Child(kStatus)), "Select Device...");
    EXPECT_EQ(host.ListRows(host.PageItem(kList)), 0);
    EXPECT_EQ(e2e::Text(host.PageItem(kLine)), "No device found");
    EXPECT_EQ(SendMessageA(host.window, WM_SELECT_DEVICE, 0, 0), 0);
    EXPECT_EQ(host.Close(true), 0u);
    DWORD adapter = 9, target = 9;
    EXPECT_TRUE(settings::GetDword("Adapter", &adapter) && adapter == HDLL_NO_DRIVE);
    EXPECT_TRUE(settings::GetDword("Target", &target) && target == HDLL_NO_DRIVE);
}

// A disk alone at 0:0: no drive is selected, and every plug-in call says so,
// never naming the disk.
TEST_F(HostTest, NoDriveIsNamedToPlugins) {
    HostProcess host("Flasher.exe", {{"Alpha.dll", "Alpha.dll"}}, "adapter\ndisk 0\n");
    ASSERT_TRUE(host.Start());
    host.ClickTab(1);
    EXPECT_EQ(host.ListRows(host.PageItem(kList)), 0);
    host.ClickTab(0);
    const std::vector<Call> calls = Parse(host.Calls());
    EXPECT_EQ(Sequence(calls), "Alpha.dll:create Alpha.dll:open Alpha.dll:close Alpha.dll:open");
    for (const Call& call : calls) {
        if (call.what != "close") {
            EXPECT_EQ(call.adapter * 256 + call.target, HDLL_NO_DRIVE * 256u + HDLL_NO_DRIVE)
                << call.what;
        }
    }
    EXPECT_EQ(host.Close(true), 0u);
}

} // namespace
