// corvane scan: every CD/DVD drive the layer shows, as the device page lists
// them. Nothing but the scan's INQUIRY is sent.
#include "cli/CorvaneCli.h"
#include "cli/CorvaneOptions.h"

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

} // namespace

int Scan(int argc, char** argv) {
    ScanOptions options;
    const int parsed = ParseScanOptions(argc, argv, options);
    if (parsed >= 0)
        return parsed;
    const bool json = options.json;
    const Layer layer(options.bank);
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
                        device.empty() ? "-" : device.c_str(), DisplayText(identity.vendor).c_str(),
                        DisplayText(identity.product).c_str(),
                        DisplayText(identity.revision).c_str());
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
