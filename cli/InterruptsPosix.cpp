#include "cli/Interrupts.h"

#include <pthread.h>
#include <signal.h>

#include <atomic>
#include <cstdio>
#include <ctime>

namespace corvane {
namespace {

const int kInterrupts[] = {SIGINT, SIGTERM, SIGHUP};
const int kCount = sizeof kInterrupts / sizeof kInterrupts[0];

// Touched from the handler: nothing but a lock-free counter.
std::atomic<int> noticed{0};
static_assert(std::atomic<int>::is_always_lock_free, "counted in a signal handler");

struct sigaction previous[kCount];
struct sigaction previousPipe;
sigset_t previousMask;
sigset_t beforeListening; // one thread listens at a time

extern "C" void Note(int) {
    noticed.fetch_add(1);
}

sigset_t Interrupts() {
    sigset_t set;
    sigemptyset(&set);
    for (int signal : kInterrupts)
        sigaddset(&set, signal);
    return set;
}

} // namespace

InterruptWatch::InterruptWatch() {
    noticed.store(0);
    struct sigaction note = {};
    note.sa_handler = Note;
    sigemptyset(&note.sa_mask);
    note.sa_flags = 0; // no SA_RESTART: an interrupt ends a read at the question
    for (int i = 0; i < kCount; ++i)
        sigaction(kInterrupts[i], &note, &previous[i]);
    struct sigaction ignore = {};
    ignore.sa_handler = SIG_IGN;
    sigemptyset(&ignore.sa_mask);
    sigaction(SIGPIPE, &ignore, &previousPipe);
    const sigset_t set = Interrupts();
    pthread_sigmask(SIG_BLOCK, &set, &previousMask);
}

InterruptWatch::~InterruptWatch() {
    // A report still in the buffer would meet a closed pipe after SIGPIPE is
    // back to ending the program.
    std::fflush(stdout);
    Noticed();
    pthread_sigmask(SIG_SETMASK, &previousMask, nullptr);
    for (int i = 0; i < kCount; ++i)
        sigaction(kInterrupts[i], &previous[i], nullptr);
    sigaction(SIGPIPE, &previousPipe, nullptr);
}

int InterruptWatch::Noticed() {
    const sigset_t set = Interrupts();
    const timespec now = {0, 0};
    while (sigtimedwait(&set, nullptr, &now) > 0)
        noticed.fetch_add(1);
    return noticed.load();
}

void InterruptWatch::HoldOnClose() {}

InterruptWatch::Listening::Listening() {
    const sigset_t set = Interrupts();
    pthread_sigmask(SIG_UNBLOCK, &set, &beforeListening);
}

InterruptWatch::Listening::~Listening() {
    pthread_sigmask(SIG_SETMASK, &beforeListening, nullptr);
}

} // namespace corvane
