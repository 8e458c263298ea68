#include "aspi/PassThroughLayer.h"

#include "aspi/AspiPlatform.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>

namespace aspi {
namespace {

void CopyText(uint8_t* field, size_t size, const char* text) {
    size_t n = std::strlen(text);
    std::memset(field, ' ', size);
    std::memcpy(field, text, n < size ? n : size);
}

void CallPosts(const std::vector<SRB_ExecSCSICmd*>& done, const std::vector<void*>& posts) {
    for (size_t i = 0; i < posts.size(); ++i)
        if (posts[i])
            reinterpret_cast<PostRoutine>(posts[i])(done[i]);
}

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
    if (!carriedOut) {
        srb.SRB_HaStat = HASTAT_SEL_TO;
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
    uint32_t moved = carriedOut ? std::min(request.spt.DataTransferLength, length) : 0;
    if (moved && request.spt.DataIn != PT_DATA_OUT)
        std::memcpy(srb.SRB_BufPointer, bounce.data(), moved);
    if (srb.SRB_Flags & SRB_ENABLE_RESIDUAL_COUNT)
        srb.SRB_BufLen -= moved; // what was asked for and not moved
    return MapPassThroughResult(carriedOut, request, srb);
}

PassThroughLayer::PassThroughLayer(const DeviceCalls& deviceCalls)
    : calls(deviceCalls), adapterCount(0), opened(0), stopping(false), timeouts(), nextSlot(0) {
    reason[0] = 0;
    Enumerate();
}

PassThroughLayer::~PassThroughLayer() {
    std::vector<SRB_ExecSCSICmd*> done;
    {
        std::lock_guard<std::mutex> lock(mutex);
        stopping = true;
        for (Drive* drive : drives)
            AbortAll(drive, done);
        for (SRB_ExecSCSICmd* victim : done)
            FinishRequest(victim, SS_ABORTED); // no post routine runs from a dying layer
        for (Drive* drive : drives)
            if (drive->handle && calls.cancel)
                calls.cancel(calls.context, drive->handle);
    }
    wake.notify_all();
    for (Drive* drive : drives) {
        if (drive->worker.joinable())
            drive->worker.join();
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
        drive->running = nullptr;
        drive->resets = 0;
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

PassThroughLayer::Drive* PassThroughLayer::Find(uint8_t adapter, uint8_t target) {
    for (Drive* drive : drives)
        if (drive->handle && drive->place.adapter == adapter && drive->place.target == target)
            return drive;
    return nullptr;
}

uint32_t PassThroughLayer::GetSupportInfo() {
    uint8_t count = static_cast<uint8_t>(AdapterCount());
    return count ? MakeSupportInfo(SS_COMP, count) : MakeSupportInfo(SS_NO_ADAPTERS, 0);
}

void PassThroughLayer::SetRequestTimeout(const void* srb, uint32_t milliseconds) {
    std::lock_guard<std::mutex> lock(mutex);
    for (TimeoutSlot& slot : timeouts)
        if (slot.srb == srb) {
            slot.milliseconds = milliseconds;
            return;
        }
    timeouts[nextSlot] = TimeoutSlot{srb, milliseconds};
    nextSlot = (nextSlot + 1) % kTimeoutSlots;
}

uint32_t PassThroughLayer::TakeTimeout(const void* srb) {
    for (TimeoutSlot& slot : timeouts)
        if (slot.srb == srb)
            return PassThroughSeconds(slot.milliseconds);
    return PassThroughSeconds(kDefaultTimeoutMs);
}

uint32_t PassThroughLayer::SendCommand(void* request) {
    if (!request)
        return SS_INVALID_SRB;
    SRB_Header* header = static_cast<SRB_Header*>(request);
    switch (header->SRB_Cmd) {
    case SC_HA_INQUIRY:
        return HostAdapterInquiry(static_cast<SRB_HAInquiry*>(request));
    case SC_GET_DEV_TYPE:
        return DeviceType(static_cast<SRB_GDEVBlock*>(request));
    case SC_EXEC_SCSI_CMD:
        return Execute(static_cast<SRB_ExecSCSICmd*>(request));
    case SC_ABORT_SRB:
        return Abort(static_cast<SRB_Abort*>(request));
    case SC_RESET_DEV:
        return Reset(static_cast<SRB_BusDeviceReset*>(request));
    default:
        StoreStatus(&header->SRB_Status, SS_INVALID_CMD);
        return SS_INVALID_CMD;
    }
}

uint32_t PassThroughLayer::HostAdapterInquiry(SRB_HAInquiry* srb) {
    srb->HA_Count = static_cast<uint8_t>(AdapterCount());
    if (srb->SRB_HaId >= AdapterCount()) {
        StoreStatus(&srb->SRB_Status, SS_INVALID_HA);
        return SS_INVALID_HA;
    }
    srb->HA_SCSI_ID = 7;
    CopyText(srb->HA_ManagerId, sizeof srb->HA_ManagerId, "Corvane");
    CopyText(srb->HA_Identifier, sizeof srb->HA_Identifier, "SCSI pass-thru");
    std::memset(srb->HA_Unique, 0, sizeof srb->HA_Unique);
    srb->HA_Unique[3] = kTargetsPerAdapter;
    uint32_t max = kMaxTransfer;
    std::memcpy(srb->HA_Unique + 4, &max, sizeof max);
    StoreStatus(&srb->SRB_Status, SS_COMP);
    return SS_COMP;
}

uint32_t PassThroughLayer::DeviceType(SRB_GDEVBlock* srb) {
    uint8_t status = SS_COMP;
    if (srb->SRB_HaId >= AdapterCount())
        status = SS_INVALID_HA;
    else if (!Find(srb->SRB_HaId, srb->SRB_Target))
        status = SS_NO_DEVICE;
    else
        srb->SRB_DeviceType = DTYPE_CDROM; // every device object here is a CD/DVD drive
    StoreStatus(&srb->SRB_Status, status);
    return status;
}

uint32_t PassThroughLayer::Abort(SRB_Abort* srb) {
    std::vector<SRB_ExecSCSICmd*> done;
    std::vector<void*> posts;
    int found;
    {
        std::lock_guard<std::mutex> lock(mutex);
        found = AbortOne(srb->SRB_ToAbort, done);
        for (SRB_ExecSCSICmd* victim : done)
            posts.push_back(FinishRequest(victim, SS_ABORTED));
    }
    CallPosts(done, posts);
    uint8_t status = found ? SS_COMP : SS_ABORT_FAIL;
    StoreStatus(&srb->SRB_Status, status);
    return status;
}

uint32_t PassThroughLayer::Reset(SRB_BusDeviceReset* srb) {
    std::vector<SRB_ExecSCSICmd*> done;
    std::vector<void*> posts;
    uint8_t status = SS_COMP;
    {
        std::lock_guard<std::mutex> lock(mutex);
        Drive* drive = Find(srb->SRB_HaId, srb->SRB_Target);
        if (srb->SRB_HaId >= AdapterCount()) {
            status = SS_INVALID_HA;
        } else if (!drive) {
            status = SS_NO_DEVICE;
        } else {
            // The system has no reset that every driver honours; giving the
            // requests back is what the submitter waits for.
            ++drive->resets;
            AbortAll(drive, done);
            for (SRB_ExecSCSICmd* victim : done)
                posts.push_back(FinishRequest(victim, SS_ABORTED));
        }
        srb->SRB_HaStat = HASTAT_OK;
        srb->SRB_TargStat = STATUS_GOOD;
    }
    CallPosts(done, posts);
    StoreStatus(&srb->SRB_Status, status);
    return status;
}

uint32_t PassThroughLayer::Execute(SRB_ExecSCSICmd* srb) {
    void* post = nullptr;
    uint8_t status;
    {
        std::lock_guard<std::mutex> lock(mutex);
        status =
            CheckExecuteRequest(srb, static_cast<uint8_t>(AdapterCount()), uint32_t{kMaxTransfer});
        Drive* drive = status == SS_PENDING ? Find(srb->SRB_HaId, srb->SRB_Target) : nullptr;
        if (status == SS_PENDING && !drive)
            status = SS_NO_DEVICE;
        srb->SRB_HaStat = HASTAT_OK;
        srb->SRB_TargStat = STATUS_GOOD;
        if (status != SS_PENDING) {
            post = FinishRequest(srb, status);
        } else {
            StoreStatus(&srb->SRB_Status, SS_PENDING);
            drive->queue.push_back(Job{srb, TakeTimeout(srb)});
            if (!drive->worker.joinable())
                drive->worker = std::thread(&PassThroughLayer::DriveLoop, this, drive);
        }
    }
    if (status == SS_PENDING)
        wake.notify_all();
    else if (post)
        reinterpret_cast<PostRoutine>(post)(srb);
    return status;
}

void PassThroughLayer::DriveLoop(Drive* drive) {
    std::unique_lock<std::mutex> lock(mutex);
    PassThroughRequest pt;
    while (!stopping) {
        if (drive->queue.empty()) {
            wake.wait(lock);
            continue;
        }
        Job job = drive->queue.front();
        drive->queue.erase(drive->queue.begin());
        SRB_ExecSCSICmd* srb = job.srb;
        drive->running = srb;
        uint32_t length =
            BuildPassThrough(*srb, drive->place.address, job.timeoutSeconds, drive->bounce, pt);
        // The system may hold the command for its whole time-out; the
        // request stays abortable meanwhile.
        lock.unlock();
        int carriedOut = calls.passThrough(calls.context, drive->handle, &pt);
        lock.lock();
        if (drive->running != srb)
            continue; // given back by an abort or a reset: the answer is dropped
        drive->running = nullptr;
        uint8_t status = AnswerFromPassThrough(carriedOut, pt, drive->bounce, length, *srb);
        if (void* post = FinishRequest(srb, status)) {
            lock.unlock();
            reinterpret_cast<PostRoutine>(post)(srb);
            lock.lock();
        }
    }
}

void PassThroughLayer::AbortAll(Drive* drive, std::vector<SRB_ExecSCSICmd*>& done) {
    if (drive->running) {
        done.push_back(drive->running);
        drive->running = nullptr;
    }
    for (const Job& job : drive->queue)
        done.push_back(job.srb);
    drive->queue.clear();
}

int PassThroughLayer::AbortOne(const void* srb, std::vector<SRB_ExecSCSICmd*>& done) {
    if (!srb)
        return 0;
    for (Drive* drive : drives) {
        if (drive->running == srb) {
            done.push_back(drive->running);
            drive->running = nullptr;
            return 1;
        }
        for (size_t i = 0; i < drive->queue.size(); ++i)
            if (drive->queue[i].srb == srb) {
                done.push_back(drive->queue[i].srb);
                drive->queue.erase(drive->queue.begin() + static_cast<ptrdiff_t>(i));
                return 1;
            }
    }
    return 0;
}

int PassThroughLayer::ResetCount(int adapter, int target) {
    std::lock_guard<std::mutex> lock(mutex);
    Drive* drive = Find(static_cast<uint8_t>(adapter), static_cast<uint8_t>(target));
    return drive ? drive->resets : -1;
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
        std::snprintf(place, sizeof place, "%d:%d", p.adapter, p.target);
    if (!p.addressed)
        return std::snprintf(text, size, "  %s = %s (no SCSI address%s)%s", place, name, state,
                             kLineEnd);
    return std::snprintf(text, size, "  %s = %s (%s %d, %s %d, target %d, lun %d%s)%s", place, name,
                         calls.portName ? calls.portName : "port", a.PortNumber,
                         calls.pathName ? calls.pathName : "path", a.PathId, a.TargetId, a.Lun,
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

} // namespace

const LayerOps PassThroughLayer::kOps = {"SCSI pass-through", &OpsSupportInfo, &OpsSend,
                                         &OpsTimeout,         &OpsDescribe,    &OpsFind};

} // namespace aspi
