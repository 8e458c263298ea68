#include "command/CompileCommand.h"

#include "aspi/AspiSeam.h"

#include <gtest/gtest.h>

#include <array>
#include <string>

namespace {

typedef std::array<uint8_t, 12> Cdb;

Cdb CdbOf(const DeviceChannel& channel) {
    Cdb bytes;
    for (int i = 0; i < 12; ++i)
        bytes[i] = channel.cdb[i];
    return bytes;
}

struct Channel {
    DeviceChannel channel{1024, ChannelUser::Plugin};
    Channel() { aspi::BindLayer(nullptr, nullptr); }

    // The CDB after compiling text with args; direction, length and time-out
    // stay in channel.
    template <typename... Args> Cdb Compile(const char* text, const Args&... args) {
        EXPECT_EQ(1, CompileCommand(channel, text, args...));
        EXPECT_EQ(12, channel.cdbLength);
        return CdbOf(channel);
    }
};

struct Row {
    const char* text;
    Cdb cdb;
    uint8_t direction;
    uint32_t dataLength;
    uint32_t timeout;
};

} // namespace

TEST(CompileCommand, WorkedCompilations) {
    const Row rows[] = {
        {"12 0 0 0 d'46 /R46", {0x12, 0, 0, 0, 0x2E}, 0x08, 46, 7200},
        {"1B 0 0 0 2 /t30", {0x1B, 0, 0, 0, 0x02}, 0x08, 0, 30000},
        {"1e 0 0 0 2", {0x1E, 0, 0, 0, 0x02}, 0x08, 0, 7200},
        {"CB 0 22 0 0 0 0 FF FE 1", {0xCB, 0, 0x22, 0, 0, 0, 0, 0xFF, 0xFE, 0x01}, 0x08, 0, 7200},
        {"CB 20 0 0 0 0 0 FF FE 1", {0xCB, 0x20, 0, 0, 0, 0, 0, 0xFF, 0xFE, 0x01}, 0x08, 0, 7200},
        {"CB 21 0 0 0 0 0 FF FE 1", {0xCB, 0x21, 0, 0, 0, 0, 0, 0xFF, 0xFE, 0x01}, 0x08, 0, 7200},
        {"00", {}, 0x08, 0, 7200},
    };
    Channel c;
    for (const Row& row : rows) {
        EXPECT_EQ(row.cdb, c.Compile(row.text)) << row.text;
        EXPECT_EQ(row.direction, c.channel.direction) << row.text;
        EXPECT_EQ(row.dataLength, c.channel.dataLength) << row.text;
        EXPECT_EQ(row.timeout, c.channel.timeout) << row.text;
    }

    // The three transfer commands: 64 KiB out, the time-out in seconds; Type
    // 2.2 takes its mode byte as an argument too.
    const struct {
        const char* text;
        bool modeArgument;
        Cdb cdb;
    } transfers[] = {
        {"CB 20 0 w(%x) w(%x) FF FE 04 %x %x /t%d /w65536",
         false,
         {0xCB, 0x20, 0, 0x12, 0x34, 0, 0x03, 0xFF, 0xFE, 0x04, 0x12, 0x34}},
        {"CB 21 0 w(%x) w(%x) FF FE 04 %x %x /t%d /w65536",
         false,
         {0xCB, 0x21, 0, 0x12, 0x34, 0, 0x03, 0xFF, 0xFE, 0x04, 0x12, 0x34}},
        {"CB 0 22 w(%x) w(%x) FF FE %x %x %x /t%d /w65536",
         true,
         {0xCB, 0, 0x22, 0x12, 0x34, 0, 0x03, 0xFF, 0xFE, 0x84, 0x12, 0x34}},
    };
    for (const auto& t : transfers) {
        const Cdb cdb = t.modeArgument ? c.Compile(t.text, 0x1234u, 0x3u, 0x84u, 0x12u, 0x34u, 9000)
                                       : c.Compile(t.text, 0x1234u, 0x3u, 0x12u, 0x34u, 9000);
        EXPECT_EQ(t.cdb, cdb) << t.text;
        EXPECT_EQ(0x10, c.channel.direction) << t.text;
        EXPECT_EQ(65536u, c.channel.dataLength) << t.text;
        EXPECT_EQ(9000000u, c.channel.timeout) << t.text;
    }

    // Nothing carries over from the command before.
    EXPECT_EQ((Cdb{0x12, 0, 0, 0, 0x2E}), c.Compile("12 0 0 0 d'46 /R46"));
    EXPECT_EQ(0x08, c.channel.direction);
    EXPECT_EQ(7200u, c.channel.timeout);
}

TEST(CompileCommand, CaseAndSpacing) {
    Channel c;
    EXPECT_EQ(c.Compile("1E 0 0 0 2"), c.Compile("1e 0 0 0 2"));
    c.Compile("1B /t30");
    EXPECT_EQ(30000u, c.channel.timeout);
    EXPECT_EQ((Cdb{0x12, 0x34}), c.Compile("12  34")) << "an empty token emits nothing";
    EXPECT_EQ((Cdb{0x12, 0x34}), c.Compile(" 12 34 "));
    EXPECT_EQ(Cdb{}, c.Compile(""));
    EXPECT_EQ(Cdb{}, c.Compile(nullptr));
}

TEST(CompileCommand, TypedValues) {
    Channel c;
    EXPECT_EQ((Cdb{0, 2, 0}), c.Compile("m(0:2:0)"));
    EXPECT_EQ((Cdb{0, 2, 0}), c.Compile("m(0)"));
    EXPECT_EQ((Cdb{0x12, 0x34, 0x56, 0x78}), c.Compile("l(12345678)"));
    EXPECT_EQ((Cdb{0x12, 0x34, 0x56, 0x78}), c.Compile("d(12345678)"));
    EXPECT_EQ((Cdb{0x03, 0xE8}), c.Compile("w(d'1000)"));
    EXPECT_EQ((Cdb{0x0A}), c.Compile("b'1010"));
    EXPECT_EQ((Cdb{0x7F}), c.Compile("b(17F)"));
    EXPECT_EQ((Cdb{0xFF}), c.Compile("FFFF")) << "the low byte of a wide value";
    EXPECT_EQ((Cdb{0x23, 0x45}), c.Compile("w(12345)"));
    EXPECT_EQ((Cdb{0x01}), c.Compile("q(5) 1")) << "an unknown width emits nothing";
    EXPECT_EQ((Cdb{0x00, 0x07}), c.Compile("w(12)x 7")) << "text after ) is no number";
    EXPECT_EQ((Cdb{0x00, 0x07}), c.Compile("/ 7")) << "a lone / is no option";
    EXPECT_EQ((Cdb{99, 59, 74}), c.Compile("m(-97)")) << "LBA -151";
}

TEST(CompileCommand, Options) {
    Channel c;
    c.Compile("/R10 /W20");
    EXPECT_EQ(0x10, c.channel.direction);
    EXPECT_EQ(20u, c.channel.dataLength);
    c.Compile("/W20 /R10");
    EXPECT_EQ(0x08, c.channel.direction);
    EXPECT_EQ(10u, c.channel.dataLength);
    EXPECT_EQ((Cdb{0x12, 0x05}), c.Compile("12 /R40 5")) << "options may stand anywhere";
    c.Compile("/R");
    EXPECT_EQ(0u, c.channel.dataLength);
    c.Compile("/Rh'20 /Q5");
    EXPECT_EQ(0x20u, c.channel.dataLength) << "a radix prefix in an option value";
    EXPECT_EQ(Cdb{}, CdbOf(c.channel)) << "an unknown option letter does nothing";
    c.Compile("/t%d", 0);
    EXPECT_EQ(0u, c.channel.timeout);
}

TEST(CompileCommand, Placeholders) {
    Channel c;
    EXPECT_EQ((Cdb{0x46}), c.Compile("%d", 46)) << "a value is read in base 16";
    EXPECT_EQ((Cdb{0x2E}), c.Compile("d'%d", 46));
    EXPECT_EQ((Cdb{0x00, 0x06, 0x24}), c.Compile("m(%d)", 150)) << "0x150 = 336 as the LBA";
    EXPECT_EQ((Cdb{0x01}), c.Compile("%c 1")) << "an unknown placeholder drops its token";
    EXPECT_EQ((Cdb{0x00, 0xAB}), c.Compile("w(%s)", "ab")) << "inserted as it is";
    EXPECT_EQ((Cdb{0xAB, 0x5}), c.Compile("%x 5", 0xABu));
    EXPECT_EQ((Cdb{0x12, 0x34}), c.Compile("w(1%x)", 0x234u)) << "the rest of a token stays";
    EXPECT_EQ((Cdb{0xAB, 0x01}), c.Compile("AB% 1")) << "a % that ends its token is a character";

    c.Compile("/R%d", -5);
    EXPECT_EQ(0u, c.channel.dataLength) << "%d inserts -5, a negative decimal reads as 0";
    c.Compile("/W%s", "512");
    EXPECT_EQ(512u, c.channel.dataLength);

    // An argument widens as the caller's type says: bytes, words, signed values.
    EXPECT_EQ((Cdb{0xFF, 0xFF, 0xFF, 0xFE}), c.Compile("l(%x)", -2));
    EXPECT_EQ((Cdb{0xFE}), c.Compile("%x", uint8_t{0xFE}));
}

TEST(CompileCommand, MissingOrMismatchedArgumentsDropTheirToken) {
    Channel c;
    EXPECT_EQ((Cdb{0xCB, 0x12, 0x07}), c.Compile("CB %x %x 7 %d", 0x12u));
    EXPECT_EQ((Cdb{0x09}), c.Compile("%d %s 9"));
    EXPECT_EQ((Cdb{0x09}), c.Compile("%d %s 9", "12", 5))
        << "a text for %d and a number for %s are each used up and dropped";
    EXPECT_EQ((Cdb{0x00, 0x09}), c.Compile("%s 9", static_cast<const char*>(nullptr)))
        << "a null text inserts nothing, and nothing reads as 0";
    c.Compile("/t30 /t%d");
    EXPECT_EQ(30000u, c.channel.timeout);
}

TEST(CompileCommand, TextsBeyondTheLanguageLimitsAreCut) {
    Channel c;
    // 14 characters fit a token; more are cut.
    EXPECT_EQ((Cdb{0x12, 0x34, 0x56, 0x78}), c.Compile("l(00012345678)"));
    EXPECT_EQ((Cdb{0x00, 0x07}), c.Compile("l(00000123456789) 7"))
        << "cut to l(000001234567, which is no typed value and no number";
    // Also after substitution.
    EXPECT_EQ((Cdb{0x12}), c.Compile("%s", "00000000000012"));
    EXPECT_EQ((Cdb{0x00, 0x07}), c.Compile("%s 7", "0000000000000012"));
    EXPECT_EQ((Cdb{0x00, 0x07}), c.Compile("l(%s) 7", "12345678ABCDEF12"));
    // More than 12 bytes: the 13th and later are dropped.
    EXPECT_EQ((Cdb{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 0x12}),
              c.Compile("1 2 3 4 5 6 7 8 9 A B w(1234) l(FFFFFFFF) 0E"));
    // More than 19 tokens: the 19th takes the rest, spaces included.
    std::string many;
    for (int i = 0; i < 30; ++i)
        many += "1 ";
    many += "/R99";
    c.Compile(many.c_str());
    EXPECT_EQ(0u, c.channel.dataLength) << "the option ran into the 19th token";
    Cdb ones;
    ones.fill(1);
    EXPECT_EQ(ones, CdbOf(c.channel));
}
