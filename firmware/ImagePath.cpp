#include "firmware/ImagePath.h"

#include <cctype>
#include <cstring>

namespace {

const char* const kReserved[] = {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"};

bool SameLetters(const char* name, size_t length, const char* reserved) {
    if (std::strlen(reserved) != length)
        return false;
    for (size_t i = 0; i < length; i++)
        if (std::toupper(static_cast<unsigned char>(name[i])) != reserved[i])
            return false;
    return true;
}

// COM and LPT with one digit; the system also takes the superscripts 1-3.
bool IsPortName(const char* name, size_t length) {
    if (length != 4 || !(SameLetters(name, 3, "COM") || SameLetters(name, 3, "LPT")))
        return false;
    const unsigned char digit = static_cast<unsigned char>(name[3]);
    return std::isdigit(digit) || digit == 0xB9 || digit == 0xB2 || digit == 0xB3;
}

} // namespace

bool IsDeviceName(const char* path) {
    if (path[0] != '\0' && path[1] != '\0' && path[2] != '\0' && path[3] != '\0' &&
        (path[0] == '\\' || path[0] == '/') && (path[1] == '\\' || path[1] == '/') &&
        (path[2] == '.' || path[2] == '?') && (path[3] == '\\' || path[3] == '/'))
        return true;
    const char* last = path;
    for (const char* at = path; *at; at++)
        if (*at == '\\' || *at == '/')
            last = at + 1;
    // "C:COM1" names the same device as "COM1".
    if (last == path && std::isalpha(static_cast<unsigned char>(last[0])) && last[1] == ':')
        last += 2;
    size_t length = std::strcspn(last, ".:");
    while (length > 0 && last[length - 1] == ' ')
        length--;
    for (const char* reserved : kReserved)
        if (SameLetters(last, length, reserved))
            return true;
    return IsPortName(last, length);
}

bool ImagePathAcceptable(const char* path) {
    return path && path[0] != '\0' && std::strlen(path) < kMaxImagePath && !IsDeviceName(path);
}
