// corvane flash: the plug-in's download procedure from the command line.
// The image is read and checked before any drive is touched; the drive is
// asked who it is and which download it takes; nothing goes to it before
// the user agrees (or --yes), and --dry-run stops right there.
#include "cli/Consent.h"
#include "cli/ConsoleView.h"
#include "cli/CorvaneCli.h"
#include "cli/CorvaneOptions.h"

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
    uint8_t raw[kSenseBytes] = {};
};

std::string Clock(long long ms) {
    char text[48];
    std::snprintf(text, sizeof text, "%02lld:%02lld", ms / 60000, ms / 1000 % 60);
    return text;
}

void Print(const FlashOptions& options, const Report& report) {
    if (options.json) {
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
        return;
    }
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

int End(const FlashOptions& options, ConsoleView& view, Report& report, int status) {
    if (status == kExitNoDrive)
        report.result = NoDriveResult();
    view.Log(std::string("result: ") + report.result + ": " + report.message);
    Print(options, report);
    return status;
}

// Until the worker has stored its result: a bar on a terminal, by time as
// the page's, with elapsed and expected time; plain lines otherwise.
void WatchTransfer(const FlashOptions& options, TransferJob& job) {
    const bool bar = !options.json && CORVANE_ISATTY(CORVANE_FILENO(stdout));
    const long long expected =
        kTransferFullMs + (job.mode == DownloadReboot ? static_cast<long long>(kRebootWaitMs) : 0);
    const auto start = std::chrono::steady_clock::now();
    if (!options.json && !bar)
        std::printf("Transfer: sending the image; do not turn off the drive or the machine\n");
    std::fflush(stdout);
    while (job.result.load() == kTransferRunning) {
        std::this_thread::sleep_for(std::chrono::milliseconds(bar ? 200 : 20));
        if (!bar)
            continue;
        const long long ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                                 std::chrono::steady_clock::now() - start)
                                 .count();
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
    const long long ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                             std::chrono::steady_clock::now() - start)
                             .count();
    if (bar)
        std::printf("\n");
    if (!options.json)
        std::printf("Transfer: ended after %s\n", Clock(ms).c_str());
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

} // namespace

int Flash(int argc, char** argv) {
    FlashOptions options;
    const int parsed = ParseFlashOptions(argc, argv, options);
    if (parsed >= 0)
        return parsed;
    uint8_t adapter = options.adapter, target = options.target;
    const bool path = !options.address;
    FILE* log = nullptr;
    if (options.log && !(log = std::fopen(options.log, "a")))
        return Usage("flash", (std::string("cannot open the log ") + options.log).c_str());
    std::unique_ptr<FILE, int (*)(FILE*)> logCloser(log, log ? &std::fclose : nullptr);

    const Layer layer(options.bank);
    ConsoleView view(log);
    Report report;
    if (path && !aspi::FindDevice(options.device, &adapter, &target)) {
        report.message =
            std::string("no CD/DVD drive at ") + options.device + ": " + NoAdapterReason();
        return End(options, view, report, kExitNoDrive);
    }
    std::unique_ptr<DeviceChannel> channel(
        new DeviceChannel(kImageBufferSize, ChannelUser::Plugin));
    std::unique_ptr<DownloadProcedure> procedure(new DownloadProcedure(channel.get(), view));

    if (!procedure->ReadImage(options.image)) {
        report.message = std::string(options.image) + ": " + HexReadMessage(procedure->readResult);
        return End(options, view, report, kExitRefused);
    }
    if (channel->GetAdapterCount() == 0) {
        report.message = "no drive: " + NoAdapterReason();
        return End(options, view, report, kExitNoDrive);
    }
    channel->SetAdapter(adapter);
    channel->SetTarget(target);
    if (!procedure->AskDrive()) {
        char text[96];
        if (!procedure->driveAnswered) {
            std::snprintf(text, sizeof text, "no drive answers at %u:%u", adapter, target);
            report.message = text;
            return End(options, view, report, kExitNoDrive);
        }
        report.haveBefore = true;
        report.before = SplitIdentity(procedure->before);
        std::snprintf(text, sizeof text,
                      "%u:%u is not a CD/DVD drive (device type %u); nothing but INQUIRY was sent",
                      adapter, target, procedure->deviceType & 0x1Fu);
        report.message = text;
        return End(options, view, report, kExitRefused);
    }
    report.haveBefore = true;
    report.before = SplitIdentity(procedure->before);
    procedure->ProbeProtocol();
    if (!procedure->Decide()) {
        report.message = std::string("Mismatch protocol between F/W and drive! (image ") +
                         ProtocolName(procedure->fwInfo.protocol) + ", drive " +
                         ProtocolName(procedure->before.protocol) + ")";
        return End(options, view, report, kExitRefused);
    }
    report.mode = procedure->downloadMode == DownloadVerify ? "verify" : "reboot";
    if (!SameModel(procedure->fwInfo, procedure->before) && !options.forceModel) {
        const Identity image = SplitIdentity(procedure->fwInfo);
        report.message = "the image is for " + image.vendor + " " + image.product +
                         ", the drive is " + report.before.vendor + " " + report.before.product +
                         " (--force-model flashes it anyway)";
        return End(options, view, report, kExitRefused);
    }
    Plan(options, layer.name, adapter, target, *procedure);
    if (options.dryRun) {
        report.result = "ok";
        report.message = "dry run: the drive was asked who it is and which download it takes; "
                         "no tray command and no image were sent";
        return End(options, view, report, kExitOk);
    }
    const Consent consent = options.yes ? Consent::Given : AskOnTerminal("Flash? [y/N] ");
    if (consent == Consent::NoTerminal) {
        report.message = "no terminal to ask for consent (--yes flashes without asking)";
        return End(options, view, report, kExitRefused);
    }
    if (consent != Consent::Given) {
        report.message = "not flashed: no consent";
        return End(options, view, report, kExitRefused);
    }

    procedure->PrepareTray();
    procedure->BeginTransfer();
    TransferJob& job = procedure->job;
    std::thread worker([&job] { RunTransfer(job); });
    WatchTransfer(options, job);
    worker.join();
    report.transferSent = job.outcome != TransferOutcome::NotSent;
    const int verified = procedure->Finish();
    report.askedAfter = job.result.load() != 0;
    if (procedure->newIdentity) {
        report.haveAfter = true;
        report.after = SplitIdentity(procedure->driveInfo);
    }
    if (job.outcome == TransferOutcome::Refused) {
        report.haveSense = true;
        report.key = job.senseKey;
        report.asc = job.asc;
        report.ascq = job.ascq;
        std::memcpy(report.raw, job.sense, sizeof report.raw);
    }
    const std::string afterText = IdentityText(report.after);
    const std::string imageText = IdentityText(SplitIdentity(procedure->fwInfo));
    if (!report.transferSent) {
        report.message = "the transfer could not be sent";
        return End(options, view, report, kExitRefused);
    }
    if (job.result.load() == 0) {
        report.result = "failed";
        report.message = job.outcome == TransferOutcome::NoAnswer
                             ? "the drive did not answer the transfer in time"
                             : "the drive refused the image";
        report.message += "; power-cycle the drive or the machine and try again";
        return End(options, view, report, kExitFailed);
    }
    if (!procedure->newIdentity) {
        report.result = "unverified";
        report.message = "the drive does not answer after the transfer: power-cycle the drive or "
                         "the machine, then check it with corvane scan";
        return End(options, view, report, kExitFailed);
    }
    if (!verified || !SameIdentity(procedure->fwInfo, procedure->driveInfo)) {
        report.result = "unverified";
        report.message = "the drive answers as " + afterText + ", not as the image's " + imageText +
                         ": power-cycle the drive or the machine, then check it with corvane scan";
        return End(options, view, report, kExitFailed);
    }
    report.result = "ok";
    report.message = "flashed: the drive answers as " + afterText;
    return End(options, view, report, kExitOk);
}

} // namespace corvane
