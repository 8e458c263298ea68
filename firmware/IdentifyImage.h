// What an image is: the protocol marker it carries, the model and version of
// its INQUIRY template, and its 16-bit check sum. One pass, no allocation.
#pragma once

#include "firmware/FirmwareInfo.h"

#include <cstdint>

// Examines bytes 0 to 65535 of image, or fewer when size is smaller, and never
// reads at or past size: a template near the end gives only the text that
// lies inside the buffer.
void IdentifyImage(const uint8_t* image, int32_t size, FirmwareInfo& info);
