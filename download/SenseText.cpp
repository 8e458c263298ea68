#include "download/SenseText.h"

#include <cstdio>

namespace download {
namespace {

struct Known {
    uint8_t asc, ascq;
    const char* text;
};

// The codes drives answer a download with, and those around it.
const Known kKnown[] = {
    {0x04, 0x00, "logical unit not ready, cause not reportable"},
    {0x04, 0x01, "logical unit is in process of becoming ready"},
    {0x0C, 0x00, "write error"},
    {0x20, 0x00, "invalid command operation code"},
    {0x24, 0x00, "invalid field in CDB"},
    {0x25, 0x00, "logical unit not supported"},
    {0x26, 0x00, "invalid field in parameter list"},
    {0x28, 0x00, "not ready to ready change, medium may have changed"},
    {0x29, 0x00, "power on, reset, or bus device reset occurred"},
    {0x3A, 0x00, "medium not present"},
    {0x3F, 0x01, "microcode has been changed"},
    {0x44, 0x00, "internal target failure"},
    {0x53, 0x02, "medium removal prevented"},
};

} // namespace

const char* SenseKeyName(uint8_t key) {
    static const char* const names[15] = {
        "NO SENSE",        "RECOVERED ERROR", "NOT READY",    "MEDIUM ERROR",    "HARDWARE ERROR",
        "ILLEGAL REQUEST", "UNIT ATTENTION",  "DATA PROTECT", "BLANK CHECK",     "VENDOR SPECIFIC",
        "COPY ABORTED",    "ABORTED COMMAND", "EQUAL",        "VOLUME OVERFLOW", "MISCOMPARE",
    };
    return key < 15 ? names[key] : "RESERVED";
}

const char* AdditionalSenseText(uint8_t asc, uint8_t ascq) {
    for (const Known& known : kKnown)
        if (known.asc == asc && known.ascq == ascq)
            return known.text;
    return "";
}

void DescribeSense(uint8_t key, uint8_t asc, uint8_t ascq, char* text, uint32_t size) {
    if (!size)
        return;
    const char* more = AdditionalSenseText(asc, ascq);
    std::snprintf(text, size, more[0] ? "%s: %s" : "%s", SenseKeyName(key), more);
}

} // namespace download
