#include "host/ComPort.h"

ComPort::ComPort() : handle(nullptr), index(0) {}

ComPort::~ComPort() {
    if (handle)
        Close();
}

const char* ComPort::Name(uint32_t portIndex) {
    static const char* const names[4] = {"COM1", "COM2", "COM3", "COM4"};
    return names[(portIndex & 0xFF) % 4];
}

int ComPort::Open(uint32_t portIndex) {
    if (handle)
        Close();
    index = static_cast<uint8_t>((portIndex & 0xFF) % 4);
    HANDLE port = CreateFileA(Name(index), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (port == INVALID_HANDLE_VALUE)
        return 0;
    handle = port;
    return 1;
}

int ComPort::IsOpen() const {
    return handle ? 1 : 0;
}

int ComPort::Close() {
    if (!handle || !CloseHandle(handle))
        return 0;
    handle = nullptr;
    return 1;
}
