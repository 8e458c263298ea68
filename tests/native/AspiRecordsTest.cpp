#include "aspi/AspiRecords.h"

#include <gtest/gtest.h>

using namespace aspi;

TEST(AspiRecords, SupportInfoPacksStatusAndCount) {
    uint32_t info = MakeSupportInfo(SS_COMP, 3);
    EXPECT_EQ(0x0103u, info);
    EXPECT_EQ(SS_COMP, SupportStatus(info));
    EXPECT_EQ(3, SupportAdapterCount(info));
    EXPECT_EQ(SS_NO_ADAPTERS, SupportStatus(MakeSupportInfo(SS_NO_ADAPTERS, 0)));
}
