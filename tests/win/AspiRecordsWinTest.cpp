// The records as a real ASPI layer reads them, in the 32-bit Windows build.
#include "aspi/AspiRecords.h"

#include <gtest/gtest.h>

#include <cstring>

using namespace aspi;

TEST(AspiRecordsWin, ExecuteRequestIsByteExact) {
    SRB_ExecSCSICmd srb;
    std::memset(&srb, 0, sizeof srb);
    uint8_t data[4];
    srb.SRB_BufPointer = data;
    srb.SRB_SenseLen = 14;
    srb.SRB_CDBLen = 12;
    srb.SRB_HaStat = 0x55;
    srb.SRB_TargStat = 0x66;
    srb.SRB_PostProc = reinterpret_cast<void*>(0x11223344);
    srb.CDBByte[0] = 0x12;
    srb.SenseArea[13] = 0x77;
    const uint8_t* raw = reinterpret_cast<const uint8_t*>(&srb);
    ASSERT_EQ(80u, sizeof srb);
    uint32_t pointer;
    std::memcpy(&pointer, raw + 0x10, 4);
    EXPECT_EQ(reinterpret_cast<uintptr_t>(data), pointer);
    EXPECT_EQ(14, raw[0x14]);
    EXPECT_EQ(12, raw[0x15]);
    EXPECT_EQ(0x55, raw[0x16]);
    EXPECT_EQ(0x66, raw[0x17]);
    EXPECT_EQ(0x44, raw[0x18]);
    EXPECT_EQ(0x11, raw[0x1B]);
    EXPECT_EQ(0x12, raw[0x30]);
    EXPECT_EQ(0x77, raw[0x40 + 13]);
}

TEST(AspiRecordsWin, ResetRequestIsByteExact) {
    SRB_BusDeviceReset srb;
    std::memset(&srb, 0, sizeof srb);
    srb.SRB_Target = 5;
    srb.SRB_HaStat = 0x99;
    srb.SRB_PostProc = reinterpret_cast<void*>(0xA1B2C3D4);
    const uint8_t* raw = reinterpret_cast<const uint8_t*>(&srb);
    ASSERT_EQ(64u, sizeof srb);
    EXPECT_EQ(5, raw[0x08]);
    EXPECT_EQ(0x99, raw[0x16]);
    EXPECT_EQ(0xD4, raw[0x18]);
    EXPECT_EQ(0xA1, raw[0x1B]);
}
