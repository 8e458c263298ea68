// Whole-product downloads under Wine: the real Corvane.exe with the real
// Wexa.dll and the simulated bank in a scratch directory, driven from this
// process as a person would; checked against the windows, the bank's command
// log and state file, and the settings the host wrote.
#include "Walkthrough.h"

#include "../support/LoggedTransfer.h"

#include <commctrl.h>
#include <gtest/gtest.h>

#include <memory>

using e2e::HostProcess;
using e2e::Walkthrough;
namespace settings = e2e::settings;

namespace {

const char* const kNoticeBStart = "1. Firmware Download MUST be treated carefully.";
const char* const kNoticeAEnd = "4. After download, the system will be started right now!\n\n  "
                                "Do you want to continue?";
// The default synthetic image's identity, as rows 0 and 7 show it.
const char* const kImageIdentity = "CORVANE SIMDRIVE 52X     1.00  ";
const char* const kClosingLater =
    "The drive is being written: closing when the download has ended.";
const int kHostTabs = 1001, kHostStatus = 1000;
const char* const kOneDrive22 = "adapter\ndrive 0 protocols=2.2 latency=0\n";

// Sent and answered within a few seconds: the window thread is not blocked.
bool Answers(HWND window, UINT message = WM_NULL, WPARAM wParam = 0, LPARAM lParam = 0,
             DWORD_PTR* result = nullptr) {
    DWORD_PTR answer = 0;
    const bool answered =
        SendMessageTimeoutA(window, message, wParam, lParam, SMTO_ABORTIFHUNG, 5000, &answer) != 0;
    if (result)
        *result = answer;
    return answered;
}

// The program ended by itself, without a crash. This thread's windows keep
// answering meanwhile (a veto window among them).
void ExpectCleanExit(const HostProcess& host) {
    ASSERT_TRUE(e2e::WaitUntil(
        [&] { return WaitForSingleObject(host.process.hProcess, 0) == WAIT_OBJECT_0; }, 60));
    DWORD code = 9;
    GetExitCodeProcess(host.process.hProcess, &code);
    EXPECT_EQ(0u, code);
}

// The host's status line says it closes once the download has ended. A sent
// message overtakes a posted one, so a posted close is seen by its words.
bool SaysClosingLater(const HostProcess& host) {
    return e2e::WaitUntil([&] { return e2e::Text(host.Child(kHostStatus)) == kClosingLater; }, 30);
}

// Every vendor command (probes and transfer) went to this drive, and there was one.
void ExpectVendorCommandsOn(const HostProcess& host, const std::string& drive) {
    const std::vector<std::string> vendor = host.BankCommands("CB");
    ASSERT_FALSE(vendor.empty());
    for (const std::string& line : vendor)
        EXPECT_NE(std::string::npos, line.find(drive)) << line;
}

// The logged transfers of the "CB 00 22" protocol in this mode, completed or not.
std::vector<std::string> Transfers22(const HostProcess& host) {
    std::vector<std::string> lines;
    for (const std::string& line : host.BankCommands("CB 00 22"))
        if (LoggedCdb(line).size() == 12 && LoggedCdb(line)[9] == 0x84)
            lines.push_back(line);
    return lines;
}

// A top-level window of the test: records the end-of-session query and vetoes it,
// so a restart request never ends the Wine session.
struct VetoWindow {
    static int queries;
    HWND window;
    static LRESULT CALLBACK Proc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
        if (message == WM_QUERYENDSESSION) {
            ++queries;
            return FALSE;
        }
        return DefWindowProcA(window, message, wParam, lParam);
    }
    VetoWindow() {
        WNDCLASSA windowClass = {};
        windowClass.lpfnWndProc = Proc;
        windowClass.hInstance = GetModuleHandleA(nullptr);
        windowClass.lpszClassName = "E2eVeto";
        RegisterClassA(&windowClass);
        queries = 0;
        window = CreateWindowExA(0, "E2eVeto", "veto", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr,
                                 windowClass.hInstance, nullptr);
    }
    ~VetoWindow() { DestroyWindow(window); }
};
int VetoWindow::queries = 0;

// Every test: the host in a scratch folder with the real Wexa.dll, the bank
// it names and an image file; then the image, Download and the notice.
class DownloadTest : public ::testing::Test {
  protected:
    std::unique_ptr<HostProcess> host;
    std::unique_ptr<Walkthrough> walk;
    std::string path;   // the image file
    std::string notice; // the notice box's text

    // The plug-in's reboot-mode wait, 8.5 s, is cut short on the simulated bank.
    void SetUp() override {
        settings::Clear();
        SetEnvironmentVariableA("CORVANE_TEST_REBOOT_WAIT", "100");
    }
    void TearDown() override {
        SetEnvironmentVariableA("CORVANE_TEST_REBOOT_WAIT", nullptr);
        settings::Clear();
    }

    // Called through ASSERT_NO_FATAL_FAILURE: a program that did not start
    // ends the test, which would otherwise go on without a walk-through.
    void Begin(FwProtocol image, const std::string& bank = "") {
        host.reset(new HostProcess("Corvane.exe", {{"Wexa.dll", "Wexa.dll"}}, bank));
        SyntheticImageRecipe recipe;
        DefaultSyntheticRecipe(recipe);
        recipe.protocol = image;
        path = host->directory + "\\image.hex";
        ASSERT_EQ(1, SaveSyntheticImage(path.c_str(), recipe));
        ASSERT_TRUE(host->Start()) << host->startFault;
        walk.reset(new Walkthrough(*host));
    }
    // On the plug-in's page: the image, Download, the notice answered with `button`.
    bool Download(int button) {
        const HWND box = walk->ChooseImage(path) ? walk->ClickDownload() : nullptr;
        notice = box ? walk->BoxText(box) : "";
        return box && walk->Answer(box, button);
    }
};

// Picked on the device page, downloaded on the plug-in's tab, verified by the
// drive: the command carries the image's sums and bytes, the bank keeps the new
// identity, and the next start of the program lists it.
TEST_F(DownloadTest, VerifyModeDownloadThroughTheWindows) {
    ASSERT_NO_FATAL_FAILURE(Begin(FwProtocolType22));
    ASSERT_TRUE(walk->OpenTab("Infomation") && walk->ChooseDrive(1, 0) && walk->OpenTab("Wexa"))
        << walk->failure;
    ASSERT_TRUE(Download(IDOK)) << walk->failure;
    EXPECT_EQ(0u, notice.rfind(kNoticeBStart, 0)) << notice;
    ASSERT_TRUE(walk->WaitForEnd(60)) << walk->failure;
    EXPECT_EQ(kImageIdentity, walk->Row(7));

    ExpectVendorCommandsOn(*host, "ha=1 target=0 ");
    const std::vector<std::string> transfers = Transfers22(*host);
    ASSERT_EQ(1u, transfers.size()) << e2e::FileText(host->BankLog());
    ExpectTransferOf(transfers[0], SyntheticBytes(FwProtocolType22), 0x84);
    // The state file: adapter, target, then the 28 identity bytes in hex.
    EXPECT_NE(std::string::npos,
              e2e::FileText(host->BankState()).find(std::string("1 0 ") + kImageIdentityHex))
        << e2e::FileText(host->BankState());

    ASSERT_EQ(0u, host->Close());
    ASSERT_TRUE(host->Start());
    ASSERT_TRUE(walk->OpenTab("Infomation")) << walk->failure;
    EXPECT_EQ("1|0|CORVANE SIMDRIVE 52X    |1.00", walk->DeviceRow(2));
    EXPECT_EQ(0u, host->Close());
}

// A drive that a cut flash left in its boot loader, chosen on the device page
// and flashed from the plug-in's page: the page shows the loader, then the
// image's identity; the drive took one transfer and keeps the image.
TEST_F(DownloadTest, ADriveInItsBootLoaderIsBroughtBack) {
    ASSERT_NO_FATAL_FAILURE(
        Begin(FwProtocolType22, "adapter\ndrive 0 protocols=2.2 latency=0 loader\n"));
    // The device page lists the drive as its loader answers.
    ASSERT_TRUE(walk->OpenTab("Infomation") && walk->ChooseDrive("BOOT LOADER", "0.01") &&
                walk->OpenTab("Wexa"))
        << walk->failure;
    ASSERT_TRUE(Download(IDOK)) << walk->failure;
    ASSERT_TRUE(walk->WaitForEnd(60)) << walk->failure;
    EXPECT_EQ(e2e::kDownloaded, walk->Message());
    EXPECT_NE(std::string::npos, walk->Row(3).find("BOOT LOADER")) << walk->Row(3);
    EXPECT_EQ(kImageIdentity, walk->Row(7));
    EXPECT_EQ(1u, Transfers22(*host).size()) << e2e::FileText(host->BankLog());
    const std::string state = e2e::FileText(host->BankState());
    EXPECT_NE(std::string::npos, state.find(std::string("0 0 ") + kImageIdentityHex)) << state;
    EXPECT_EQ(std::string::npos, state.find("loader")) << state;
    EXPECT_EQ(0u, host->Close());
}

// Reboot mode: once the worker has ended, the restart request reaches every
// top-level window, this test's too, which vetoes it; the program stays.
TEST_F(DownloadTest, RebootModeRequestsARestartThatReachesOtherPrograms) {
    VetoWindow veto;
    ASSERT_NO_FATAL_FAILURE(
        Begin(FwProtocolType20, "adapter\ndrive 0 protocols=2.0 latency=0 flash=100\n"));
    ASSERT_TRUE(Download(IDOK)) << walk->failure;
    EXPECT_EQ(notice.size() - std::string(kNoticeAEnd).size(), notice.rfind(kNoticeAEnd)) << notice;
    EXPECT_EQ(0, VetoWindow::queries);
    ASSERT_TRUE(walk->WaitForEnd(60)) << walk->failure;
    EXPECT_TRUE(e2e::WaitUntil([] { return VetoWindow::queries > 0; }, 30));
    const std::vector<std::string> transfers = host->BankCommands("CB 20 00");
    ASSERT_FALSE(transfers.empty());
    EXPECT_EQ(0x04, LoggedCdb(transfers.back())[9]);
    EXPECT_EQ(DWORD(WAIT_TIMEOUT), WaitForSingleObject(host->process.hProcess, 0));
    EXPECT_EQ(0u, host->Close());
}

// The close box during a transfer: the program ends only after the drive has
// taken the image, and writes its settings.
TEST_F(DownloadTest, ClosingDuringATransferWaitsForTheDrive) {
    ASSERT_NO_FATAL_FAILURE(
        Begin(FwProtocolType22, "adapter\ndrive 0 protocols=2.2 latency=0 flash=3000\n"));
    ASSERT_TRUE(Download(IDOK)) << walk->failure;
    ASSERT_TRUE(walk->WaitForMessage(e2e::kDownloading, 30)) << walk->failure;
    PostMessageA(host->window, WM_CLOSE, 0, 0);
    ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(host->process.hProcess, 60000));
    DWORD code = 9;
    GetExitCodeProcess(host->process.hProcess, &code);
    EXPECT_EQ(0u, code);
    const std::vector<std::string> transfers = Transfers22(*host);
    ASSERT_FALSE(transfers.empty()) << e2e::FileText(host->BankLog());
    EXPECT_NE(std::string::npos, transfers.back().find("status=01")) << transfers.back();
    DWORD value = 9;
    EXPECT_TRUE(settings::GetDword("Adapter", &value) && value == 0);
    EXPECT_TRUE(settings::Has("X") && settings::Has("MinY"));
}

// The drive chosen on the device page is saved at close, current at the next
// start, and the plug-in's first open carries it: its download goes there.
TEST_F(DownloadTest, SavedDriveReachesThePluginAtTheNextStart) {
    ASSERT_NO_FATAL_FAILURE(Begin(FwProtocolType22, "adapter\ndrive 0 protocols=2.0 latency=0\n"
                                                    "adapter\ndrive 3 protocols=2.2 latency=0\n"));
    ASSERT_TRUE(walk->OpenTab("Infomation") && walk->ChooseDrive(1, 3)) << walk->failure;
    ASSERT_EQ(0u, host->Close());
    DWORD adapter = 9, target = 9;
    EXPECT_TRUE(settings::GetDword("Adapter", &adapter) && adapter == 1);
    EXPECT_TRUE(settings::GetDword("Target", &target) && target == 3);

    ASSERT_TRUE(host->Start());
    // Notice B: the Type 2.2 drive answered, not entry 0's Type 2.0 one.
    ASSERT_TRUE(Download(IDCANCEL)) << walk->failure;
    EXPECT_EQ(0u, notice.rfind(kNoticeBStart, 0)) << notice;
    ExpectVendorCommandsOn(*host, "ha=1 target=3 ");
    EXPECT_EQ(0u, host->Close());
}

// Two Download commands queued one behind the other, and Enter in the main
// window, make one download: one notice, one transfer; the tabs stay locked
// until the page has judged the outcome.
TEST_F(DownloadTest, QueuedDownloadCommandsGiveOneTransfer) {
    ASSERT_NO_FATAL_FAILURE(Begin(FwProtocolType22, kOneDrive22));
    ASSERT_TRUE(walk->ChooseImage(path)) << walk->failure;
    for (int i = 0; i < 2; ++i)
        PostMessageA(host->Page(), WM_COMMAND, MAKEWPARAM(e2e::kWexaDownload, BN_CLICKED), 0);
    PostMessageA(host->window, WM_COMMAND, MAKEWPARAM(IDOK, 0), 0);
    int notices = 0;
    bool tabsBeforeJudged = false;
    const auto watch = [&] {
        if (const HWND box = walk->WaitForBox("Notice", 0)) {
            ++notices;
            walk->Answer(box, IDOK);
        }
        if (IsWindowEnabled(host->Child(kHostTabs)) && walk->Message() == e2e::kDownloading)
            tabsBeforeJudged = true;
        return walk->Message() == e2e::kDownloaded;
    };
    ASSERT_TRUE(e2e::WaitUntil(watch, 60)) << walk->Message();
    e2e::WaitUntil([&] { return watch() && false; }, 2); // a late second download
    EXPECT_EQ(1, notices);
    EXPECT_FALSE(tabsBeforeJudged);
    EXPECT_TRUE(IsWindowEnabled(host->Child(kHostTabs)));
    EXPECT_EQ(1u, Transfers22(*host).size()) << e2e::FileText(host->BankLog());
    EXPECT_EQ(1u, host->BankCommands("1E").size()) << "one PREVENT: one procedure";
    EXPECT_EQ(0u, host->Close());
}

// An Enter typed ahead reaches the notice that the first one opened: its
// default button is Cancel, so nothing is sent.
TEST_F(DownloadTest, AnEnterTypedAheadIsNoConsent) {
    ASSERT_NO_FATAL_FAILURE(Begin(FwProtocolType22, kOneDrive22));
    ASSERT_TRUE(walk->ChooseImage(path)) << walk->failure;
    const HWND box = walk->ClickDownload();
    ASSERT_TRUE(box) << walk->failure;
    PostMessageA(box, WM_KEYDOWN, VK_RETURN, 0);
    PostMessageA(box, WM_KEYUP, VK_RETURN, 0);
    ASSERT_TRUE(e2e::WaitUntil([&] { return !IsWindow(box); }, 10));
    // Refused: Download is offered again at once; a verified download keeps it off.
    EXPECT_TRUE(
        e2e::WaitUntil([&] { return IsWindowEnabled(host->PageItem(e2e::kWexaDownload)); }, 10));
    EXPECT_TRUE(Transfers22(*host).empty());
    EXPECT_EQ(0u, host->Close());
}

// A close asked for while the notice or the warning is open waits for the
// box: the program keeps answering, says why, and ends cleanly afterwards.
TEST_F(DownloadTest, ClosingAtTheNoticeOrTheWarningWaitsForTheBox) {
    VetoWindow veto; // the warning asks for a restart
    ASSERT_NO_FATAL_FAILURE(Begin(FwProtocolType22, kOneDrive22));
    ASSERT_TRUE(walk->ChooseImage(path)) << walk->failure;
    HWND box = walk->ClickDownload();
    ASSERT_TRUE(box) << walk->failure;
    PostMessageA(host->window, WM_CLOSE, 0, 0);
    EXPECT_TRUE(SaysClosingLater(*host)) << e2e::Text(host->Child(kHostStatus));
    EXPECT_TRUE(Answers(host->window));
    EXPECT_TRUE(IsWindow(box));
    ASSERT_TRUE(walk->Answer(box, IDCANCEL)) << walk->failure;
    ExpectCleanExit(*host);
    EXPECT_TRUE(Transfers22(*host).empty());

    ASSERT_NO_FATAL_FAILURE(Begin(
        FwProtocolType22, "adapter\ndrive 0 protocols=2.2 latency=0 fail-transfer=4/00/00\n"));
    ASSERT_TRUE(Download(IDOK)) << walk->failure;
    box = walk->WaitForBox("Warning", 60);
    ASSERT_TRUE(box);
    PostMessageA(host->window, WM_CLOSE, 0, 0);
    EXPECT_TRUE(SaysClosingLater(*host)) << e2e::Text(host->Child(kHostStatus));
    EXPECT_TRUE(Answers(host->window));
    EXPECT_TRUE(IsWindow(box));
    ASSERT_TRUE(walk->Answer(box, IDOK)) << walk->failure;
    ExpectCleanExit(*host);
    EXPECT_TRUE(settings::Has("X"));
    // The failed transfer's restart request was asked, and vetoed, here too.
    EXPECT_TRUE(e2e::WaitUntil([] { return VetoWindow::queries > 0; }, 30));
}

// While the drive is being written (here: a transfer that never completes)
// the end of the session is refused, a program's change of tab, its IDCLOSE
// and the close box do not end the page or the program, and the window keeps
// answering and says why.
TEST_F(DownloadTest, AStalledTransferKeepsTheProgramAndItsWindow) {
    ASSERT_NO_FATAL_FAILURE(
        Begin(FwProtocolType22, "adapter\ndrive 0 protocols=2.2 latency=0 hang-transfer\n"));
    ASSERT_TRUE(Download(IDOK)) << walk->failure;
    ASSERT_TRUE(walk->WaitForMessage(e2e::kDownloading, 30)) << walk->failure;
    DWORD_PTR answer = 1;
    ASSERT_TRUE(Answers(host->window, WM_QUERYENDSESSION, 0, ENDSESSION_LOGOFF, &answer));
    EXPECT_EQ(0u, answer);
    // Nor does a program's change of tab close the page.
    host->ClickTab(1); // delivered as a message: the tab control is disabled to the mouse
    EXPECT_EQ(0, SendMessageA(host->Child(kHostTabs), TCM_GETCURSEL, 0, 0));
    EXPECT_TRUE(host->PageItem(e2e::kWexaRows));
    PostMessageA(host->window, WM_COMMAND, IDCLOSE, 0);
    PostMessageA(host->window, WM_CLOSE, 0, 0);
    for (int second = 0; second < 3; ++second) {
        EXPECT_TRUE(Answers(host->window)) << second;
        Sleep(1000);
    }
    EXPECT_TRUE(SaysClosingLater(*host)) << e2e::Text(host->Child(kHostStatus));
    EXPECT_EQ(DWORD(WAIT_TIMEOUT), WaitForSingleObject(host->process.hProcess, 0));
    EXPECT_EQ(e2e::kDownloading, walk->Message());
}

// Only a regular file whose name fits the field is read: a name cut to the
// field's room would name another file, and a device blocks the reader.
TEST_F(DownloadTest, ADeviceOrANameThatDoesNotFitIsNeverRead) {
    e2e::SetComPort(0, true); // COM1 opens, and a read would wait for ever
    ASSERT_NO_FATAL_FAILURE(Begin(FwProtocolType22, kOneDrive22));
    std::string cut = host->directory + "\\";
    cut += std::string(259 - cut.size(), 'n');
    ASSERT_TRUE(CopyFileA(path.c_str(), cut.c_str(), FALSE));
    for (const std::string& name : {cut + std::string(275 - cut.size(), 'n'), std::string("COM1"),
                                    std::string("c:\\fw\\com1.hex")}) {
        SCOPED_TRACE(name.size());
        ASSERT_TRUE(walk->ChooseImage(name)) << walk->failure;
        // The click's handler returns at once, with no notice open.
        EXPECT_TRUE(Answers(host->Page(), WM_COMMAND, MAKEWPARAM(e2e::kWexaDownload, BN_CLICKED)));
        EXPECT_EQ("Unable to open file!", walk->Message());
    }
    EXPECT_TRUE(host->BankCommands("1E").empty()) << "no drive was asked";
    EXPECT_EQ(0u, host->Close());
    e2e::SetComPort(0, false);
}

} // namespace
