// In-process tests of the host's units that need no running program: the
// drag rules of the main window, the on-screen check of a saved position,
// start-up without a window, and the COM port index.
#include "host/ComPort.h"
#include "host/MainDlg.h"
#include "host/WindowLayout.h"

#include <gtest/gtest.h>

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

TEST(PositionOnScreen, UnsignedSumsBelowTheScreen) {
    struct Case {
        uint32_t x, y, width, height;
        bool onScreen;
    } cases[] = {
        {10, 10, 600, 400, true},
        {424, 10, 600, 400, false}, // right edge exactly at the screen's width
        {423, 10, 600, 400, true},
        {5000, 10, 600, 400, false},
        {10, 700, 600, 400, false},
        {uint32_t(-700), 10, 600, 400, false}, // negative sum: huge unsigned
        {uint32_t(-100), 10, 600, 400, true},  // partly off to the left, sum positive
        {0xFFFFFF00u, 10, 0x200, 400, true},   // wraps past 2^32 to 256
    };
    for (const Case& c : cases)
        EXPECT_EQ(PositionOnScreen(c.x, c.y, c.width, c.height, 1024, 768), c.onScreen)
            << c.x << "," << c.y;
}

// This program has no template 102: construction stops after the channel,
// nothing else is made, and the program ends without entering the loop
// (which would return the posted 7).
TEST(MainDlgStartUp, NoWindowEndsBeforeTheLoop) {
    {
        MainDlg main(GetModuleHandleA(nullptr), 102, MainDlgProc, SW_HIDE);
        EXPECT_EQ(main.window, nullptr);
        EXPECT_NE(main.channel, nullptr);
        EXPECT_EQ(main.tab, nullptr);
        EXPECT_EQ(main.device, nullptr);
        EXPECT_EQ(theMainDlg, &main);
    }
    EXPECT_EQ(theMainDlg, nullptr);
    PostQuitMessage(7);
    EXPECT_EQ(MainDlg::Run(GetModuleHandleA(nullptr), SW_HIDE, 102), 1);
    MSG quit;
    EXPECT_TRUE(PeekMessageA(&quit, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE));
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
