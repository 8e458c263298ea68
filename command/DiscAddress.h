// A disc address as a logical block address and as minute:second:frame, with
// the CD addressing rules: 75 frames a second, LBA 0 at 0:2:0, and minutes 90
// to 99 standing for the addresses before it.
#pragma once

#include <cstdint>

struct DiscAddress {
    int32_t lba;
    int8_t minute;
    int8_t second;
    int8_t frame;
};

int32_t MsfToLba(DiscAddress& address);
DiscAddress& LbaToMsf(DiscAddress& address);
