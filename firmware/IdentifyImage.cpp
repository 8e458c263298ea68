#include "firmware/IdentifyImage.h"

#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace {

constexpr uint8_t kMarker1[13] = {0x02, 0x01, 0x22, 0x75, 0x9A, 0x02, 0x90,
                                  0x20, 0x20, 0x74, 0x00, 0xF0, 0x00};
constexpr uint8_t kMarker2[13] = {'_', '_', 'E', 'L', 'I', 'T', 'E', 'D', 'R', 'A', 'M', '_', '_'};
constexpr uint8_t kMarker3[12] = {'_', '_', 'Q', 'V', 'T', 'Y', 'P', 'E', '2', '2', '_', '_'};
constexpr uint8_t kTemplate[5] = {0x05, 0x80, 0x00, 0x21, 0x1F};

// The bytes that can start a match: 0x02, "_" and 0x05.
static_assert(kMarker2[0] == kMarker3[0], "two markers start alike");
struct FirstByteTable {
    bool starts[256];
    constexpr FirstByteTable() : starts() {
        starts[kMarker1[0]] = true;
        starts[kMarker2[0]] = true;
        starts[kTemplate[0]] = true;
    }
};
constexpr FirstByteTable kFirst;

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

// The four match counters and what their matches found.
struct Matcher {
    int32_t c1, c2, c3, ct;

    bool Idle() const { return (c1 | c2 | c3 | ct) == 0; }
    void Take(const uint8_t* image, int32_t size, int32_t i, FirmwareInfo& info) {
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
    }
};

} // namespace

void IdentifyImage(const uint8_t* image, int32_t size, FirmwareInfo& info) {
    std::memset(&info, 0, sizeof info);
    std::strcpy(info.modelName, "Unkown");
    const int32_t end = size < 65536 ? size : 65536;
    Matcher matcher = {0, 0, 0, 0};
    uint32_t sum = 0; // 65536 bytes of at most 255 fit; the check sum is the low 16 bits
    int32_t block = 0;
#if defined(__SSE2__)
    // Sixteen bytes at a time: their sum, and a mask of those that can start a
    // match. While no match is under way, the counters skip to the next of
    // those; a byte that starts none would leave every counter at 0.
    const __m128i zero = _mm_setzero_si128();
    const __m128i first1 = _mm_set1_epi8(static_cast<char>(kMarker1[0]));
    const __m128i first2 = _mm_set1_epi8(static_cast<char>(kMarker2[0]));
    const __m128i first3 = _mm_set1_epi8(static_cast<char>(kTemplate[0]));
    __m128i sums = zero;
    for (; end - block >= 16; block += 16) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(image + block));
        sums = _mm_add_epi64(sums, _mm_sad_epu8(v, zero));
        const unsigned starts = static_cast<unsigned>(_mm_movemask_epi8(
            _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(v, first1), _mm_cmpeq_epi8(v, first2)),
                         _mm_cmpeq_epi8(v, first3))));
        for (int32_t at = 0; at < 16; ++at) {
            if (matcher.Idle()) {
                const unsigned ahead = starts >> at << at;
                if (!ahead)
                    break;
                at = __builtin_ctz(ahead);
            }
            matcher.Take(image, size, block + at, info);
        }
    }
    sum = static_cast<uint32_t>(_mm_cvtsi128_si32(sums)) +
          static_cast<uint32_t>(_mm_cvtsi128_si32(_mm_unpackhi_epi64(sums, sums)));
#endif
    // The rest (all of it without SSE2): the table spares the idle counters
    // their four comparisons.
    for (; block < end; ++block) {
        sum += image[block];
        if (!matcher.Idle() || kFirst.starts[image[block]])
            matcher.Take(image, size, block, info);
    }
    info.checkSum = static_cast<uint16_t>(sum);
}
