// Names the download page may open: whole, and never a device.
#include "firmware/ImagePath.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

TEST(ImagePath, DeviceNamesAnywhereAreRefused) {
    const std::vector<const char*> devices = {"COM1",
                                              "com1",
                                              "COM1.hex",
                                              "C:\\fw\\COM1.HEX",
                                              "c:COM9",
                                              "LPT1",
                                              "lpt0.txt",
                                              "CON",
                                              "con.hex",
                                              "nul",
                                              "NUL.",
                                              "PRN ",
                                              "AUX .hex",
                                              "COM1:",
                                              "CONIN$",
                                              "conout$.x",
                                              "fw/Aux.hex",
                                              "\\\\.\\pipe\\x",
                                              "\\\\.\\COM3",
                                              "\\\\?\\C:\\a.hex",
                                              "//./PhysicalDrive0",
                                              "COM\xB9.hex"};
    const std::vector<const char*> files = {"fw.hex",
                                            "COM10.hex",
                                            "COMA.hex",
                                            "console.hex",
                                            "C:\\CON\\fw.hex",
                                            "NULL",
                                            "\\\\server\\s\\a.hex",
                                            "LPT.hex",
                                            "xCOM1.hex",
                                            "C:\\fw\\COM1x.HEX"};
    for (const auto* names : {&devices, &files})
        for (const char* name : *names) {
            EXPECT_EQ(names == &devices, IsDeviceName(name)) << name;
            EXPECT_EQ(names == &files, ImagePathAcceptable(name)) << name;
        }
}

TEST(ImagePath, ANameMustFitWhole) {
    EXPECT_FALSE(ImagePathAcceptable(nullptr));
    EXPECT_FALSE(ImagePathAcceptable(""));
    const std::string fits(kMaxImagePath - 1, 'a');
    EXPECT_TRUE(ImagePathAcceptable(fits.c_str()));
    EXPECT_FALSE(ImagePathAcceptable((fits + "a").c_str()));
    EXPECT_FALSE(ImagePathAcceptable(std::string(275, 'b').c_str()));
}

} // namespace
