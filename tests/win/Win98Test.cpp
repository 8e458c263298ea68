// Run by Wine as Windows 98: the version the polled ASPI wait depends on.
#include "aspi/AspiPlatform.h"

#include <gtest/gtest.h>
#include <windows.h>

TEST(Win98, WineReportsWindows98ToThisProgram) {
    OSVERSIONINFOA info;
    ZeroMemory(&info, sizeof info);
    info.dwOSVersionInfoSize = sizeof info;
    ASSERT_TRUE(GetVersionExA(&info));
    EXPECT_EQ(1u, info.dwPlatformId);
    EXPECT_EQ(4u, info.dwMajorVersion);
    EXPECT_EQ(10u, info.dwMinorVersion);
    EXPECT_EQ(1, aspi::IsWindows95Or98());
}
