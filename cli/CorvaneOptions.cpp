#include "cli/CorvaneOptions.h"

#include "cli/ArgParse.h"
#include "cli/CorvaneCli.h"

#include "aspi/DeviceAddress.h"

#include <cstdio>
#include <vector>

namespace corvane {
namespace {

const char kFlashHelp[] =
    "usage: corvane flash IMAGE --device DEV [--dry-run] [--yes] [--force-model]\n"
    "                     [--recover] [--allow-downgrade] [--json] [--log FILE]\n"
    "                     [--bank FILE]\n"
    "Sends the firmware image IMAGE (Intel HEX) to the drive DEV as the plug-in does:\n"
    "reads and checks the image, asks the drive who it is and which download it\n"
    "takes, says what will happen and asks \"Flash? [y/N]\", opens the tray, sends\n"
    "the image in one command, then asks the drive for its new identity.\n"
    "  --device DEV   A:T, host adapter and target as corvane scan shows them, or\n"
    "                 a device path (Linux: /dev/sgN or /dev/srN)\n"
    "  --dry-run      everything up to the question; no tray command, no image\n"
    "  --yes          flash without asking (needed where there is no terminal)\n"
    "  --force-model  flash an image made for another model than the drive's\n"
    "  --recover      bring back a drive a cut flash left in its boot loader: it may\n"
    "                 answer another identity than the image's, where it takes the\n"
    "                 image's download; a drive that does not answer yet is asked\n"
    "                 again for up to a minute\n"
    "  --allow-downgrade  flash an image older than the drive's firmware\n"
    "  --json         one JSON object instead of text\n"
    "  --log FILE     append every step to FILE\n"
    "  --bank FILE    the simulated drive bank of FILE instead of real drives (also\n"
    "                 CORVANE_BANK; CORVANE_BANK_LOG and CORVANE_BANK_STATE as the plug-in)\n"
    "In reboot mode the drive restarts itself: corvane waits 8.5 s, asks it again,\n"
    "and tells you to power-cycle the drive or the machine when it does not answer.\n"
    "Ctrl-C before the transfer cancels; during it, it is held until the drive is done.\n"
    "Exit status: 0 flashed and verified, or the dry run passed; 1 refused before any\n"
    "transfer (image, drive, protocol mismatch, another model, an older revision, no\n"
    "consent) or cancelled; 2 bad usage; 3 the transfer was sent and failed, reached\n"
    "no drive, or is not verified (the drive may be modified); 4 no drive, or no\n"
    "access to it. After a failed transfer the drive is asked who it is: one that\n"
    "answers another identity than before likely holds an incomplete firmware; keep\n"
    "it powered and flash the same image again with --recover.\n";

const char kScanHelp[] =
    "usage: corvane scan [--json] [--bank FILE]\n"
    "Lists every CD/DVD drive: address (host adapter:target, as the device page\n"
    "shows it and as flash --device takes it), device, bus (usb, ata, sata, scsi,\n"
    "1394 or unknown), vendor, product, revision. Sends nothing but INQUIRY.\n"
    "  --json       one JSON object: {\"drives\":[{\"address\",\"device\",\"bus\",\n"
    "               \"vendor\",\"product\",\"revision\"}]}\n"
    "  --bank FILE  the simulated drive bank of FILE instead of real drives (also\n"
    "               CORVANE_BANK; CORVANE_BANK_LOG and CORVANE_BANK_STATE as the plug-in)\n"
    "Exit status: 0 drives listed; 4 no drive found, or no access; 2 bad usage.\n";

int BadUsage(const char* command, const std::string& error) {
    return Usage(command, error.c_str());
}

int Run(CLI::App& app, int argc, char** argv, const char* command, const char* help) {
    return ParseCommand(app, argc, argv, "corvane", command, help, BadUsage);
}

const char* Given(const std::string& text) {
    return text.empty() ? nullptr : text.c_str();
}

} // namespace

int ParseFlashOptions(int argc, char** argv, FlashOptions& options) {
    CLI::App app;
    SetUpParser(app);
    std::vector<std::string> images;
    app.add_option("image", images);
    AddValueOption(app, "--device", options.texts[1]);
    AddValueOption(app, "--log", options.texts[2]);
    AddValueOption(app, "--bank", options.texts[3]);
    app.add_flag("--dry-run", options.dryRun);
    app.add_flag("--yes", options.yes);
    app.add_flag("--force-model", options.forceModel);
    app.add_flag("--recover", options.recover);
    app.add_flag("--allow-downgrade", options.allowDowngrade);
    app.add_flag("--json", options.json);
    const int status = Run(app, argc, argv, "flash", kFlashHelp);
    if (status >= 0)
        return status;
    if (images.empty())
        return Usage("flash", "no image given");
    if (images.size() > 1)
        return Usage("flash", "more than one image given");
    options.texts[0] = images[0];
    options.image = options.texts[0].c_str();
    options.device = Given(options.texts[1]);
    options.log = Given(options.texts[2]);
    options.bank = Given(options.texts[3]);
    if (!options.device)
        return Usage("flash", "no --device given");
    options.address = aspi::ParseAddress(options.device, &options.adapter, &options.target) != 0;
    if (!options.address && !aspi::IsDevicePath(options.device))
        return Usage("flash", "--device takes A:T (host adapter and target, see corvane scan) "
                              "or a device path");
    return -1;
}

int ParseScanOptions(int argc, char** argv, ScanOptions& options) {
    CLI::App app;
    SetUpParser(app);
    AddValueOption(app, "--bank", options.bankText);
    app.add_flag("--json", options.json);
    const int status = Run(app, argc, argv, "scan", kScanHelp);
    if (status >= 0)
        return status;
    options.bank = Given(options.bankText);
    return -1;
}

} // namespace corvane
