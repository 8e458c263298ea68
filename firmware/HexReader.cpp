#include "firmware/HexReader.h"

#include <cstdint>
#include <cstring>

namespace {

// Both builds read in binary and stop at the old end-of-file mark alike, so
// that the console tool's verdict predicts the plug-in's.
const int kEndOfFileMark = 0x1A;

inline int NextChar(FILE* file) {
    int ch = std::getc(file);
    return ch == kEndOfFileMark ? EOF : ch;
}

inline int DigitValue(uint8_t ch) {
    if (ch >= 'a')
        return ch - 87;
    if (ch >= 'A')
        return ch - 55;
    return ch - 48;
}

} // namespace

const char* HexReadMessage(HexReadResult result) {
    switch (result) {
    case HexReadResult::Done:
        return "";
    case HexReadResult::CannotOpen:
        return "Unable to open file!";
    case HexReadResult::Damaged:
        return "Damaged F/W file!";
    case HexReadResult::AddressOverflow:
        return "Damaged F/W file! (Address Overflow)";
    }
    return "Damaged F/W file!";
}

uint8_t CharToByte(uint8_t high, uint8_t low) {
    return static_cast<uint8_t>((DigitValue(high) * 16) | DigitValue(low));
}

uint8_t ReadBlock(FILE* file, uint8_t* block, int32_t& TotalReadSize) {
    int32_t consumed = 0;
    int ch;
    do {
        ch = NextChar(file);
        if (ch == EOF) {
            // Only the end record says the file is whole: a download cut
            // short must not leave 0xFF where the rest of the image belongs.
            TotalReadSize = -1;
            return 0;
        }
        ++consumed;
    } while (ch != ':');

    uint8_t record[kRecordBufferSize];
    int32_t count = 0;
    for (;;) {
        int high = NextChar(file);
        if (high == EOF || high < '0')
            break;
        int low = NextChar(file);
        if (low == EOF || low < '0')
            break;
        // More pairs than the record buffer holds: no sound record is that
        // long, so refuse it instead of storing past the buffer.
        if (count == kRecordBufferSize) {
            TotalReadSize = -1;
            return 0;
        }
        record[count++] = CharToByte(static_cast<uint8_t>(high), static_cast<uint8_t>(low));
        consumed += 2;
    }

    if (count == 0 || record[0] + 5 != count) {
        TotalReadSize = -1;
        return 0;
    }
    uint8_t sum = 0;
    for (int32_t i = 0; i < count - 1; ++i)
        sum = static_cast<uint8_t>(sum - record[i]);
    if (sum != record[count - 1]) {
        TotalReadSize = -1;
        return 0;
    }
    // count == record[0] + 5, so record[3] was read (the analyzer loses that).
    if (record[3] == 0x01) // NOLINT(clang-analyzer-core.UndefinedBinaryOperatorResult)
        return 0;

    block[0] = record[1];
    block[1] = record[2];
    block[2] = record[0];
    std::memcpy(block + 3, record + 4, record[0]);
    // Saturates: past 2 GiB of text the count would wrap and read as damage.
    TotalReadSize = consumed > INT32_MAX - TotalReadSize ? INT32_MAX : TotalReadSize + consumed;
    return 1;
}

HexReadResult ReadHexStream(FILE* file, uint8_t* image, HexProgress progress, void* user) {
    std::memset(image, 0xFF, kImageBufferSize);
    int32_t TotalReadSize = 0;
    int32_t totalReadByte = 0;
    uint8_t block[kBlockSize];
    while (ReadBlock(file, block, TotalReadSize)) {
        const int32_t address = block[0] * 256 + block[1];
        const int32_t count = block[2];
        for (int32_t i = 0; i < count; ++i) {
            if (address + i >= kLoadLimit)
                return HexReadResult::AddressOverflow;
            image[address + i] = block[3 + i];
        }
        // Repeated records can bring far more data bytes than an image
        // holds; the count stops where the bar is full, so the percentage
        // never passes 100 nor overflows.
        totalReadByte = count > kImageSize - totalReadByte ? kImageSize : totalReadByte + count;
        if (progress)
            progress(user, totalReadByte * 100 / 65535);
    }
    return TotalReadSize < 0 ? HexReadResult::Damaged : HexReadResult::Done;
}

HexReadResult ReadHexFile(const char* path, uint8_t* image, HexProgress progress, void* user) {
    FILE* file = std::fopen(path, "rb");
    if (!file)
        return HexReadResult::CannotOpen;
    HexReadResult result = ReadHexStream(file, image, progress, user);
    std::fclose(file);
    return result;
}
