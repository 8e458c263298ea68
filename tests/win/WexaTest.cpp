// Wexa.dll as the host uses it: loaded by name, called through its four
// exports, its page driven with real messages, against the simulated bank.
#include "WexaPageFixture.h"

#include "firmware/HexReader.h"

#include <cstring>

using namespace wexatest;

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

TEST_F(WexaPage, OpenFileDialogOffersHexFilesAndFillsTheName) {
    Start();
    StandInHost::fileAnswer = Image(FwProtocolType22);
    wintest::ClickButton(host.Item(1004));
    EXPECT_EQ("Firmware file (*.HEX)", StandInHost::fileTypes);
    EXPECT_EQ(StandInHost::fileAnswer, wintest::WindowText(host.Item(1002)));
    EXPECT_TRUE(Enabled(1));
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
    // A download cut short: the first third of an image's records, no end record.
    std::ifstream whole(Image(FwProtocolType22));
    std::string line, cut;
    for (int i = 0; i < kLoadLimit / 16 / 3 && std::getline(whole, line); i++)
        cut += line + "\n";
    const struct {
        std::string path;
        const char* message;
    } cases[] = {
        {TempFile("wexa-missing") + ".HEX", "Unable to open file!"},
        {TextFile(":10000000000102030405060708090A0B0C0D0E0F79\r\n"), "Damaged F/W file!"},
        {TextFile(":10FEF800000102030405060708090A0B0C0D0E0F82\r\n"),
         "Damaged F/W file! (Address Overflow)"},
        {TextFile(cut.c_str()), "Damaged F/W file!"},
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

// No answer at an empty target, and no command at all with no drive chosen.
TEST_F(WexaPage, NoDriveToAskStopsAfterTheImage) {
    const struct {
        uint8_t adapter, target;
        const char* message;
        int driveRow;
    } cases[] = {
        {0, 3, "Reading F/W file...", 0},
        {HDLL_NO_DRIVE, HDLL_NO_DRIVE, "No CD/DVD drive is selected!", 2},
        {HDLL_NO_DRIVE, 1, "No CD/DVD drive is selected!", 2}, // a serial port chosen
    };
    for (const auto& c : cases) {
        TestBank bank(Bank("protocols=2.2"));
        Start(c.adapter, c.target);
        Download(Image(FwProtocolType22));
        EXPECT_EQ(c.message, Message());
        for (int row = 0; row < 3; row++)
            EXPECT_EQ(1, Icon(row));
        EXPECT_EQ(c.driveRow, Icon(3));
        EXPECT_EQ("", Row(3));
        EXPECT_TRUE(PadShows(kNg));
        if (c.adapter == HDLL_NO_DRIVE) {
            EXPECT_EQ("", bank.Log()) << "nothing sent";
        }
        host.destroy();
    }
}

namespace {

// Whether this process may ask for a restart on the NT family.
bool ShutdownPrivilegeEnabled() {
    HANDLE token;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token))
        return false;
    LUID shutdown;
    LookupPrivilegeValueA(nullptr, SE_SHUTDOWN_NAME, &shutdown);
    std::vector<uint8_t> buffer(4096);
    DWORD size = 0;
    bool enabled = false;
    if (GetTokenInformation(token, TokenPrivileges, buffer.data(), DWORD(buffer.size()), &size)) {
        const TOKEN_PRIVILEGES* list = reinterpret_cast<const TOKEN_PRIVILEGES*>(buffer.data());
        for (DWORD i = 0; i < list->PrivilegeCount; i++)
            if (list->Privileges[i].Luid.LowPart == shutdown.LowPart &&
                list->Privileges[i].Luid.HighPart == shutdown.HighPart)
                enabled = (list->Privileges[i].Attributes & SE_PRIVILEGE_ENABLED) != 0;
    }
    CloseHandle(token);
    return enabled;
}

} // namespace

// A transfer the drive refused fails in either mode, with the warning and
// the restart; a verify-mode drive that kept its old identity is no success.
TEST_F(WexaPage, FailedJudgementsShowWhatWentWrong) {
    const struct {
        const char* drive;
        FwProtocol image;
        bool withTemplate;
        const char* message;
        int failedRow;
        bool warned;
        int restarts; // every round ends before the next download starts
    } cases[] = {
        // First: restart requests reach the session late, so none may come
        // before the case that wants none.
        {"protocols=2.2", FwProtocolType22, false,
         "New F/W is something wrong. Model or version not changed !", 7, false, 0},
        {"protocols=2.2 fail-transfer=3/0C/00", FwProtocolType22, true,
         "Invalid check sum Fail to Download, Restart Now!", 6, true, 1},
        {"protocols=2.0 fail-transfer=5/26/00", FwProtocolType20, true,
         "Invalid check sum Fail to Download, Restart Now!", 6, true, 2},
    };
    EXPECT_FALSE(ShutdownPrivilegeEnabled());
    for (const auto& c : cases) {
        SCOPED_TRACE(c.drive);
        TestBank bank(Bank(c.drive));
        StandInHost::boxes.clear();
        const int queries = StandInHost::endSessionQueries;
        Start();
        Download(Image(c.image, c.withTemplate));
        ASSERT_TRUE(Finished());
        ASSERT_EQ(c.warned ? 2u : 1u, StandInHost::boxes.size());
        if (c.warned) {
            EXPECT_EQ("Warning", StandInHost::boxes[1].caption);
            EXPECT_EQ("You should better to restart right now and try again !",
                      StandInHost::boxes[1].text);
            EXPECT_TRUE(
                StandInHost::WaitFor([&] { return StandInHost::endSessionQueries > queries; }, 30));
            EXPECT_TRUE(ShutdownPrivilegeEnabled()) << "enabled before the request";
        } else {
            EXPECT_EQ(kDriveIdentity, Row(7)) << "the identity the drive kept";
            EXPECT_EQ(queries, StandInHost::endSessionQueries);
        }
        EXPECT_EQ(c.message, Message());
        EXPECT_EQ(2, Icon(c.failedRow));
        EXPECT_TRUE(PadShows(kNg));
        EXPECT_TRUE(Enabled(1));
        EXPECT_TRUE(IsWindowEnabled(host.tab));
        host.destroy();
    }
}

// Whatever answers at the chosen address that is no CD/DVD drive (a disk,
// often the system's) hears nothing but INQUIRY.
TEST_F(WexaPage, ADiskIsRefusedAfterItsInquiry) {
    TestBank bank("adapter\ndisk 0 vendor=ATA product=SYSTEMDISK revision=1.0 latency=0\n");
    Start();
    Download(Image(FwProtocolType22));
    EXPECT_EQ("The selected device is not a CD/DVD drive!", Message());
    EXPECT_EQ(2, Icon(3));
    EXPECT_EQ(0, Icon(4));
    EXPECT_TRUE(PadShows(kNg));
    EXPECT_TRUE(StandInHost::boxes.empty());
    const auto all = bank.Commands("");
    ASSERT_EQ(1u, all.size());
    EXPECT_NE(std::string::npos, all[0].find("cdb=12 00 00 00 2E")) << all[0];
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

// A drive that a cut flash left in its boot loader answers as the loader; the
// page has no model guard, so it flashes it, and the drive comes back as the image.
TEST_F(WexaPage, ADriveInItsBootLoaderIsBroughtBack) {
    TestBank bank(Bank("protocols=2.2 loader"));
    Start();
    Download(Image(FwProtocolType22));
    ASSERT_TRUE(Finished());
    EXPECT_EQ("Download has done successfully!", Message());
    EXPECT_TRUE(PadShows(kOk));
    EXPECT_NE(std::string::npos, Row(3).find("BOOT LOADER")) << Row(3);
    EXPECT_EQ(kImageIdentity, Row(7));
    EXPECT_EQ(4u, bank.Commands("CB").size()) << "one transfer";
}

TEST_F(WexaPage, DestroyDuringATransferWaitsForItThenFrees) {
    // Verify mode, then reboot mode, which still gets its restart.
    for (const char* drive : {"protocols=2.2 flash=1500", "protocols=2.0 flash=1500"}) {
        TestBank bank(Bank(drive));
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
    EXPECT_EQ(2u, StandInHost::boxes.size()) << "two notices, no warning";
    EXPECT_TRUE(StandInHost::WaitFor([] { return StandInHost::endSessionQueries > 0; }, 30));
}
