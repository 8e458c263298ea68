#include "firmware/HexReader.h"

#include <cstring>
#include <new>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#if !defined(__BYTE_ORDER__) || __BYTE_ORDER__ != __ORDER_LITTLE_ENDIAN__
#error "FindStop takes the first of eight characters from the low byte of a word"
#endif

namespace {

// Both builds read in binary and stop at the old end-of-file mark alike, so
// that the console tool's verdict predicts the plug-in's.
const uint8_t kEndOfFileMark = 0x1A;

// Every character's digit value: from "a" up its code minus 87, else from
// "A" up minus 55, else minus 48, in 8 bits. Only the low bits of a value
// reach the byte, so the wrapped values below "0" convert as the rule says.
struct DigitTable {
    uint8_t value[256];
    constexpr DigitTable() : value() {
        for (int ch = 0; ch < 256; ++ch)
            value[ch] = static_cast<uint8_t>(ch >= 'a' ? ch - 87 : ch >= 'A' ? ch - 55 : ch - 48);
    }
};
constexpr DigitTable kDigits;

inline uint8_t PairToByte(const uint8_t* pair) {
    return static_cast<uint8_t>((kDigits.value[pair[0]] << 4) | kDigits.value[pair[1]]);
}

// The first character below "0" in [p, limit), or limit; eight at a time,
// with the borrow trick (no false find below the first true one).
const uint8_t* FindStop(const uint8_t* p, const uint8_t* limit) {
    const uint64_t ones = 0x0101010101010101ull;
    const uint64_t highs = 0x8080808080808080ull;
    for (; limit - p >= 8; p += 8) {
        uint64_t word;
        std::memcpy(&word, p, 8);
        const uint64_t below = (word - ones * '0') & ~word & highs;
        if (below)
            return p + (__builtin_ctzll(below) >> 3);
    }
    while (p < limit && *p >= '0')
        ++p;
    return p;
}

// The colon is most often a line end away.
const uint8_t* FindColon(const uint8_t* p, const uint8_t* end) {
    for (const uint8_t* near = end - p > 4 ? p + 4 : end; p < near; ++p)
        if (*p == ':')
            return p;
    if (p == end)
        return nullptr;
    return static_cast<const uint8_t*>(std::memchr(p, ':', static_cast<size_t>(end - p)));
}

// The digits from p up to the first character below "0" (or limit) into
// bytes at record: returns where they stop. Converts whole blocks of 16
// characters, so record takes 8 bytes more than the pairs before the stop,
// and kRecordWindow characters from p must be there to read.
const uint8_t* ConvertDigits(const uint8_t* p, const uint8_t* limit, uint8_t* record) {
#if defined(__SSE2__)
    if (limit - p == kRecordWindow) {
        const __m128i belowZero = _mm_set1_epi8('0' - 1);
        const __m128i upperA = _mm_set1_epi8('A');
        const __m128i lowerA = _mm_set1_epi8('a');
        const __m128i lowByte = _mm_set1_epi16(0x00FF);
        for (const uint8_t* block = p; block < limit; block += 16, record += 8) {
            const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(block));
            // The digit rule in 8 bits: minus 48, 7 more from "A", 32 more from "a".
            const __m128i fromA = _mm_cmpeq_epi8(_mm_max_epu8(v, upperA), v);
            const __m128i froma = _mm_cmpeq_epi8(_mm_max_epu8(v, lowerA), v);
            const __m128i value = _mm_sub_epi8(_mm_sub_epi8(_mm_sub_epi8(v, _mm_set1_epi8('0')),
                                                            _mm_and_si128(fromA, _mm_set1_epi8(7))),
                                               _mm_and_si128(froma, _mm_set1_epi8(32)));
            // High digit in the low byte of each 16-bit lane.
            const __m128i high = _mm_slli_epi16(_mm_and_si128(value, lowByte), 4);
            const __m128i bytes =
                _mm_and_si128(_mm_or_si128(high, _mm_srli_epi16(value, 8)), lowByte);
            _mm_storel_epi64(reinterpret_cast<__m128i*>(record), _mm_packus_epi16(bytes, bytes));
            const int stops = _mm_movemask_epi8(_mm_cmpeq_epi8(_mm_min_epu8(v, belowZero), v));
            if (stops)
                return block + __builtin_ctz(static_cast<unsigned>(stops));
        }
        return limit;
    }
#endif
    const uint8_t* stop = FindStop(p, limit);
    for (; stop - p >= 2; p += 2)
        *record++ = PairToByte(p);
    return stop;
}

// Keeps [at, end) and appends what the file gives: 1 when the text grew.
int Refill(HexText& text) {
    if (!text.file)
        return 0;
    const size_t kept = static_cast<size_t>(text.end - text.at);
    std::memmove(text.buffer, text.at, kept);
    uint8_t* fresh = text.buffer + kept;
    const size_t wanted = text.capacity - kept;
    const size_t got = std::fread(fresh, 1, wanted, text.file);
    text.at = text.buffer;
    text.end = fresh + got;
    if (got < wanted) // the end of the file, or a read error: no more either way
        text.file = nullptr;
    if (const void* mark = got ? std::memchr(fresh, kEndOfFileMark, got) : nullptr) {
        text.end = static_cast<const uint8_t*>(mark);
        text.file = nullptr;
    }
    return text.end > fresh;
}

// Past the next colon; `skipped` counts what was passed, the colon
// included. 0 when the file ends first.
int SkipToColon(HexText& text, size_t& skipped) {
    for (;;) {
        if (const uint8_t* colon = FindColon(text.at, text.end)) {
            skipped += static_cast<size_t>(colon + 1 - text.at);
            text.at = colon + 1;
            return 1;
        }
        skipped += static_cast<size_t>(text.end - text.at);
        text.at = text.end;
        if (!Refill(text))
            return 0;
    }
}

// The record's length byte and check sum agree with the count pairs read.
int SoundRecord(const uint8_t* record, int32_t count) {
    // ConvertDigits wrote record[0] to record[count - 1]; the analyzer does not follow it.
    // NOLINTNEXTLINE(clang-analyzer-core.UndefinedBinaryOperatorResult)
    if (count == 0 || record[0] + 5 != count)
        return 0;
    uint8_t sum = 0; // of every byte, the check sum included: 0 when sound
    for (int32_t i = 0; i < count; ++i)
        // NOLINTNEXTLINE(clang-analyzer-core.UndefinedBinaryOperatorResult)
        sum = static_cast<uint8_t>(sum + record[i]);
    return sum == 0;
}

// One record's bytes into record (kRecordBufferSize + 8 bytes): 1 for a
// data record, 0 as ReadBlock.
int ReadRecord(HexText& text, uint8_t* record, int32_t& TotalReadSize) {
    size_t skipped = 0; // before the colon, the colon included
    // Only the end record says the file is whole: a download cut short must
    // not leave 0xFF where the rest of the image belongs.
    if (!SkipToColon(text, skipped)) {
        TotalReadSize = -1;
        return 0;
    }
    // Everything that decides this record in view, unless the file ends first.
    if (text.end - text.at < kRecordWindow)
        Refill(text);
    const uint8_t* digits = text.at;
    const uint8_t* limit = text.end - digits < kRecordWindow ? text.end : digits + kRecordWindow;
    const uint8_t* stop = ConvertDigits(digits, limit, record);
    // The character that ends the digits is taken with them; a digit alone
    // before it is dropped.
    text.at = stop < text.end ? stop + 1 : stop;
    const int32_t count = static_cast<int32_t>((stop - digits) / 2);
    // More pairs than the record buffer holds: no sound record is that long.
    if (count > kRecordBufferSize || !SoundRecord(record, count)) {
        TotalReadSize = -1;
        return 0;
    }
    // count == record[0] + 5, so record[3] was read (the analyzer loses that).
    if (record[3] == 0x01) // NOLINT(clang-analyzer-core.UndefinedBinaryOperatorResult)
        return 0;
    // Saturates: past 2 GiB of text the count would wrap and read as damage.
    const int64_t total = static_cast<int64_t>(TotalReadSize) + static_cast<int64_t>(skipped) +
                          2 * static_cast<int64_t>(count);
    TotalReadSize = total > INT32_MAX ? INT32_MAX : static_cast<int32_t>(total);
    return 1;
}

HexReadResult ReadRecords(HexText& text, uint8_t* image, HexProgress progress, void* user) {
    std::memset(image, 0xFF, kImageBufferSize);
    int32_t TotalReadSize = 0;
    int32_t totalReadByte = 0;
    uint8_t record[kRecordBufferSize + 8];
    while (ReadRecord(text, record, TotalReadSize)) {
        const int32_t address = record[1] * 256 + record[2];
        const int32_t count = record[0];
        const int32_t room = address < kLoadLimit ? kLoadLimit - address : 0;
        if (count > room) {
            // The bytes below the limit are stored before the refusal.
            std::memcpy(image + address, record + 4, static_cast<size_t>(room));
            return HexReadResult::AddressOverflow;
        }
        if (count == 16) // the common record, in one move
            std::memcpy(image + address, record + 4, 16);
        else
            std::memcpy(image + address, record + 4, static_cast<size_t>(count));
        // Repeated records can bring far more data bytes than an image
        // holds; the count stops where the bar is full, so the percentage
        // never passes 100 nor overflows.
        totalReadByte = count > kImageSize - totalReadByte ? kImageSize : totalReadByte + count;
        if (progress)
            progress(user, totalReadByte * 100 / 65535);
    }
    return TotalReadSize < 0 ? HexReadResult::Damaged : HexReadResult::Done;
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
    const uint8_t pair[2] = {high, low};
    return PairToByte(pair);
}

void OpenHexText(HexText& text, const uint8_t* data, size_t size) {
    text.at = data;
    text.end = data + size;
    if (const uint8_t* mark =
            size ? static_cast<const uint8_t*>(std::memchr(data, kEndOfFileMark, size)) : nullptr)
        text.end = mark;
    text.file = nullptr;
    text.buffer = nullptr;
    text.capacity = 0;
}

uint8_t ReadBlock(HexText& text, uint8_t* block, int32_t& TotalReadSize) {
    uint8_t record[kRecordBufferSize + 8];
    if (!ReadRecord(text, record, TotalReadSize))
        return 0;
    block[0] = record[1];
    block[1] = record[2];
    block[2] = record[0];
    std::memcpy(block + 3, record + 4, record[0]);
    return 1;
}

HexReadResult ReadHexText(const uint8_t* data, size_t size, uint8_t* image, HexProgress progress,
                          void* user) {
    HexText text;
    OpenHexText(text, data, size);
    return ReadRecords(text, image, progress, user);
}

HexReadResult ReadHexStream(FILE* file, uint8_t* image, HexProgress progress, void* user,
                            size_t chunk) {
    // Without memory for a chunk the file is still read, in small steps.
    uint8_t fallback[2 * kRecordWindow];
    if (chunk < sizeof fallback)
        chunk = sizeof fallback;
    uint8_t* owned = new (std::nothrow) uint8_t[chunk];
    HexText text;
    text.buffer = owned ? owned : fallback;
    text.capacity = owned ? chunk : sizeof fallback;
    text.at = text.end = text.buffer;
    text.file = file;
    const HexReadResult result = ReadRecords(text, image, progress, user);
    delete[] owned;
    return result;
}

HexReadResult ReadHexFile(const char* path, uint8_t* image, HexProgress progress, void* user) {
    FILE* file = std::fopen(path, "rb");
    if (!file)
        return HexReadResult::CannotOpen;
    // The text comes in one read of its whole size (and one more that finds
    // the end) straight into our buffer: the stream needs none of its own.
    std::setvbuf(file, nullptr, _IONBF, 0);
    size_t chunk = kHexChunk;
    if (std::fseek(file, 0, SEEK_END) == 0) {
        const long size = std::ftell(file);
        if (size >= 0 && static_cast<unsigned long>(size) < kHexChunk)
            chunk = static_cast<size_t>(size) + 1;
        std::fseek(file, 0, SEEK_SET);
    }
    const HexReadResult result = ReadHexStream(file, image, progress, user, chunk);
    std::fclose(file);
    return result;
}
