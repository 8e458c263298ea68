// In-process tests of the host's units that need no running program: the
// drag rules of the main window, start-up without a window, the COM port
// index, and the main window listing and using fake CD-ROM devices through
// our pass-through layer. The portable rules run here too, under Windows.
#include "../support/FakeCdRoms.h"
#include "WinTestSupport.h"

#include "aspi/AspiSeam.h"
#include "command/CompileCommand.h"
#include "firmware/DownloadRules.h"
#include "host/ComPort.h"
#include "host/DeviceDlg.h"
#include "host/MainDlg.h"
#include "host/Resource.h"
#include "host/WindowLayout.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

TEST(SizeToEdge, MovesOnlyTheDraggedEdges) {
    const int32_t width = 300, minHeight = 200;
    // Proposed 100 wide; 150 high (below the minimum) and 400 high (above).
    struct Case {
        int edge;
        RECT low, high;
    } cases[] = {
        {WMSZ_LEFT, {-100, 50, 200, 200}, {-100, 50, 200, 450}},
        {WMSZ_RIGHT, {100, 50, 400, 200}, {100, 50, 400, 450}},
        {WMSZ_TOP, {100, 0, 200, 200}, {100, 50, 200, 450}},
        {WMSZ_TOPLEFT, {-100, 0, 200, 200}, {-100, 50, 200, 450}},
        {WMSZ_TOPRIGHT, {100, 0, 400, 200}, {100, 50, 400, 450}},
        {WMSZ_BOTTOM, {100, 50, 200, 250}, {100, 50, 200, 450}},
        {WMSZ_BOTTOMLEFT, {-100, 50, 200, 250}, {-100, 50, 200, 450}},
        {WMSZ_BOTTOMRIGHT, {100, 50, 400, 250}, {100, 50, 400, 450}},
        {0, {100, 50, 200, 200}, {100, 50, 200, 450}},
        {9, {100, 50, 200, 200}, {100, 50, 200, 450}},
    };
    for (const Case& c : cases) {
        RECT low = {100, 50, 200, 200}, high = {100, 50, 200, 450};
        SizeToEdge(c.edge, &low, width, minHeight);
        SizeToEdge(c.edge, &high, width, minHeight);
        EXPECT_TRUE(EqualRect(&low, &c.low)) << "edge " << c.edge << " short";
        EXPECT_TRUE(EqualRect(&high, &c.high)) << "edge " << c.edge << " tall";
    }
}

// This program has no template 4242: construction stops after the channel,
// nothing else is made, and the program ends without entering the loop
// (which would return the posted 7).
TEST(MainDlgStartUp, NoWindowEndsBeforeTheLoop) {
    {
        MainDlg main(GetModuleHandleA(nullptr), 4242, MainDlgProc, SW_HIDE);
        EXPECT_EQ(main.window, nullptr);
        EXPECT_NE(main.channel, nullptr);
        EXPECT_EQ(main.tab, nullptr);
        EXPECT_EQ(main.device, nullptr);
        EXPECT_EQ(theMainDlg, &main);
    }
    EXPECT_EQ(theMainDlg, nullptr);
    PostQuitMessage(7);
    EXPECT_EQ(MainDlg::Run(GetModuleHandleA(nullptr), SW_HIDE, 4242), 1);
    MSG quit;
    EXPECT_TRUE(PeekMessageA(&quit, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE));
}

// What the next test changes in the process, all undone at its end: the ASPI
// layer (none answers, so the pass-through over these device calls),
// HKEY_CURRENT_USER (a key of the test's own stands in for it), and the
// plug-in folder (an empty one, so the host finds no plug-in).
struct HostSurroundings {
    const std::string own = "SOFTWARE\\CorvaneTest\\" + std::to_string(GetCurrentProcessId());
    std::string empty;
    HKEY root = nullptr;
    bool ready = false;

    explicit HostSurroundings(const aspi::DeviceCalls* calls) {
        aspi::RebindLayer("CORVANE-NO-SUCH-ASPI.DLL", calls);
        if (RegCreateKeyExA(HKEY_CURRENT_USER, own.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                            &root, nullptr) != ERROR_SUCCESS ||
            RegOverridePredefKey(HKEY_CURRENT_USER, root) != ERROR_SUCCESS)
            return;
        char temp[MAX_PATH];
        GetTempPathA(sizeof temp, temp);
        empty = temp + own.substr(own.rfind('\\') + 1) + "-no-plugins";
        CreateDirectoryA(empty.c_str(), nullptr);
        thePluginFolder = empty.c_str();
        ready = true;
    }
    ~HostSurroundings() {
        MSG quit; // the main window's end posts one
        PeekMessageA(&quit, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE);
        thePluginFolder = nullptr;
        RemoveDirectoryA(empty.c_str());
        RegOverridePredefKey(HKEY_CURRENT_USER, nullptr);
        if (root) {
            RegDeleteTreeA(root, nullptr);
            RegCloseKey(root);
        }
        RegDeleteKeyA(HKEY_CURRENT_USER, own.c_str());
        RegDeleteKeyA(HKEY_CURRENT_USER, "SOFTWARE\\CorvaneTest");
        aspi::RebindLayer(nullptr, nullptr);
    }
};

// No ASPI layer answers: the main window's device page lists the fakes the
// pass-through found, and the drive chosen on the page or by a plug-in's
// request gets the host's commands.
TEST(MainDlgDevices, ListsAndCommandsFakeDrivesThroughThePassThrough) {
    FakeCdRoms& fakes = *new FakeCdRoms(); // the chosen layer outlives the test
    fakes.Add(0, 1, 0, 1, 0, FakeDrive("PLAIN"));
    fakes.Add(1, 2, 0, 0, 0, FakeDrive("FLASHABLE"));
    simulator::DriveConfig third = FakeDrive("THIRD");
    simulator::SetField(third.revision, "2.07");
    fakes.Add(2, 2, 0, 3, 0, third);
    const aspi::DeviceCalls calls = fakes.Calls();
    HostSurroundings host(&calls);
    ASSERT_TRUE(host.ready) << "no key of the test's own";
    {
        MainDlg main(GetModuleHandleA(nullptr), IDD_MAIN, MainDlgProc, SW_HIDE);
        char codeName[32] = "";
        DWORD size = sizeof codeName;
        EXPECT_EQ(ERROR_SUCCESS, RegGetValueA(host.root, "SOFTWARE\\Corvane", "CodeName",
                                              RRF_RT_REG_SZ, nullptr, codeName, &size));
        ASSERT_NE(main.window, nullptr);
        ASSERT_EQ(0u, main.pluginCount);
        const HWND page = main.OpenPage();
        const HWND list = GetDlgItem(page, IDC_DEVICE_LIST);
        ASSERT_EQ(3, wintest::ListRowCount(list));
        const char* const rows[3][4] = {{"0", "1", "FAKE    PLAIN           ", "1.00"},
                                        {"1", "0", "FAKE    FLASHABLE       ", "1.00"},
                                        {"1", "3", "FAKE    THIRD           ", "2.07"}};
        for (int row = 0; row < 3; ++row)
            for (int column = 0; column < 4; ++column)
                EXPECT_EQ(rows[row][column], wintest::ListText(list, row, column)) << row;

        auto inquiry = [&](int fake, const std::string& identity) {
            ASSERT_EQ(1, CompileCommand(*main.channel, kInquiryCommand));
            ASSERT_EQ(1, main.channel->Execute());
            EXPECT_EQ(identity, std::string(reinterpret_cast<char*>(main.channel->buffer) + 8,
                                            identity.size()));
            const std::vector<FakeCdRoms::Seen> seen = fakes.Journal();
            EXPECT_EQ(fake, seen.back().index);
            EXPECT_EQ(0x12, seen.back().spt.Cdb[0]);
        };
        wintest::SelectListRows(list, {2});
        EXPECT_EQ("FAKE    THIRD             2.07",
                  wintest::WindowText(GetDlgItem(page, IDC_CURRENT_DEVICE)));
        inquiry(2, "FAKE    THIRD           2.07");
        EXPECT_EQ(1, SendMessageA(main.window, WM_SELECT_DEVICE, MAKEWPARAM(0, 1), 0));
        inquiry(1, "FAKE    FLASHABLE       1.00");
        EXPECT_EQ(0, SendMessageA(main.window, WM_SELECT_DEVICE, MAKEWPARAM(3, 0), 0));
        inquiry(1, "FAKE    FLASHABLE       1.00");
    }
}

TEST(ComPortTest, IndexModuloFourAndCloseOfAClosedPort) {
    ComPort port;
    port.Open(5);
    EXPECT_EQ(port.index, 1);
    EXPECT_STREQ(ComPort::Name(port.index), "COM2");
    port.Close();
    EXPECT_EQ(port.IsOpen(), 0);
    EXPECT_EQ(port.Close(), 0);
    port.Open(0x107);
    EXPECT_EQ(port.index, 3);
}

} // namespace
