#include "download/SenseWords.h"

#include <cstdio>

namespace download {
namespace sense_table {

void KeyName(uint8_t key, char* text, uint32_t size) {
    if (size)
        std::snprintf(text, size, "%s", kKeyNames[key & 0x0F]);
}

// As the library looks: a range first, then the code and qualifier alone.
int CodeText(uint8_t asc, uint8_t ascq, char* text, uint32_t size) {
    for (uint32_t i = 0; i < kRangeCount; ++i) {
        const Range& r = kRanges[i];
        if (r.asc == asc && ascq >= r.first && ascq <= r.last) {
            if (size)
                std::snprintf(text, size, "%s%x%s", r.before, ascq, r.after);
            return 1;
        }
    }
    for (uint32_t i = 0; i < kCodeCount; ++i)
        if (kCodes[i].asc == asc && kCodes[i].ascq == ascq) {
            if (size)
                std::snprintf(text, size, "%s", kCodes[i].text);
            return 1;
        }
    if (size)
        text[0] = '\0';
    return 0;
}

} // namespace sense_table
} // namespace download
