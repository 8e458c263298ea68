#include "command/ToNumber.h"

#include "command/DiscAddress.h"
#include "command/Match.h"

#include <cstdlib>

namespace {

// Bytes of the parts of an address or a range.
constexpr int kPartCapacity = 30;

bool IsSpace(char c) {
    return c == ' ' || (c >= '\t' && c <= '\r');
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

uint32_t ReadBinary(const char* p) {
    uint32_t value = 0;
    for (; *p; ++p)
        value = (value << 1) | (*p == '1' ? 1u : 0u);
    return value;
}

// Sign and digits as the C library reads them, wrapping modulo 2^32.
uint32_t ReadSigned(const char* p, uint32_t base, bool* negative) {
    while (IsSpace(*p))
        ++p;
    *negative = *p == '-';
    if (*p == '-' || *p == '+')
        ++p;
    if (base == 16 && p[0] == '0' && p[1] == 'X' && HexDigit(p[2]) >= 0)
        p += 2;
    uint32_t value = 0;
    for (int digit; (digit = HexDigit(*p)) >= 0 && static_cast<uint32_t>(digit) < base; ++p)
        value = value * base + static_cast<uint32_t>(digit);
    return *negative ? 0u - value : value;
}

uint32_t Convert(const char* text, char radix) {
    bool negative = false;
    switch (radix) {
    case 'B':
        return ReadBinary(text);
    case 'D': {
        uint32_t value = ReadSigned(text, 10, &negative);
        return (value & 0x80000000u) ? 0u : value;
    }
    case 'H':
        return ReadSigned(text, 16, &negative);
    default:
        return 0;
    }
}

} // namespace

uint32_t ToNumber(StringEx& text, char radix) {
    text.MakeUpper();
    if (radix >= 'a')
        radix = static_cast<char>(radix - 32);

    FixedStringEx<kPartCapacity> first, second, third;
    if (Match(text, "*:*:*", &first, &second, &third)) {
        DiscAddress address;
        address.lba = 0;
        address.minute = static_cast<int8_t>(ToNumber(first, radix) & 0xFF);
        address.second = static_cast<int8_t>(ToNumber(second, radix) & 0xFF);
        address.frame = static_cast<int8_t>(ToNumber(third, radix) & 0xFF);
        return static_cast<uint32_t>(MsfToLba(address));
    }
    if (Match(text, "*:*", &first, &second)) {
        int64_t low = static_cast<int32_t>(ToNumber(first, radix));
        int64_t high = static_cast<int32_t>(ToNumber(second, radix));
        // A reversed range has no value between its bounds: it stands for its low bound.
        if (high < low)
            return static_cast<uint32_t>(low);
        int64_t r = std::rand() & 0x7FFF;
        return static_cast<uint32_t>(low + r * (high - low + 1) / 32768);
    }
    if (Match(text, "?'*", &first, &second)) {
        radix = first.data[0];
        text = second;
    }
    return Convert(text.data, radix);
}
