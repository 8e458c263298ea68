#include "download/SenseText.h"

#include "download/SenseWords.h"

#include <cstdio>

namespace download {

#ifdef _WIN32
namespace words = sense_table;
#else
namespace words = sgutils;
#endif

namespace {

// Longer than any name or meaning of the list.
const uint32_t kWordsSize = 128;

} // namespace

void SenseKeyName(uint8_t key, char* text, uint32_t size) {
    words::KeyName(key & 0x0F, text, size);
}

int AdditionalSenseText(uint8_t asc, uint8_t ascq, char* text, uint32_t size) {
    return words::CodeText(asc, ascq, text, size);
}

void DescribeSense(uint8_t key, uint8_t asc, uint8_t ascq, char* text, uint32_t size) {
    if (!size)
        return;
    char name[kWordsSize], meaning[kWordsSize];
    SenseKeyName(key, name, sizeof name);
    if (AdditionalSenseText(asc, ascq, meaning, sizeof meaning))
        std::snprintf(text, size, "%s: %s", name, meaning);
    else
        std::snprintf(text, size, "%s", name);
}

} // namespace download
