#include "cli/FlashVerdict.h"

#include "firmware/DownloadRules.h"

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

using namespace download;

namespace corvane {
namespace {

enum class Outcome {
    NoDeviceAtPath,
    ImageUnread,
    NoAdapter,
    NoAnswer,
    NoIdentity,
    NotCdDrive,
    Cancelled,
    Mismatch,
    OtherModel,
    Downgrade,
    DryRun,
    NoConsent,
    NoTerminal,
    NotSent,
    Unreached,
    Gone,
    NoTransferAnswer,
    ImageRefused,
    Silent,
    OtherIdentity,
    NoEvidence,
    Flashed,
    Count
};

std::string Address(const FlashRun& run) {
    return AddressString(run.adapter, run.target);
}

std::string ImageText(const FlashRun& run) {
    return IdentityText(SplitIdentity(run.procedure->fwInfo));
}

std::string DriveText(const FlashRun& run) {
    return IdentityText(SplitIdentity(run.procedure->driveInfo));
}

const char kRetry[] = "; power-cycle the drive or the machine and try again";
const char kCheck[] = ": power-cycle the drive or the machine, then check it with corvane scan";

typedef std::string (*Say)(const FlashRun&);

// Every way a flash command ends. Result null: "no drive" or "no access",
// as NoDriveResult finds it.
constexpr struct {
    Outcome outcome;
    const char* result;
    int status;
    Say say;
} kOutcomes[] = {
    {Outcome::NoDeviceAtPath, nullptr, kExitNoDrive,
     [](const FlashRun& r) {
         return "no CD/DVD drive at " + std::string(r.options.device) + ": " + NoAdapterReason();
     }},
    {Outcome::ImageUnread, "refused", kExitRefused,
     [](const FlashRun& r) {
         return std::string(r.options.image) + ": " + HexReadMessage(r.procedure->readResult);
     }},
    {Outcome::NoAdapter, nullptr, kExitNoDrive,
     [](const FlashRun&) { return "no drive: " + NoAdapterReason(); }},
    {Outcome::NoAnswer, nullptr, kExitNoDrive,
     [](const FlashRun& r) { return "no drive answers at " + Address(r); }},
    {Outcome::NoIdentity, "refused", kExitRefused,
     [](const FlashRun& r) { return NoIdentityMessage(r.adapter, r.target); }},
    {Outcome::NotCdDrive, "refused", kExitRefused,
     [](const FlashRun& r) {
         return Address(r) + " is not a CD/DVD drive (device type " +
                std::to_string(r.procedure->deviceType & 0x1Fu) + "); nothing but INQUIRY was sent";
     }},
    {Outcome::Cancelled, "cancelled", kExitRefused,
     [](const FlashRun&) {
         return std::string("cancelled before the transfer: nothing more was sent to the drive");
     }},
    {Outcome::Mismatch, "refused", kExitRefused,
     [](const FlashRun& r) {
         std::string said = std::string("Mismatch protocol between F/W and drive! (image ") +
                            ProtocolName(r.procedure->fwInfo.protocol) + ", drive " +
                            ProtocolName(r.procedure->before.protocol) + ")";
         if (r.bus == aspi::BusType::Usb && r.procedure->before.protocol == FwProtocolNone)
             said += "; the drive is behind a USB bridge, which likely dropped the vendor "
                     "download command: connect the drive by ATA or SATA to flash it";
         return said;
     }},
    {Outcome::OtherModel, "refused", kExitRefused,
     [](const FlashRun& r) {
         const Identity image = SplitIdentity(r.procedure->fwInfo);
         const Identity drive = SplitIdentity(r.procedure->before);
         return "the image is for " + image.vendor + " " + image.product + ", the drive is " +
                drive.vendor + " " + drive.product +
                " (--force-model flashes it anyway; --recover a drive that a cut flash left in "
                "its boot loader)";
     }},
    {Outcome::Downgrade, "refused", kExitRefused,
     [](const FlashRun& r) {
         return "the image's revision " + SplitIdentity(r.procedure->fwInfo).revision +
                " is older than the drive's " + SplitIdentity(r.procedure->before).revision +
                " (--allow-downgrade flashes it anyway)";
     }},
    {Outcome::DryRun, "ok", kExitOk,
     [](const FlashRun&) {
         return std::string("dry run: the drive was asked who it is and which download it takes; "
                            "no tray command and no image were sent");
     }},
    {Outcome::NoConsent, "refused", kExitRefused,
     [](const FlashRun&) { return std::string("not flashed: no consent"); }},
    {Outcome::NoTerminal, "refused", kExitRefused,
     [](const FlashRun&) {
         return std::string("no terminal to ask for consent (--yes flashes without asking)");
     }},
    {Outcome::NotSent, "refused", kExitRefused,
     [](const FlashRun&) { return std::string("the transfer could not be sent"); }},
    {Outcome::Unreached, "failed", kExitTransferFailed,
     [](const FlashRun& r) {
         return "the transfer reached no drive at " + Address(r) +
                " (no device, or its selection timed out): no image was delivered" + kRetry;
     }},
    {Outcome::Gone, "failed", kExitTransferFailed,
     [](const FlashRun&) {
         return std::string("the drive is gone: it went away during the transfer, which may have "
                            "reached it; reconnect or power-cycle the drive, then check it with "
                            "corvane scan");
     }},
    {Outcome::NoTransferAnswer, "failed", kExitTransferFailed,
     [](const FlashRun&) {
         return std::string("the drive did not answer the transfer in time") + kRetry;
     }},
    {Outcome::ImageRefused, "failed", kExitTransferFailed,
     [](const FlashRun&) { return std::string("the drive refused the image") + kRetry; }},
    {Outcome::Silent, "unverified", kExitTransferFailed,
     [](const FlashRun&) {
         return std::string("the drive does not answer after the transfer") + kCheck;
     }},
    {Outcome::OtherIdentity, "unverified", kExitTransferFailed,
     [](const FlashRun& r) {
         return "the drive answers as " + DriveText(r) + ", not as the image's " + ImageText(r) +
                kCheck;
     }},
    {Outcome::NoEvidence, "unverified", kExitTransferFailed,
     [](const FlashRun& r) {
         return "the drive did not answer the transfer and answered as the image's " +
                ImageText(r) + " before it too: nothing shows that it took the image" + kRetry;
     }},
    {Outcome::Flashed, "ok", kExitOk,
     [](const FlashRun& r) { return "flashed: the drive answers as " + DriveText(r); }},
};

constexpr bool InOrder() {
    int row = 0;
    for (const auto& entry : kOutcomes)
        if (static_cast<int>(entry.outcome) != row++)
            return false;
    return row == static_cast<int>(Outcome::Count);
}
static_assert(InOrder(), "one row for every outcome, in Outcome's order");

// Where the procedure stopped before any transfer.
Outcome StopOutcome(const FlashRun& run) {
    static const Outcome kStops[] = {
        Outcome::NotSent, // Ready: a job that was never run
        Outcome::ImageUnread, Outcome::NoAdapter, Outcome::NoAnswer,  Outcome::NoIdentity,
        Outcome::NotCdDrive,  Outcome::Cancelled, Outcome::Mismatch,  Outcome::OtherModel,
        Outcome::Downgrade,   Outcome::DryRun,    Outcome::NoConsent,
    };
    static_assert(sizeof kStops / sizeof kStops[0] ==
                      static_cast<size_t>(DownloadStop::NoConsent) + 1,
                  "an outcome for every stop");
    const DownloadStop stop = run.procedure->stop;
    if (run.noTerminal && (stop == DownloadStop::NoConsent || stop == DownloadStop::Cancelled))
        return Outcome::NoTerminal;
    // An adapter number past the last one selects no drive either.
    if (stop == DownloadStop::NoDriveSelected && !run.noAdapter)
        return Outcome::NoAnswer;
    return kStops[static_cast<int>(stop)];
}

// Only evidence makes "ok": the drive took the command with good status, or
// it now answers with the image's identity where it had another before.
Outcome TransferVerdict(const DownloadProcedure& procedure) {
    const TransferOutcome sent = procedure.job.outcome;
    if (sent == TransferOutcome::NotSent)
        return Outcome::NotSent;
    if (sent == TransferOutcome::Unreached)
        return Outcome::Unreached;
    if (procedure.job.result.load() == 0)
        return sent == TransferOutcome::Gone       ? Outcome::Gone
               : sent == TransferOutcome::NoAnswer ? Outcome::NoTransferAnswer
                                                   : Outcome::ImageRefused;
    if (!procedure.newIdentity)
        return Outcome::Silent;
    if (!SameIdentity(procedure.fwInfo, procedure.driveInfo))
        return Outcome::OtherIdentity;
    return procedure.Evidenced() ? Outcome::Flashed : Outcome::NoEvidence;
}

// The drive's answers to the transfer and after it.
void TransferFacts(const DownloadProcedure& procedure, FlashReport& report) {
    const TransferJob& job = procedure.job;
    report.transferSent =
        job.outcome != TransferOutcome::NotSent && job.outcome != TransferOutcome::Unreached;
    report.askedAfter = job.result.load() != 0;
    if (procedure.newIdentity) {
        report.haveAfter = true;
        report.after = SplitIdentity(procedure.driveInfo);
    }
    // An error with no sense data behind it (a host adapter's) has nothing
    // to show: the bytes would read as "No Sense".
    const uint8_t code = job.sense[0] & 0x7Fu;
    if (job.outcome == TransferOutcome::Refused && code >= 0x70 && code <= 0x73) {
        report.haveSense = true;
        report.key = job.senseKey;
        report.asc = job.asc;
        report.ascq = job.ascq;
        std::memcpy(report.raw, job.sense, sizeof report.raw);
    }
}

#ifndef _WIN32
// Shown text escapes every byte outside printable ASCII (a UTF-8 name, a
// newline): $'...' writes such a word in printable ASCII that the shell
// reads back as the same bytes.
std::string EscapedWord(const std::string& text) {
    std::string quoted = "$'";
    for (char c : text) {
        const unsigned char byte = static_cast<unsigned char>(c);
        char escaped[8];
        std::snprintf(escaped, sizeof escaped, "\\x%02X", byte);
        if (c == '\'' || c == '\\')
            quoted += std::string("\\") + c;
        else
            quoted += byte >= 0x20 && byte < 0x7F ? std::string(1, c) : std::string(escaped);
    }
    return quoted + "'";
}
#endif

// One word of a command line as the user's shell reads it back.
std::string ShellWord(const std::string& text) {
    const char* plain = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789_./:=@%+,-";
    if (!text.empty() && text.find_first_not_of(plain) == std::string::npos)
        return text;
#ifdef _WIN32
    return "\"" + text + "\""; // a file name holds no double quote there
#else
    if (!std::all_of(text.begin(), text.end(), [](char c) { return c >= 0x20 && c < 0x7F; }))
        return EscapedWord(text);
    std::string quoted = "'";
    for (char c : text)
        quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
#endif
}

// The image as a name that works from any folder.
std::string FullPath(const char* path) {
#ifdef _WIN32
    char full[_MAX_PATH];
    return _fullpath(full, path, sizeof full) ? full : path;
#else
    char full[PATH_MAX];
    return realpath(path, full) ? full : path;
#endif
}

// The drive answers neither as before nor as the image: a transfer cut
// part-way has left it with half a firmware, often its boot loader.
bool LooksIncomplete(const DownloadProcedure& procedure) {
    return procedure.newIdentity && !SameIdentity(procedure.before, procedure.driveInfo) &&
           !SameIdentity(procedure.fwInfo, procedure.driveInfo);
}

std::string IncompleteAdvice(const FlashRun& run) {
    std::string again = "corvane flash " + ShellWord(FullPath(run.options.image)) + " --device " +
                        ShellWord(run.options.device) + " --recover";
    if (run.options.bank)
        again += " --bank " + ShellWord(FullPath(run.options.bank));
    return "the drive now answers as " + DriveText(run) + ", where it answered as " +
           IdentityText(SplitIdentity(run.procedure->before)) +
           " before: its firmware is likely incomplete. Keep the drive powered, and flash the "
           "same image again: " +
           again;
}

// Where the revisions of one model have an order: 1 for an older image.
int Downgrade(const DownloadProcedure& procedure) {
    if (procedure.revision == RevisionOrder::Unknown)
        return -1;
    return procedure.revision == RevisionOrder::Older ? 1 : 0;
}

} // namespace

const char kUsbBridgeWarning[] =
    "the drive is behind a USB bridge: many do not pass the vendor download command";

FlashReport Conclude(const FlashRun& run) {
    FlashReport report;
    const DownloadProcedure* procedure = run.procedure;
    Outcome outcome = Outcome::NoDeviceAtPath;
    if (procedure) {
        if (procedure->wholeIdentity) {
            report.haveBefore = true;
            report.before = SplitIdentity(procedure->before);
        }
        if (procedure->downloadMode != DownloadMismatch)
            report.mode = procedure->downloadMode == DownloadVerify ? "verify" : "reboot";
        if (run.transferred)
            TransferFacts(*procedure, report);
        outcome = run.transferred ? TransferVerdict(*procedure) : StopOutcome(run);
    }
    const auto& row = kOutcomes[static_cast<int>(outcome)];
    report.result = row.result ? row.result : NoDriveResult();
    report.status = row.status;
    report.message = row.say(run);
    report.bus = aspi::BusName(run.bus);
    if (procedure) {
        report.downgrade = Downgrade(*procedure);
        report.askedAfter = report.askedAfter || run.askedAgain;
        report.recovered = outcome == Outcome::Flashed && run.options.recover &&
                           !SameModel(procedure->fwInfo, procedure->before);
        if (run.transferred && outcome != Outcome::Flashed && LooksIncomplete(*procedure))
            report.message = IncompleteAdvice(run);
    }
    return report;
}

} // namespace corvane
