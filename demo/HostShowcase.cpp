// Not a test: starts Corvane.exe the way the whole-program tests do, for
// tools/screenshot-win.sh (a chosen tab shown until the picture is taken) and
// for tools/measure-startup.sh (launch to a device page with rows, repeated).
//   host_showcase.exe [--plain] [--tab CAPTION]
//   host_showcase.exe --measure RUNS
#include "tests/e2e/HostProcess.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

double Milliseconds(LARGE_INTEGER from, LARGE_INTEGER to) {
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    return 1000.0 * double(to.QuadPart - from.QuadPart) / double(frequency.QuadPart);
}

int Measure(int runs) {
    std::vector<double> times;
    for (int run = 0; run < runs; ++run) {
        e2e::HostProcess host("Corvane.exe", {});
        LARGE_INTEGER start, shown;
        QueryPerformanceCounter(&start);
        if (!host.Start()) {
            std::fprintf(stderr, "run %d: Corvane.exe did not come up\n", run + 1);
            return 1;
        }
        // The device page is the first tab when there is no plug-in.
        while (host.ListRows(host.PageItem(1002)) == 0)
            if (WaitForSingleObject(host.process.hProcess, 1) != WAIT_TIMEOUT)
                return 1;
        QueryPerformanceCounter(&shown);
        times.push_back(Milliseconds(start, shown));
        std::printf("run %d: %.0f ms\n", run + 1, times.back());
        host.Close();
    }
    std::vector<double> sorted = times;
    std::sort(sorted.begin(), sorted.end());
    std::printf(
        "start-up to device page rows: median %.0f ms, min %.0f ms, max %.0f ms (%d runs)\n",
        sorted[sorted.size() / 2], sorted.front(), sorted.back(), runs);
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    bool plain = false;
    std::string tab;
    for (int i = 1; i < argc; ++i) {
        if (!std::strcmp(argv[i], "--plain"))
            plain = true;
        else if (!std::strcmp(argv[i], "--tab") && i + 1 < argc)
            tab = argv[++i];
        else if (!std::strcmp(argv[i], "--measure") && i + 1 < argc)
            return Measure(std::max(1, std::atoi(argv[++i])));
    }

    e2e::HostProcess host(plain ? "Flasher.exe" : "Corvane.exe", {});
    if (!host.Start())
        return 1;
    for (int i = 0; i < host.TabCount(); ++i)
        if (host.TabCaption(i) == tab)
            host.ClickTab(i);

    // The hand-shake with tools/screenshot-win.sh: ready, then wait for the picture.
    char self[MAX_PATH];
    GetModuleFileNameA(nullptr, self, sizeof self);
    const std::string marker = std::string(self) + ".ready";
    RedrawWindow(host.window, nullptr, nullptr, RDW_INVALIDATE | RDW_ALLCHILDREN | RDW_UPDATENOW);
    Sleep(500); // the X server draws what Wine sent it; nothing to wait on
    CloseHandle(CreateFileA(marker.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr));
    const DWORD start = GetTickCount();
    while (GetFileAttributesA(marker.c_str()) != INVALID_FILE_ATTRIBUTES &&
           GetTickCount() - start < 60000)
        Sleep(50);
    DeleteFileA(marker.c_str());
    return host.Close() == 0 ? 0 : 1;
}
