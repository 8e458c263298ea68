#include "aspi/LibraryPath.h"

#include <cstdio>
#include <cstring>

namespace aspi {
namespace {

bool IsSeparator(char c) {
    return c == '\\' || c == '/';
}

int Join(const char* folder, size_t folderLength, const char* fileName, char* out, uint32_t size) {
    if (!folderLength || !fileName || !*fileName || !out || !size)
        return 0;
    const char* separator = IsSeparator(folder[folderLength - 1]) ? "" : "\\";
    int n = std::snprintf(out, size, "%.*s%s%s", static_cast<int>(folderLength), folder, separator,
                          fileName);
    if (n < 0 || static_cast<uint32_t>(n) >= size) {
        out[0] = 0;
        return 0;
    }
    return 1;
}

} // namespace

int BesideFile(const char* path, const char* fileName, char* out, uint32_t size) {
    size_t folder = 0;
    for (size_t i = 0; path && path[i]; ++i)
        if (IsSeparator(path[i]))
            folder = i + 1;
    return Join(path, folder, fileName, out, size);
}

int InFolder(const char* folder, const char* fileName, char* out, uint32_t size) {
    return Join(folder, folder ? std::strlen(folder) : 0, fileName, out, size);
}

} // namespace aspi
