// corvane flash: the plug-in's download procedure from the command line, in
// the order a command line needs: the image is read and checked before any
// drive is touched; the drive is asked who it is and which download it
// takes; the mode is decided and the model guarded; nothing more goes to it
// before the user agrees (or --yes), and --dry-run stops right there.
#include "cli/ConsoleView.h"
#include "cli/CorvaneCli.h"
#include "cli/CorvaneOptions.h"
#include "cli/FlashReport.h"
#include "cli/FlashVerdict.h"
#include "cli/Interrupts.h"
#include "cli/TransferWatch.h"

#include "aspi/AspiLayer.h"
#include "download/DownloadProcedure.h"

#include <cstdio>
#include <memory>
#include <thread>

using namespace download;

namespace corvane {
namespace {

int End(const FlashRun& run, ConsoleView& view) {
    const FlashReport report = Conclude(run);
    view.Log(std::string("result: ") + report.result + ": " + report.message);
    PrintReport(run.options.json, report);
    std::fflush(stdout);
    return report.status;
}

// The one transfer on a worker while this thread watches, then the drive's
// new identity. Past the tray nothing cancels.
void Transfer(bool json, ConsoleView& view, DownloadProcedure& procedure) {
    InterruptWatch::HoldOnClose();
    TransferJob& job = procedure.job;
    std::thread worker([&job] { RunTransfer(job); });
    WatchTransfer(json, view, job);
    worker.join();
    procedure.Finish();
}

// A failed transfer that may have reached the drive: who answers now tells
// whether a cut left it in its boot loader.
bool AskAfterFailure(DownloadProcedure& procedure) {
    const TransferOutcome sent = procedure.job.outcome;
    if (procedure.job.result.load() != 0 || sent == TransferOutcome::NotSent ||
        sent == TransferOutcome::Unreached)
        return false;
    procedure.AskAgain();
    return true;
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
    FlashRun run = {options, options.adapter, options.target,        nullptr, false, false,
                    false,   false,           aspi::BusType::Unknown};
    if (!options.address && !aspi::FindDevice(options.device, &run.adapter, &run.target))
        return End(run, view);
    std::unique_ptr<DeviceChannel> channel(
        new DeviceChannel(kImageBufferSize, ChannelUser::Plugin));
    // Without a host adapter no drive is selected, and nothing is sent.
    run.noAdapter = channel->GetAdapterCount() == 0;
    run.bus = aspi::DeviceBus(run.adapter, run.target);
    channel->SetAdapter(run.noAdapter ? DeviceChannel::kNoAdapter : run.adapter);
    channel->SetTarget(run.target);
    std::unique_ptr<DownloadProcedure> procedure(new DownloadProcedure(channel.get(), view));
    procedure->stopRequested = &InterruptWatch::Noticed;
    procedure->order.trayFirst = 0;
    procedure->order.guardModel = !options.forceModel && !options.recover;
    procedure->order.guardDowngrade = !options.allowDowngrade;
    procedure->order.answerWaitMs = options.recover ? kRecoverWaitMs : 0;
    procedure->order.dryRun = options.dryRun;
    view.askConsent = !options.yes;
    if (!options.json)
        view.plan = [&](DownloadMode) {
            PrintPlan(options, layer.name, run.adapter, run.target, run.bus, *procedure);
        };
    run.procedure = procedure.get();
    run.transferred = procedure->Start(options.image) == 1;
    if (run.transferred) {
        Transfer(options.json, view, *procedure);
        run.askedAgain = AskAfterFailure(*procedure);
    }
    run.noTerminal = view.consent == Consent::NoTerminal;
    return End(run, view);
}

} // namespace corvane
