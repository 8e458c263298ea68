#include "aspi/DeviceNumbering.h"

#include <algorithm>
#include <tuple>

namespace aspi {
namespace {

struct Group {
    size_t begin, end; // in `places`
};

// Addressed devices by address, then the others in device order.
bool ByAddress(const DevicePlace& a, const DevicePlace& b) {
    if (a.addressed != b.addressed)
        return a.addressed > b.addressed;
    if (!a.addressed)
        return a.index < b.index;
    const ScsiAddress &x = a.address, &y = b.address;
    return std::tie(x.PortNumber, x.PathId, x.TargetId, x.Lun, a.index) <
           std::tie(y.PortNumber, y.PathId, y.TargetId, y.Lun, b.index);
}

bool ByPlace(const DevicePlace& a, const DevicePlace& b) {
    return std::tie(b.placed, a.adapter, a.target) < std::tie(a.placed, b.adapter, b.target);
}

bool SameAdapter(const DevicePlace& a, const DevicePlace& b) {
    if (a.addressed != b.addressed)
        return false;
    return !a.addressed ||
           (a.address.PortNumber == b.address.PortNumber && a.address.PathId == b.address.PathId);
}

bool Taken(const std::vector<DevicePlace>& places, const Group& group, uint8_t target) {
    for (size_t i = group.begin; i < group.end; ++i)
        if (places[i].placed && places[i].target == target)
            return true;
    return false;
}

void Place(DevicePlace& place, uint8_t adapter, uint8_t target) {
    place.adapter = adapter;
    place.target = target;
    place.placed = 1;
}

// The group's own adapter: own target ids first, lower logical units before
// higher ones, then the lowest free target in address order.
void PlaceFirst(std::vector<DevicePlace>& places, const Group& group, uint8_t adapter) {
    std::vector<size_t> byLun;
    for (size_t i = group.begin; i < group.end; ++i)
        if (places[i].addressed && places[i].address.TargetId < kTargetsPerAdapter)
            byLun.push_back(i);
    std::stable_sort(byLun.begin(), byLun.end(), [&](size_t a, size_t b) {
        return places[a].address.Lun < places[b].address.Lun;
    });
    for (size_t i : byLun)
        if (!Taken(places, group, places[i].address.TargetId))
            Place(places[i], adapter, places[i].address.TargetId);
    for (size_t i = group.begin; i < group.end; ++i)
        for (uint8_t t = 0; !places[i].placed && t < kTargetsPerAdapter; ++t)
            if (!Taken(places, group, t))
                Place(places[i], adapter, t);
}

// What did not fit on the group's own adapter, on adapters of its own.
void PlaceRest(std::vector<DevicePlace>& places, const Group& group, int& adapters) {
    uint8_t target = kTargetsPerAdapter;
    for (size_t i = group.begin; i < group.end; ++i) {
        if (places[i].placed)
            continue;
        if (target == kTargetsPerAdapter) {
            if (adapters >= kAdapterLimit)
                return;
            ++adapters;
            target = 0;
        }
        Place(places[i], static_cast<uint8_t>(adapters - 1), target++);
    }
}

} // namespace

int NumberDevices(std::vector<DevicePlace>& places) {
    for (DevicePlace& p : places)
        p.placed = 0;
    std::sort(places.begin(), places.end(), &ByAddress);
    std::vector<Group> groups;
    for (size_t begin = 0; begin < places.size();) {
        size_t end = begin + 1;
        while (end < places.size() && SameAdapter(places[begin], places[end]))
            ++end;
        groups.push_back(Group{begin, end});
        begin = end;
    }
    int adapters = 0;
    for (const Group& group : groups)
        if (adapters < kAdapterLimit)
            PlaceFirst(places, group, static_cast<uint8_t>(adapters++));
    for (const Group& group : groups)
        PlaceRest(places, group, adapters);
    std::stable_sort(places.begin(), places.end(), &ByPlace);
    return adapters;
}

} // namespace aspi
