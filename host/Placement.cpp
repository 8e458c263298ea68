#include "host/Placement.h"

bool PlaceOnWorkArea(uint32_t x, uint32_t y, uint32_t savedHeight, int32_t ownWidth,
                     int32_t ownHeight, const Box* workAreas, size_t count, Box& place) {
    if (ownWidth <= 0 || ownHeight <= 0)
        return false;
    const int64_t height = savedHeight > static_cast<uint32_t>(ownHeight) ? savedHeight : ownHeight;
    const Box wanted = {static_cast<int32_t>(x), static_cast<int32_t>(y),
                        static_cast<int32_t>(x) + static_cast<int64_t>(ownWidth),
                        static_cast<int32_t>(y) + height};
    for (size_t i = 0; i < count; i++) {
        const Box& area = workAreas[i];
        if (wanted.left >= area.left && wanted.top >= area.top && wanted.right <= area.right &&
            wanted.bottom <= area.bottom) {
            place = wanted;
            return true;
        }
    }
    return false;
}
