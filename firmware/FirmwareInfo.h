// Identity of a firmware image or of a drive: what the download page shows
// in its status rows and what decides whether and how an image is sent.
#pragma once

#include <cstdint>

// Download protocols; the image carries a marker of one, the drive accepts
// the vendor probe of one.
enum FwProtocol : uint8_t {
    FwProtocolNone = 0,
    FwProtocolType20 = 1,
    FwProtocolType21 = 2,
    FwProtocolType22 = 3,
};

struct FirmwareInfo {
    char version[8];     // 4 characters and a terminator used
    char modelName[40];  // 24 characters and a terminator used
    FwProtocol protocol; // one byte
    uint16_t checkSum;   // sum of the 65536 image bytes, modulo 65536
};

static_assert(sizeof(FwProtocol) == 1, "the protocol is one byte");
