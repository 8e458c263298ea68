#include "download/SenseText.h"
#include "download/SenseWords.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

namespace {

using namespace download;

TEST(SenseText, KeyAndCodeInWords) {
    const struct {
        uint8_t key, asc, ascq;
        const char* text;
    } cases[] = {
        {0x05, 0x26, 0x00, "Illegal Request: Invalid field in parameter list"},
        {0x03, 0x0C, 0x00, "Medium Error: Write error"},
        {0x06, 0x29, 0x00, "Unit Attention: Power on, reset, or bus device reset occurred"},
        {0x02, 0x3A, 0x02, "Not Ready: Medium not present - tray open"},
        {0x04, 0x40, 0x85, "Hardware Error: Diagnostic failure on component [0x85]"},
        {0x0B, 0x4B, 0x00, "Aborted Command: Data phase error"},
        {0x02, 0x3A, 0x7F, "Not Ready"},       // a qualifier the list does not hold
        {0x05, 0x80, 0x01, "Illegal Request"}, // vendor specific
        {0x0F, 0x00, 0x00, "Completed: No additional sense information"},
        {0x15, 0x00, 0x00, "Illegal Request: No additional sense information"}, // low four bits
    };
    for (const auto& c : cases) {
        char text[96];
        DescribeSense(c.key, c.asc, c.ascq, text, sizeof text);
        EXPECT_STREQ(c.text, text);
    }
    char small[8];
    DescribeSense(0x05, 0x24, 0x00, small, sizeof small);
    EXPECT_STREQ("Illegal", small) << "cut to the room it has";
    char none[1] = {'x'};
    DescribeSense(0x05, 0x24, 0x00, none, 0);
    EXPECT_EQ('x', none[0]) << "no room, nothing written";
}

// The Windows build's table says what the library says, for every key and
// every code and qualifier.
TEST(SenseText, TableAgreesWithTheLibrary) {
    char table[128], library[128];
    for (uint8_t key = 0; key < 16; ++key) {
        sense_table::KeyName(key, table, sizeof table);
        sgutils::KeyName(key, library, sizeof library);
        ASSERT_STREQ(library, table) << "key " << int(key);
    }
    int known = 0;
    for (int asc = 0; asc < 256; ++asc)
        for (int ascq = 0; ascq < 256; ++ascq) {
            const int inTable =
                sense_table::CodeText(uint8_t(asc), uint8_t(ascq), table, sizeof table);
            const int inLibrary =
                sgutils::CodeText(uint8_t(asc), uint8_t(ascq), library, sizeof library);
            ASSERT_EQ(inLibrary, inTable) << asc << "/" << ascq;
            ASSERT_STREQ(library, table) << asc << "/" << ascq;
            known += inTable;
        }
    EXPECT_GT(known, 1000) << "the standard's whole list, not a few codes";
}

} // namespace
