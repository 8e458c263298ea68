// The exit statuses of both console tools. A number may mean one thing to
// corvane and another to corvane-image; each meaning has its own name.
#pragma once

namespace corvane {

enum ExitStatus : int {
    // Both: done. corvane: flashed and verified, a dry run passed, drives
    // listed; corvane-image: read with a protocol found, or written.
    kExitOk = 0,
    kExitRefused = 1,    // corvane: refused or cancelled before any transfer
    kExitFileFailed = 1, // corvane-image: cannot open, damaged, or cannot write
    kExitUsage = 2,      // both: bad usage, nothing done
    // corvane: the transfer was sent and failed, reached no drive, or is not
    // verified (the drive may be modified).
    kExitTransferFailed = 3,
    kExitNoProtocol = 3, // corvane-image: read, but no drive takes the image
    kExitNoDrive = 4,    // corvane: no drive, or no access to it
};

} // namespace corvane
