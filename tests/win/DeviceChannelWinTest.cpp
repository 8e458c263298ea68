// The command layer as the deliverables run it: the simulated WNASPI32.DLL
// loaded by name, Win32 events, and the operating system's version deciding
// between the event and polling. Every case runs on the host's channel and
// on the plug-in's; win98_tests.exe runs them again as Windows 98, where the
// plug-in's channel polls.
#include "command/CompileCommand.h"
#include "command/DeviceChannel.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>

namespace {

typedef int(__cdecl* ReloadProc)(const char*);

// Test programs run in parallel in one prefix: each names its own files.
std::string TempPath(const char* name) {
    char dir[MAX_PATH];
    GetTempPathA(sizeof dir, dir);
    return std::string(dir) + "corvane-" + std::to_string(GetCurrentProcessId()) + "-" + name;
}

// Replaces the DLL's bank; its command log goes to a fresh file.
struct WinBank {
    std::string bankPath, logPath;

    explicit WinBank(const char* text) {
        bankPath = TempPath("command-bank.txt");
        logPath = TempPath("command-log.txt");
        std::ofstream(bankPath) << text;
        DeleteFileA(logPath.c_str());
        SetEnvironmentVariableA("CORVANE_BANK_LOG", logPath.c_str());
        HMODULE dll = LoadLibraryA("WNASPI32.DLL");
        auto reload = reinterpret_cast<ReloadProc>(
            reinterpret_cast<void*>(GetProcAddress(dll, "SimReloadBank")));
        EXPECT_NE(nullptr, reload) << "the simulated WNASPI32.DLL beside the test";
        if (reload) {
            EXPECT_EQ(1, reload(bankPath.c_str()));
        }
    }
    ~WinBank() {
        SetEnvironmentVariableA("CORVANE_BANK_LOG", nullptr);
        DeleteFileA(bankPath.c_str());
        DeleteFileA(logPath.c_str());
    }

    std::string Log() const {
        std::ifstream in(logPath);
        std::stringstream text;
        text << in.rdbuf();
        return text.str();
    }
};

class DeviceChannelWin : public ::testing::TestWithParam<ChannelUser> {};

} // namespace

INSTANTIATE_TEST_SUITE_P(Both, DeviceChannelWin,
                         ::testing::Values(ChannelUser::Host, ChannelUser::Plugin),
                         [](const ::testing::TestParamInfo<ChannelUser>& user) {
                             return user.param == ChannelUser::Host ? "Host" : "Plugin";
                         });

TEST_P(DeviceChannelWin, WaitsAsTheSystemRequires) {
    WinBank bank("adapter\ndrive 0 latency=0\n");
    DeviceChannel channel(65545, GetParam());
    CompileCommand(channel, "12 0 0 0 d'46 /R46");
    ASSERT_EQ(1, channel.Execute());
    int polls = GetParam() == ChannelUser::Plugin && aspi::IsWindows95Or98();
    EXPECT_EQ(polls, channel.pollMode);
    EXPECT_EQ(aspi::SRB_ENABLE_RESIDUAL_COUNT | aspi::SRB_DIR_IN |
                  (polls ? 0 : aspi::SRB_EVENT_NOTIFY),
              channel.request->SRB_Flags);
}

TEST_P(DeviceChannelWin, InquiryTextCompilesAndExecutes) {
    WinBank bank("adapter\nadapter\n"
                 "drive 2 vendor=\"QV\" product=\"DVD 22\" revision=\"1.00\" latency=5\n");
    DeviceChannel channel(65545, GetParam());
    EXPECT_EQ(2, channel.GetAdapterCount());
    channel.SetAdapter(1);
    channel.SetTarget(2);
    EXPECT_EQ(1, CompileCommand(channel, "12 0 0 0 d'46 /R46"));
    ASSERT_EQ(1, channel.Execute());
    EXPECT_EQ(5, channel.buffer[0]);
    EXPECT_EQ(0, std::memcmp(channel.buffer + 8, "QV      DVD 22          1.00", 28));
    EXPECT_NE(std::string::npos,
              bank.Log().find("exec ha=1 target=2 dir=in len=46 cdb=12 00 00 00 2E 00"));
}

TEST_P(DeviceChannelWin, ScanOfTheDefaultBank) {
    HMODULE dll = LoadLibraryA("WNASPI32.DLL");
    auto reload =
        reinterpret_cast<ReloadProc>(reinterpret_cast<void*>(GetProcAddress(dll, "SimReloadBank")));
    ASSERT_NE(nullptr, reload);
    ASSERT_EQ(1, reload(nullptr));
    DeviceChannel channel(1024, GetParam());
    channel.ScanDevices();
    ASSERT_EQ(4, channel.deviceCount) << "the disk is not listed";
    const int expected[4][2] = {{0, 0}, {0, 1}, {1, 0}, {1, 1}};
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(expected[i][0], channel.devices[i].adapter);
        EXPECT_EQ(expected[i][1], channel.devices[i].target);
        EXPECT_EQ(24u, std::strlen(channel.devices[i].model));
        EXPECT_EQ(4u, std::strlen(channel.devices[i].version));
    }
}

TEST_P(DeviceChannelWin, TimeOutResetsTheTarget) {
    WinBank bank("adapter\ndrive 0 latency=0 hang=12\n");
    DeviceChannel channel(1024, GetParam());
    CompileCommand(channel, "12 0 0 0 24 /R36");
    channel.timeout = 200;
    DWORD start = GetTickCount();
    EXPECT_EQ(0, channel.Execute());
    EXPECT_GE(GetTickCount() - start, 150u);
    if (GetParam() == ChannelUser::Host) {
        EXPECT_EQ(255, channel.senseKey);
    } else {
        EXPECT_EQ(1, channel.timedOut);
        EXPECT_EQ(0, channel.senseKey);
    }
    EXPECT_NE(aspi::SS_PENDING, aspi::LoadStatus(&channel.request->SRB_Status));
    EXPECT_NE(std::string::npos, bank.Log().find("reset ha=0 target=0 released=1"));

    CompileCommand(channel, "0 0 0 0 0 0");
    EXPECT_EQ(1, channel.Execute()) << "the channel serves the next command";
}
