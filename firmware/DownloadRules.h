// The rules of a download that need no drive: protocol names, the mode a
// pair of protocols allows, the status row texts, the transfer bar position,
// the sums, the command texts of the probe and of the transfer, and whether
// two identities agree. What runs them on a channel is in download/.
#pragma once

#include "command/StringEx.h"
#include "firmware/FirmwareInfo.h"

#include <cstdint>

enum DownloadMode : int32_t {
    DownloadMismatch = -1,
    DownloadReboot = 0, // the computer restarts after the transfer
    DownloadVerify = 1, // the drive is asked for its new identity
};

// "Unkown", "QV Type 2.0", "QV Type 2.1", "QV Type 2.2"; a value above 3
// reads as "Unkown".
const char* ProtocolName(uint8_t protocol);

// The mode for an image of one protocol on a drive of another; any value
// outside 0-3 is a mismatch.
DownloadMode DecideDownloadMode(uint8_t imageProtocol, uint8_t driveProtocol);

// Row texts, at most kRowTextSize bytes with the terminator.
enum : int32_t { kRowTextSize = 128 };
// modelName, one blank, version, two blanks (rows 0, 3 and 7).
void ModelRowText(const FirmwareInfo& info, StringEx& text);
// The check sum as four upper-case hex digits (row 2).
void CheckSumRowText(uint16_t checkSum, StringEx& text);

// Timer of the transfer bar: period, and the position shown after elapsedMs
// (log10 of the percentage of 9000 ms, x 50 + 1): 35 at 500 ms, 101 at
// 9000 ms. Before the first percent it is 0.
enum : uint32_t { kTransferTimerMs = 500, kTransferFullMs = 9000 };
int32_t TransferProgressPosition(uint32_t elapsedMs);

// Sum of image bytes 0 to 32767, modulo 65536.
uint16_t HalfSum(const uint8_t* image);

// Commands of the download procedure.
extern const char* const kInquiryCommand;   // "12 0 0 0 d'46 /R46"
extern const char* const kPreventCommand;   // "1e 0 0 0 2"
extern const char* const kOpenTrayCommand;  // "1B 0 0 0 2 /t30"
extern const char* const kUnitReadyCommand; // "00"

// The three probes, in the order they are sent; a later success overrides
// an earlier one.
struct ProtocolProbe {
    const char* text;
    FwProtocol protocol;
};
enum : int32_t { kProbeCount = 3 };
extern const ProtocolProbe kProtocolProbes[kProbeCount];

// The one command that carries the image, by drive protocol.
enum : uint32_t { kTransferTimeoutSeconds = 9000, kTransferDataLength = 65536 };
struct TransferCommand {
    const char* text;
    uint32_t arguments[6]; // in the order of the placeholders
    int32_t argumentCount;
};
// 0x84 in verify mode, 0x04 otherwise.
uint8_t TransferModeByte(DownloadMode mode);
// 1 and the command for drive protocols 1-3; 0 and nothing for any other.
int32_t BuildTransferCommand(uint8_t driveProtocol, DownloadMode mode, uint16_t halfSum,
                             uint16_t checkSum, const uint8_t* image, TransferCommand& command);
// Whether a drive's identity is the one an image carries: vendor and product
// (24 characters), and for SameIdentity the revision (4) too. A NUL byte and
// a blank count alike, as a drive's answer shows NUL bytes as blanks.
int32_t SameModel(const FirmwareInfo& image, const FirmwareInfo& drive);
int32_t SameIdentity(const FirmwareInfo& image, const FirmwareInfo& drive);

// How an image's revision (4 characters) stands to a drive's. Two revisions
// have an order only where they have one shape: the same length, and at each
// place digits in both, letters in both, or the same other character ("1.00"
// and "1.10", "B1.2" and "B1.3"); then places compare left to right.
enum class RevisionOrder { Older, Same, Newer, Unknown };
RevisionOrder CompareRevisions(const FirmwareInfo& image, const FirmwareInfo& drive);

// The data phase: image bytes 2 to 65535 at buffer offsets 0 to 65533, the
// last two buffer bytes 0xFF. 0 and nothing written when the buffer is
// smaller than kTransferDataLength.
int32_t FillTransferData(const uint8_t* image, uint8_t* buffer, uint32_t bufferSize);
