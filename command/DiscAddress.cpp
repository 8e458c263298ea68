#include "command/DiscAddress.h"

int32_t MsfToLba(DiscAddress& address) {
    int32_t frames = (address.minute * 60 + address.second) * 75 + address.frame;
    address.lba = frames - (address.minute >= 90 ? 450150 : 150);
    return address.lba;
}

DiscAddress& LbaToMsf(DiscAddress& address) {
    // 64 bits: an LBA near either end of the 32-bit range must not overflow.
    int64_t lba = address.lba;
    int64_t a = lba >= -150 ? lba + 150 : lba + 450150;
    address.minute = static_cast<int8_t>(static_cast<uint8_t>(a / 4500));
    address.second = static_cast<int8_t>(static_cast<uint8_t>((a % 4500) / 75));
    address.frame = static_cast<int8_t>(static_cast<uint8_t>((a % 4500) % 75));
    return address;
}
