// Measures the download page while a transfer runs (not a test; prints):
//  - the longest time the page's thread takes to answer WM_NULL, sent with
//    a time-out every 10 ms from another thread;
//  - the CPU time the whole process uses while it waits on a 4 s transfer;
//  - the process's GDI object count before and after a transfer of 60 ticks.
// Run: tools/wine-run.sh build/win/bin/wexa_measure.exe
#include "tests/win/WexaHost.h"
#include "tests/win/WinTestSupport.h"

#include "firmware/SyntheticImage.h"

#include <atomic>
#include <cstdio>
#include <thread>

using namespace wexatest;

namespace {

const char* const kDownloading = "Downloading... (Do NOT turn off!)";

double Seconds(const FILETIME& kernel, const FILETIME& user) {
    auto value = [](const FILETIME& time) {
        return (uint64_t(time.dwHighDateTime) << 32 | time.dwLowDateTime) / 1e7;
    };
    return value(kernel) + value(user);
}

double ProcessCpu() {
    FILETIME created, ended, kernel, user;
    GetProcessTimes(GetCurrentProcess(), &created, &ended, &kernel, &user);
    return Seconds(kernel, user);
}

// Starts a download of a fresh Type 2.2 image on a Type 2.2 drive that takes
// `flashMs` to write; returns when the transfer runs, or 0 on failure.
struct Run {
    TestBank bank;
    StandInHost host;
    std::string image;
    DWORD gdiBeforeClick = 0;

    explicit Run(int flashMs)
        : bank("adapter\ndrive 0 protocols=2.2 latency=0 flash=" + std::to_string(flashMs) + "\n"),
          image(TempFile("wexa-measure") + ".HEX") {
        SyntheticImageRecipe recipe;
        DefaultSyntheticRecipe(recipe);
        SaveSyntheticImage(image.c_str(), recipe);
    }
    ~Run() {
        host.destroy();
        DeleteFileA(image.c_str());
    }
    bool Start() {
        if (!host.create || !host.create(host.Context(0, 0)))
            return false;
        host.open(host.Context(0, 0));
        SetWindowTextA(host.Item(1002), image.c_str());
        gdiBeforeClick = GetGuiResources(GetCurrentProcess(), GR_GDIOBJECTS);
        SendMessageA(host.Item(1), BM_CLICK, 0, 0);
        return Message() == kDownloading;
    }
    std::string Message() { return wintest::WindowText(host.Item(1001)); }
    bool WaitForEnd() {
        return StandInHost::WaitFor([&] { return Message() != kDownloading; }, 120);
    }
};

} // namespace

int main() {
    {
        Run run(4000);
        if (!run.Start()) {
            std::printf("download did not start: %s\n", run.Message().c_str());
            return 1;
        }
        HWND page = run.host.Page();
        std::atomic<bool> stop(false);
        double longestMs = 0;
        int pings = 0;
        std::thread pinger([&] {
            LARGE_INTEGER frequency, before, after;
            QueryPerformanceFrequency(&frequency);
            while (!stop) {
                DWORD_PTR answer;
                QueryPerformanceCounter(&before);
                SendMessageTimeoutA(page, WM_NULL, 0, 0, SMTO_NORMAL, 5000, &answer);
                QueryPerformanceCounter(&after);
                const double ms = (after.QuadPart - before.QuadPart) * 1000.0 / frequency.QuadPart;
                longestMs = ms > longestMs ? ms : longestMs;
                pings++;
                Sleep(10);
            }
        });
        run.WaitForEnd();
        stop = true;
        pinger.join();
        std::printf("WM_NULL during a 4 s transfer: %d answered, longest %.1f ms (%s)\n", pings,
                    longestMs, run.Message().c_str());
    }
    {
        Run run(4000);
        if (!run.Start())
            return 1;
        const DWORD start = GetTickCount();
        const double before = ProcessCpu();
        run.WaitForEnd();
        const double used = ProcessCpu() - before;
        std::printf("CPU time of the process while waiting on a 4 s transfer (event mode): %.3f s "
                    "in %.1f s\n",
                    used, (GetTickCount() - start) / 1000.0);
    }
    {
        Run run(30000);
        if (!run.Start())
            return 1;
        run.WaitForEnd();
        std::printf(
            "GDI objects before and after a transfer of 60 ticks: %lu, %lu\n",
            static_cast<unsigned long>(run.gdiBeforeClick),
            static_cast<unsigned long>(GetGuiResources(GetCurrentProcess(), GR_GDIOBJECTS)));
    }
    return 0;
}
