// Any bytes as a firmware file: the reader never writes past the image or
// its record buffer, leaves the bytes from 0xFF00 up at 0xFF, and ends in one
// of its outcomes; identification of the raw bytes taken as a buffer of
// their own size reads nothing past it.
#include "firmware/HexReader.h"
#include "firmware/IdentifyImage.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::vector<uint8_t> text(data, data + size);
    FILE* file = fmemopen(size ? text.data() : nullptr, size, "rb");
    if (!file)
        return 0;
    // Exactly sized on the heap, so that a write past it shows; made once,
    // because every read fills it anew.
    static uint8_t* const image = new uint8_t[kImageBufferSize];
    const HexReadResult result = ReadHexStream(file, image, nullptr, nullptr);
    std::fclose(file);
    if (result != HexReadResult::Done && result != HexReadResult::Damaged &&
        result != HexReadResult::AddressOverflow)
        std::abort();
    for (int32_t a = kLoadLimit; a < kImageBufferSize; ++a)
        if (image[a] != 0xFF)
            std::abort();

    // The raw bytes as an image buffer of their own size: identification of a
    // whole 64 KiB image per run would slow the search a hundredfold.
    FirmwareInfo info;
    IdentifyImage(text.data(), static_cast<int32_t>(text.size()), info);
    if (info.protocol > FwProtocolType22 || !std::memchr(info.modelName, 0, 25) ||
        !std::memchr(info.version, 0, 5))
        std::abort();
    return 0;
}
