#include "simulator/BankConfig.h"
#include "simulator/BankState.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <string>

using namespace simulator;

namespace {
template <size_t N> std::string Text(const std::array<uint8_t, N>& f) {
    return std::string(f.begin(), f.end());
}
} // namespace

TEST(BankConfig, ParsesAdaptersDrivesAndTheirBehaviour) {
    BankConfig config;
    std::string error;
    ASSERT_EQ(
        1, ParseBank("# two adapters\n"
                     "adapter\n"
                     "drive 0 vendor=\"AB\\0\\0\" product=\"DVD \\x41\" revision=1.2 "
                     "protocols=2.0,2.2 latency=7 flash=300 attention=2 notready "
                     "fail-transfer=3/0C/00 hang=12,cb hang-after-flash=12   # trailing comment\n"
                     "\n"
                     "adapter\n"
                     "disk 7 product=\"BIG # DISK\" inquiry-length=5\n"
                     "drive 6 hang-transfer vanish-transfer restart-transfer cut-transfer "
                     "loader-product=BOOT loader-revision=B0 loader bus=usb\n",
                     config, error))
        << error;
    ASSERT_EQ(2u, config.adapters.size());
    const DriveConfig& d = config.adapters[0][0];
    EXPECT_EQ(DriveKind::CdDrive, d.kind);
    EXPECT_EQ(std::string("AB\0\0    ", 8), Text(d.vendor));
    EXPECT_EQ("DVD A           ", Text(d.product));
    EXPECT_EQ("1.2 ", Text(d.revision));
    EXPECT_EQ(PROTOCOL_20 | PROTOCOL_22, d.protocols);
    EXPECT_EQ(7u, d.latencyMs);
    EXPECT_EQ(300u, d.flashMs);
    EXPECT_EQ(2, d.unitAttentions);
    EXPECT_TRUE(d.notReady);
    EXPECT_TRUE(d.failTransfer);
    EXPECT_EQ(3, d.failKey);
    EXPECT_EQ(0x0C, d.failAsc);
    EXPECT_TRUE(d.hang.test(0x12));
    EXPECT_TRUE(d.hangAfterFlash.test(0x12));
    EXPECT_FALSE(d.hangAfterFlash.test(0xCB));
    EXPECT_TRUE(d.hang.test(0xCB));
    EXPECT_FALSE(d.hang.test(0x00));
    // Words without a value: drive 6 has them, drive 0 not.
    for (bool DriveConfig::*flag :
         {&DriveConfig::hangTransfer, &DriveConfig::vanishTransfer, &DriveConfig::restartTransfer,
          &DriveConfig::cutTransfer, &DriveConfig::inLoader}) {
        EXPECT_FALSE(d.*flag);
        EXPECT_TRUE(config.adapters[1][6].*flag);
    }
    EXPECT_EQ(1, config.adapters[1][6].bus) << "usb";
    EXPECT_EQ(0, d.bus) << "unknown unless given";
    EXPECT_EQ("BOOT            ", Text(config.adapters[1][6].loaderProduct));
    EXPECT_EQ("B0  ", Text(config.adapters[1][6].loaderRevision));
    EXPECT_EQ("BOOT LOADER     ", Text(d.loaderProduct)) << "a loader of its own unless told";
    EXPECT_EQ(DriveKind::None, config.adapters[0][1].kind);
    EXPECT_EQ(DriveKind::Disk, config.adapters[1][7].kind);
    EXPECT_EQ("BIG # DISK      ", Text(config.adapters[1][7].product));
    EXPECT_EQ(5u, config.adapters[1][7].inquiryLength);
    EXPECT_EQ(96u, d.inquiryLength) << "the whole answer unless told";
}

TEST(BankConfig, ErrorsNameTheLineAndLeaveNoHalfBank) {
    struct Case {
        const char* text;
        const char* expected;
    } cases[] = {
        {"drive 0\n", "line 1: 'drive' before the first 'adapter'"},
        {"adapter\ndrive 8\n", "line 2: target is at most 7"},
        {"adapter\ndrive\n", "line 2: drive needs a target number 0 to 7"},
        {"adapter\ndrive 1\ndrive 1\n", "line 3: target 1 is described twice"},
        {"adapter\n\ndrive 0 vendor=\"123456789\"\n", "line 3: vendor holds at most 8"},
        {"adapter\ndrive 0 protocols=3.0\n", "line 2: unknown protocol '3.0'"},
        {"adapter\ndrive 0 latency=-1\n", "line 2: latency needs a whole number"},
        {"adapter\ndrive 0 vendor=\"open\n", "line 2: unterminated quote"},
        {"adapter\ndrive 0 vendor=\"\\x4\"\n", "line 2: \\x needs two hexadecimal digits"},
        {"adapter\ndrive 0 fail-transfer=13/00/00\n", "line 2: fail-transfer needs sense"},
        {"adapter\ndisk 0 protocols=2.0\n", "line 2: unknown key 'protocols' for disk"},
        {"adapter\ndrive 0 bus=pci\n", "line 2: bus is usb, ata, scsi, sata or 1394, not 'pci'"},
        {"adapter\ndrive 0 hang=XYZ\n", "line 2: hang needs hexadecimal opcodes"},
        {"adapter\ndrive 0 hang=\n", "line 2: hang needs hexadecimal opcodes or all, not ''"},
        {"adapter\ndrive 0 hang-after-flash=12,\n", "line 2: hang-after-flash needs hexadecimal"},
        {"adapter\ndrive 0 protocols=2.0,\n", "line 2: unknown protocol ''"},
        {"adapter\ndrive 0 protocols=,2.1\n", "line 2: unknown protocol ''"},
        {"adapter\ndrive 0 latency=5 flash=9 latency=7\n", "line 2: latency is given twice"},
        {"adapter\ndrive 0 hang=12 hang=cb\n", "line 2: hang is given twice"},
        {"adapter\ndisk 0 notready notready\n", "line 2: notready is given twice"},
        {"adapter\ndrive 0 inquiry-length=97\n", "line 2: inquiry-length is at most 96"},
        {"adapter\ndisk 0 hang-transfer\n", "line 2: expected key=value, not 'hang-transfer'"},
        {"adapter x\n", "line 1: 'adapter' takes nothing after it"},
        {"bogus\n", "line 1: unknown statement 'bogus'"},
    };
    for (const Case& c : cases) {
        BankConfig config;
        config.adapters.resize(3);
        std::string error;
        EXPECT_EQ(0, ParseBank(c.text, config, error)) << c.text;
        EXPECT_EQ(0u, error.find(c.expected)) << c.text << " gave: " << error;
        EXPECT_TRUE(config.adapters.empty()) << c.text;
    }
    std::string many;
    for (int i = 0; i <= MAX_ADAPTERS; ++i)
        many += "adapter\n";
    BankConfig config;
    std::string error;
    EXPECT_EQ(0, ParseBank(many, config, error));
    EXPECT_NE(std::string::npos, error.find("line 17"));
}

TEST(BankConfig, FileErrorsNameTheFile) {
    BankConfig config;
    std::string error;
    EXPECT_EQ(0, LoadBankFile("/nonexistent/bank.txt", config, error));
    EXPECT_NE(std::string::npos, error.find("/nonexistent/bank.txt"));

    std::string path = testing::TempDir() + "bad-bank-" + std::to_string(getpid()) + ".txt";
    FILE* f = std::fopen(path.c_str(), "w");
    ASSERT_NE(nullptr, f);
    std::fputs("adapter\ndrive 0\nfloppy 1\n", f);
    std::fclose(f);
    EXPECT_EQ(0, LoadBankFile(path, config, error));
    EXPECT_NE(std::string::npos, error.find(path + " line 3"));
    std::remove(path.c_str());
}

TEST(BankConfig, DefaultBankShowsEveryKindOfDevice) {
    BankConfig config = DefaultBank();
    ASSERT_EQ(2u, config.adapters.size());
    unsigned protocols = 0;
    int noProbe = 0, disks = 0;
    for (const auto& adapter : config.adapters)
        for (const DriveConfig& d : adapter) {
            protocols |= d.protocols;
            noProbe += d.kind == DriveKind::CdDrive && d.protocols == 0;
            disks += d.kind == DriveKind::Disk;
        }
    EXPECT_EQ(PROTOCOL_20 | PROTOCOL_21 | PROTOCOL_22, protocols);
    EXPECT_EQ(1, noProbe);
    EXPECT_EQ(1, disks);
}

TEST(BankState, ReadsRecordsNamesTheOtherLinesAndWritesThemBack) {
    const std::string identity = "QV      NEW PRODUCT     9.99";
    std::string hex;
    for (char c : identity) {
        char two[3];
        std::snprintf(two, sizeof two, "%02x", static_cast<unsigned char>(c));
        hex += two;
    }
    std::vector<std::string> problems;
    const std::vector<FlashedIdentity> records =
        ParseBankState("# flashed\n\n0 1 " + hex + "\nx y z\n2 3 ABC\n1 7 " + hex + "\r\n0 2 " +
                           hex + " 0\n0 3 " + hex + " loader\n0 4 " + hex + " loader x\n",
                       "s.txt", problems);
    ASSERT_EQ(3u, records.size());
    EXPECT_EQ(1, records[1].adapter);
    EXPECT_EQ(7, records[1].target);
    EXPECT_EQ(identity, std::string(records[0].identity.begin(), records[0].identity.end()));
    EXPECT_FALSE(records[1].inLoader);
    EXPECT_TRUE(records[2].inLoader);
    ASSERT_EQ(4u, problems.size()) << "trailing text is no record either";
    EXPECT_EQ(0u, problems[0].find("state file s.txt line 4: ")) << problems[0];
    EXPECT_EQ(0u, problems[1].find("state file s.txt line 5: ")) << problems[1];
    EXPECT_EQ(0u, problems[2].find("state file s.txt line 7: ")) << problems[2];
    EXPECT_EQ(0u, problems[3].find("state file s.txt line 9: ")) << problems[3];

    std::vector<std::string> none;
    const std::vector<FlashedIdentity> again =
        ParseBankState(FormatBankState(records), "s.txt", none);
    EXPECT_TRUE(none.empty());
    ASSERT_EQ(3u, again.size());
    EXPECT_EQ(records[1].identity, again[1].identity);
    EXPECT_TRUE(again[2].inLoader);
}
