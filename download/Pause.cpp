#include "download/Pause.h"

#include <atomic>
#include <chrono>
#include <thread>

namespace download {
namespace {

std::atomic<PauseProc> replacement{nullptr};

} // namespace

void Pause(uint32_t milliseconds) {
    if (PauseProc pause = replacement.load()) {
        pause(milliseconds);
        return;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

void SetPause(PauseProc pause) {
    replacement.store(pause);
}

} // namespace download
