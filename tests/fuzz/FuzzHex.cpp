// Any bytes as a firmware file: the reader never writes past the image or
// its record buffer, leaves the bytes from 0xFF00 up at 0xFF, ends in one of
// its outcomes, and agrees with the reference reader on the verdict, every
// progress percentage and every image byte, from memory and from a stream
// read in the smallest chunks. Identification of the raw bytes taken as a
// buffer of their own size reads nothing past it and agrees too.
#include "../support/ReferenceReader.h"
#include "firmware/HexReader.h"
#include "firmware/IdentifyImage.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

struct Outcome {
    HexReadResult result;
    std::vector<int32_t> percents;
};

void Record(void* user, int32_t percent) {
    static_cast<Outcome*>(user)->percents.push_back(percent);
}

// Exactly sized on the heap, so that a write past one shows; made once,
// because every read fills them anew.
uint8_t* const want = new uint8_t[kImageBufferSize];
uint8_t* const got = new uint8_t[kImageBufferSize];

void Agree(const Outcome& a, const Outcome& b) {
    if (a.result != b.result || a.percents != b.percents ||
        std::memcmp(want, got, kImageBufferSize) != 0)
        std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::vector<uint8_t> text(data, data + size);
    Outcome reference{}, fromText{}, fromStream{};
    FILE* file = fmemopen(size ? text.data() : nullptr, size, "rb");
    if (!file)
        return 0;
    reference.result = reference::ReadHexStream(file, want, Record, &reference);
    std::fclose(file);
    if (reference.result != HexReadResult::Done && reference.result != HexReadResult::Damaged &&
        reference.result != HexReadResult::AddressOverflow)
        std::abort();

    fromText.result = ReadHexText(text.data(), size, got, Record, &fromText);
    for (int32_t a = kLoadLimit; a < kImageBufferSize; ++a)
        if (got[a] != 0xFF)
            std::abort();
    Agree(reference, fromText);
    file = fmemopen(size ? text.data() : nullptr, size, "rb");
    if (!file)
        return 0;
    fromStream.result = ReadHexStream(file, got, Record, &fromStream, 0);
    std::fclose(file);
    Agree(reference, fromStream);

    // The raw bytes as an image buffer of their own size: whole 64 KiB
    // images have a target of their own.
    FirmwareInfo info, oldInfo;
    IdentifyImage(text.data(), static_cast<int32_t>(text.size()), info);
    reference::IdentifyImage(text.data(), static_cast<int32_t>(text.size()), oldInfo);
    if (std::memcmp(&info, &oldInfo, sizeof info) != 0 || info.protocol > FwProtocolType22 ||
        !std::memchr(info.modelName, 0, 25) || !std::memchr(info.version, 0, 5))
        std::abort();
    return 0;
}
