#include "host/PluginFile.h"

#include <cctype>
#include <cstring>

bool IsPluginFileName(const char* name) {
    const char* const extension = ".dll";
    const size_t length = std::strlen(name), tail = std::strlen(extension);
    if (length <= tail)
        return false;
    for (size_t i = 0; i < tail; i++)
        if (std::tolower(static_cast<unsigned char>(name[length - tail + i])) != extension[i])
            return false;
    return true;
}
