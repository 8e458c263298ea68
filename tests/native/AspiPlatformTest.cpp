#include "aspi/AspiPlatform.h"
#include "aspi/AspiRecords.h"
#include "aspi/AspiSeam.h"
#include "aspi/LibraryPath.h"

#include <gtest/gtest.h>

#include <cstring>
#include <thread>

using namespace aspi;

TEST(AspiPlatform, PollingOnlyOnWindows95And98) {
    EXPECT_EQ(1, IsWindows95Or98Version(1, 4, 0));  // 95
    EXPECT_EQ(1, IsWindows95Or98Version(1, 4, 10)); // 98
    EXPECT_EQ(0, IsWindows95Or98Version(1, 4, 90)); // ME
    EXPECT_EQ(0, IsWindows95Or98Version(2, 4, 0));  // NT 4
    EXPECT_EQ(0, IsWindows95Or98Version(2, 5, 1));  // XP
    EXPECT_EQ(0, IsWindows95Or98());                // native default
    SetWindows95Or98Override(1);
    EXPECT_EQ(1, IsWindows95Or98());
    SetWindows95Or98Override(-1);
    EXPECT_EQ(0, IsWindows95Or98());
}

namespace {
uint32_t fakeTicks = 0;
uint32_t FakeTicks() {
    return fakeTicks;
}
} // namespace

TEST(AspiPlatform, TickSourceCanBeReplaced) {
    SetTickCountSource(&FakeTicks);
    fakeTicks = 4242;
    EXPECT_EQ(4242u, TickCount());
    SetTickCountSource(nullptr);
    uint32_t a = TickCount();
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_GE(TickCount() - a, 15u);
}

TEST(AspiPlatform, EventIsAutoResetAndSurvivesLateSignals) {
    EventHandle event = CreateCompletionEvent();
    ASSERT_NE(nullptr, event);
    EXPECT_EQ(0, WaitCompletionEvent(event, 10));
    SignalCompletionEvent(event);
    EXPECT_EQ(1, WaitCompletionEvent(event, 0));
    EXPECT_EQ(0, WaitCompletionEvent(event, 0)) << "one signal wakes one wait";
    SignalCompletionEvent(event);
    ResetCompletionEvent(event);
    EXPECT_EQ(0, WaitCompletionEvent(event, 0));

    std::thread signaller([event] {
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
        SignalCompletionEvent(event);
    });
    EXPECT_EQ(1, WaitCompletionEvent(event, 5000));
    signaller.join();
    CloseCompletionEvent(event);

    // A layer signalling a closed event finds nothing; a new event is not hit.
    EventHandle next = CreateCompletionEvent();
    SignalCompletionEvent(event);
    EXPECT_NE(event, next);
    EXPECT_EQ(0, WaitCompletionEvent(next, 0));
    CloseCompletionEvent(next);
}

TEST(AspiPlatform, EventCreationFailureCanBeForced) {
    SetEventCreationFails(1);
    EXPECT_EQ(nullptr, CreateCompletionEvent());
    SetEventCreationFails(0);
    EventHandle event = CreateCompletionEvent();
    EXPECT_NE(nullptr, event);
    CloseCompletionEvent(event);
}

TEST(AspiLayer, MissingLayerReadsAsNoAdapters) {
    BindLayer(nullptr, nullptr);
    EXPECT_EQ(0, HasLayer());
    uint32_t info = GetASPI32SupportInfo();
    EXPECT_NE(SS_COMP, SupportStatus(info));
    EXPECT_EQ(0, SupportAdapterCount(info));
    SRB_ExecSCSICmd srb{};
    srb.SRB_Cmd = SC_EXEC_SCSI_CMD;
    EXPECT_EQ(SS_NO_ASPI, SendASPI32Command(&srb));
    EXPECT_EQ(SS_NO_ASPI, srb.SRB_Status) << "the request is not left pending";
}

TEST(LibraryPath, FullPathsBesideTheProgramAndInTheSystemFolder) {
    struct Case {
        const char* path;
        bool beside; // else in the folder `path`
        uint32_t size;
        const char* expected; // "" when it cannot be made
    } cases[] = {
        {"C:\\Corvane\\Corvane.exe", true, 64, "C:\\Corvane\\WNASPI32.DLL"},
        {"Z:/work/bin/host.exe", true, 64, "Z:/work/bin/WNASPI32.DLL"},
        {"Corvane.exe", true, 64, ""}, // no folder: would be a search
        {"", true, 64, ""},
        {"C:\\WINDOWS\\system32", false, 64, "C:\\WINDOWS\\system32\\WNASPI32.DLL"},
        {"C:\\", false, 64, "C:\\WNASPI32.DLL"},
        {"", false, 64, ""},
        {"C:\\Corvane\\Corvane.exe", true, 23, ""},                          // one byte short
        {"C:\\Corvane\\Corvane.exe", true, 24, "C:\\Corvane\\WNASPI32.DLL"}, // just fits
    };
    for (const Case& c : cases) {
        char out[64];
        std::memset(out, 'x', sizeof out);
        int made = c.beside ? BesideFile(c.path, "WNASPI32.DLL", out, c.size)
                            : InFolder(c.path, "WNASPI32.DLL", out, c.size);
        EXPECT_EQ(*c.expected ? 1 : 0, made) << c.path << " " << c.size;
        if (made) {
            EXPECT_STREQ(c.expected, out) << c.path;
        }
        if (c.size < sizeof out) {
            EXPECT_EQ('x', out[c.size]) << "nothing past the given size";
        }
    }
}
