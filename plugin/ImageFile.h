// The page's image reader: ReadHexFile's reading, but only of a regular file
// whose name fits whole; a device, a pipe or a folder is refused unopened or
// unread, as a file that cannot be opened.
#pragma once

#include "firmware/HexReader.h"

HexReadResult ReadImageFile(const char* path, uint8_t* image, HexProgress progress, void* user);
