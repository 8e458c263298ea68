// Whole 64 KiB images: the input is the image from address 0, the rest 0xFF
// as the reader leaves it. Identification agrees with the reference on the
// page's buffer (65536 bytes examined, 65545 held), and on the input alone
// as a buffer of its own size, which it never reads past.
#include "../support/ReferenceReader.h"
#include "firmware/HexReader.h"
#include "firmware/IdentifyImage.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

void Agree(const uint8_t* image, int32_t size) {
    FirmwareInfo info, want;
    std::memset(&info, 0x5A, sizeof info);
    std::memset(&want, 0xA5, sizeof want);
    IdentifyImage(image, size, info);
    reference::IdentifyImage(image, size, want);
    if (std::memcmp(&info, &want, sizeof info) != 0)
        std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static uint8_t* const image = new uint8_t[kImageBufferSize];
    const size_t taken = size < kImageSize ? size : kImageSize;
    std::memset(image, 0xFF, kImageBufferSize);
    std::memcpy(image, data, taken);
    Agree(image, kImageSize);
    Agree(image, kImageBufferSize);
    std::vector<uint8_t> alone(data, data + taken);
    Agree(alone.data(), static_cast<int32_t>(taken));
    return 0;
}
