// The host's rules without a window: plug-in file names, and where the main
// window may open.
#include "host/Placement.h"
#include "host/PluginFile.h"

#include <gtest/gtest.h>

namespace {

TEST(PluginFile, OnlyNamesEndingInDll) {
    for (const char* name : {"Wexa.dll", "WEXA.DLL", "x.y.dll", "a.Dll"})
        EXPECT_TRUE(IsPluginFileName(name)) << name;
    for (const char* name : {"Wexa.dll_old", "Wexa.dll.bak", "Wexa.dl", "Wexa", ".dll", "dll",
                             "Wexa.dllx", "WEXA~1.DLL_"})
        EXPECT_FALSE(IsPluginFileName(name)) << name;
}

TEST(Placement, OnlyWhollyOnAWorkAreaAndNeverSmallerThanCreated) {
    // The primary monitor without its task bar, and a second one to its left.
    const Box areas[] = {{0, 0, 1024, 738}, {-1280, 0, 0, 1024}};
    const int32_t width = 600, height = 400;
    struct Case {
        uint32_t x, y, savedHeight;
        bool used;
        Box place;
    } cases[] = {
        {20, 30, 400, true, {20, 30, 620, 430}},
        {20, 30, 60, true, {20, 30, 620, 430}},     // too low: as created
        {20, 30, 500, true, {20, 30, 620, 530}},    // taller: kept
        {424, 30, 400, true, {424, 30, 1024, 430}}, // right edge on the area's
        {425, 30, 400, false, {}},
        {20, 339, 400, false, {}}, // into the task bar
        {uint32_t(-1000), 100, 400, true, {-1000, 100, -400, 500}},
        {uint32_t(-1000), 700, 400, false, {}}, // past the second monitor's bottom
        {uint32_t(-300), 10, 400, false, {}},   // across both
        {uint32_t(-3000), 10, 400, false, {}},  // a monitor that is gone
        {5000, 10, 400, false, {}},
        {0x7FFFFFFFu, 0x7FFFFFFFu, 400, false, {}},
        {20, 30, 0xFFFFFFFFu, false, {}}, // no height fits
    };
    for (const Case& c : cases) {
        Box place = {7, 7, 7, 7};
        EXPECT_EQ(c.used, PlaceOnWorkArea(c.x, c.y, c.savedHeight, width, height, areas, 2, place))
            << int32_t(c.x) << "," << c.y;
        if (c.used) {
            EXPECT_EQ(c.place.left, place.left);
            EXPECT_EQ(c.place.top, place.top);
            EXPECT_EQ(c.place.right, place.right);
            EXPECT_EQ(c.place.bottom, place.bottom);
        }
    }
    Box place = {};
    EXPECT_FALSE(PlaceOnWorkArea(20, 30, 400, width, height, areas, 0, place)) << "no monitor";
}

} // namespace
