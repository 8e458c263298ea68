#include "aspi/DeviceAddress.h"

#include <cctype>
#include <cstdio>

namespace aspi {
namespace {

// A whole number of decimal digits within 0..max.
int Digits(const char* begin, const char* end, unsigned max, uint8_t& value) {
    if (begin == end)
        return 0;
    unsigned number = 0;
    for (const char* c = begin; c < end; ++c) {
        if (*c < '0' || *c > '9')
            return 0;
        number = number * 10 + static_cast<unsigned>(*c - '0');
        if (number > max)
            return 0;
    }
    value = static_cast<uint8_t>(number);
    return 1;
}

} // namespace

int ParseAddress(const char* text, uint8_t* adapter, uint8_t* target) {
    if (!text)
        return 0;
    const char* colon = text;
    while (*colon && *colon != ':')
        ++colon;
    if (!*colon)
        return 0;
    const char* end = colon + 1;
    while (*end)
        ++end;
    uint8_t a = 0, t = 0;
    if (!Digits(text, colon, 255, a) || !Digits(colon + 1, end, kTargetsPerAdapter - 1, t))
        return 0;
    *adapter = a;
    *target = t;
    return 1;
}

void AddressText(uint8_t adapter, uint8_t target, char* text, uint32_t size) {
    if (size)
        std::snprintf(text, size, "%u:%u", adapter, target);
}

int IsDevicePath(const char* text) {
    if (!text)
        return 0;
    if (text[0] == '/' || text[0] == '\\')
        return 1;
    return std::isalpha(static_cast<unsigned char>(text[0])) && text[1] == ':' && text[2] == '\0';
}

} // namespace aspi
