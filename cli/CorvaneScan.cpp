// corvane scan: every CD/DVD drive the layer shows, on every adapter, as the
// device page lists them (but not only the eight its table holds). Nothing
// but the scan's INQUIRY is sent.
#include "cli/CorvaneCli.h"
#include "cli/CorvaneOptions.h"

#include "aspi/AspiLayer.h"

#include <cstdio>
#include <cstring>

namespace corvane {
namespace {

// The system's name of a drive, where the layer has one; "" else.
std::string DevicePath(uint8_t adapter, uint8_t target) {
    char path[64];
    return aspi::DeviceName(adapter, target, path, sizeof path) ? path : "";
}

// One drive's line, or its object in the JSON array (`out`).
void ListDrive(const DeviceEntry& entry, bool json, std::string& out) {
    const Identity identity = SplitIdentity(entry);
    char address[16];
    std::snprintf(address, sizeof address, "%u:%u", entry.adapter, entry.target);
    const std::string device = DevicePath(entry.adapter, entry.target);
    if (!json) {
        std::printf("%-6s %-12s %-8s %-16s %s\n", address, device.empty() ? "-" : device.c_str(),
                    DisplayText(identity.vendor).c_str(), DisplayText(identity.product).c_str(),
                    DisplayText(identity.revision).c_str());
        return;
    }
    out += out.back() == '[' ? "{\"address\":" : ",{\"address\":";
    AppendJsonString(out, address);
    out += ",\"device\":";
    if (device.empty())
        out += "null";
    else
        AppendJsonString(out, device);
    out += ',';
    std::string fields;
    AppendJsonIdentity(fields, identity);
    out += fields.substr(1);
}

// Every target of every adapter: the channel's table keeps only the first
// eight drives, the command line lists them all.
int ListDrives(DeviceChannel& channel, bool json, std::string& out) {
    int listed = 0;
    for (int a = 0; a < channel.GetAdapterCount(); ++a) {
        for (int t = 0; t < DeviceChannel::kTargetsPerAdapter; ++t) {
            DeviceEntry entry = {};
            const DeviceChannel::Found found =
                channel.InquireAt(static_cast<uint8_t>(a), static_cast<uint8_t>(t), entry);
            if (found == DeviceChannel::Found::NoIdentity)
                std::fprintf(
                    stderr, "corvane scan: %s\n",
                    NoIdentityMessage(static_cast<uint8_t>(a), static_cast<uint8_t>(t)).c_str());
            if (found != DeviceChannel::Found::CdDrive)
                continue;
            ListDrive(entry, json, out);
            ++listed;
        }
    }
    return listed;
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
    std::string out = "{\"drives\":[";
    const int listed = ListDrives(channel, json, out);
    if (json)
        std::printf("%s]}\n", out.c_str());
    if (listed > 0)
        return kExitOk;
    if (!json)
        std::fprintf(stderr, "corvane scan: no CD/DVD drive found (%s)\n",
                     channel.GetAdapterCount() ? "no host adapter has one"
                                               : NoAdapterReason().c_str());
    return kExitNoDrive;
}

} // namespace corvane
