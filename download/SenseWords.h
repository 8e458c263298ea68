// Where the words for sense data come from. Natively from libsgutils2, which
// holds the SCSI standard's whole list of sense keys and additional sense
// codes; the Windows build has no such library and takes a table generated
// from it at build time (SenseTableGen). The table's lookup builds natively
// too, so that a test can hold it to the library, code by code.
#pragma once

#include <cstdint>

namespace download {

namespace sgutils {
// The key's name; any key 0-15.
void KeyName(uint8_t key, char* text, uint32_t size);
// 1 and the meaning of a code and qualifier the list holds; else 0 and "".
int CodeText(uint8_t asc, uint8_t ascq, char* text, uint32_t size);
} // namespace sgutils

namespace sense_table {
struct Code {
    uint8_t asc, ascq;
    const char* text;
};
// Qualifiers first..last of one code share a text that names the qualifier:
// before + the qualifier in hexadecimal + after.
struct Range {
    uint8_t asc, first, last;
    const char* before;
    const char* after;
};
extern const char* const kKeyNames[16];
extern const Code kCodes[];
extern const uint32_t kCodeCount;
extern const Range kRanges[];
extern const uint32_t kRangeCount;

void KeyName(uint8_t key, char* text, uint32_t size);
int CodeText(uint8_t asc, uint8_t ascq, char* text, uint32_t size);
} // namespace sense_table

} // namespace download
