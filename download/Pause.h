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

} // namespace download
