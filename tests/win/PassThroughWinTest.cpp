// Choosing the ASPI layer on Windows, and our pass-through layer as the
// deliverables would use it when no ASPI layer answers: Win32 events, the
// channel's waits, fake CD-ROM devices in place of the system's.
#include "../support/FakeCdRoms.h"
#include "../support/WholeDownload.h"

#include "aspi/AspiLayer.h"
#include "aspi/AspiSeam.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <cstring>
#include <fstream>
#include <sstream>
#include <string>

namespace {

const char* const kNoLayer = "CORVANE-NO-SUCH-ASPI.DLL";

// The chosen layer is never freed, so neither are the devices it holds.
FakeCdRoms& NewFakes() {
    return *new FakeCdRoms();
}

std::string Layer() {
    char text[aspi::kLayerTextSize];
    aspi::DescribeLayer(text, sizeof text);
    return text;
}

// Chooses anew for each case, and the simulated bank again after it.
struct Rebound {
    Rebound(const char* library, const aspi::DeviceCalls* calls) {
        aspi::RebindLayer(library, calls);
    }
    ~Rebound() { aspi::RebindLayer(nullptr, nullptr); }
};

} // namespace

TEST(AspiBinding, TheSimulatedBankWinsAndTheChoiceIsReported) {
    char dir[MAX_PATH];
    GetTempPathA(sizeof dir, dir);
    std::string report =
        std::string(dir) + "corvane-" + std::to_string(GetCurrentProcessId()) + "-aspi.txt";
    DeleteFileA(report.c_str());
    SetEnvironmentVariableA("CORVANE_ASPI_REPORT", report.c_str());
    FakeCdRoms& fakes = NewFakes();
    AddTwoFakeDrives(fakes);
    aspi::DeviceCalls calls = fakes.Calls();
    {
        Rebound bound(nullptr, &calls);
        EXPECT_EQ("simulated drive bank\r\n", Layer());
    }
    std::string passThrough;
    {
        Rebound bound(kNoLayer, &calls);
        passThrough = Layer();
        EXPECT_EQ(0, Layer().find("SCSI pass-through: 2 host adapter(s)\r\n"
                                  "  0:1 = \\\\.\\A: (port 1, path 0, target 1, lun 0)\r\n"
                                  "  1:0 = \\\\.\\B: (port 2, path 0, target 0, lun 0)\r\n"))
            << Layer();
    }
    SetEnvironmentVariableA("CORVANE_ASPI_REPORT", nullptr);
    std::stringstream text;
    text << std::ifstream(report, std::ios::binary).rdbuf();
    DeleteFileA(report.c_str());
    EXPECT_EQ("ASPI layer: simulated drive bank\r\nASPI layer: " + passThrough, text.str());
}

// A copy of our simulated layer in the current directory is never loaded (the
// one beside the program is: see above).
TEST(AspiBinding, TheCurrentDirectoryIsNeverSearchedForTheLibrary) {
    char program[MAX_PATH], temp[MAX_PATH], before[MAX_PATH];
    GetModuleFileNameA(nullptr, program, sizeof program);
    std::string folder(program, std::strrchr(program, '\\') + 1);
    GetTempPathA(sizeof temp, temp);
    std::string pid = std::to_string(GetCurrentProcessId());
    std::string name = "CORVANE-TEST-" + pid + ".DLL";
    std::string current = std::string(temp) + "corvane-" + pid + "-current";
    CreateDirectoryA(current.c_str(), nullptr);
    ASSERT_TRUE(
        CopyFileA((folder + "WNASPI32.DLL").c_str(), (current + "\\" + name).c_str(), FALSE));
    GetCurrentDirectoryA(sizeof before, before);
    SetCurrentDirectoryA(current.c_str());
    FakeCdRoms& fakes = NewFakes();
    AddTwoFakeDrives(fakes);
    aspi::DeviceCalls calls = fakes.Calls();
    {
        Rebound bound(name.c_str(), &calls);
        EXPECT_EQ(0u, Layer().find("SCSI pass-through: 2 host adapter(s)")) << Layer();
    }
    SetCurrentDirectoryA(before);
    DeleteFileA((current + "\\" + name).c_str());
    RemoveDirectoryA(current.c_str());
}

TEST(AspiBinding, WithoutAnAspiLayerADownloadRunsThroughThePassThrough) {
    FakeCdRoms& fakes = NewFakes();
    AddTwoFakeDrives(fakes);
    aspi::DeviceCalls calls = fakes.Calls();
    Rebound bound(kNoLayer, &calls);
    CheckWholeDownload(fakes);
}

TEST(AspiBinding, TimeOutOnAHungDriveResetsItThroughThePassThrough) {
    FakeCdRoms& fakes = NewFakes();
    simulator::DriveConfig hangs = FakeDrive("HANGS");
    hangs.hang.set(0x00);
    fakes.Add(0, 0, 0, 0, 0, hangs);
    aspi::DeviceCalls calls = fakes.Calls();
    Rebound bound(kNoLayer, &calls);
    for (ChannelUser user : {ChannelUser::Host, ChannelUser::Plugin}) {
        DeviceChannel channel(1024, user);
        CompileCommand(channel, "00");
        channel.timeout = 200;
        EXPECT_EQ(0, channel.Execute());
        EXPECT_EQ(user == ChannelUser::Host ? 255 : 0, channel.senseKey);
        EXPECT_EQ(aspi::SS_ABORTED, aspi::LoadStatus(&channel.request->SRB_Status));
        EXPECT_EQ(0u, channel.setAside);
    }
    fakes.Release();
}

TEST(AspiBinding, TheSystemsDevicesAreAskedWhenNoLayerAnswers) {
    Rebound bound(kNoLayer, nullptr);
    uint32_t info = aspi::GetASPI32SupportInfo();
    EXPECT_EQ(0u, Layer().find("SCSI pass-through: ")) << Layer();
    // No drive on the machines that run this: no adapters, and why.
    if (aspi::SupportStatus(info) != aspi::SS_COMP) {
        EXPECT_NE(std::string::npos, Layer().find(". ")) << Layer();
    }
}
