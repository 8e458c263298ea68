// corvane's command lines: what scan and flash take, as the commands use it.
#pragma once

#include <cstdint>
#include <string>

namespace corvane {

// The text fields point into the object's own copies and are null when the
// option is not given; the object therefore stays where it was parsed.
struct FlashOptions {
    const char* image = nullptr;
    const char* device = nullptr;
    const char* log = nullptr;
    const char* bank = nullptr;
    bool dryRun = false, yes = false, forceModel = false, json = false;
    // A drive that answers another identity (its boot loader) may take the
    // image; an image older than the drive's firmware may be sent.
    bool recover = false, allowDowngrade = false;
    // --device A:T; false: a device path.
    bool address = false;
    uint8_t adapter = 0, target = 0;

    FlashOptions() = default;
    FlashOptions(const FlashOptions&) = delete;
    FlashOptions& operator=(const FlashOptions&) = delete;

    std::string texts[4];
};

struct ScanOptions {
    bool json = false;
    const char* bank = nullptr; // null: not given
    std::string bankText;
};

// -1 to go on, else the exit status (help printed, or a usage line on
// standard error).
int ParseFlashOptions(int argc, char** argv, FlashOptions& options);
int ParseScanOptions(int argc, char** argv, ScanOptions& options);

} // namespace corvane
