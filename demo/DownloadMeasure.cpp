// Not a test: measures whole downloads of Corvane.exe with Wexa.dll on a
// Type 2.2 drive whose transfer takes a known time, and prints
//  - the longest time the main window took to answer WM_NULL during a transfer;
//  - the CPU time of Corvane.exe while the drive works;
//  - the time from the Download click to the OK picture, less the time the
//    notice stood open and the drive's own transfer time: our overhead, with
//    the share that is the page timer's wait for its next tick shown apart.
// Run: tools/measure-download.sh
#include "tests/e2e/Walkthrough.h"

#include "firmware/SyntheticImage.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <thread>

namespace {

const int kFlashMs = 4250; // between two ticks of the 500 ms timer

double Now() {
    LARGE_INTEGER frequency, count;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&count);
    return 1000.0 * double(count.QuadPart) / double(frequency.QuadPart);
}

double CpuMs(HANDLE process) {
    FILETIME created, ended, kernel, user;
    GetProcessTimes(process, &created, &ended, &kernel, &user);
    auto value = [](const FILETIME& time) {
        return double(uint64_t(time.dwHighDateTime) << 32 | time.dwLowDateTime) / 1e4;
    };
    return value(kernel) + value(user);
}

struct Figures {
    double stallMs, cpuMs, overheadMs, timerWaitMs, prepareMs, finishMs;
};

bool MeasureOne(Figures& figures) {
    e2e::HostProcess host(
        "Corvane.exe", {{"Wexa.dll", "Wexa.dll"}},
        "adapter\ndrive 0 protocols=2.2 latency=0 flash=" + std::to_string(kFlashMs) + "\n");
    SyntheticImageRecipe recipe;
    DefaultSyntheticRecipe(recipe);
    const std::string image = host.directory + "\\image.hex";
    if (!SaveSyntheticImage(image.c_str(), recipe) || !host.Start())
        return false;
    e2e::Walkthrough walk(host);
    if (!walk.ChooseImage(image))
        return false;

    const double click = Now();
    const HWND box = walk.ClickDownload();
    if (!box)
        return false;
    const double boxShown = Now();
    if (!walk.Answer(box, IDOK))
        return false;
    const double boxGone = Now();
    if (!walk.WaitForMessage(e2e::kDownloading, 30))
        return false;
    // CPU over the first two seconds of the drive's work, before anything
    // else sends the program messages.
    const double cpuBefore = CpuMs(host.process.hProcess);
    Sleep(2000);
    const double cpuDuringWork = CpuMs(host.process.hProcess) - cpuBefore;

    std::atomic<bool> stop(false);
    double longest = 0;
    std::thread pinger([&] {
        while (!stop) {
            DWORD_PTR answer;
            const double before = Now();
            SendMessageTimeoutA(host.window, WM_NULL, 0, 0, SMTO_NORMAL, 5000, &answer);
            longest = std::max(longest, Now() - before);
            Sleep(10);
        }
    });
    // The drive has finished when the bank logs the transfer; the page sees
    // it at its next tick, when the message line changes.
    double transferEnd = 0;
    // Polled every millisecond: this program has no window that needs its messages.
    const double deadline = Now() + 60000;
    while (walk.Message() == e2e::kDownloading && Now() < deadline) {
        if (!transferEnd && host.BankCommands("CB 00 22").size() > 1)
            transferEnd = Now();
        Sleep(1);
    }
    const double judged = Now();
    const bool ok = e2e::WaitUntil([&] { return !walk.Row(7).empty(); }, 10);
    SendMessageA(host.window, WM_NULL, 0, 0); // the tick's handler has set the picture
    const double done = Now();
    stop = true;
    pinger.join();
    host.Close();
    if (!ok || !transferEnd)
        return false;
    figures.stallMs = longest;
    figures.cpuMs = cpuDuringWork;
    figures.timerWaitMs = judged - transferEnd;
    figures.prepareMs = boxShown - click;
    figures.finishMs = done - judged;
    figures.overheadMs = (done - click) - (boxGone - boxShown) - kFlashMs - figures.timerWaitMs;
    return true;
}

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

} // namespace

int main(int argc, char** argv) {
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
    std::vector<double> stall, cpu, overhead, timer;
    for (int run = 0; run < runs; ++run) {
        Figures figures;
        if (!MeasureOne(figures)) {
            std::fprintf(stderr, "run %d: the download did not go through\n", run + 1);
            return 1;
        }
        std::printf("run %d: stall %.1f ms, CPU %.0f ms in 2000 ms of drive work, overhead %.1f ms "
                    "(click to notice %.0f ms, tick to OK picture %.0f ms) + timer wait %.0f ms\n",
                    run + 1, figures.stallMs, figures.cpuMs, figures.overheadMs, figures.prepareMs,
                    figures.finishMs, figures.timerWaitMs);
        std::fflush(stdout);
        stall.push_back(figures.stallMs);
        cpu.push_back(figures.cpuMs);
        overhead.push_back(figures.overheadMs);
        timer.push_back(figures.timerWaitMs);
    }
    std::printf("longest main-window stall during a transfer: %.1f ms (worst of %d runs)\n",
                *std::max_element(stall.begin(), stall.end()), runs);
    std::printf("CPU of Corvane.exe over 2000 ms of the drive's work: median %.0f ms\n",
                Median(cpu));
    std::printf("download overhead beyond the drive's %d ms: median %.1f ms, plus the timer's "
                "wait for its next tick: median %.0f ms\n",
                kFlashMs, Median(overhead), Median(timer));
    return 0;
}
