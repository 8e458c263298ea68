// corvane flash: the plug-in's download procedure from the command line.
// The image is read and checked before any drive is touched; the drive is
// asked who it is and which download it takes; nothing goes to it before
// the user agrees (or --yes), and --dry-run stops right there.
#include "cli/Consent.h"
#include "cli/ConsoleView.h"
#include "cli/CorvaneCli.h"
#include "cli/CorvaneOptions.h"
#include "cli/Interrupts.h"

#include "aspi/AspiLayer.h"
#include "download/DownloadProcedure.h"
#include "download/SenseText.h"
#include "firmware/DownloadRules.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <thread>

#ifdef _WIN32
#include <io.h>
#define CORVANE_ISATTY _isatty
#define CORVANE_FILENO _fileno
#else
#include <unistd.h>
#define CORVANE_ISATTY isatty
#define CORVANE_FILENO fileno
#endif

using namespace download;

namespace corvane {
namespace {

// What the command ends with, for people and for scripts.
struct Report {
    const char* result = "refused";
    const char* mode = nullptr;
    bool transferSent = false;
    bool haveBefore = false, haveAfter = false;
    // A failed transfer goes straight to the restart advice: the drive is not asked again.
    bool askedAfter = false;
    Identity before, after;
    std::string message;
    bool haveSense = false;
    uint8_t key = 0, asc = 0, ascq = 0;
    uint8_t raw[aspi::SENSE_LEN] = {};
    int status = kExitRefused;
};

std::string Clock(long long ms) {
    char text[48];
    std::snprintf(text, sizeof text, "%02lld:%02lld", ms / 60000, ms / 1000 % 60);
    return text;
}

void PrintJson(const Report& report) {
    std::string out = "{\"result\":";
    AppendJsonString(out, report.result);
    out += ",\"mode\":";
    if (report.mode)
        AppendJsonString(out, report.mode);
    else
        out += "null";
    out += report.transferSent ? ",\"transferSent\":true" : ",\"transferSent\":false";
    out += ",\"before\":";
    if (report.haveBefore)
        AppendJsonIdentity(out, report.before);
    else
        out += "null";
    out += ",\"after\":";
    if (report.haveAfter)
        AppendJsonIdentity(out, report.after);
    else
        out += "null";
    out += ",\"message\":";
    AppendJsonString(out, report.message);
    out += ",\"sense\":";
    if (report.haveSense) {
        char text[160];
        DescribeSense(report.key, report.asc, report.ascq, text, sizeof text);
        char numbers[64];
        std::snprintf(numbers, sizeof numbers,
                      "{\"key\":%u,\"asc\":%u,\"ascq\":%u,\"text\":", report.key, report.asc,
                      report.ascq);
        out += numbers;
        AppendJsonString(out, text);
        out += '}';
    } else {
        out += "null";
    }
    std::printf("%s}\n", out.c_str());
}

void PrintText(const Report& report) {
    std::printf("Result: %s: %s\n", report.result, DisplayText(report.message).c_str());
    if (report.haveSense) {
        char text[160];
        DescribeSense(report.key, report.asc, report.ascq, text, sizeof text);
        std::printf("Sense:  key %X, ASC %02X, ASCQ %02X: %s; bytes", report.key, report.asc,
                    report.ascq, text);
        for (uint8_t byte : report.raw)
            std::printf(" %02X", byte);
        std::printf("\n");
    }
    if (std::strcmp(report.result, "ok") != 0) {
        if (report.transferSent)
            std::printf("Drive:  may have been modified: the image was sent; before: %s; after: "
                        "%s\n",
                        DisplayText(IdentityText(report.before)).c_str(),
                        report.haveAfter    ? DisplayText(IdentityText(report.after)).c_str()
                        : report.askedAfter ? "no answer"
                                            : "not asked");
        else
            std::printf("Drive:  not modified: no image was sent\n");
    }
}

// The report Conclude left, as the options ask for it.
void Print(const FlashOptions& options, const Report& report) {
    if (options.json)
        PrintJson(report);
    else
        PrintText(report);
}

void DrawBar(long long ms, long long expected) {
    int position = TransferProgressPosition(static_cast<uint32_t>(ms));
    position = position > 100 ? 100 : position < 0 ? 0 : position;
    char cells[31];
    for (int i = 0; i < 30; ++i)
        cells[i] = i < position * 30 / 100 ? '#' : '-';
    cells[30] = '\0';
    std::printf("\rTransfer [%s] %3d%%  %s of about %s  (do not turn off!)", cells, position,
                Clock(ms).c_str(), Clock(expected).c_str());
    std::fflush(stdout);
}

// Until the worker has stored its result: a bar on a terminal, by time as
// the page's, with elapsed and expected time; plain lines otherwise. An
// interrupt now would leave a drive half written: it is held, and said so.
void WatchTransfer(const FlashOptions& options, ConsoleView& view, TransferJob& job) {
    const bool bar = !options.json && CORVANE_ISATTY(CORVANE_FILENO(stdout));
    const long long expected =
        kTransferFullMs + (job.mode == DownloadReboot ? static_cast<long long>(kRebootWaitMs) : 0);
    const auto start = std::chrono::steady_clock::now();
    const auto elapsed = [&start] {
        return std::chrono::duration_cast<std::chrono::milliseconds>(
                   std::chrono::steady_clock::now() - start)
            .count();
    };
    if (!options.json && !bar)
        std::printf("Transfer: sending the image; do not turn off the drive or the machine\n");
    std::fflush(stdout);
    for (int held = 0;;) {
        const bool ended = job.result.load() != kTransferRunning;
        if (InterruptWatch::Noticed() > held) {
            held = InterruptWatch::Noticed();
            view.Log("interrupted during the transfer: held");
            std::fprintf(stderr,
                         "%scorvane: the transfer cannot be taken back; waiting for the "
                         "drive to finish\n",
                         bar ? "\n" : "");
        }
        if (ended)
            break;
        std::this_thread::sleep_for(std::chrono::milliseconds(bar ? 200 : 20));
        if (bar)
            DrawBar(elapsed(), expected);
    }
    if (bar)
        std::printf("\n");
    if (!options.json)
        std::printf("Transfer: ended after %s\n", Clock(elapsed()).c_str());
}

void Plan(const FlashOptions& options, const std::string& layer, uint8_t adapter, uint8_t target,
          const DownloadProcedure& procedure) {
    if (options.json)
        return;
    char sum[8];
    std::snprintf(sum, sizeof sum, "%04X", procedure.fwInfo.checkSum);
    std::printf("Drive:  %u:%u %s, %s%s%s\n", adapter, target,
                DisplayText(IdentityText(SplitIdentity(procedure.before))).c_str(),
                ProtocolName(procedure.before.protocol), layer.empty() ? "" : ", ", layer.c_str());
    std::printf("Image:  %s: %s, %s, check sum %s\n", options.image,
                DisplayText(IdentityText(SplitIdentity(procedure.fwInfo))).c_str(),
                ProtocolName(procedure.fwInfo.protocol), sum);
    std::printf(procedure.downloadMode == DownloadVerify
                    ? "Mode:   verify: the drive is asked for its new identity afterwards\n"
                    : "Mode:   reboot: the drive restarts itself; it is asked again after 8.5 s\n");
}

// Where the command stopped. With the facts the steps left in Flow, it is
// all that Conclude reads. GoOn: a step let the next one run.
enum class Stop {
    NoDeviceAtPath,
    ImageUnread,
    NoAdapter,
    NoAnswer,
    NoIdentity,
    NotCdDrive,
    Mismatch,
    OtherModel,
    DryRun,
    NoTerminal,
    NoConsent,
    Cancelled,
    Transferred,
    GoOn,
};

// Result and exit status of every stop but Transferred, in Stop's order;
// null: "no drive" or "no access", as NoDriveResult finds it.
const struct {
    const char* result;
    int status;
} kStops[] = {
    {nullptr, kExitNoDrive},   {"refused", kExitRefused}, {nullptr, kExitNoDrive},
    {nullptr, kExitNoDrive},   {"refused", kExitRefused}, {"refused", kExitRefused},
    {"refused", kExitRefused}, {"refused", kExitRefused}, {"ok", kExitOk},
    {"refused", kExitRefused}, {"refused", kExitRefused}, {"cancelled", kExitRefused},
};
static_assert(sizeof kStops / sizeof kStops[0] == static_cast<size_t>(Stop::Transferred),
              "a result for every stop before the transfer");

// One flash command: what it was given and what its steps found.
struct Flow {
    const FlashOptions& options;
    const std::string& layer;
    ConsoleView& view;
    uint8_t adapter, target;
    DeviceChannel* channel;
    DownloadProcedure* procedure;
};

std::string Address(const Flow& flow) {
    char text[16];
    std::snprintf(text, sizeof text, "%u:%u", flow.adapter, flow.target);
    return text;
}

// Up to the drive's answer to INQUIRY: only a CD/DVD drive that says who it
// is goes on, and it has heard nothing else yet.
Stop FindDrive(Flow& flow) {
    DownloadProcedure& procedure = *flow.procedure;
    if (!procedure.ReadImage(flow.options.image))
        return Stop::ImageUnread;
    if (procedure.Stopped())
        return Stop::Cancelled;
    if (flow.channel->GetAdapterCount() == 0)
        return Stop::NoAdapter;
    flow.channel->SetAdapter(flow.adapter);
    flow.channel->SetTarget(flow.target);
    if (!procedure.AskDrive())
        return !procedure.driveAnswered   ? Stop::NoAnswer
               : !procedure.wholeIdentity ? Stop::NoIdentity
                                          : Stop::NotCdDrive;
    return procedure.Stopped() ? Stop::Cancelled : Stop::GoOn;
}

// The probes, the mode, and the model guard.
Stop Examine(Flow& flow) {
    DownloadProcedure& procedure = *flow.procedure;
    procedure.ProbeProtocol();
    if (procedure.Stopped())
        return Stop::Cancelled;
    if (!procedure.Decide())
        return Stop::Mismatch;
    if (!SameModel(procedure.fwInfo, procedure.before) && !flow.options.forceModel)
        return Stop::OtherModel;
    return Stop::GoOn;
}

// What will happen, and the user's yes.
Stop AskConsent(Flow& flow) {
    Plan(flow.options, flow.layer, flow.adapter, flow.target, *flow.procedure);
    if (flow.options.dryRun)
        return Stop::DryRun;
    Consent consent = flow.options.yes ? Consent::Given : Consent::Withheld;
    if (!flow.options.yes && !InterruptWatch::Noticed()) {
        // Ctrl-C breaks off the read of the answer.
        const InterruptWatch::Listening listening;
        consent = AskOnTerminal("Flash? [y/N] ");
    }
    if (consent == Consent::NoTerminal)
        return Stop::NoTerminal;
    if (InterruptWatch::Noticed())
        return Stop::Cancelled;
    return consent == Consent::Given ? Stop::GoOn : Stop::NoConsent;
}

// The tray, then the one transfer on a worker while this thread watches,
// then the drive's new identity. Past the tray nothing cancels.
Stop Transfer(Flow& flow) {
    DownloadProcedure& procedure = *flow.procedure;
    procedure.PrepareTray();
    if (procedure.Stopped())
        return Stop::Cancelled;
    InterruptWatch::HoldOnClose();
    procedure.BeginTransfer();
    TransferJob& job = procedure.job;
    std::thread worker([&job] { RunTransfer(job); });
    WatchTransfer(flow.options, flow.view, job);
    worker.join();
    procedure.Finish();
    return Stop::Transferred;
}

std::string StopMessage(const Flow& flow, Stop stop) {
    const DownloadProcedure* procedure = flow.procedure; // null before the channel
    const std::string address = Address(flow);
    switch (stop) {
    case Stop::NoDeviceAtPath:
        return std::string("no CD/DVD drive at ") + flow.options.device + ": " + NoAdapterReason();
    case Stop::ImageUnread:
        return std::string(flow.options.image) + ": " + HexReadMessage(procedure->readResult);
    case Stop::NoAdapter:
        return "no drive: " + NoAdapterReason();
    case Stop::NoAnswer:
        return "no drive answers at " + address;
    case Stop::NoIdentity:
        return NoIdentityMessage(flow.adapter, flow.target);
    case Stop::NotCdDrive:
        return address + " is not a CD/DVD drive (device type " +
               std::to_string(procedure->deviceType & 0x1Fu) + "); nothing but INQUIRY was sent";
    case Stop::Mismatch:
        return std::string("Mismatch protocol between F/W and drive! (image ") +
               ProtocolName(procedure->fwInfo.protocol) + ", drive " +
               ProtocolName(procedure->before.protocol) + ")";
    case Stop::OtherModel: {
        const Identity image = SplitIdentity(procedure->fwInfo);
        const Identity drive = SplitIdentity(procedure->before);
        return "the image is for " + image.vendor + " " + image.product + ", the drive is " +
               drive.vendor + " " + drive.product + " (--force-model flashes it anyway)";
    }
    case Stop::DryRun:
        return "dry run: the drive was asked who it is and which download it takes; "
               "no tray command and no image were sent";
    case Stop::NoTerminal:
        return "no terminal to ask for consent (--yes flashes without asking)";
    case Stop::NoConsent:
        return "not flashed: no consent";
    case Stop::Cancelled:
        return "cancelled before the transfer: nothing more was sent to the drive";
    case Stop::Transferred:
    case Stop::GoOn:
        break;
    }
    return std::string();
}

// The drive's answers to the transfer and after it, as the report shows them.
void TransferFacts(const DownloadProcedure& procedure, Report& report) {
    const TransferJob& job = procedure.job;
    report.transferSent =
        job.outcome != TransferOutcome::NotSent && job.outcome != TransferOutcome::Unreached;
    report.askedAfter = job.result.load() != 0;
    if (procedure.newIdentity) {
        report.haveAfter = true;
        report.after = SplitIdentity(procedure.driveInfo);
    }
    if (job.outcome == TransferOutcome::Refused) {
        report.haveSense = true;
        report.key = job.senseKey;
        report.asc = job.asc;
        report.ascq = job.ascq;
        std::memcpy(report.raw, job.sense, sizeof report.raw);
    }
}

void Verdict(Report& report, const char* result, int status, const std::string& message) {
    report.result = result;
    report.status = status;
    report.message = message;
}

// Only evidence makes "ok": the drive took the command with good status, or
// it now answers with the image's identity where it had another before.
void ConcludeTransfer(const Flow& flow, Report& report) {
    const DownloadProcedure& procedure = *flow.procedure;
    const TransferOutcome outcome = procedure.job.outcome;
    TransferFacts(procedure, report);
    const char* const kRetry = "; power-cycle the drive or the machine and try again";
    const char* const kCheck = ": power-cycle the drive or the machine, then check it with "
                               "corvane scan";
    const std::string imageText = IdentityText(SplitIdentity(procedure.fwInfo));
    if (outcome == TransferOutcome::NotSent)
        Verdict(report, "refused", kExitRefused, "the transfer could not be sent");
    else if (outcome == TransferOutcome::Unreached)
        Verdict(report, "failed", kExitFailed,
                "the transfer reached no drive at " + Address(flow) +
                    " (no device, or its selection timed out): no image was delivered" + kRetry);
    else if (outcome == TransferOutcome::Gone && procedure.job.result.load() == 0)
        Verdict(report, "failed", kExitFailed,
                "the drive is gone: it went away during the transfer, which may have reached "
                "it; reconnect or power-cycle the drive, then check it with corvane scan");
    else if (procedure.job.result.load() == 0)
        Verdict(report, "failed", kExitFailed,
                std::string(outcome == TransferOutcome::NoAnswer
                                ? "the drive did not answer the transfer in time"
                                : "the drive refused the image") +
                    kRetry);
    else if (!procedure.newIdentity)
        Verdict(report, "unverified", kExitFailed,
                std::string("the drive does not answer after the transfer") + kCheck);
    else if (!SameIdentity(procedure.fwInfo, procedure.driveInfo))
        Verdict(report, "unverified", kExitFailed,
                "the drive answers as " + IdentityText(report.after) + ", not as the image's " +
                    imageText + kCheck);
    else if (!procedure.Evidenced())
        Verdict(report, "unverified", kExitFailed,
                "the drive did not answer the transfer and answered as the image's " + imageText +
                    " before it too: nothing shows that it took the image" + kRetry);
    else
        Verdict(report, "ok", kExitOk,
                "flashed: the drive answers as " + IdentityText(report.after));
}

// The one place that decides result, message and exit status; the text and
// the JSON report both read what it leaves.
void Conclude(const Flow& flow, Stop stop, Report& report) {
    const DownloadProcedure* procedure = flow.procedure;
    if (procedure && procedure->wholeIdentity) {
        report.haveBefore = true;
        report.before = SplitIdentity(procedure->before);
    }
    if (procedure && procedure->downloadMode != DownloadMismatch)
        report.mode = procedure->downloadMode == DownloadVerify ? "verify" : "reboot";
    if (stop == Stop::Transferred || stop == Stop::GoOn) { // GoOn: never the last step
        ConcludeTransfer(flow, report);
        return;
    }
    const auto& row = kStops[static_cast<int>(stop)];
    Verdict(report, row.result ? row.result : NoDriveResult(), row.status, StopMessage(flow, stop));
}

int End(const Flow& flow, Stop stop) {
    Report report;
    Conclude(flow, stop, report);
    flow.view.Log(std::string("result: ") + report.result + ": " + report.message);
    Print(flow.options, report);
    std::fflush(stdout);
    return report.status;
}

// Every step up to the end, each to go on only where the one before let it.
Stop RunSteps(Flow& flow) {
    Stop stop = FindDrive(flow);
    if (stop == Stop::GoOn)
        stop = Examine(flow);
    if (stop == Stop::GoOn)
        stop = AskConsent(flow);
    if (stop == Stop::GoOn)
        stop = Transfer(flow);
    return stop;
}

} // namespace

int Flash(int argc, char** argv) {
    FlashOptions options;
    const int parsed = ParseFlashOptions(argc, argv, options);
    if (parsed >= 0)
        return parsed;
    FILE* log = nullptr;
    if (options.log && !(log = std::fopen(options.log, "a")))
        return Usage("flash", (std::string("cannot open the log ") + options.log).c_str());
    std::unique_ptr<FILE, int (*)(FILE*)> logCloser(log, log ? &std::fclose : nullptr);

    // Before the layer, whose threads must not take the interrupts.
    const InterruptWatch interrupts;
    const Layer layer(options.bank);
    ConsoleView view(log);
    Flow flow = {options, layer.name, view, options.adapter, options.target, nullptr, nullptr};
    if (!options.address && !aspi::FindDevice(options.device, &flow.adapter, &flow.target))
        return End(flow, Stop::NoDeviceAtPath);
    std::unique_ptr<DeviceChannel> channel(
        new DeviceChannel(kImageBufferSize, ChannelUser::Plugin));
    std::unique_ptr<DownloadProcedure> procedure(new DownloadProcedure(channel.get(), view));
    procedure->stopRequested = &InterruptWatch::Noticed;
    flow.channel = channel.get();
    flow.procedure = procedure.get();
    return End(flow, RunSteps(flow));
}

} // namespace corvane
