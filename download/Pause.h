// The pause after a transfer in reboot mode, which gives the drive time to
// restart itself. Tests put a pause of their own in its place, so that they
// do not sleep it, as the channel's waits take the tick seam.
#pragma once

#include <cstdint>

namespace download {

typedef void (*PauseProc)(uint32_t milliseconds);

void Pause(uint32_t milliseconds);
// Null: the pause sleeps again.
void SetPause(PauseProc pause);
// For tests: puts `pause` in place only where the simulated drive bank is the
// process's ASPI layer, so that a real drive always gets its time to restart;
// 1 when taken. Null, which restores the wait, is always taken.
int SetPauseWhereSimulated(PauseProc pause);

} // namespace download
