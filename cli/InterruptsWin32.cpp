#include "cli/Interrupts.h"

#include <windows.h>

#include <atomic>
#include <cstdio>

namespace corvane {
namespace {

// The system calls the handler on a thread of its own.
std::atomic<int> noticed{0};
std::atomic<int> holding{0};

BOOL WINAPI Note(DWORD event) {
    noticed.fetch_add(1);
    if (event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT)
        return TRUE;
    // Close, log-off, shut-down: the process ends as soon as this returns.
    while (holding.load())
        Sleep(50);
    return TRUE;
}

} // namespace

InterruptWatch::InterruptWatch() {
    noticed.store(0);
    holding.store(0);
    SetConsoleCtrlHandler(Note, TRUE);
}

InterruptWatch::~InterruptWatch() {
    std::fflush(stdout);
    holding.store(0);
    SetConsoleCtrlHandler(Note, FALSE);
}

int InterruptWatch::Noticed() {
    return noticed.load();
}

void InterruptWatch::HoldOnClose() {
    holding.store(1);
}

// A console read ends on Ctrl-C by itself.
InterruptWatch::Listening::Listening() {}
InterruptWatch::Listening::~Listening() {}

} // namespace corvane
