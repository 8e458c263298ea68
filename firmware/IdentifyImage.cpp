#include "firmware/IdentifyImage.h"

#include <cstring>

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
