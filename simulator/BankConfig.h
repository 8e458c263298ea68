// What a simulated drive bank holds: host adapters with targets 0 to 7, each
// a CD/DVD drive, a disk or nothing, and how each drive behaves.
#pragma once

#include "aspi/DeviceAddress.h"

#include <array>
#include <bitset>
#include <cstdint>
#include <string>
#include <vector>

namespace simulator {

enum class DriveKind { None, CdDrive, Disk };

// Vendor download protocols, numbered as the plug-in numbers them.
enum : unsigned {
    PROTOCOL_20 = 1u << 1, // "CB 20" form
    PROTOCOL_21 = 1u << 2, // "CB 21" form
    PROTOCOL_22 = 1u << 3, // "CB 0 22" form
};

constexpr int TARGETS_PER_ADAPTER = aspi::kTargetsPerAdapter;
constexpr int MAX_ADAPTERS = 16;
// Bytes of the standard INQUIRY answer a device gives.
constexpr int INQUIRY_DATA_SIZE = 96;

struct DriveConfig {
    DriveKind kind = DriveKind::None;
    // INQUIRY identity, exactly as answered: NUL bytes are kept.
    std::array<uint8_t, 8> vendor{};
    std::array<uint8_t, 16> product{};
    std::array<uint8_t, 4> revision{};
    unsigned protocols = 0;
    uint32_t latencyMs = 1;
    // INQUIRY answers at most this many bytes, whatever was asked for.
    uint32_t inquiryLength = INQUIRY_DATA_SIZE;
    uint32_t flashMs = 0;      // extra time a firmware transfer takes
    int unitAttentions = 0;    // START STOP UNIT answers before the first success
    bool notReady = false;     // TEST UNIT READY answers NOT READY
    bool failTransfer = false; // the transfer ends with the sense below
    uint8_t failKey = 0, failAsc = 0, failAscq = 0;
    std::bitset<256> hang;     // opcodes that never complete
    bool hangTransfer = false; // the firmware transfer alone never completes
    // The firmware transfer finds the drive gone: its selection times out.
    bool vanishTransfer = false;
    // The drive takes the firmware transfer and restarts without ending it.
    bool restartTransfer = false;
    // Opcodes that never complete once the drive has taken a firmware.
    std::bitset<256> hangAfterFlash;
    // The firmware transfer stops part-way (a cut cable, a power loss): the
    // request ends in error and the drive is left in its boot loader.
    bool cutTransfer = false;
    bool inLoader = false; // the drive starts in its boot loader
    // The bus the system would name for it (aspi::BusType); 0: unknown.
    int bus = 0;
    // The identity the boot loader answers (the vendor stays the drive's).
    std::array<uint8_t, 16> loaderProduct{};
    std::array<uint8_t, 4> loaderRevision{};
};

struct BankConfig {
    std::vector<std::array<DriveConfig, TARGETS_PER_ADAPTER>> adapters;
};

// Parses the bank text format (see simulator/README.md). On failure answers 0
// and sets error to a message naming the line; config is then left empty.
int ParseBank(const std::string& text, BankConfig& config, std::string& error);

// Reads and parses a bank file; the message names the file as well.
int LoadBankFile(const std::string& path, BankConfig& config, std::string& error);

// The bank shown when none is named: drives of each protocol, one that takes
// no probe, and a disk.
BankConfig DefaultBank();

// Sets a text field from a string, padded with spaces.
template <size_t N> void SetField(std::array<uint8_t, N>& field, const std::string& text) {
    for (size_t i = 0; i < N; ++i)
        field[i] = i < text.size() ? static_cast<uint8_t>(text[i]) : ' ';
}

} // namespace simulator
