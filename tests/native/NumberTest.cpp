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

TEST(ToNumber, RadixAndPrefixes) {
    EXPECT_EQ(46u, Number("2E", 'H'));
    EXPECT_EQ(46u, Number("D'46", 'H'));
    EXPECT_EQ(46u, Number("H'2E", 'D'));
    EXPECT_EQ(5u, Number("B'101", 'H'));
    EXPECT_EQ(31u, Number("0X1F", 'H'));
    EXPECT_EQ(31u, Number("0x1f", 'h')) << "the caller's letter counts in either case";
    EXPECT_EQ(0u, Number("Q'12", 'H'));
    EXPECT_EQ(0u, Number("12", 'Q'));
    EXPECT_EQ(5u, Number("B'1X1", 'H'));
    EXPECT_EQ(0xFFFFFFFFu, Number("11111111111111111111111111111111", 'B'));
    EXPECT_EQ(0u, Number("100000000000000000000000000000000", 'B'))
        << "only the last 32 bits remain";

    StringEx lower("d'46");
    EXPECT_EQ(46u, ToNumber(lower, 'H'));
    EXPECT_STREQ("46", lower.data) << "the caller's buffer keeps only the digits";
    StringEx upper("1e");
    ToNumber(upper, 'H');
    EXPECT_STREQ("1E", upper.data);
}

TEST(ToNumber, DecimalAndHexadecimalReading) {
    EXPECT_EQ(46u, Number("46", 'D'));
    EXPECT_EQ(0u, Number("-5", 'D')) << "negative decimal values become 0";
    EXPECT_EQ(12u, Number("12AB", 'D'));
    EXPECT_EQ(0u, Number("", 'D'));
    EXPECT_EQ(7u, Number("  +7", 'D'));
    EXPECT_EQ(0u, Number("4294967295", 'D')) << "wraps to -1, which is negative";
    EXPECT_EQ(1u, Number("-4294967295", 'D'));
    EXPECT_EQ(0x12345678u, Number("1234567812345678", 'H')) << "wraps modulo 2^32";
    EXPECT_EQ(0xFFFFFFFBu, Number("-5", 'H'));
    EXPECT_EQ(0u, Number("0X", 'H'));
    EXPECT_EQ(0u, Number("G1", 'H'));
    EXPECT_EQ(0u, Number("/", 'H'));
}

TEST(ToNumber, MinuteSecondFrameAddresses) {
    EXPECT_EQ(0u, Number("0:2:0", 'H'));
    EXPECT_EQ(0u, Number("0:2:0", 'D'));
    EXPECT_EQ(4503u, Number("1:2:3", 'D'));
    EXPECT_EQ(static_cast<uint32_t>(-150), Number("0:0:0", 'D'));
    EXPECT_EQ(static_cast<uint32_t>(-150), Number("100:0:0", 'D')) << "minutes 90 and up";
    EXPECT_EQ(static_cast<uint32_t>(-151), Number("99:59:74", 'D'));
    EXPECT_EQ(1050u, Number("0:10:0", 'H')) << "parts are read in the caller's radix";
    EXPECT_EQ(1050u, Number("0:d'16:0", 'H'));
    EXPECT_EQ(0u, Number("256:2:0", 'D')) << "each part keeps its low 8 bits";
    for (int i = 0; i < 50; ++i) {
        uint32_t lba = Number("0:2:0:1", 'D'); // the frame is a range
        EXPECT_TRUE(lba == 0u || lba == 1u) << lba;
    }
}

TEST(ToNumber, RandomRanges) {
    bool seen[2] = {false, false};
    for (int i = 0; i < 200; ++i) {
        EXPECT_EQ(5u, Number("5:5", 'D'));
        uint32_t v = Number("0:1", 'D');
        ASSERT_LE(v, 1u);
        seen[v] = true;
        uint32_t h = Number("10:1F", 'H');
        EXPECT_GE(h, 0x10u);
        EXPECT_LE(h, 0x1Fu);
    }
    EXPECT_TRUE(seen[0] && seen[1]);
    // A reversed range gives its low bound.
    EXPECT_EQ(9u, Number("9:3", 'D'));
    EXPECT_EQ(0x7FFFFFFFu, Number("7FFFFFFF:0", 'H'));
    // A range as wide as the positive numbers does not overflow into the negative.
    for (int i = 0; i < 50; ++i)
        EXPECT_GE(static_cast<int32_t>(Number("0:7FFFFFFF", 'H')), 0);
}

TEST(DiscAddress, BoundaryValues) {
    DiscAddress a = Msf(0);
    EXPECT_EQ(0, a.minute);
    EXPECT_EQ(2, a.second);
    EXPECT_EQ(0, a.frame);
    a = Msf(-150);
    EXPECT_EQ(0, a.minute + a.second + a.frame);
    a = Msf(-151);
    EXPECT_EQ(99, a.minute);
    EXPECT_EQ(59, a.second);
    EXPECT_EQ(74, a.frame);
    a = Msf(-45150);
    EXPECT_EQ(90, a.minute);
    EXPECT_EQ(0, a.second + a.frame);
    a = Msf(404849);
    EXPECT_EQ(89, a.minute);
    EXPECT_EQ(59, a.second);
    EXPECT_EQ(74, a.frame);
    a = Msf(404850);
    EXPECT_EQ(90, a.minute);
    EXPECT_EQ(0, a.second + a.frame);
    EXPECT_EQ(-45150, MsfToLba(a)) << "past 89:59:74 the address wraps to the negative side";
    EXPECT_EQ(-45150, a.lba);
    EXPECT_EQ(0, Lba(0, 2, 0));
    EXPECT_EQ(-150, Lba(0, 0, 0));
    EXPECT_EQ(4503, Lba(1, 2, 3));
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
