// corvane scan: every CD/DVD drive the layer shows, on every adapter, as the
// device page lists them (but not only the eight its table holds). Nothing
// but the scan's INQUIRY is sent.
#include "cli/CorvaneCli.h"
#include "cli/CorvaneOptions.h"

#include "aspi/AspiLayer.h"
#include "aspi/DeviceAddress.h"

#include <nlohmann/json.hpp>

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
void ListDrive(const DeviceEntry& entry, bool json, Json& out) {
    const Identity identity = SplitIdentity(entry);
    char address[aspi::kAddressTextSize];
    aspi::AddressText(entry.adapter, entry.target, address, sizeof address);
    const std::string device = DevicePath(entry.adapter, entry.target);
    const char* bus = aspi::BusName(aspi::DeviceBus(entry.adapter, entry.target));
    if (!json) {
        std::printf("%-6s %-12s %-7s %-8s %-16s %s\n", address,
                    device.empty() ? "-" : device.c_str(), bus,
                    DisplayText(identity.vendor).c_str(), DisplayText(identity.product).c_str(),
                    DisplayText(identity.revision).c_str());
        return;
    }
    Json drive;
    drive["address"] = JsonText(address);
    drive["device"] = device.empty() ? Json(nullptr) : JsonText(device);
    drive["bus"] = JsonText(bus);
    drive.update(JsonIdentity(identity));
    out.push_back(drive);
}

// Every target of every adapter: the channel's table keeps only the first
// eight drives, the command line lists them all.
int ListDrives(DeviceChannel& channel, bool json, Json& out) {
    int listed = 0;
    for (int a = 0; a < channel.GetAdapterCount(); ++a) {
        for (int t = 0; t < aspi::kTargetsPerAdapter; ++t) {
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
    Json drives = Json::array();
    const int listed = ListDrives(channel, json, drives);
    if (json) {
        Json out;
        out["drives"] = drives;
        std::printf("%s\n", JsonLine(out).c_str());
    }
    if (listed > 0)
        return kExitOk;
    if (!json)
        std::fprintf(stderr, "corvane scan: no CD/DVD drive found (%s)\n",
                     channel.GetAdapterCount() ? "no host adapter has one"
                                               : NoAdapterReason().c_str());
    return kExitNoDrive;
}

} // namespace corvane
