#include "toolkit/Registry.h"

#include <cstring>
#include <new>

namespace toolkit {
namespace {

void WriteText(HKEY key, const char* name, const char* text) {
    const size_t length = std::strlen(text);
    // The NT family stores a terminating zero that follows the counted bytes
    // as part of the value; a copy with a non-zero byte there keeps the value
    // to its characters.
    char* copy = new (std::nothrow) char[length + 1];
    const char* data = text;
    if (copy) {
        std::memcpy(copy, text, length);
        copy[length] = 1;
        data = copy;
    }
    RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(data),
                   static_cast<DWORD>(length));
    delete[] copy;
}

} // namespace

int SetRegistry(HKEY root, const char* subkey, const char* name, DWORD dwValue,
                const char* strValue) {
    HKEY key;
    DWORD disposition;
    if (RegCreateKeyExA(root, subkey, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr,
                        &key, &disposition) != ERROR_SUCCESS)
        return 0;
    if (strValue)
        WriteText(key, name, strValue);
    else
        RegSetValueExA(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&dwValue),
                       sizeof dwValue);
    RegCloseKey(key);
    return 1;
}

int GetRegistry(HKEY root, const char* subkey, const char* name, DWORD* dwValue, char* strValue) {
    HKEY key;
    if (RegOpenKeyExA(root, subkey, 0, KEY_ALL_ACCESS, &key) != ERROR_SUCCESS)
        return 0;
    BYTE data[kRegistryTextSize] = {};
    DWORD size = sizeof data;
    DWORD type = REG_NONE;
    LONG status = RegQueryValueExA(key, name, nullptr, &type, data, &size);
    RegCloseKey(key);
    if (status != ERROR_SUCCESS)
        return 0; // missing, or larger than the buffer

    if (type == REG_SZ && strValue) {
        // Stored with or without a terminator; a text that leaves no room for
        // one is longer than the destination holds and reads as absent.
        const void* end = std::memchr(data, 0, size);
        size_t length = end ? static_cast<size_t>(static_cast<const BYTE*>(end) - data) : size;
        if (length >= sizeof data)
            return 0;
        std::memcpy(strValue, data, length);
        strValue[length] = '\0';
        return 1;
    }
    if (type == REG_DWORD && dwValue) {
        std::memcpy(dwValue, data, sizeof *dwValue);
        return 1;
    }
    return 0;
}

} // namespace toolkit
