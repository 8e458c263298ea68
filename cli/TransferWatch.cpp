#include "cli/TransferWatch.h"

#include "cli/Interrupts.h"
#include "firmware/DownloadRules.h"

#include <chrono>
#include <cstdio>
#include <string>
#include <thread>

#ifdef _WIN32
#include <io.h>
#define CORVANE_ISATTY _isatty
#define CORVANE_FILENO _fileno
#else
#include <unistd.h>
#define CORVANE_ISATTY isatty
#define CORVANE_FILENO fileno
#endif

using namespace download;

namespace corvane {
namespace {

std::string Clock(long long ms) {
    char text[48];
    std::snprintf(text, sizeof text, "%02lld:%02lld", ms / 60000, ms / 1000 % 60);
    return text;
}

long long ElapsedMs(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() -
                                                                 start)
        .count();
}

void DrawBar(long long ms, long long expected) {
    int position = TransferProgressPosition(static_cast<uint32_t>(ms));
    position = position > 100 ? 100 : position < 0 ? 0 : position;
    char cells[31];
    for (int i = 0; i < 30; ++i)
        cells[i] = i < position * 30 / 100 ? '#' : '-';
    cells[30] = '\0';
    std::printf("\rTransfer [%s] %3d%%  %s of about %s  (do not turn off!)", cells, position,
                Clock(ms).c_str(), Clock(expected).c_str());
    std::fflush(stdout);
}

// Until the job has ended; says once for every interrupt that it is held.
void WaitForTheJob(bool bar, ConsoleView& view, const TransferJob& job,
                   const std::chrono::steady_clock::time_point start) {
    const long long expected =
        kTransferFullMs + (job.mode == DownloadReboot ? static_cast<long long>(kRebootWaitMs) : 0);
    for (int held = 0;;) {
        const bool ended = job.result.load() != kTransferRunning;
        if (InterruptWatch::Noticed() > held) {
            held = InterruptWatch::Noticed();
            view.Log("interrupted during the transfer: held");
            std::fprintf(stderr,
                         "%scorvane: the transfer cannot be taken back; waiting for the "
                         "drive to finish\n",
                         bar ? "\n" : "");
        }
        if (ended)
            return;
        std::this_thread::sleep_for(std::chrono::milliseconds(bar ? 200 : 20));
        if (bar)
            DrawBar(ElapsedMs(start), expected);
    }
}

} // namespace

void WatchTransfer(bool json, ConsoleView& view, const TransferJob& job) {
    const bool bar = !json && CORVANE_ISATTY(CORVANE_FILENO(stdout));
    const auto start = std::chrono::steady_clock::now();
    if (!json && !bar)
        std::printf("Transfer: sending the image; do not turn off the drive or the machine\n");
    std::fflush(stdout);
    WaitForTheJob(bar, view, job, start);
    if (bar)
        std::printf("\n");
    if (!json)
        std::printf("Transfer: ended after %s\n", Clock(ElapsedMs(start)).c_str());
}

} // namespace corvane
