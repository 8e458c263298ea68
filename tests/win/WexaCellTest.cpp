// One download per kind of cell of the decision table: what the drive was
// sent, what the page showed, and whether a restart was requested.
#include "WexaPageFixture.h"

#include <cstdio>

using namespace wexatest;

struct Cell {
    FwProtocol image;
    const char* drive;
    const char* notice; // nullptr: mismatch
    int modeByte;
    bool restart;
    const char* name;
};

class WexaCell : public WexaPage, public ::testing::WithParamInterface<Cell> {};

// One download per kind of cell of the decision table.
TEST_P(WexaCell, DownloadsAsThePairAllows) {
    const Cell cell = GetParam();
    TestBank bank(Bank(cell.drive));
    Start();
    Download(Image(cell.image));
    ASSERT_TRUE(Finished());
    const auto probes = bank.Commands("CB");
    ASSERT_GE(probes.size(), 3u);
    EXPECT_NE(std::string::npos, probes[0].find("cdb=CB 00 22 00 00 00 00 FF FE 01 00 00 "));
    EXPECT_NE(std::string::npos, probes[1].find("cdb=CB 20 00 00 00 00 00 FF FE 01 00 00 "));
    EXPECT_NE(std::string::npos, probes[2].find("cdb=CB 21 00 00 00 00 00 FF FE 01 00 00 "));
    EXPECT_EQ(1u, bank.Commands("1E 00 00 00 02").size());
    EXPECT_EQ(1u, bank.Commands("1B 00 00 00 02").size());
    EXPECT_EQ(kImageIdentity, Row(0));
    EXPECT_EQ(kDriveIdentity, Row(3));

    if (!cell.notice) {
        EXPECT_TRUE(StandInHost::boxes.empty());
        EXPECT_EQ("Mismatch protocol between F/W and drive!", Message());
        EXPECT_EQ(2, Icon(4));
        EXPECT_TRUE(PadShows(kNg));
        EXPECT_EQ(3u, probes.size()) << "no transfer";
        EXPECT_EQ(std::string::npos, bank.State().find("0 0 "));
        EXPECT_TRUE(Enabled(1));
        EXPECT_TRUE(Enabled(1004));
        return;
    }
    ASSERT_EQ(1u, StandInHost::boxes.size());
    EXPECT_EQ("Notice", StandInHost::boxes[0].caption);
    EXPECT_EQ(cell.notice, StandInHost::boxes[0].text);
    ASSERT_EQ(4u, probes.size());
    const unsigned sum = ExpectTransferOf(probes[3], SyntheticBytes(cell.image), cell.modeByte);
    char checkSum[8];
    std::snprintf(checkSum, sizeof checkSum, "%04X", sum);
    EXPECT_EQ(checkSum, Row(2));
    EXPECT_TRUE(PadShows(kOk));
    EXPECT_EQ("Download has done successfully!", Message());
    EXPECT_EQ("Done", Row(5));
    EXPECT_EQ("Done", Row(6));
    EXPECT_EQ(kImageIdentity, Row(7)) << "the drive took the identity the image carries";
    EXPECT_NE(std::string::npos, bank.State().find(std::string("0 0 ") + kImageIdentityHex));
    EXPECT_EQ(1, Icon(7));
    EXPECT_FALSE(Enabled(1));
    EXPECT_FALSE(Enabled(1004));
    EXPECT_TRUE(IsWindowEnabled(host.tab));
    if (cell.restart)
        EXPECT_TRUE(StandInHost::WaitFor([] { return StandInHost::endSessionQueries > 0; }, 30));
    else
        EXPECT_EQ(0, StandInHost::endSessionQueries);
    EXPECT_EQ(cell.restart ? 8500u : 0u, AskedPause().load()) << "the drive's time to restart";
    EXPECT_EQ(2u, bank.Commands("00 00 00 00 00 00").size());
}

INSTANTIATE_TEST_SUITE_P(
    DecisionTable, WexaCell,
    ::testing::Values(
        Cell{FwProtocolType22, "protocols=2.2 flash=100", kNoticeB, 0x84, false, "Verify22On22"},
        Cell{FwProtocolType20, "protocols=2.0", kNoticeA, 0x04, true, "Reboot20On20"},
        Cell{FwProtocolType20, "protocols=2.2", kNoticeA, 0x04, true, "Reboot20On22"},
        Cell{FwProtocolType21, "protocols=2.1", kNoticeA, 0x04, true, "Reboot21On21"},
        Cell{FwProtocolType22, "protocols=2.0", kNoticeA, 0x04, true, "Reboot22On20"},
        Cell{FwProtocolNone, "protocols=2.2", nullptr, 0, false, "MismatchImage0"},
        Cell{FwProtocolType22, "protocols=none", nullptr, 0, false, "MismatchNoProbe"},
        Cell{FwProtocolType21, "protocols=2.0", nullptr, 0, false, "Mismatch21On20"}),
    [](const ::testing::TestParamInfo<Cell>& cell) { return std::string(cell.param.name); });
