// What corvane flash ends with: the result word, the exit status, the
// message and the facts the report shows. One table of outcomes decides
// them; the text and the JSON report only read what it leaves.
#pragma once

#include "cli/CorvaneCli.h"
#include "cli/CorvaneOptions.h"
#include "aspi/BusType.h"
#include "download/DownloadProcedure.h"

#include <cstdint>
#include <string>

namespace corvane {

// How far one flash command came.
struct FlashRun {
    const FlashOptions& options;
    uint8_t adapter, target;
    // Null: no drive at the device path; nothing was started.
    const download::DownloadProcedure* procedure;
    bool noAdapter;    // the layer shows no host adapter
    bool noTerminal;   // consent was to be asked, and there was no terminal
    bool transferred;  // Start let the transfer run, and Finish judged it
    bool askedAgain;   // a failed transfer, then the drive was asked who it is
    aspi::BusType bus; // of the drive, as the layer tells it
};

// How long --recover asks again a drive that does not answer yet.
constexpr uint32_t kRecoverWaitMs = 60000;

struct FlashReport {
    const char* result = "refused";
    const char* mode = nullptr; // null: no mode was decided
    bool transferSent = false;
    bool haveBefore = false, haveAfter = false;
    // A failed transfer goes straight to the restart advice: the drive is
    // not asked again.
    bool askedAfter = false;
    Identity before, after;
    std::string message;
    bool haveSense = false;
    uint8_t key = 0, asc = 0, ascq = 0;
    uint8_t raw[aspi::SENSE_LEN] = {};
    int status = kExitRefused;
    // The image's revision is older than the drive's: 1, 0, or -1 where the
    // order is unknown.
    int downgrade = -1;
    bool recovered = false; // --recover brought a drive in another identity back
    const char* bus = "unknown";
};

// Many USB bridges drop vendor commands: said where a drive is behind one.
extern const char kUsbBridgeWarning[];

FlashReport Conclude(const FlashRun& run);

} // namespace corvane
