#include "download/Pause.h"

#include "aspi/AspiLayer.h"

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

int SetPauseWhereSimulated(PauseProc pause) {
    if (pause && !aspi::LayerIsSimulated())
        return 0;
    SetPause(pause);
    return 1;
}

} // namespace download
