#include "aspi/AspiRecords.h"

#include <gtest/gtest.h>

#include <cstring>

using namespace aspi;

TEST(AspiRecords, SupportInfoPacksStatusAndCount) {
    uint32_t info = MakeSupportInfo(SS_COMP, 3);
    EXPECT_EQ(0x0103u, info);
    EXPECT_EQ(SS_COMP, SupportStatus(info));
    EXPECT_EQ(3, SupportAdapterCount(info));
    EXPECT_EQ(SS_NO_ADAPTERS, SupportStatus(MakeSupportInfo(SS_NO_ADAPTERS, 0)));
}

TEST(AspiRecords, HeaderFieldsSitWhereLayersReadThem) {
    SRB_ExecSCSICmd srb;
    std::memset(&srb, 0, sizeof srb);
    srb.SRB_Cmd = SC_EXEC_SCSI_CMD;
    srb.SRB_Status = 0x11;
    srb.SRB_HaId = 0x22;
    srb.SRB_Flags = SRB_DIR_IN | SRB_EVENT_NOTIFY;
    srb.SRB_Target = 0x33;
    srb.SRB_Lun = 0x44;
    srb.SRB_BufLen = 0x01020304;
    const uint8_t* raw = reinterpret_cast<const uint8_t*>(&srb);
    EXPECT_EQ(0x02, raw[0]);
    EXPECT_EQ(0x11, raw[1]);
    EXPECT_EQ(0x22, raw[2]);
    EXPECT_EQ(0x48, raw[3]);
    EXPECT_EQ(0x33, raw[8]);
    EXPECT_EQ(0x44, raw[9]);
    // Little-endian 32-bit data length at 0x0C.
    EXPECT_EQ(0x04, raw[0x0C]);
    EXPECT_EQ(0x01, raw[0x0F]);
}
