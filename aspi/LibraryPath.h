// Full paths of a library to load, so that the loader never searches the
// current directory (where a program run as administrator may have been
// started among anybody's files).
#pragma once

#include <cstdint>

namespace aspi {

// `fileName` in the folder of the file `path` (separated by '\\' or '/')
// into `out`. 1 when the path has a folder and the result fits, else 0.
int BesideFile(const char* path, const char* fileName, char* out, uint32_t size);

// `fileName` in `folder` (with or without a closing separator) into `out`.
// 1 when the folder is not empty and the result fits, else 0.
int InFolder(const char* folder, const char* fileName, char* out, uint32_t size);

} // namespace aspi
