#include "command/DiscAddress.h"
#include "command/ToNumber.h"

#include <gtest/gtest.h>

namespace {

uint32_t Number(const char* text, char radix) {
    StringEx buffer(text);
    return ToNumber(buffer, radix);
}

DiscAddress Msf(int32_t lba) {
    DiscAddress address{lba, 0, 0, 0};
    return LbaToMsf(address);
}

int32_t Lba(int minute, int second, int frame) {
    DiscAddress address{0, static_cast<int8_t>(minute), static_cast<int8_t>(second),
                        static_cast<int8_t>(frame)};
    return MsfToLba(address);
}

} // namespace

TEST(ToNumber, TableOfTexts) {
    const struct {
        const char* text;
        char radix;
        uint32_t want;
        const char* note;
    } cases[] = {
        // Radix letters and prefixes.
        {"2E", 'H', 46u, ""},
        {"D'46", 'H', 46u, ""},
        {"H'2E", 'D', 46u, ""},
        {"B'101", 'H', 5u, ""},
        {"0X1F", 'H', 31u, ""},
        {"0x1f", 'h', 31u, "the caller's letter counts in either case"},
        {"Q'12", 'H', 0u, ""},
        {"12", 'Q', 0u, ""},
        {"B'1X1", 'H', 5u, ""},
        {"11111111111111111111111111111111", 'B', 0xFFFFFFFFu, ""},
        {"100000000000000000000000000000000", 'B', 0u, "only the last 32 bits remain"},
        // Decimal and hexadecimal reading.
        {"46", 'D', 46u, ""},
        {"-5", 'D', 0u, "negative decimal values become 0"},
        {"12AB", 'D', 12u, ""},
        {"", 'D', 0u, ""},
        {"  +7", 'D', 7u, ""},
        {"4294967295", 'D', 0u, "wraps to -1, which is negative"},
        {"-4294967295", 'D', 1u, ""},
        {"1234567812345678", 'H', 0x12345678u, "wraps modulo 2^32"},
        {"-5", 'H', 0xFFFFFFFBu, ""},
        {"0X", 'H', 0u, ""},
        {"G1", 'H', 0u, ""},
        {"/", 'H', 0u, ""},
        // Minute:second:frame addresses.
        {"0:2:0", 'H', 0u, ""},
        {"0:2:0", 'D', 0u, ""},
        {"1:2:3", 'D', 4503u, ""},
        {"0:0:0", 'D', static_cast<uint32_t>(-150), ""},
        {"100:0:0", 'D', static_cast<uint32_t>(-150), "minutes 90 and up"},
        {"99:59:74", 'D', static_cast<uint32_t>(-151), ""},
        {"0:10:0", 'H', 1050u, "parts are read in the caller's radix"},
        {"0:d'16:0", 'H', 1050u, ""},
        {"256:2:0", 'D', 0u, "each part keeps its low 8 bits"},
        // Ranges: a reversed one gives its low bound.
        {"5:5", 'D', 5u, ""},
        {"9:3", 'D', 9u, ""},
        {"7FFFFFFF:0", 'H', 0x7FFFFFFFu, ""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.want, Number(c.text, c.radix))
            << c.text << " radix " << c.radix << " " << c.note;

    StringEx lower("d'46");
    EXPECT_EQ(46u, ToNumber(lower, 'H'));
    EXPECT_STREQ("46", lower.data) << "the caller's buffer keeps only the digits";
    StringEx upper("1e");
    ToNumber(upper, 'H');
    EXPECT_STREQ("1E", upper.data);
    for (int i = 0; i < 50; ++i) {
        uint32_t lba = Number("0:2:0:1", 'D'); // the frame is a range
        EXPECT_TRUE(lba == 0u || lba == 1u) << lba;
    }
}

TEST(ToNumber, RandomRanges) {
    bool seen[2] = {false, false};
    for (int i = 0; i < 200; ++i) {
        uint32_t v = Number("0:1", 'D');
        ASSERT_LE(v, 1u);
        seen[v] = true;
        uint32_t h = Number("10:1F", 'H');
        EXPECT_GE(h, 0x10u);
        EXPECT_LE(h, 0x1Fu);
    }
    EXPECT_TRUE(seen[0] && seen[1]);
    // A range as wide as the positive numbers does not overflow into the negative.
    for (int i = 0; i < 50; ++i)
        EXPECT_GE(static_cast<int32_t>(Number("0:7FFFFFFF", 'H')), 0);
}

TEST(DiscAddress, BoundaryValues) {
    const struct {
        int32_t lba;
        int minute, second, frame;
    } cases[] = {{0, 0, 2, 0},         {-150, 0, 0, 0},    {-151, 99, 59, 74}, {-45150, 90, 0, 0},
                 {404849, 89, 59, 74}, {404850, 90, 0, 0}, {4503, 1, 2, 3}};
    for (const auto& c : cases) {
        DiscAddress a = Msf(c.lba);
        EXPECT_EQ(c.minute, a.minute) << c.lba;
        EXPECT_EQ(c.second, a.second) << c.lba;
        EXPECT_EQ(c.frame, a.frame) << c.lba;
        if (c.lba < 404850) {
            EXPECT_EQ(c.lba, Lba(c.minute, c.second, c.frame)) << c.lba;
        }
    }
    DiscAddress a = Msf(404850);
    EXPECT_EQ(-45150, MsfToLba(a)) << "past 89:59:74 the address wraps to the negative side";
    EXPECT_EQ(-45150, a.lba);
}

TEST(DiscAddress, RoundTripOverTheWholeRange) {
    int failures = 0;
    for (int32_t lba = -45150; lba <= 404849; ++lba) {
        DiscAddress address = Msf(lba);
        address.lba = 0x5A5A5A5A;
        if (MsfToLba(address) != lba && ++failures < 5)
            ADD_FAILURE() << "LBA " << lba << " came back as " << address.lba;
    }
    EXPECT_EQ(0, failures);
}

TEST(DiscAddress, ExtremeAddressesStayDefined) {
    DiscAddress high = Msf(INT32_MAX);
    DiscAddress low = Msf(INT32_MIN);
    // 64-bit arithmetic: the low 8 bits of each part of the true quotient.
    int64_t a = int64_t{INT32_MAX} + 150;
    EXPECT_EQ(static_cast<int8_t>(a / 4500), high.minute);
    EXPECT_EQ(static_cast<int8_t>(a % 4500 / 75), high.second);
    int64_t b = int64_t{INT32_MIN} + 450150;
    EXPECT_EQ(static_cast<int8_t>(b / 4500), low.minute);
    EXPECT_EQ(static_cast<int8_t>(b % 4500 % 75), low.frame);
}
