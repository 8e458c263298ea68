// Any bytes as a firmware file: the reader never writes past the image or
// its record buffer, leaves the bytes from 0xFF00 up at 0xFF, and ends in one
// of its outcomes; identification of the image, and of the raw bytes taken
// as a buffer of their own size, reads nothing past either.
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
    // Exactly sized on the heap, so that a write past it shows.
    std::vector<uint8_t> image(kImageBufferSize, 0);
    const HexReadResult result = ReadHexStream(file, image.data(), nullptr, nullptr);
    std::fclose(file);
    if (result != HexReadResult::Done && result != HexReadResult::Damaged &&
        result != HexReadResult::AddressOverflow)
        std::abort();
    for (int32_t a = kLoadLimit; a < kImageBufferSize; ++a)
        if (image[a] != 0xFF)
            std::abort();

    FirmwareInfo info;
    IdentifyImage(image.data(), kImageBufferSize, info);
    if (info.protocol > FwProtocolType22 || !std::memchr(info.modelName, 0, 25) ||
        !std::memchr(info.version, 0, 5))
        std::abort();
    std::vector<uint8_t> raw(data, data + size);
    IdentifyImage(raw.data(), static_cast<int32_t>(raw.size()), info);
    return 0;
}
