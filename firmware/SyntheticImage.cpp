#include "firmware/SyntheticImage.h"

#include "firmware/HexReader.h"

#include <cstring>

namespace {

const uint8_t kMarker1[13] = {0x02, 0x01, 0x22, 0x75, 0x9A, 0x02, 0x90,
                              0x20, 0x20, 0x74, 0x00, 0xF0, 0x00};

// A byte found in no pattern: whatever the payload before it, every match
// counter is 0 after it, so the marker or template that follows is found.
const uint8_t kSeparator = 0xA5;

void PutField(uint8_t* at, const char* text, int32_t width) {
    int32_t n = 0;
    for (; n < width && text[n]; ++n)
        at[n] = static_cast<uint8_t>(text[n]);
    for (; n < width; ++n)
        at[n] = ' ';
}

void CopyField(char* field, int32_t size, const char* text) {
    int32_t n = 0;
    for (; n < size - 1 && text[n]; ++n)
        field[n] = text[n];
    field[n] = '\0';
}

} // namespace

void DefaultSyntheticRecipe(SyntheticImageRecipe& recipe) {
    std::memset(&recipe, 0, sizeof recipe);
    recipe.protocol = FwProtocolType22;
    CopyField(recipe.vendor, sizeof recipe.vendor, "CORVANE");
    CopyField(recipe.product, sizeof recipe.product, "SIMDRIVE 52X");
    CopyField(recipe.revision, sizeof recipe.revision, "1.00");
    recipe.seed = 1;
    recipe.length = kLoadLimit;
    recipe.withTemplate = 1;
}

int32_t MakeSyntheticImage(const SyntheticImageRecipe& recipe, uint8_t* image) {
    if (recipe.length < 0 || recipe.length > kLoadLimit)
        return 0;
    std::memset(image, 0xFF, kImageSize);
    // xorshift32: the same seed gives the same payload on every machine.
    uint32_t x = recipe.seed ? recipe.seed : 0x9E3779B9u;
    for (int32_t i = 0; i < recipe.length; ++i) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        image[i] = static_cast<uint8_t>(x >> 24);
    }

    uint8_t marker[14];
    int32_t markerLength = 0;
    // The marker is bytes in the image, not a string: no terminator is copied.
    // NOLINTBEGIN(bugprone-not-null-terminated-result)
    switch (recipe.protocol) {
    case FwProtocolType20:
        std::memcpy(marker, kMarker1, sizeof kMarker1);
        markerLength = 13;
        break;
    case FwProtocolType21:
        std::memcpy(marker, "__ELITEDRAM__", 13);
        markerLength = 13;
        break;
    case FwProtocolType22:
        std::memcpy(marker, "__QVTYPE22__", 12);
        markerLength = 12;
        break;
    default:
        break;
    }
    // NOLINTEND(bugprone-not-null-terminated-result)
    if (markerLength && kSyntheticMarkerAddress + markerLength <= recipe.length) {
        image[kSyntheticMarkerAddress - 1] = kSeparator;
        std::memcpy(image + kSyntheticMarkerAddress, marker, static_cast<size_t>(markerLength));
    }

    if (recipe.withTemplate && kSyntheticTemplateAddress + 36 <= recipe.length) {
        uint8_t* t = image + kSyntheticTemplateAddress;
        t[-1] = kSeparator;
        const uint8_t head[8] = {0x05, 0x80, 0x00, 0x21, 0x1F, 0x00, 0x00, 0x00};
        std::memcpy(t, head, sizeof head);
        PutField(t + 8, recipe.vendor, 8);
        PutField(t + 16, recipe.product, 16);
        PutField(t + 32, recipe.revision, 4);
    }
    return 1;
}

int32_t WriteHexImage(FILE* file, const uint8_t* image, int32_t length) {
    static const char digits[] = "0123456789ABCDEF";
    char line[1 + 2 * (5 + 16) + 2];
    for (int32_t address = 0; address < length; address += 16) {
        const int32_t count = length - address < 16 ? length - address : 16;
        uint8_t bytes[5 + 16];
        bytes[0] = static_cast<uint8_t>(count);
        bytes[1] = static_cast<uint8_t>(address >> 8);
        bytes[2] = static_cast<uint8_t>(address);
        bytes[3] = 0x00;
        std::memcpy(bytes + 4, image + address, static_cast<size_t>(count));
        uint8_t sum = 0;
        for (int32_t i = 0; i < count + 4; ++i)
            sum = static_cast<uint8_t>(sum - bytes[i]);
        bytes[count + 4] = sum;
        int32_t n = 0;
        line[n++] = ':';
        for (int32_t i = 0; i < count + 5; ++i) {
            line[n++] = digits[bytes[i] >> 4];
            line[n++] = digits[bytes[i] & 15];
        }
        line[n++] = '\r';
        line[n++] = '\n';
        if (std::fwrite(line, 1, static_cast<size_t>(n), file) != static_cast<size_t>(n))
            return 0;
    }
    static const char endRecord[] = ":00000001FF\r\n";
    return std::fwrite(endRecord, 1, sizeof endRecord - 1, file) == sizeof endRecord - 1;
}

int32_t SaveSyntheticImage(const char* path, const SyntheticImageRecipe& recipe) {
    uint8_t* image = new uint8_t[kImageSize];
    FILE* file = nullptr;
    int32_t ok = MakeSyntheticImage(recipe, image);
    if (ok)
        file = std::fopen(path, "wb");
    if (!file) {
        delete[] image;
        return 0;
    }
    ok = WriteHexImage(file, image, recipe.length);
    delete[] image;
    if (std::fclose(file) != 0)
        ok = 0;
    if (!ok)
        std::remove(path);
    return ok;
}
