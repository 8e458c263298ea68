// Where the main window opens, apart from any window: the saved place only
// where the whole window lies on a monitor's work area, never smaller than
// the dialog as created. A monitor that is gone (a laptop without its second
// screen), a place far off or a size too small would hide the window or cut
// it, and be saved again at close.
#pragma once

#include <cstddef>
#include <cstdint>

struct Box {
    int64_t left, top, right, bottom;
};

// The saved values as the settings hold them (DWORD; a place left of or above
// the primary monitor is negative as a 32-bit signed number) and the outer
// size of the window as created. True with `place` set when the saved place
// is to be used: at the saved top-left, as wide as created (the width is
// fixed), as high as saved but no lower than created, and wholly inside one
// of the work areas. False: the window stays where the template put it.
bool PlaceOnWorkArea(uint32_t x, uint32_t y, uint32_t savedHeight, int32_t ownWidth,
                     int32_t ownHeight, const Box* workAreas, size_t count, Box& place);
