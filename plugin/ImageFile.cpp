#include "plugin/ImageFile.h"

#include "firmware/ImagePath.h"

#include <windows.h>

#include <fcntl.h>
#include <io.h>

#include <cstdio>

namespace {

// The handle when it is a regular file on a disk, else closed and null.
HANDLE OpenRegularFile(const char* path, LARGE_INTEGER& size) {
    HANDLE handle = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (handle == INVALID_HANDLE_VALUE)
        return nullptr;
    BY_HANDLE_FILE_INFORMATION info;
    if (GetFileType(handle) == FILE_TYPE_DISK && GetFileInformationByHandle(handle, &info) &&
        !(info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) && GetFileSizeEx(handle, &size))
        return handle;
    CloseHandle(handle);
    return nullptr;
}

} // namespace

HexReadResult ReadImageFile(const char* path, uint8_t* image, HexProgress progress, void* user) {
    // A device is never opened: even the open may wait on one.
    if (!ImagePathAcceptable(path))
        return HexReadResult::CannotOpen;
    LARGE_INTEGER size;
    HANDLE handle = OpenRegularFile(path, size);
    if (!handle)
        return HexReadResult::CannotOpen;
    const int descriptor =
        _open_osfhandle(reinterpret_cast<intptr_t>(handle), _O_RDONLY | _O_BINARY);
    if (descriptor == -1) {
        CloseHandle(handle);
        return HexReadResult::CannotOpen;
    }
    FILE* file = _fdopen(descriptor, "rb");
    if (!file) {
        _close(descriptor);
        return HexReadResult::CannotOpen;
    }
    // As ReadHexFile: the whole text in one read straight into the reader's buffer.
    std::setvbuf(file, nullptr, _IONBF, 0);
    const size_t chunk = size.QuadPart < static_cast<LONGLONG>(kHexChunk)
                             ? static_cast<size_t>(size.QuadPart) + 1
                             : kHexChunk;
    const HexReadResult result = ReadHexStream(file, image, progress, user, chunk);
    std::fclose(file);
    return result;
}
