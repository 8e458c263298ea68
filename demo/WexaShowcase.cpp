// Shows the download page in one state for tools/screenshot-win.sh (not a
// test): wexa_showcase.exe idle|transfer|ok|ng
#include "tests/win/WexaHost.h"
#include "tests/win/WinTestSupport.h"

#include "firmware/SyntheticImage.h"

#include <commctrl.h>

#include <cstring>

using namespace wexatest;

int main(int argc, char** argv) {
    const char* state = argc > 1 ? argv[1] : "idle";
    TestBank bank("adapter\ndrive 0 vendor=QVSIM product=\"DVD+RW QV-2200\" revision=1.20 "
                  "protocols=2.2 latency=0 flash=" +
                  std::string(std::strcmp(state, "transfer") == 0 ? "6000" : "500") + "\n");
    StandInHost host;
    if (!host.create || !host.create(host.Context(0, 0)))
        return 1;
    host.open(host.Context(0, 0));

    SyntheticImageRecipe recipe;
    DefaultSyntheticRecipe(recipe);
    recipe.protocol = std::strcmp(state, "ng") == 0 ? FwProtocolNone : FwProtocolType22;
    const std::string image = TempFile("wexa-showcase") + ".HEX";
    SaveSyntheticImage(image.c_str(), recipe);
    SetWindowTextA(host.Item(1002), image.c_str());

    if (std::strcmp(state, "idle") != 0) {
        SendMessageA(host.Item(1), BM_CLICK, 0, 0);
        HWND list = host.Item(1006);
        if (std::strcmp(state, "transfer") == 0) {
            // A few ticks into the transfer.
            StandInHost::WaitFor(
                [&] {
                    HWND bar = FindWindowExA(list, nullptr, PROGRESS_CLASSA, nullptr);
                    return bar && SendMessageA(bar, PBM_GETPOS, 0, 0) >= 68;
                },
                30);
        } else {
            StandInHost::WaitFor(
                [&] {
                    const std::string text = wintest::WindowText(host.Item(1001));
                    return text != "Downloading... (Do NOT turn off!)" &&
                           text != "Reading F/W file...";
                },
                60);
        }
    }
    wintest::WaitForScreenshot(host.main, 60);
    host.destroy();
    DeleteFileA(image.c_str());
    return 0;
}
