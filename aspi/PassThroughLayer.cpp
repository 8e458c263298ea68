#include "aspi/PassThroughLayer.h"

#include "aspi/AspiPlatform.h"
#include "aspi/DeviceAddress.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>

namespace aspi {
namespace {

uint8_t PassThroughDirection(uint8_t flags) {
    uint8_t dir = flags & (SRB_DIR_IN | SRB_DIR_OUT);
    return dir == SRB_DIR_IN ? PT_DATA_IN : dir == SRB_DIR_OUT ? PT_DATA_OUT : PT_DATA_UNSPECIFIED;
}

} // namespace

uint32_t PassThroughSeconds(uint32_t milliseconds) {
    uint32_t seconds = milliseconds / 1000 + (milliseconds % 1000 ? 1 : 0);
    return seconds ? seconds : 1;
}

uint32_t BuildPassThrough(const SRB_ExecSCSICmd& srb, const ScsiAddress& address,
                          uint32_t timeoutSeconds, std::vector<uint8_t>& bounce,
                          PassThroughRequest& request) {
    std::memset(&request, 0, sizeof request);
    PassThroughDirect& spt = request.spt;
    spt.Length = sizeof spt;
    spt.PathId = address.PathId;
    spt.TargetId = address.TargetId;
    spt.Lun = address.Lun;
    spt.CdbLength = srb.SRB_CDBLen;
    spt.SenseInfoLength = PT_SENSE_BYTES;
    spt.DataIn = PassThroughDirection(srb.SRB_Flags);
    bool both = (srb.SRB_Flags & (SRB_DIR_IN | SRB_DIR_OUT)) == (SRB_DIR_IN | SRB_DIR_OUT);
    uint32_t length = both ? 0 : srb.SRB_BufLen; // both bits: no data phase
    spt.DataTransferLength = length;
    spt.TimeOutValue = timeoutSeconds;
    if (bounce.size() < length)
        bounce.resize(length);
    spt.DataBuffer = length ? bounce.data() : nullptr;
    spt.SenseInfoOffset = offsetof(PassThroughRequest, sense);
    std::memcpy(spt.Cdb, srb.CDBByte, std::min<size_t>(srb.SRB_CDBLen, sizeof spt.Cdb));
    if (length && spt.DataIn == PT_DATA_OUT)
        std::memcpy(bounce.data(), srb.SRB_BufPointer, length);
    else if (length)
        std::memset(bounce.data(), 0, length);
    return length;
}

uint8_t MapPassThroughResult(int carriedOut, const PassThroughRequest& request,
                             SRB_ExecSCSICmd& srb) {
    if (carriedOut != 1) {
        srb.SRB_HaStat = carriedOut == kPassThroughLost ? HASTAT_BUS_FREE : HASTAT_SEL_TO;
        srb.SRB_TargStat = STATUS_GOOD;
        return SS_ERR;
    }
    srb.SRB_HaStat = HASTAT_OK;
    srb.SRB_TargStat = request.spt.ScsiStatus;
    if (request.spt.ScsiStatus == STATUS_GOOD)
        return SS_COMP;
    if (request.spt.ScsiStatus == STATUS_CHKCOND)
        StoreSense(&srb, request.sense,
                   std::min<size_t>(request.spt.SenseInfoLength, sizeof request.sense));
    return SS_ERR;
}

uint8_t AnswerFromPassThrough(int carriedOut, const PassThroughRequest& request,
                              const std::vector<uint8_t>& bounce, uint32_t length,
                              SRB_ExecSCSICmd& srb) {
    uint32_t moved = carriedOut == 1 ? std::min(request.spt.DataTransferLength, length) : 0;
    if (moved && request.spt.DataIn != PT_DATA_OUT)
        std::memcpy(srb.SRB_BufPointer, bounce.data(), moved);
    if (srb.SRB_Flags & SRB_ENABLE_RESIDUAL_COUNT)
        srb.SRB_BufLen -= moved; // what was asked for and not moved
    return MapPassThroughResult(carriedOut, request, srb);
}

const TargetOps PassThroughLayer::kTargetOps = {
    "SCSI pass-thru",
    kMaxTransfer,
    [](void* self) { return static_cast<PassThroughLayer*>(self)->AdapterCount(); },
    &Find,
    &Prepare,
    &Run,
    &Answer,
    nullptr,
    nullptr,
    &Cancel};

PassThroughLayer::PassThroughLayer(const DeviceCalls& deviceCalls)
    : calls(deviceCalls), adapterCount(0), opened(0), server(kTargetOps, this) {
    reason[0] = 0;
    Enumerate();
}

PassThroughLayer::~PassThroughLayer() {
    server.Stop();
    for (Drive* drive : drives) {
        if (drive->handle)
            calls.close(calls.context, drive->handle);
        delete drive;
    }
}

void PassThroughLayer::Enumerate() {
    std::vector<DevicePlace> places;
    int count = calls.count(calls.context);
    for (int i = 0; i < count; ++i) {
        DevicePlace place{};
        place.index = i;
        int probed = calls.probe(calls.context, i, &place.address);
        if (probed == kProbeMissing)
            continue; // numbers may have gaps where a drive was removed
        place.addressed = probed == kProbeAddressed;
        places.push_back(place);
    }
    adapterCount = NumberDevices(places);
    Open(places);
}

// Every device object keeps its place; only those that open take commands.
void PassThroughLayer::Open(std::vector<DevicePlace>& places) {
    int deniedIndex = -1;
    for (const DevicePlace& place : places) {
        Drive* drive = new Drive();
        drive->place = place;
        int result = kOpenMissing;
        drive->handle = place.placed ? calls.open(calls.context, place.index, &result) : nullptr;
        drive->denied = !drive->handle && result == kOpenDenied;
        if (drive->denied && deniedIndex < 0)
            deniedIndex = place.index;
        opened += drive->handle != nullptr;
        drives.push_back(drive);
    }
    if (!opened)
        WordReason(deniedIndex);
}

void PassThroughLayer::WordReason(int deniedIndex) {
    if (deniedIndex >= 0 && calls.deniedReason)
        calls.deniedReason(calls.context, deniedIndex, reason, sizeof reason);
    else
        std::snprintf(reason, sizeof reason, "%s",
                      deniedIndex >= 0 ? "The SCSI pass-through needs administrator rights."
                                       : "No CD/DVD drive was found.");
}

const PassThroughLayer::Drive* PassThroughLayer::Placed(uint8_t adapter, uint8_t target) const {
    for (const Drive* drive : drives)
        if (drive->place.placed && drive->place.adapter == adapter && drive->place.target == target)
            return drive;
    return nullptr;
}

void* PassThroughLayer::Find(void* self, uint8_t adapter, uint8_t target, uint8_t* type) {
    const Drive* drive = static_cast<PassThroughLayer*>(self)->Placed(adapter, target);
    *type = DTYPE_CDROM; // every device object here is a CD/DVD drive
    return drive && drive->handle ? const_cast<Drive*>(drive) : nullptr;
}

uint8_t PassThroughLayer::Prepare(void*, void* target, SRB_ExecSCSICmd* srb, uint32_t timeoutMs,
                                  uint32_t*) {
    Drive* drive = static_cast<Drive*>(target);
    drive->length = BuildPassThrough(*srb, drive->place.address, PassThroughSeconds(timeoutMs),
                                     drive->bounce, drive->request);
    return SS_PENDING;
}

void PassThroughLayer::Run(void* self, void* target) {
    PassThroughLayer* layer = static_cast<PassThroughLayer*>(self);
    Drive* drive = static_cast<Drive*>(target);
    drive->carriedOut =
        layer->calls.passThrough(layer->calls.context, drive->handle, &drive->request);
}

uint8_t PassThroughLayer::Answer(void*, void* target, SRB_ExecSCSICmd* srb) {
    Drive* drive = static_cast<Drive*>(target);
    return AnswerFromPassThrough(drive->carriedOut, drive->request, drive->bounce, drive->length,
                                 *srb);
}

void PassThroughLayer::Cancel(void* self, void* target) {
    PassThroughLayer* layer = static_cast<PassThroughLayer*>(self);
    if (layer->calls.cancel)
        layer->calls.cancel(layer->calls.context, static_cast<Drive*>(target)->handle);
}

void PassThroughLayer::Describe(char* text, uint32_t size) const {
    if (!size)
        return;
    int used = std::snprintf(text, size, "SCSI pass-through: %d host adapter(s)%s%s%s",
                             AdapterCount(), reason[0] ? ". " : "", reason, kLineEnd);
    for (const Drive* drive : drives) {
        if (used < 0 || static_cast<uint32_t>(used) >= size)
            break;
        used += DescribeDrive(*drive, text + used, size - static_cast<uint32_t>(used));
    }
}

int PassThroughLayer::DescribeDrive(const Drive& drive, char* text, uint32_t size) const {
    const DevicePlace& p = drive.place;
    const ScsiAddress& a = p.address;
    char name[64] = "";
    if (calls.name)
        calls.name(calls.context, p.index, name, sizeof name);
    const char* state = drive.handle   ? ""
                        : !p.placed    ? ", out of reach"
                        : drive.denied ? ", no access"
                                       : ", does not open";
    char place[16] = "-:-";
    if (p.placed)
        AddressText(static_cast<uint8_t>(p.adapter), static_cast<uint8_t>(p.target), place,
                    sizeof place);
    // The bus where the system names one.
    const BusType known = BusOf(p.index);
    char bus[16] = "";
    if (known != BusType::Unknown)
        std::snprintf(bus, sizeof bus, ", bus %s", BusName(known));
    if (!p.addressed)
        return std::snprintf(text, size, "  %s = %s (no SCSI address%s%s)%s", place, name, bus,
                             state, kLineEnd);
    return std::snprintf(text, size, "  %s = %s (%s %d, %s %d, target %d, lun %d%s%s)%s", place,
                         name, calls.portName ? calls.portName : "port", a.PortNumber,
                         calls.pathName ? calls.pathName : "path", a.PathId, a.TargetId, a.Lun, bus,
                         state, kLineEnd);
}

int PassThroughLayer::FindDevice(const char* path, uint8_t* adapter, uint8_t* target) const {
    int index = calls.indexOf ? calls.indexOf(calls.context, path) : -1;
    for (const Drive* drive : drives)
        if (index >= 0 && drive->place.index == index && drive->place.placed) {
            *adapter = drive->place.adapter;
            *target = drive->place.target;
            return 1;
        }
    return 0;
}

int PassThroughLayer::DeviceName(uint8_t adapter, uint8_t target, char* text, uint32_t size) const {
    const Drive* drive = Placed(adapter, target);
    if (!drive || !calls.name || !size)
        return 0;
    calls.name(calls.context, drive->place.index, text, size);
    return text[0] ? 1 : 0;
}

BusType PassThroughLayer::DeviceBus(uint8_t adapter, uint8_t target) const {
    const Drive* drive = Placed(adapter, target);
    return drive ? BusOf(drive->place.index) : BusType::Unknown;
}

BusType PassThroughLayer::BusOf(int index) const {
    return calls.bus ? static_cast<BusType>(calls.bus(calls.context, index)) : BusType::Unknown;
}

int DeviceIndex(const char* path, const char* prefix) {
    size_t n = std::strlen(prefix);
    for (size_t i = 0; i < n; ++i)
        if (!path[i] || std::tolower(static_cast<unsigned char>(path[i])) !=
                            std::tolower(static_cast<unsigned char>(prefix[i])))
            return -1;
    const char* digits = path + n;
    if (!*digits || std::strlen(digits) > 4)
        return -1;
    int index = 0;
    for (const char* d = digits; *d; ++d) {
        if (*d < '0' || *d > '9')
            return -1;
        index = index * 10 + (*d - '0');
    }
    return index;
}

void NumberedName(const char* prefix, int index, char* text, uint32_t size) {
    if (size)
        std::snprintf(text, size, "%s%d", prefix, index);
}

void DriveLetterName(int index, char* text, uint32_t size) {
    if (!size)
        return;
    if (index >= 0 && index < 26)
        std::snprintf(text, size, "\\\\.\\%c:", 'A' + index);
    else
        text[0] = '\0'; // names no device, so nothing is opened
}

int DriveLetterIndex(const char* path) {
    if (std::strncmp(path, "\\\\.\\", 4) == 0)
        path += 4;
    const int letter = std::toupper(static_cast<unsigned char>(path[0]));
    if (letter < 'A' || letter > 'Z' || path[1] != ':' || path[2])
        return -1;
    return letter - 'A';
}

namespace {

uint32_t OpsSupportInfo(void* self) {
    return static_cast<PassThroughLayer*>(self)->GetSupportInfo();
}

uint32_t OpsSend(void* self, void* srb) {
    return static_cast<PassThroughLayer*>(self)->SendCommand(srb);
}

void OpsTimeout(void* self, const void* srb, uint32_t milliseconds) {
    static_cast<PassThroughLayer*>(self)->SetRequestTimeout(srb, milliseconds);
}

void OpsDescribe(void* self, char* text, uint32_t size) {
    static_cast<PassThroughLayer*>(self)->Describe(text, size);
}

int OpsFind(void* self, const char* path, uint8_t* adapter, uint8_t* target) {
    return static_cast<PassThroughLayer*>(self)->FindDevice(path, adapter, target);
}

int OpsName(void* self, uint8_t adapter, uint8_t target, char* text, uint32_t size) {
    return static_cast<PassThroughLayer*>(self)->DeviceName(adapter, target, text, size);
}

int OpsBus(void* self, uint8_t adapter, uint8_t target) {
    return static_cast<int>(static_cast<PassThroughLayer*>(self)->DeviceBus(adapter, target));
}

} // namespace

const LayerOps PassThroughLayer::kOps = {
    "SCSI pass-through", 0,        &OpsSupportInfo, &OpsSend, &OpsTimeout,
    &OpsDescribe,        &OpsFind, &OpsName,        &OpsBus};

} // namespace aspi
