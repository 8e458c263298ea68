// What the plug-in's window tests share: the page in a stand-in host, read
// back through its controls, and the texts the page must show.
#pragma once

#include "WexaHost.h"
#include "WinTestSupport.h"

#include "../support/LoggedTransfer.h"
#include "download/DownloadView.h"

#include <gtest/gtest.h>

#include <commctrl.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

namespace wexatest {

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
using download::kRowKeys;
enum { kWait = 103, kOk = 104, kNg = 106, kIdle = 108 };

inline std::vector<uint8_t> Bits(HBITMAP bitmap) {
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

// The reboot-mode wait the plug-in asked for last, in place of sleeping it.
inline std::atomic<uint32_t>& AskedPause() {
    static std::atomic<uint32_t> asked{0};
    return asked;
}
inline void RecordPause(uint32_t milliseconds) {
    AskedPause() = milliseconds;
}
typedef int(__cdecl* SetPauseProc)(void (*)(uint32_t));

class WexaPage : public ::testing::Test {
  protected:
    StandInHost host;
    std::vector<std::string> files;
    SetPauseProc setPause = nullptr;

    void SetUp() override {
        ASSERT_NE(nullptr, host.wexa);
        ASSERT_TRUE(host.create && host.open && host.close && host.destroy);
        setPause = reinterpret_cast<SetPauseProc>(
            reinterpret_cast<void*>(GetProcAddress(host.wexa, "WexaSetPause")));
        ASSERT_NE(nullptr, setPause);
        ASSERT_EQ(1, setPause(RecordPause)) << "taken where the simulated bank answers";
        AskedPause() = 0;
    }
    void TearDown() override {
        setPause(nullptr);
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

    std::string Image(FwProtocol protocol, bool withTemplate = true) {
        SyntheticImageRecipe recipe;
        DefaultSyntheticRecipe(recipe);
        recipe.protocol = protocol;
        recipe.withTemplate = withTemplate;
        files.push_back(TempFile("wexa-image") + ".HEX");
        EXPECT_EQ(1, SaveSyntheticImage(files.back().c_str(), recipe));
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

inline std::string Bank(const char* drive) {
    return std::string("adapter\ndrive 0 vendor=QVSIM product=DRIVE revision=0.10 latency=0 ") +
           drive + "\n";
}

} // namespace wexatest
