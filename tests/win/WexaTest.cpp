// Wexa.dll as the host uses it: loaded by name, called through its four
// exports, its page driven with real messages, against the simulated bank.
#include "WexaHost.h"
#include "WinTestSupport.h"

#include "firmware/SyntheticImage.h"
#include "simulator/DriveBank.h"

#include <gtest/gtest.h>

#include <commctrl.h>

#include <cstdio>
#include <cstring>
#include <fstream>

using namespace wexatest;

namespace {

const char* const kNoticeA =
    " Restriction\n\n1. Close another programs running before start download.\n\n2. Do not "
    "check DMA and Auto Insertion Notification is checked in Control pannel.\n\n3. There is "
    "only one drive at one port\n\n4. After download, the system will be started right "
    "now!\n\n  Do you want to continue?";
const char* const kNoticeB =
    "1. Firmware Download MUST be treated carefully.\n  Close another programs running before "
    "start download.\n\n2. Some F/W may cause problems in case there is a diffrence at\n  "
    "supporting UDMA between old F/W and new F/W.\n\n  Do you want to continue?";
// The identity the default synthetic image carries, as rows 0 and 7 show it.
const char* const kImageIdentity = "CORVANE SIMDRIVE 52X     1.00  ";
const char* const kDriveIdentity = "QVSIM   DRIVE            0.10  ";
const char* const kRowKeys[] = {"FW Model Name",    "FW Protocol",    "Check Sum",
                                "Drive Model Name", "Drive Protocol", "F/W Transfer",
                                "Flash Writing",    "New Model Name"};
enum { kWait = 103, kOk = 104, kNg = 106, kIdle = 108 };

std::vector<uint8_t> Bits(HBITMAP bitmap) {
    BITMAP info = {};
    if (!bitmap || !GetObjectA(bitmap, sizeof info, &info))
        return {};
    BITMAPINFO format = {};
    format.bmiHeader.biSize = sizeof format.bmiHeader;
    format.bmiHeader.biWidth = info.bmWidth;
    format.bmiHeader.biHeight = info.bmHeight;
    format.bmiHeader.biPlanes = 1;
    format.bmiHeader.biBitCount = 32;
    std::vector<uint8_t> bits(size_t(info.bmWidth) * info.bmHeight * 4);
    HDC screen = GetDC(nullptr);
    GetDIBits(screen, bitmap, 0, info.bmHeight, bits.data(), &format, DIB_RGB_COLORS);
    ReleaseDC(nullptr, screen);
    return bits;
}

class WexaPage : public ::testing::Test {
  protected:
    StandInHost host;
    std::vector<std::string> files;

    void SetUp() override {
        ASSERT_NE(nullptr, host.wexa);
        ASSERT_TRUE(host.create && host.open && host.close && host.destroy);
    }
    void TearDown() override {
        host.destroy();
        for (const std::string& file : files)
            DeleteFileA(file.c_str());
    }

    void Start(uint8_t adapter = 0, uint8_t target = 0) {
        ASSERT_NE(0, host.create(host.Context(adapter, target)));
        host.open(host.Context(adapter, target));
        wintest::PumpMessages();
        ASSERT_NE(nullptr, host.Page());
    }

    std::string Image(FwProtocol protocol) {
        SyntheticImageSpec spec;
        DefaultSyntheticSpec(spec);
        spec.protocol = protocol;
        files.push_back(TempFile("wexa-image") + ".HEX");
        EXPECT_EQ(1, SaveSyntheticImage(files.back().c_str(), spec));
        return files.back();
    }
    std::string TextFile(const char* text) {
        files.push_back(TempFile("wexa-text") + ".HEX");
        std::ofstream(files.back()) << text;
        return files.back();
    }

    std::string Row(int row, int column = 1) {
        return wintest::ListText(host.Item(1006), row, column);
    }
    int Icon(int row) { return wintest::ListItemImage(host.Item(1006), row); }
    std::string Message() { return wintest::WindowText(host.Item(1001)); }
    bool Enabled(int id) { return IsWindowEnabled(host.Item(id)) != FALSE; }
    bool PadShows(int bitmapId) {
        HBITMAP shown =
            reinterpret_cast<HBITMAP>(SendMessageA(host.Item(1017), BM_GETIMAGE, IMAGE_BITMAP, 0));
        HBITMAP resource = LoadBitmapA(host.wexa, MAKEINTRESOURCEA(bitmapId));
        const bool same = !Bits(resource).empty() && Bits(shown) == Bits(resource);
        DeleteObject(resource);
        return same;
    }
    HWND Bar() { return FindWindowExA(host.Item(1006), nullptr, PROGRESS_CLASSA, nullptr); }

    void Download(const std::string& path) {
        SetWindowTextA(host.Item(1002), path.c_str());
        wintest::PumpMessages();
        ASSERT_TRUE(Enabled(1));
        wintest::ClickButton(host.Item(1));
    }
    // Until the pad shows the OK or NG picture.
    bool Finished(int seconds = 60) {
        return StandInHost::WaitFor([&] { return PadShows(kOk) || PadShows(kNg); }, seconds);
    }
    bool Transferring() {
        return StandInHost::WaitFor([&] { return PadShows(kWait); }, 30);
    }
};

std::string Bank(const char* drive) {
    return std::string("adapter\ndrive 0 vendor=QVSIM product=DRIVE revision=0.10 latency=0 ") +
           drive + "\n";
}

// Bytes of a logged command block, from "cdb=".
std::vector<int> Cdb(const std::string& line) {
    std::vector<int> bytes;
    size_t at = line.find("cdb=");
    if (at == std::string::npos)
        return bytes;
    std::istringstream hex(line.substr(at + 4, 12 * 3));
    std::string byte;
    while (hex >> byte && bytes.size() < 12)
        bytes.push_back(std::stoi(byte, nullptr, 16));
    return bytes;
}

} // namespace

TEST_F(WexaPage, OpensReadyWithEightEmptyRowsAndTheIdlePad) {
    Start();
    HWND list = host.Item(1006);
    EXPECT_EQ("Ready.", Message());
    EXPECT_EQ("Wexa Downloader 2.10 (01/10/12)", wintest::WindowText(host.status));
    ASSERT_EQ(8, wintest::ListRowCount(list));
    for (int row = 0; row < 8; row++) {
        EXPECT_EQ(kRowKeys[row], Row(row, 0));
        EXPECT_EQ("", Row(row));
    }
    EXPECT_EQ("Key", wintest::ListHeader(list, 0));
    EXPECT_EQ("Value", wintest::ListHeader(list, 1));
    EXPECT_EQ(115, ListView_GetColumnWidth(list, 0));
    EXPECT_EQ(365, ListView_GetColumnWidth(list, 1));
    EXPECT_TRUE(PadShows(kIdle));
    EXPECT_NE(0, SendMessageA(host.Item(1004), BM_GETIMAGE, IMAGE_ICON, 0));
    RECT page = wintest::RectInParent(host.Page());
    EXPECT_EQ(8, page.left);
    EXPECT_EQ(30, page.top);
    EXPECT_EQ(690, page.right - page.left);

    // Typing a name enables Download, clearing it disables it again.
    EXPECT_FALSE(Enabled(1));
    SetWindowTextA(host.Item(1002), "x");
    EXPECT_TRUE(Enabled(1));
    SetWindowTextA(host.Item(1002), "");
    EXPECT_FALSE(Enabled(1));
}

TEST_F(WexaPage, ExportsWithoutAPageDoNothingAndDestroyRightAfterOpenCloses) {
    host.destroy();
    host.open(host.Context(0, 0));
    host.close();
    host.destroy();
    EXPECT_EQ(nullptr, host.Page());

    Start();
    HIMAGELIST list = reinterpret_cast<HIMAGELIST>(
        SendMessageA(host.Item(1006), LVM_GETIMAGELIST, LVSIL_SMALL, 0));
    EXPECT_EQ(4, ImageList_GetImageCount(list));
    // A page that closed itself opens again.
    SendMessageA(host.Page(), WM_CLOSE, 0, 0);
    EXPECT_EQ(nullptr, host.Page());
    host.open(host.Context(0, 0));
    ASSERT_NE(nullptr, host.Page());
    EXPECT_EQ("Ready.", Message());
    list = reinterpret_cast<HIMAGELIST>(
        SendMessageA(host.Item(1006), LVM_GETIMAGELIST, LVSIL_SMALL, 0));
    host.destroy();
    EXPECT_EQ(nullptr, host.Page());
    // The image list went with the page.
    EXPECT_EQ(0, ImageList_GetImageCount(list));
}

struct Cell {
    FwProtocol image;
    const char* drive;
    const char* notice; // nullptr: mismatch
    int modeByte;
    bool restart;
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
        EXPECT_TRUE(Enabled(1));
        EXPECT_TRUE(Enabled(1004));
        return;
    }
    ASSERT_EQ(1u, StandInHost::boxes.size());
    EXPECT_EQ("Notice", StandInHost::boxes[0].caption);
    EXPECT_EQ(cell.notice, StandInHost::boxes[0].text);
    ASSERT_EQ(4u, probes.size());
    const std::string& transfer = probes[3];
    EXPECT_NE(std::string::npos, transfer.find("dir=out len=65536"));
    EXPECT_NE(std::string::npos, transfer.find("status=01"));

    SyntheticImageSpec spec;
    DefaultSyntheticSpec(spec);
    spec.protocol = cell.image;
    std::vector<uint8_t> image(65536);
    ASSERT_EQ(1, MakeSyntheticImage(spec, image.data()));
    unsigned half = 0, sum = 0;
    for (int i = 0; i < 65536; i++)
        (i < 32768 ? half : sum) += image[i];
    sum = (sum + half) & 0xFFFF;
    half &= 0xFFFF;
    const std::vector<int> cdb = Cdb(transfer);
    ASSERT_EQ(12u, cdb.size());
    EXPECT_EQ(int(half), cdb[3] << 8 | cdb[4]);
    EXPECT_EQ(int(sum), cdb[5] << 8 | cdb[6]);
    EXPECT_EQ(cell.modeByte, cdb[9]);
    EXPECT_EQ(image[0], cdb[10]);
    EXPECT_EQ(image[1], cdb[11]);
    // The data phase: image bytes 2 on, then the two bytes of our choosing.
    std::vector<uint8_t> data(image.begin() + 2, image.end());
    data.push_back(0xFF);
    data.push_back(0xFF);
    char digest[32];
    std::snprintf(digest, sizeof digest, "digest=%08X",
                  unsigned(simulator::DataDigest(data.data(), uint32_t(data.size()))));
    EXPECT_NE(std::string::npos, transfer.find(digest));

    char checkSum[8];
    std::snprintf(checkSum, sizeof checkSum, "%04X", sum);
    EXPECT_EQ(checkSum, Row(2));
    EXPECT_TRUE(PadShows(kOk));
    EXPECT_EQ("Download has done successfully!", Message());
    EXPECT_EQ("Done", Row(5));
    EXPECT_EQ("Done", Row(6));
    EXPECT_EQ(kImageIdentity, Row(7)) << "the drive took the identity the image carries";
    EXPECT_EQ(1, Icon(7));
    EXPECT_FALSE(Enabled(1));
    EXPECT_FALSE(Enabled(1004));
    EXPECT_TRUE(IsWindowEnabled(host.tab));
    if (cell.restart)
        EXPECT_TRUE(StandInHost::WaitFor([] { return StandInHost::endSessionQueries > 0; }, 30));
    else
        EXPECT_EQ(0, StandInHost::endSessionQueries);
    EXPECT_EQ(2u, bank.Commands("00 00 00 00 00 00").size());
}

INSTANTIATE_TEST_SUITE_P(
    DecisionTable, WexaCell,
    ::testing::Values(Cell{FwProtocolType22, "protocols=2.2 flash=100", kNoticeB, 0x84, false},
                      Cell{FwProtocolType20, "protocols=2.0", kNoticeA, 0x04, true},
                      Cell{FwProtocolType20, "protocols=2.2", kNoticeA, 0x04, true},
                      Cell{FwProtocolType21, "protocols=2.1", kNoticeA, 0x04, true},
                      Cell{FwProtocolType22, "protocols=2.0", kNoticeA, 0x04, true},
                      Cell{FwProtocolNone, "protocols=2.2", nullptr, 0, false},
                      Cell{FwProtocolType22, "protocols=none", nullptr, 0, false},
                      Cell{FwProtocolType21, "protocols=2.0", nullptr, 0, false}));

TEST_F(WexaPage, CancelOnEitherNoticeLeavesTheTrayOpenAndThePageIdle) {
    for (FwProtocol drive : {FwProtocolType20, FwProtocolType22}) {
        TestBank bank(Bank(drive == FwProtocolType20 ? "protocols=2.0" : "protocols=2.2"));
        Start();
        StandInHost::boxes.clear();
        StandInHost::boxAnswer = IDCANCEL;
        Download(Image(FwProtocolType22));
        ASSERT_EQ(1u, StandInHost::boxes.size());
        EXPECT_EQ(drive == FwProtocolType20 ? kNoticeA : kNoticeB, StandInHost::boxes[0].text);
        EXPECT_EQ("Check download protocol...", Message());
        for (int row = 0; row < 5; row++)
            EXPECT_EQ(1, Icon(row)) << row;
        EXPECT_EQ("", Row(5));
        EXPECT_TRUE(PadShows(kNg));
        EXPECT_TRUE(Enabled(1));
        EXPECT_TRUE(Enabled(1004));
        EXPECT_EQ(1u, bank.Commands("1B 00 00 00 02").size());
        EXPECT_EQ(3u, bank.Commands("CB").size()) << "no transfer";
        host.destroy();
    }
}

TEST_F(WexaPage, FilesThatCannotBeReadStopAtRowZero) {
    const struct {
        std::string path;
        const char* message;
    } cases[] = {
        {TempFile("wexa-missing") + ".HEX", "Unable to open file!"},
        {TextFile(":10000000000102030405060708090A0B0C0D0E0F79\r\n"), "Damaged F/W file!"},
        {TextFile(":10FEF800000102030405060708090A0B0C0D0E0F82\r\n"),
         "Damaged F/W file! (Address Overflow)"},
    };
    TestBank bank(Bank("protocols=2.2"));
    Start();
    for (const auto& c : cases) {
        Download(c.path);
        EXPECT_EQ(c.message, Message());
        EXPECT_EQ(2, Icon(0));
        EXPECT_EQ("", Row(1));
        EXPECT_TRUE(PadShows(kNg));
        EXPECT_EQ(nullptr, Bar());
    }
    EXPECT_EQ("", bank.Log()) << "the drive is not asked";
}

TEST_F(WexaPage, NoInquiryAnswerBeforeTheTransferStopsAfterTheImage) {
    TestBank bank(Bank("protocols=2.2"));
    Start(0, 3); // an empty target
    Download(Image(FwProtocolType22));
    EXPECT_EQ("Reading F/W file...", Message());
    for (int row = 0; row < 3; row++)
        EXPECT_EQ(1, Icon(row));
    EXPECT_EQ(0, Icon(3));
    EXPECT_EQ("", Row(3));
    EXPECT_TRUE(PadShows(kNg));
}

TEST_F(WexaPage, FailedVerifyTransferWarnsAndAsksForARestart) {
    TestBank bank(Bank("protocols=2.2 fail-transfer=3/0C/00"));
    Start();
    Download(Image(FwProtocolType22));
    ASSERT_TRUE(Finished());
    ASSERT_EQ(2u, StandInHost::boxes.size());
    EXPECT_EQ("Warning", StandInHost::boxes[1].caption);
    EXPECT_EQ("You should better to restart right now and try again !", StandInHost::boxes[1].text);
    EXPECT_EQ("Invalid check sum Fail to Download, Restart Now!", Message());
    EXPECT_EQ(2, Icon(6));
    EXPECT_TRUE(PadShows(kNg));
    EXPECT_TRUE(StandInHost::WaitFor([] { return StandInHost::endSessionQueries > 0; }, 30));
    EXPECT_TRUE(Enabled(1));
    EXPECT_TRUE(IsWindowEnabled(host.tab));
}

TEST_F(WexaPage, NoInquiryAnswerAfterTheTransfer) {
    TestBank bank(Bank("protocols=2.2 hang-after-flash=12"));
    Start();
    Download(Image(FwProtocolType22));
    ASSERT_TRUE(Finished());
    EXPECT_EQ("New F/W is something wrong. no response to Inquiry !", Message());
    EXPECT_EQ(1, Icon(6));
    EXPECT_EQ("", Row(7));
    EXPECT_TRUE(PadShows(kNg));
    EXPECT_NE(std::string::npos, bank.Log().find("reset ha=0 target=0"));
}

TEST_F(WexaPage, TrayCommandRepeatsOnUnitAttentionWithinABound) {
    for (const char* drive : {"protocols=2.2 attention=2", "protocols=2.2 attention=1000"}) {
        TestBank bank(Bank(drive));
        Start();
        Download(Image(FwProtocolNone)); // a mismatch ends right after the tray
        const auto tray = bank.Commands("1B 00 00 00 02");
        const bool forever = std::strstr(drive, "1000") != nullptr;
        ASSERT_EQ(forever ? 8u : 3u, tray.size());
        EXPECT_NE(std::string::npos, tray[0].find("sense=6/29/00"));
        EXPECT_NE(std::string::npos, tray.back().find(forever ? "sense=6/29/00" : "status=01"));
        EXPECT_EQ("Mismatch protocol between F/W and drive!", Message());
        host.destroy();
    }
}

TEST_F(WexaPage, TransferBarStartsAt35NoWiderThan150AndPadBitmapsAreReleased) {
    TestBank bank(Bank("protocols=2.2 flash=2500"));
    Start();
    ListView_SetColumnWidth(host.Item(1006), 1, 400);
    Download(Image(FwProtocolType22));
    ASSERT_NE(nullptr, Bar());
    RECT bar;
    GetWindowRect(Bar(), &bar);
    EXPECT_LE(bar.right - bar.left, 150);
    EXPECT_GT(bar.right - bar.left, 0);
    EXPECT_EQ(0, SendMessageA(Bar(), PBM_GETPOS, 0, 0));
    ASSERT_TRUE(
        StandInHost::WaitFor([&] { return SendMessageA(Bar(), PBM_GETPOS, 0, 0) != 0; }, 10));
    EXPECT_EQ(35, SendMessageA(Bar(), PBM_GETPOS, 0, 0));

    // Each picture the pad replaces is freed.
    HGDIOBJ first =
        reinterpret_cast<HGDIOBJ>(SendMessageA(host.Item(1017), BM_GETIMAGE, IMAGE_BITMAP, 0));
    EXPECT_EQ(OBJ_BITMAP, GetObjectType(first));
    ASSERT_TRUE(StandInHost::WaitFor(
        [&] {
            return SendMessageA(host.Item(1017), BM_GETIMAGE, IMAGE_BITMAP, 0) != LRESULT(first);
        },
        10));
    EXPECT_EQ(0u, GetObjectType(first));
    ASSERT_TRUE(Finished());
    EXPECT_EQ(nullptr, Bar());
}

TEST_F(WexaPage, PageClosedAndReopenedDuringATransferStillJudgesIt) {
    TestBank bank(Bank("protocols=2.2 flash=2000"));
    Start();
    Download(Image(FwProtocolType22));
    ASSERT_TRUE(Transferring());
    EXPECT_FALSE(IsWindowEnabled(host.tab));
    // Typing in the edit cannot start a second download.
    SetWindowTextA(host.Item(1002), "another.HEX");
    EXPECT_FALSE(Enabled(1));
    SendMessageA(host.Page(), WM_COMMAND, MAKEWPARAM(1, BN_CLICKED), 0);

    host.close();
    EXPECT_EQ(nullptr, host.Page());
    host.open(host.Context(0, 5)); // another drive chosen meanwhile
    ASSERT_NE(nullptr, host.Page());
    EXPECT_FALSE(Enabled(1));
    EXPECT_FALSE(Enabled(1004));
    EXPECT_EQ("Downloading... (Do NOT turn off!)", Message());
    EXPECT_EQ(kImageIdentity, Row(0));
    ASSERT_TRUE(Finished());
    EXPECT_TRUE(PadShows(kOk));
    EXPECT_EQ(kImageIdentity, Row(7)) << "judged on the drive that took the image";
    EXPECT_EQ(4u, bank.Commands("CB").size()) << "one transfer";
}

TEST_F(WexaPage, DestroyDuringATransferWaitsForItThenFrees) {
    TestBank bank(Bank("protocols=2.2 flash=1500"));
    Start();
    Download(Image(FwProtocolType22));
    ASSERT_TRUE(Transferring());
    host.destroy();
    EXPECT_EQ(nullptr, host.Page());
    const auto commands = bank.Commands("CB");
    ASSERT_EQ(4u, commands.size());
    EXPECT_NE(std::string::npos, commands[3].find("status=01")) << "the transfer completed";
    EXPECT_TRUE(IsWindowEnabled(host.tab));
}
