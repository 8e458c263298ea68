// The reader and identification as they stood before they were made fast,
// kept unchanged as the oracle of the differential test and the fuzz
// targets: one character at a time through the stream, four counters and a
// branch per byte. Never shipped, never tuned.
#include "ReferenceReader.h"

#include <cstdint>
#include <cstring>

namespace reference {

namespace {

// Both builds read in binary and stop at the old end-of-file mark alike, so
// that the console tool's verdict predicts the plug-in's.
const int kEndOfFileMark = 0x1A;

// The mark is put back, so that every later read meets it again: it ends the
// file even where it ends a record's digits, as a text stream would.
inline int NextChar(FILE* file) {
    int ch = std::getc(file);
    if (ch != kEndOfFileMark)
        return ch;
    std::ungetc(ch, file);
    return EOF;
}

inline int DigitValue(uint8_t ch) {
    if (ch >= 'a')
        return ch - 87;
    if (ch >= 'A')
        return ch - 55;
    return ch - 48;
}

} // namespace

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
    HexReadResult result = reference::ReadHexStream(file, image, progress, user);
    std::fclose(file);
    return result;
}

namespace {

const uint8_t kMarker1[13] = {0x02, 0x01, 0x22, 0x75, 0x9A, 0x02, 0x90,
                              0x20, 0x20, 0x74, 0x00, 0xF0, 0x00};
const uint8_t kMarker2[13] = {'_', '_', 'E', 'L', 'I', 'T', 'E', 'D', 'R', 'A', 'M', '_', '_'};
const uint8_t kMarker3[12] = {'_', '_', 'Q', 'V', 'T', 'Y', 'P', 'E', '2', '2', '_', '_'};
const uint8_t kTemplate[5] = {0x05, 0x80, 0x00, 0x21, 0x1F};

// count bytes from `from`, cut at the end of the buffer, then a terminator.
void CopyText(const uint8_t* image, int32_t size, int32_t from, int32_t count, char* text) {
    int32_t n = 0;
    for (; n < count && from + n < size; ++n)
        text[n] = static_cast<char>(image[from + n]);
    text[n] = '\0';
}

// No retry: a byte that breaks a match is not tried as a first byte again.
inline int32_t Step(int32_t counter, const uint8_t* pattern, uint8_t b) {
    return b == pattern[counter] ? counter + 1 : 0;
}

} // namespace

void IdentifyImage(const uint8_t* image, int32_t size, FirmwareInfo& info) {
    std::memset(&info, 0, sizeof info);
    std::strcpy(info.modelName, "Unkown");
    int32_t c1 = 0, c2 = 0, c3 = 0, ct = 0;
    uint16_t sum = 0;
    const int32_t end = size < 65536 ? size : 65536;
    for (int32_t i = 0; i < end; ++i) {
        const uint8_t b = image[i];
        c1 = Step(c1, kMarker1, b);
        c2 = Step(c2, kMarker2, b);
        c3 = Step(c3, kMarker3, b);
        ct = Step(ct, kTemplate, b);
        if (c1 == 13) {
            info.protocol = FwProtocolType20;
            c1 = 0;
        }
        if (c2 == 13) {
            info.protocol = FwProtocolType21;
            c2 = 0;
        }
        if (c3 == 12) {
            info.protocol = FwProtocolType22;
            c3 = 0;
        }
        if (ct == 5) {
            CopyText(image, size, i + 4, 24, info.modelName);
            CopyText(image, size, i + 28, 4, info.version);
            ct = 0;
        }
        sum = static_cast<uint16_t>(sum + b);
    }
    info.checkSum = sum;
}

} // namespace reference
