// Whole-product downloads under Wine: the real Corvane.exe with the real
// Wexa.dll and the simulated bank in a scratch directory, driven from this
// process as a person would; checked against the windows, the bank's command
// log and state file, and the settings the host wrote.
#include "Walkthrough.h"

#include "firmware/SyntheticImage.h"
#include "simulator/DriveBank.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <sstream>

using e2e::HostProcess;
using e2e::Walkthrough;
namespace settings = e2e::settings;

namespace {

const char* const kNoticeBStart = "1. Firmware Download MUST be treated carefully.";
const char* const kNoticeAEnd = "4. After download, the system will be started right now!\n\n  "
                                "Do you want to continue?";
// The default synthetic image's identity, as rows 0 and 7 show it.
const char* const kImageIdentity = "CORVANE SIMDRIVE 52X     1.00  ";

std::string MakeImage(const HostProcess& host, FwProtocol protocol, std::vector<uint8_t>* bytes) {
    SyntheticImageRecipe recipe;
    DefaultSyntheticRecipe(recipe);
    recipe.protocol = protocol;
    const std::string path = host.directory + "\\image.hex";
    EXPECT_EQ(1, SaveSyntheticImage(path.c_str(), recipe));
    if (bytes) {
        bytes->resize(65536);
        MakeSyntheticImage(recipe, bytes->data());
    }
    return path;
}

std::vector<int> Cdb(const std::string& line) {
    std::vector<int> bytes;
    std::istringstream text(line.substr(line.find("cdb=") + 4));
    for (std::string byte; text >> byte && byte.find('=') == std::string::npos;)
        bytes.push_back(std::stoi(byte, nullptr, 16));
    return bytes;
}

// Every vendor command (probes and transfer) went to this drive, and there was one.
void ExpectVendorCommandsOn(const HostProcess& host, const std::string& drive) {
    const std::vector<std::string> vendor = host.BankCommands("CB");
    ASSERT_FALSE(vendor.empty());
    for (const std::string& line : vendor)
        EXPECT_NE(std::string::npos, line.find(drive)) << line;
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

class DownloadTest : public ::testing::Test {
  protected:
    void SetUp() override { settings::Clear(); }
    void TearDown() override { settings::Clear(); }
};

// Picked on the device page, downloaded on the plug-in's tab, verified by the
// drive: the command carries the image's sums and bytes, the bank keeps the new
// identity, and the next start of the program lists it.
TEST_F(DownloadTest, VerifyModeDownloadThroughTheWindows) {
    HostProcess host("Corvane.exe", {{"Wexa.dll", "Wexa.dll"}});
    std::vector<uint8_t> image;
    const std::string path = MakeImage(host, FwProtocolType22, &image);
    ASSERT_TRUE(host.Start());
    Walkthrough walk(host);
    ASSERT_TRUE(walk.OpenTab("Infomation") && walk.ChooseDrive(1, 0)) << walk.failure;
    ASSERT_TRUE(walk.OpenTab("Wexa") && walk.ChooseImage(path)) << walk.failure;
    const HWND box = walk.ClickDownload();
    ASSERT_TRUE(box) << walk.failure;
    EXPECT_EQ(0u, walk.BoxText(box).rfind(kNoticeBStart, 0)) << walk.BoxText(box);
    ASSERT_TRUE(walk.Answer(box, IDOK));
    ASSERT_TRUE(walk.WaitForEnd(60)) << walk.failure;
    EXPECT_EQ(kImageIdentity, walk.Row(7));

    ExpectVendorCommandsOn(host, "ha=1 target=0 ");
    const std::vector<std::string> transfers = host.BankCommands("CB 00 22");
    std::string transfer;
    for (const std::string& line : transfers)
        if (Cdb(line).size() == 12 && Cdb(line)[9] == 0x84)
            transfer = line;
    ASSERT_FALSE(transfer.empty()) << e2e::FileText(host.BankLog());
    EXPECT_NE(std::string::npos, transfer.find("dir=out len=65536")) << transfer;
    EXPECT_NE(std::string::npos, transfer.find("status=01")) << transfer;
    unsigned half = 0, sum = 0;
    for (int i = 0; i < 65536; i++)
        (i < 32768 ? half : sum) += image[i];
    sum = (sum + half) & 0xFFFF;
    const std::vector<int> cdb = Cdb(transfer);
    EXPECT_EQ(int(half & 0xFFFF), cdb[3] << 8 | cdb[4]);
    EXPECT_EQ(int(sum), cdb[5] << 8 | cdb[6]);
    EXPECT_EQ(image[0], cdb[10]);
    EXPECT_EQ(image[1], cdb[11]);
    std::vector<uint8_t> data(image.begin() + 2, image.end());
    data.insert(data.end(), {0xFF, 0xFF});
    char digest[32];
    std::snprintf(digest, sizeof digest, "digest=%08X",
                  unsigned(simulator::DataDigest(data.data(), uint32_t(data.size()))));
    EXPECT_NE(std::string::npos, transfer.find(digest)) << transfer;

    // The state file: adapter, target, then the 28 identity bytes in hex.
    std::string identity = "1 0 ";
    for (unsigned char c : std::string("CORVANE SIMDRIVE 52X    1.00")) {
        char hex[3];
        std::snprintf(hex, sizeof hex, "%02X", c);
        identity += hex;
    }
    EXPECT_NE(std::string::npos, e2e::FileText(host.BankState()).find(identity))
        << e2e::FileText(host.BankState());

    ASSERT_EQ(0u, host.Close());
    ASSERT_TRUE(host.Start());
    ASSERT_TRUE(walk.OpenTab("Infomation")) << walk.failure;
    EXPECT_EQ("1|0|CORVANE SIMDRIVE 52X    |1.00", walk.DeviceRow(2));
    EXPECT_EQ(0u, host.Close());
}

// Reboot mode: once the worker has ended, the restart request reaches every
// top-level window, this test's too, which vetoes it; the program stays.
TEST_F(DownloadTest, RebootModeRequestsARestartThatReachesOtherPrograms) {
    VetoWindow veto;
    HostProcess host("Corvane.exe", {{"Wexa.dll", "Wexa.dll"}},
                     "adapter\ndrive 0 protocols=2.0 latency=0 flash=100\n");
    const std::string path = MakeImage(host, FwProtocolType20, nullptr);
    ASSERT_TRUE(host.Start());
    Walkthrough walk(host);
    ASSERT_TRUE(walk.ChooseImage(path)) << walk.failure;
    const HWND box = walk.ClickDownload();
    ASSERT_TRUE(box) << walk.failure;
    const std::string notice = walk.BoxText(box);
    EXPECT_EQ(notice.size() - std::string(kNoticeAEnd).size(), notice.rfind(kNoticeAEnd)) << notice;
    ASSERT_TRUE(walk.Answer(box, IDOK));
    EXPECT_EQ(0, VetoWindow::queries);
    ASSERT_TRUE(walk.WaitForEnd(60)) << walk.failure;
    EXPECT_TRUE(e2e::WaitUntil([] { return VetoWindow::queries > 0; }, 30));
    const std::vector<std::string> transfers = host.BankCommands("CB 20 00");
    ASSERT_FALSE(transfers.empty());
    EXPECT_EQ(0x04, Cdb(transfers.back())[9]);
    EXPECT_EQ(DWORD(WAIT_TIMEOUT), WaitForSingleObject(host.process.hProcess, 0));
    EXPECT_EQ(0u, host.Close());
}

// The close box during a transfer: the program ends only after the drive has
// taken the image, and writes its settings.
TEST_F(DownloadTest, ClosingDuringATransferWaitsForTheDrive) {
    HostProcess host("Corvane.exe", {{"Wexa.dll", "Wexa.dll"}},
                     "adapter\ndrive 0 protocols=2.2 latency=0 flash=3000\n");
    const std::string path = MakeImage(host, FwProtocolType22, nullptr);
    ASSERT_TRUE(host.Start());
    Walkthrough walk(host);
    ASSERT_TRUE(walk.ChooseImage(path)) << walk.failure;
    const HWND box = walk.ClickDownload();
    ASSERT_TRUE(box) << walk.failure;
    ASSERT_TRUE(walk.Answer(box, IDOK));
    ASSERT_TRUE(walk.WaitForMessage(e2e::kDownloading, 30)) << walk.failure;
    PostMessageA(host.window, WM_CLOSE, 0, 0);
    ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(host.process.hProcess, 60000));
    DWORD code = 9;
    GetExitCodeProcess(host.process.hProcess, &code);
    EXPECT_EQ(0u, code);
    bool completed = false;
    for (const std::string& line : host.BankCommands("CB 00 22"))
        completed |= Cdb(line)[9] == 0x84 && line.find("status=01") != std::string::npos;
    EXPECT_TRUE(completed) << e2e::FileText(host.BankLog());
    DWORD value = 9;
    EXPECT_TRUE(settings::GetDword("Adapter", &value) && value == 0);
    EXPECT_TRUE(settings::Has("X") && settings::Has("MinY"));
}

// The drive chosen on the device page is saved at close, current at the next
// start, and the plug-in's first open carries it: its download goes there.
TEST_F(DownloadTest, SavedDriveReachesThePluginAtTheNextStart) {
    HostProcess host("Corvane.exe", {{"Wexa.dll", "Wexa.dll"}},
                     "adapter\ndrive 0 protocols=2.0 latency=0\n"
                     "adapter\ndrive 3 protocols=2.2 latency=0\n");
    const std::string path = MakeImage(host, FwProtocolType22, nullptr);
    ASSERT_TRUE(host.Start());
    Walkthrough walk(host);
    ASSERT_TRUE(walk.OpenTab("Infomation") && walk.ChooseDrive(1, 3)) << walk.failure;
    ASSERT_EQ(0u, host.Close());
    DWORD adapter = 9, target = 9;
    EXPECT_TRUE(settings::GetDword("Adapter", &adapter) && adapter == 1);
    EXPECT_TRUE(settings::GetDword("Target", &target) && target == 3);

    ASSERT_TRUE(host.Start());
    ASSERT_TRUE(walk.ChooseImage(path)) << walk.failure;
    const HWND box = walk.ClickDownload();
    ASSERT_TRUE(box) << walk.failure;
    // Notice B: the Type 2.2 drive answered, not entry 0's Type 2.0 one.
    EXPECT_EQ(0u, walk.BoxText(box).rfind(kNoticeBStart, 0)) << walk.BoxText(box);
    ASSERT_TRUE(walk.Answer(box, IDCANCEL));
    ExpectVendorCommandsOn(host, "ha=1 target=3 ");
    EXPECT_EQ(0u, host.Close());
}

} // namespace
