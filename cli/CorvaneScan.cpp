// corvane scan: every CD/DVD drive the layer shows, as the device page lists
// them. Nothing but the scan's INQUIRY is sent.
#include "cli/CorvaneCli.h"

#include "aspi/AspiLayer.h"

#include <cstdio>
#include <cstring>

namespace corvane {
namespace {

// The device path of a drive, where the layer serves drives by path; "" else.
std::string DevicePath(uint8_t adapter, uint8_t target) {
#ifdef _WIN32
    const char* const pattern = "\\\\.\\%c:"; // the drive letters
    const int first = 'A', last = 'Z';
#else
    const char* const pattern = "/dev/sg%d";
    const int first = 0, last = 31;
#endif
    for (int n = first; n <= last; ++n) {
        char path[32];
        std::snprintf(path, sizeof path, pattern, n);
        uint8_t a = 0, t = 0;
        if (aspi::FindDevice(path, &a, &t) && a == adapter && t == target)
            return path;
    }
    return std::string();
}

const char kScanHelp[] =
    "usage: corvane scan [--json] [--bank FILE]\n"
    "Lists every CD/DVD drive: address (host adapter:target, as the device page\n"
    "shows it and as flash --device takes it), device, vendor, product, revision.\n"
    "Sends nothing but INQUIRY.\n"
    "  --json       one JSON object: {\"drives\":[{\"address\",\"device\",\"vendor\",\n"
    "               \"product\",\"revision\"}]}\n"
    "  --bank FILE  the simulated drive bank of FILE instead of real drives (also\n"
    "               CORVANE_BANK; CORVANE_BANK_LOG and CORVANE_BANK_STATE as the plug-in)\n"
    "Exit status: 0 drives listed; 4 no drive found, or no access; 2 bad usage.\n";

} // namespace

int Scan(int argc, char** argv) {
    bool json = false;
    const char* bank = nullptr;
    for (int i = 0; i < argc; ++i) {
        if (IsHelp(argv[i])) {
            std::fputs(kScanHelp, stdout);
            return kExitOk;
        }
        if (std::strcmp(argv[i], "--json") == 0)
            json = true;
        else if (std::strcmp(argv[i], "--bank") == 0) {
            if (!(bank = OptionValue(argc, argv, i)))
                return Usage("scan", "--bank needs a file");
        } else
            return Usage("scan", "unknown argument");
    }
    const Layer layer(bank);
    DeviceChannel channel(1024, ChannelUser::Host);
    channel.ScanDevices();
    std::string out = "{\"drives\":[";
    for (int i = 0; i < channel.deviceCount; ++i) {
        const DeviceEntry& entry = channel.devices[i];
        const Identity identity = SplitIdentity(entry);
        char address[16];
        std::snprintf(address, sizeof address, "%u:%u", entry.adapter, entry.target);
        if (json) {
            out += i ? ",{\"address\":" : "{\"address\":";
            AppendJsonString(out, address);
            const std::string device = DevicePath(entry.adapter, entry.target);
            out += ",\"device\":";
            if (device.empty())
                out += "null";
            else
                AppendJsonString(out, device);
            out += ',';
            std::string fields;
            AppendJsonIdentity(fields, identity);
            out += fields.substr(1);
        } else {
            const std::string device = DevicePath(entry.adapter, entry.target);
            std::printf("%-6s %-12s %-8s %-16s %s\n", address,
                        device.empty() ? "-" : device.c_str(), identity.vendor.c_str(),
                        identity.product.c_str(), identity.revision.c_str());
        }
    }
    if (json)
        std::printf("%s]}\n", out.c_str());
    if (channel.deviceCount > 0)
        return kExitOk;
    if (!json)
        std::fprintf(stderr, "corvane scan: no CD/DVD drive found (%s)\n",
                     channel.GetAdapterCount() ? "no host adapter has one"
                                               : NoAdapterReason().c_str());
    return kExitNoDrive;
}

} // namespace corvane
