#include "aspi/DeviceNumbering.h"

#include <algorithm>
#include <tuple>

namespace aspi {
namespace {

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
    return std::tie(b.placed, a.adapter, a.target, a.lun) <
           std::tie(a.placed, b.adapter, b.target, b.lun);
}

bool SameAdapter(const DevicePlace& a, const DevicePlace& b) {
    if (a.addressed != b.addressed)
        return false;
    return !a.addressed ||
           (a.address.PortNumber == b.address.PortNumber && a.address.PathId == b.address.PathId);
}

bool Taken(const std::vector<DevicePlace>& places, size_t begin, size_t end, uint8_t target,
           uint8_t lun) {
    for (size_t i = begin; i < end; ++i)
        if (places[i].placed && places[i].target == target && places[i].lun == lun)
            return true;
    return false;
}

// The devices of one adapter: own target ids first, then the lowest free.
void PlaceAdapter(std::vector<DevicePlace>& places, size_t begin, size_t end, uint8_t adapter) {
    for (size_t i = begin; i < end; ++i) {
        DevicePlace& p = places[i];
        p.adapter = adapter;
        p.target = 0;
        p.lun = p.addressed ? p.address.Lun : 0;
        uint8_t own = p.address.TargetId;
        if (p.addressed && own < kTargetsPerAdapter && !Taken(places, begin, end, own, p.lun)) {
            p.target = own;
            p.placed = 1;
        }
    }
    for (size_t i = begin; i < end; ++i) {
        DevicePlace& p = places[i];
        for (uint8_t t = 0; !p.placed && t < kTargetsPerAdapter; ++t)
            if (!Taken(places, begin, end, t, p.lun)) {
                p.target = t;
                p.placed = 1;
            }
    }
}

} // namespace

int NumberDevices(std::vector<DevicePlace>& places) {
    for (DevicePlace& p : places)
        p.placed = 0;
    std::sort(places.begin(), places.end(), &ByAddress);
    int adapters = 0;
    for (size_t begin = 0; begin < places.size();) {
        size_t end = begin + 1;
        while (end < places.size() && SameAdapter(places[begin], places[end]))
            ++end;
        if (adapters < 255) // an adapter number is a byte, and 255 marks none
            PlaceAdapter(places, begin, end, static_cast<uint8_t>(adapters++));
        begin = end;
    }
    std::stable_sort(places.begin(), places.end(), &ByPlace);
    return adapters;
}

} // namespace aspi
