#include "aspi/DeviceAddress.h"

#include <gtest/gtest.h>

#include <string>

using namespace aspi;

TEST(DeviceAddress, AddressesAreDigitsColonDigits) {
    const struct {
        const char* text;
        int ok;
        uint8_t adapter, target;
    } cases[] = {
        {"0:0", 1, 0, 0},      {"255:7", 1, 255, 7},
        {"007:03", 1, 7, 3},   {"256:0", 0, 0, 0},
        {"0:8", 0, 0, 0},      {"A:0", 0, 0, 0},
        {" 0:0", 0, 0, 0},     {"0: 0", 0, 0, 0},
        {"+0:0", 0, 0, 0},     {"0:0:0", 0, 0, 0},
        {":0", 0, 0, 0},       {"0:", 0, 0, 0},
        {"0", 0, 0, 0},        {"", 0, 0, 0},
        {"-1:0", 0, 0, 0},     {"99999999999:1", 0, 0, 0},
        {"/dev/sg1", 0, 0, 0},
    };
    for (const auto& c : cases) {
        uint8_t adapter = 42, target = 42;
        EXPECT_EQ(c.ok, ParseAddress(c.text, &adapter, &target)) << c.text;
        EXPECT_EQ(c.ok ? c.adapter : 42, adapter) << c.text;
        EXPECT_EQ(c.ok ? c.target : 42, target) << c.text;
    }
    EXPECT_EQ(0, ParseAddress(nullptr, nullptr, nullptr));
}

// What the scan and the device page show, flash --device takes back.
TEST(DeviceAddress, EveryAddressTextReadsBack) {
    for (int a = 0; a < 256; ++a)
        for (uint8_t t = 0; t < kTargetsPerAdapter; ++t) {
            char text[kAddressTextSize];
            AddressText(uint8_t(a), t, text, sizeof text);
            uint8_t adapter = 0, target = 0;
            ASSERT_EQ(1, ParseAddress(text, &adapter, &target)) << text;
            ASSERT_EQ(a, adapter);
            ASSERT_EQ(t, target);
            ASSERT_FALSE(IsDevicePath(text)) << text;
        }
    char small[4];
    AddressText(255, 7, small, sizeof small);
    EXPECT_STREQ("255", small);
}

TEST(DeviceAddress, DevicePathsStartAtARootOrADriveLetter) {
    for (const char* path :
         {"/dev/sg1", "/dev/sr0", "/x", "\\\\.\\D:", "\\\\.\\CdRom0", "D:", "d:"})
        EXPECT_EQ(1, IsDevicePath(path)) << path;
    for (const char* text : {"", "0:0", "sg1", "dev/sg1", "D:\\", "DD:", "D", ":", "1:"})
        EXPECT_EQ(0, IsDevicePath(text)) << text;
    EXPECT_EQ(0, IsDevicePath(nullptr));
}
