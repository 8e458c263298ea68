#include "firmware/DownloadRules.h"

#include "firmware/HexReader.h"

#include <cmath>
#include <cstdio>
#include <cstring>

const char* const kInquiryCommand = "12 0 0 0 d'46 /R46";
const char* const kPreventCommand = "1e 0 0 0 2";
const char* const kOpenTrayCommand = "1B 0 0 0 2 /t30";
const char* const kUnitReadyCommand = "00";

const ProtocolProbe kProtocolProbes[kProbeCount] = {
    {"CB 0 22 0 0 0 0 FF FE 1", FwProtocolType22},
    {"CB 20 0 0 0 0 0 FF FE 1", FwProtocolType20},
    {"CB 21 0 0 0 0 0 FF FE 1", FwProtocolType21},
};

const char* ProtocolName(uint8_t protocol) {
    static const char* const names[4] = {"Unkown", "QV Type 2.0", "QV Type 2.1", "QV Type 2.2"};
    return protocol < 4 ? names[protocol] : names[0];
}

DownloadMode DecideDownloadMode(uint8_t imageProtocol, uint8_t driveProtocol) {
    static const DownloadMode table[4][4] = {
        {DownloadMismatch, DownloadMismatch, DownloadMismatch, DownloadMismatch},
        {DownloadMismatch, DownloadReboot, DownloadMismatch, DownloadReboot},
        {DownloadMismatch, DownloadMismatch, DownloadReboot, DownloadMismatch},
        {DownloadMismatch, DownloadReboot, DownloadMismatch, DownloadVerify},
    };
    if (imageProtocol > 3 || driveProtocol > 3)
        return DownloadMismatch;
    return table[imageProtocol][driveProtocol];
}

namespace {

// A field filled by hand may lack its terminator: never read past it.
template <int N> int FieldLength(const char (&field)[N]) {
    int n = 0;
    while (n < N && field[n])
        ++n;
    return n;
}

// Characters 0 to count-1 of two fields, a NUL byte read as a blank.
template <int N, int M> int SameText(const char (&a)[N], const char (&b)[M], int count) {
    for (int i = 0; i < count && i < N && i < M; ++i)
        if ((a[i] ? a[i] : ' ') != (b[i] ? b[i] : ' '))
            return 0;
    return 1;
}

} // namespace

int32_t SameModel(const FirmwareInfo& image, const FirmwareInfo& drive) {
    return SameText(image.modelName, drive.modelName, 24);
}

int32_t SameIdentity(const FirmwareInfo& image, const FirmwareInfo& drive) {
    return SameModel(image, drive) && SameText(image.version, drive.version, 4);
}

namespace {

// A revision's characters without trailing blanks or NUL bytes.
template <int N> int RevisionLength(const char (&field)[N]) {
    int n = FieldLength(field) < 4 ? FieldLength(field) : 4;
    while (n > 0 && (field[n - 1] == ' ' || field[n - 1] == '\0'))
        --n;
    return n;
}

int ShapeClass(char c) {
    if (c >= '0' && c <= '9')
        return 0;
    if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'))
        return 1;
    return 2;
}

} // namespace

RevisionOrder CompareRevisions(const FirmwareInfo& image, const FirmwareInfo& drive) {
    const int n = RevisionLength(image.version);
    if (n == 0 || n != RevisionLength(drive.version))
        return RevisionOrder::Unknown;
    for (int i = 0; i < n; ++i) {
        const char a = image.version[i], b = drive.version[i];
        if (ShapeClass(a) != ShapeClass(b) || (ShapeClass(a) == 2 && a != b))
            return RevisionOrder::Unknown;
    }
    for (int i = 0; i < n; ++i) {
        if (image.version[i] != drive.version[i])
            return image.version[i] < drive.version[i] ? RevisionOrder::Older
                                                       : RevisionOrder::Newer;
    }
    return RevisionOrder::Same;
}

void ModelRowText(const FirmwareInfo& info, StringEx& text) {
    text.Assign(info.modelName, FieldLength(info.modelName));
    text += " ";
    StringEx version(static_cast<int>(sizeof info.version) + 1);
    version.Assign(info.version, FieldLength(info.version));
    text += version;
    text += "  ";
}

void CheckSumRowText(uint16_t checkSum, StringEx& text) {
    char digits[8];
    std::snprintf(digits, sizeof digits, "%04X", static_cast<unsigned>(checkSum));
    text = digits;
}

int32_t TransferProgressPosition(uint32_t elapsedMs) {
    const uint64_t pct = static_cast<uint64_t>(elapsedMs) * 100 / kTransferFullMs;
    // log10(0) is minus infinity, which no integer holds.
    if (pct == 0)
        return 0;
    return static_cast<int32_t>(std::log10(static_cast<double>(pct)) * 50.0 + 1.0);
}

uint16_t HalfSum(const uint8_t* image) {
    uint16_t sum = 0;
    for (int32_t i = 0; i < 32768; ++i)
        sum = static_cast<uint16_t>(sum + image[i]);
    return sum;
}

uint8_t TransferModeByte(DownloadMode mode) {
    return mode == DownloadVerify ? 0x84 : 0x04;
}

int32_t BuildTransferCommand(uint8_t driveProtocol, DownloadMode mode, uint16_t halfSum,
                             uint16_t checkSum, const uint8_t* image, TransferCommand& command) {
    std::memset(&command, 0, sizeof command);
    uint32_t* a = command.arguments;
    switch (driveProtocol) {
    case FwProtocolType20:
    case FwProtocolType21:
        command.text = driveProtocol == FwProtocolType20
                           ? "CB 20 0 w(%x) w(%x) FF FE 04 %x %x /t%d /w65536"
                           : "CB 21 0 w(%x) w(%x) FF FE 04 %x %x /t%d /w65536";
        a[0] = halfSum;
        a[1] = checkSum;
        a[2] = image[0];
        a[3] = image[1];
        a[4] = kTransferTimeoutSeconds;
        command.argumentCount = 5;
        return 1;
    case FwProtocolType22:
        command.text = "CB 0 22 w(%x) w(%x) FF FE %x %x %x /t%d /w65536";
        a[0] = halfSum;
        a[1] = checkSum;
        a[2] = TransferModeByte(mode);
        a[3] = image[0];
        a[4] = image[1];
        a[5] = kTransferTimeoutSeconds;
        command.argumentCount = 6;
        return 1;
    default:
        return 0;
    }
}

int32_t FillTransferData(const uint8_t* image, uint8_t* buffer, uint32_t bufferSize) {
    if (bufferSize < kTransferDataLength)
        return 0;
    std::memcpy(buffer, image + 2, kImageSize - 2);
    buffer[kImageSize - 2] = 0xFF;
    buffer[kImageSize - 1] = 0xFF;
    return 1;
}
