#include "download/SenseWords.h"

#include <scsi/sg_lib.h>

#include <cstdio>
#include <cstring>

namespace download {
namespace sgutils {
namespace {

// The library's words for a code it knows follow this; for any other code it
// writes the numbers, which our callers show anyway.
const char kKnownPrefix[] = "Additional sense: ";
// Longer than any text of the list.
const int kLineSize = 256;

} // namespace

void KeyName(uint8_t key, char* text, uint32_t size) {
    if (!size)
        return;
    char line[kLineSize];
    sg_get_sense_key_str(key, sizeof line, line);
    std::snprintf(text, size, "%s", line);
}

int CodeText(uint8_t asc, uint8_t ascq, char* text, uint32_t size) {
    char line[kLineSize];
    sg_get_asc_ascq_str(asc, ascq, sizeof line, line);
    const size_t prefix = sizeof kKnownPrefix - 1;
    const int known = std::strncmp(line, kKnownPrefix, prefix) == 0;
    if (size)
        std::snprintf(text, size, "%s", known ? line + prefix : "");
    return known;
}

} // namespace sgutils
} // namespace download
