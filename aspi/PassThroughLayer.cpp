#include "aspi/PassThroughLayer.h"

#include "aspi/AspiPlatform.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <tuple>

namespace aspi {
namespace {

constexpr uint8_t kTargets = 8;
constexpr uint8_t kCdDevice = 0x05;

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

} // namespace

uint32_t PassThroughSeconds(uint32_t milliseconds) {
    uint32_t seconds = milliseconds / 1000 + (milliseconds % 1000 ? 1 : 0);
    return seconds ? seconds : 1;
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

PassThroughLayer::PassThroughLayer(const DeviceCalls& deviceCalls)
    : calls(deviceCalls), adapterCount(0), stopping(false), timeouts(), nextSlot(0) {
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
    }
    wake.notify_all();
    for (Drive* drive : drives) {
        if (drive->worker.joinable())
            drive->worker.join();
        calls.close(calls.context, drive->handle);
        delete drive;
    }
}

void PassThroughLayer::Enumerate() {
    int denied = 0;
    std::vector<Drive*> found;
    for (uint32_t i = 0; i < kMaxDeviceObjects; ++i) {
        int result = kOpenMissing;
        void* handle = calls.open(calls.context, static_cast<int>(i), &result);
        if (!handle) {
            denied += result == kOpenDenied;
            continue; // numbers may have gaps where a drive was removed
        }
        Drive* drive = new Drive();
        drive->handle = handle;
        drive->index = static_cast<int>(i);
        drive->addressed = calls.getAddress(calls.context, handle, &drive->address);
        drive->running = nullptr;
        drive->resets = 0;
        found.push_back(drive);
    }
    // Addressed drives by address, then the others in device order.
    std::stable_sort(found.begin(), found.end(), [](const Drive* a, const Drive* b) {
        if (a->addressed != b->addressed)
            return a->addressed > b->addressed;
        if (!a->addressed)
            return false;
        const ScsiAddress &x = a->address, &y = b->address;
        return std::tie(x.PortNumber, x.PathId, x.TargetId, x.Lun) <
               std::tie(y.PortNumber, y.PathId, y.TargetId, y.Lun);
    });

    int adapter = -1;
    int lastPort = -1, lastPath = -1, lastAddressed = -1;
    std::vector<Drive*> pending; // target ids that need a free slot
    auto placeOverflow = [this, &pending]() {
        for (Drive* drive : pending) {
            uint8_t t = 0;
            while (t < kTargets && Find(drive->adapter, t, drive->lun))
                ++t;
            if (t == kTargets) {
                calls.close(calls.context, drive->handle); // no room: out of reach
                delete drive;
                continue;
            }
            drive->target = t;
            drives.push_back(drive);
        }
        pending.clear();
    };
    for (Drive* drive : found) {
        bool addressed = drive->addressed != 0;
        int port = addressed ? drive->address.PortNumber : -1;
        int path = addressed ? drive->address.PathId : -1;
        if (adapter < 0 || port != lastPort || path != lastPath ||
            drive->addressed != lastAddressed) {
            placeOverflow();
            ++adapter;
            lastPort = port;
            lastPath = path;
            lastAddressed = drive->addressed;
        }
        drive->adapter = static_cast<uint8_t>(adapter);
        drive->lun = addressed ? drive->address.Lun : 0;
        if (addressed && drive->address.TargetId < kTargets &&
            !Find(drive->adapter, drive->address.TargetId, drive->lun)) {
            drive->target = drive->address.TargetId;
            drives.push_back(drive);
        } else {
            pending.push_back(drive);
        }
    }
    placeOverflow();
    adapterCount = adapter + 1;
    if (adapterCount > 0) {
        std::sort(drives.begin(), drives.end(), [](const Drive* a, const Drive* b) {
            return std::tie(a->adapter, a->target, a->lun) <
                   std::tie(b->adapter, b->target, b->lun);
        });
    } else {
        std::snprintf(reason, sizeof reason, "%s",
                      denied ? "The SCSI pass-through needs administrator rights."
                             : "No CD/DVD drive was found.");
    }
}

PassThroughLayer::Drive* PassThroughLayer::Find(uint8_t adapter, uint8_t target, uint8_t lun) {
    for (Drive* drive : drives)
        if (drive->adapter == adapter && drive->target == target && drive->lun == lun)
            return drive;
    return nullptr;
}

uint32_t PassThroughLayer::GetSupportInfo() {
    return adapterCount ? MakeSupportInfo(SS_COMP, static_cast<uint8_t>(adapterCount))
                        : MakeSupportInfo(SS_NO_ADAPTERS, 0);
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
    case SC_HA_INQUIRY: {
        SRB_HAInquiry* srb = static_cast<SRB_HAInquiry*>(request);
        srb->HA_Count = static_cast<uint8_t>(adapterCount);
        if (srb->SRB_HaId >= adapterCount) {
            StoreStatus(&srb->SRB_Status, SS_INVALID_HA);
            return SS_INVALID_HA;
        }
        srb->HA_SCSI_ID = 7;
        CopyText(srb->HA_ManagerId, sizeof srb->HA_ManagerId, "Corvane");
        CopyText(srb->HA_Identifier, sizeof srb->HA_Identifier, "SCSI pass-thru");
        std::memset(srb->HA_Unique, 0, sizeof srb->HA_Unique);
        srb->HA_Unique[3] = kTargets;
        uint32_t max = kMaxTransfer;
        std::memcpy(srb->HA_Unique + 4, &max, sizeof max);
        StoreStatus(&srb->SRB_Status, SS_COMP);
        return SS_COMP;
    }
    case SC_GET_DEV_TYPE: {
        SRB_GDEVBlock* srb = static_cast<SRB_GDEVBlock*>(request);
        uint8_t status = SS_COMP;
        if (srb->SRB_HaId >= adapterCount)
            status = SS_INVALID_HA;
        else if (!Find(srb->SRB_HaId, srb->SRB_Target, srb->SRB_Lun))
            status = SS_NO_DEVICE;
        else
            srb->SRB_DeviceType = kCdDevice; // every device object here is a CD/DVD drive
        StoreStatus(&srb->SRB_Status, status);
        return status;
    }
    case SC_EXEC_SCSI_CMD:
        return Execute(static_cast<SRB_ExecSCSICmd*>(request));
    case SC_ABORT_SRB: {
        SRB_Abort* srb = static_cast<SRB_Abort*>(request);
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
    case SC_RESET_DEV: {
        SRB_BusDeviceReset* srb = static_cast<SRB_BusDeviceReset*>(request);
        std::vector<SRB_ExecSCSICmd*> done;
        std::vector<void*> posts;
        uint8_t status = SS_COMP;
        {
            std::lock_guard<std::mutex> lock(mutex);
            Drive* drive = srb->SRB_HaId < adapterCount
                               ? Find(srb->SRB_HaId, srb->SRB_Target, srb->SRB_Lun)
                               : nullptr;
            if (srb->SRB_HaId >= adapterCount) {
                status = SS_INVALID_HA;
            } else if (!drive) {
                status = SS_NO_DEVICE;
            } else {
                // The system has no reset that every driver honours; giving
                // the requests back is what the submitter waits for.
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
    default:
        StoreStatus(&header->SRB_Status, SS_INVALID_CMD);
        return SS_INVALID_CMD;
    }
}

uint32_t PassThroughLayer::Execute(SRB_ExecSCSICmd* srb) {
    void* post = nullptr;
    uint8_t status;
    {
        std::lock_guard<std::mutex> lock(mutex);
        status =
            CheckExecuteRequest(srb, static_cast<uint8_t>(adapterCount), uint32_t{kMaxTransfer});
        Drive* drive =
            status == SS_PENDING ? Find(srb->SRB_HaId, srb->SRB_Target, srb->SRB_Lun) : nullptr;
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

        std::memset(&pt, 0, sizeof pt);
        pt.spt.Length = sizeof pt.spt;
        pt.spt.PathId = drive->address.PathId;
        pt.spt.TargetId = drive->address.TargetId;
        pt.spt.Lun = drive->address.Lun;
        pt.spt.CdbLength = srb->SRB_CDBLen;
        pt.spt.SenseInfoLength = PT_SENSE_BYTES;
        uint8_t dir = srb->SRB_Flags & (SRB_DIR_IN | SRB_DIR_OUT);
        uint32_t length = srb->SRB_BufLen;
        pt.spt.DataIn = dir == SRB_DIR_IN    ? PT_DATA_IN
                        : dir == SRB_DIR_OUT ? PT_DATA_OUT
                                             : PT_DATA_UNSPECIFIED;
        if (dir == (SRB_DIR_IN | SRB_DIR_OUT))
            length = 0; // both bits: no data phase
        pt.spt.DataTransferLength = length;
        pt.spt.TimeOutValue = job.timeoutSeconds;
        if (drive->bounce.size() < length)
            drive->bounce.resize(length);
        pt.spt.DataBuffer = length ? drive->bounce.data() : nullptr;
        pt.spt.SenseInfoOffset = offsetof(PassThroughRequest, sense);
        std::memcpy(pt.spt.Cdb, srb->CDBByte, srb->SRB_CDBLen);
        if (length && pt.spt.DataIn == PT_DATA_OUT)
            std::memcpy(drive->bounce.data(), srb->SRB_BufPointer, length);
        else if (length)
            std::memset(drive->bounce.data(), 0, length);

        // The system may hold the command for its whole time-out; the
        // request stays abortable meanwhile.
        lock.unlock();
        int carriedOut = calls.passThrough(calls.context, drive->handle, &pt);
        lock.lock();
        if (drive->running != srb)
            continue; // given back by an abort or a reset: the answer is dropped
        drive->running = nullptr;

        if (carriedOut && pt.spt.DataIn != PT_DATA_OUT && length) {
            uint32_t moved = std::min(pt.spt.DataTransferLength, length);
            std::memcpy(srb->SRB_BufPointer, drive->bounce.data(), moved);
        }
        uint8_t status = MapPassThroughResult(carriedOut, pt, *srb);
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
    Drive* drive = Find(static_cast<uint8_t>(adapter), static_cast<uint8_t>(target), 0);
    return drive ? drive->resets : -1;
}

void PassThroughLayer::Describe(char* text, uint32_t size) const {
    if (!size)
        return;
    int used = std::snprintf(text, size, "SCSI pass-through: %d host adapter(s)%s%s%s",
                             adapterCount, reason[0] ? ". " : "", reason, kLineEnd);
    for (const Drive* drive : drives) {
        if (used < 0 || static_cast<uint32_t>(used) >= size)
            break;
        const ScsiAddress& a = drive->address;
        const char* prefix = calls.prefix ? calls.prefix : "";
        used += drive->addressed
                    ? std::snprintf(text + used, size - used,
                                    "  %d:%d = %s%d (port %d, path %d, target %d, lun %d)%s",
                                    drive->adapter, drive->target, prefix, drive->index,
                                    a.PortNumber, a.PathId, a.TargetId, a.Lun, kLineEnd)
                    : std::snprintf(text + used, size - used, "  %d:%d = %s%d (no SCSI address)%s",
                                    drive->adapter, drive->target, prefix, drive->index, kLineEnd);
    }
}

int PassThroughLayer::FindDevice(const char* path, uint8_t* adapter, uint8_t* target) const {
    int index = calls.indexOf ? calls.indexOf(calls.context, path) : -1;
    for (const Drive* drive : drives)
        if (index >= 0 && drive->index == index) {
            *adapter = drive->adapter;
            *target = drive->target;
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
