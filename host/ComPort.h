// One of the serial ports COM1 to COM4, opened exclusively and closed again;
// the full mode lists the ports that open as pseudo-devices.
#pragma once

#include <windows.h>

#include <cstdint>

class ComPort {
  public:
    // Only COM1 and COM2 are probed: the two ports a PC has built in, while
    // COM3 and COM4 share their interrupts and may belong to a modem.
    static constexpr uint32_t kProbedPorts = 2;

    HANDLE handle; // 0 while closed
    uint8_t index; // 0 to 3 for COM1 to COM4

    ComPort();
    ~ComPort();
    ComPort(const ComPort&) = delete;
    ComPort& operator=(const ComPort&) = delete;

    // The index is taken modulo 4. 1 when the port is open.
    int Open(uint32_t portIndex);
    int IsOpen() const;
    // 1 when the handle was closed; 0 keeps it for the next try.
    int Close();

    static const char* Name(uint32_t portIndex);
};
