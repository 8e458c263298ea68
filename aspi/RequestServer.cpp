#include "aspi/RequestServer.h"

#include "aspi/AspiPlatform.h"
#include "aspi/DeviceAddress.h"

#include <chrono>
#include <cstring>

namespace aspi {
namespace {

void CopyText(uint8_t* field, size_t size, const char* text) {
    size_t n = std::strlen(text);
    std::memset(field, ' ', size);
    std::memcpy(field, text, n < size ? n : size);
}

void CallPost(void* post, void* srb) {
    if (post)
        reinterpret_cast<PostRoutine>(post)(srb);
}

// Host adapter inquiry and device type answer at once: the status is all
// there is to store.
uint32_t Answer(void* srb, uint8_t status) {
    StoreStatus(&static_cast<SRB_Header*>(srb)->SRB_Status, status);
    return status;
}

} // namespace

RequestServer::RequestServer(const TargetOps& targetOps, void* layer)
    : ops(targetOps), self(layer), stopping(false), timeouts(), nextTimeout(0) {}

RequestServer::~RequestServer() {
    Stop();
}

void RequestServer::Stop() {
    {
        std::lock_guard<std::mutex> lock(mutex);
        if (stopping)
            return;
        stopping = true;
        Posts unused; // no post routine runs from a layer that goes
        for (auto& slot : slots)
            GiveBackAll(slot.get(), GivenBack::Stop, unused);
    }
    wake.notify_all();
    for (auto& slot : slots) {
        if (ops.cancel && slot->worker.joinable())
            ops.cancel(self, slot->target);
        if (slot->worker.joinable())
            slot->worker.join();
    }
}

uint8_t RequestServer::AdapterCount() {
    int count = ops.adapterCount(self);
    return static_cast<uint8_t>(count < 0 ? 0 : count > 255 ? 255 : count);
}

uint32_t RequestServer::GetSupportInfo() {
    uint8_t count = AdapterCount();
    return count ? MakeSupportInfo(SS_COMP, count) : MakeSupportInfo(SS_NO_ADAPTERS, 0);
}

RequestServer::Slot* RequestServer::SlotAt(uint8_t adapter, uint8_t target, uint8_t lun) {
    uint8_t type = 0;
    // Every target here is one logical unit: a client that looks for more
    // finds none, not the same drive again.
    void* found = lun == 0 && target < kTargetsPerAdapter && adapter < AdapterCount()
                      ? ops.find(self, adapter, target, &type)
                      : nullptr;
    if (!found)
        return nullptr;
    for (auto& slot : slots)
        if (slot->target == found)
            return slot.get();
    slots.emplace_back(new Slot{found, {}, nullptr, 0, 0, false, std::thread(), 0});
    return slots.back().get();
}

uint32_t RequestServer::SendCommand(void* request) {
    if (!request)
        return SS_INVALID_SRB;
    switch (static_cast<SRB_Header*>(request)->SRB_Cmd) {
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
        return Answer(request, SS_INVALID_CMD);
    }
}

// The count is written whatever adapter is asked about, so that a client
// learns it from any inquiry.
uint32_t RequestServer::HostAdapterInquiry(SRB_HAInquiry* srb) {
    srb->HA_Count = AdapterCount();
    if (srb->SRB_HaId >= srb->HA_Count)
        return Answer(srb, SS_INVALID_HA);
    srb->HA_SCSI_ID = 7;
    CopyText(srb->HA_ManagerId, sizeof srb->HA_ManagerId, "Corvane");
    CopyText(srb->HA_Identifier, sizeof srb->HA_Identifier, ops.adapterName);
    std::memset(srb->HA_Unique, 0, sizeof srb->HA_Unique);
    srb->HA_Unique[3] = kTargetsPerAdapter;
    uint32_t max = ops.maxTransfer;
    std::memcpy(srb->HA_Unique + 4, &max, sizeof max);
    return Answer(srb, SS_COMP);
}

uint32_t RequestServer::DeviceType(SRB_GDEVBlock* srb) {
    if (srb->SRB_HaId >= AdapterCount())
        return Answer(srb, SS_INVALID_HA);
    std::lock_guard<std::mutex> lock(mutex);
    uint8_t type = 0;
    void* found = srb->SRB_Lun == 0 && srb->SRB_Target < kTargetsPerAdapter
                      ? ops.find(self, srb->SRB_HaId, srb->SRB_Target, &type)
                      : nullptr;
    if (!found)
        return Answer(srb, SS_NO_DEVICE);
    srb->SRB_DeviceType = type;
    return Answer(srb, SS_COMP);
}

void RequestServer::SetRequestTimeout(const void* srb, uint32_t milliseconds) {
    std::lock_guard<std::mutex> lock(mutex);
    for (TimeoutSlot& slot : timeouts)
        if (slot.srb == srb) {
            slot.milliseconds = milliseconds;
            return;
        }
    timeouts[nextTimeout] = TimeoutSlot{srb, milliseconds};
    nextTimeout = (nextTimeout + 1) % kTimeoutSlots;
}

uint32_t RequestServer::TakeTimeout(const void* srb) {
    for (TimeoutSlot& slot : timeouts)
        if (slot.srb == srb)
            return slot.milliseconds;
    return kDefaultTimeoutMs;
}

// A request to an idle target starts at once, as a layer sends a command to
// a free drive; one to a busy target waits its turn.
uint32_t RequestServer::Execute(SRB_ExecSCSICmd* srb) {
    void* post = nullptr;
    uint8_t status;
    {
        std::lock_guard<std::mutex> lock(mutex);
        status = stopping ? uint8_t{SS_ABORTED}
                          : CheckExecuteRequest(srb, AdapterCount(), ops.maxTransfer);
        Slot* slot =
            status == SS_PENDING ? SlotAt(srb->SRB_HaId, srb->SRB_Target, srb->SRB_Lun) : nullptr;
        if (status == SS_PENDING && !slot)
            status = SS_NO_DEVICE;
        srb->SRB_HaStat = HASTAT_OK;
        srb->SRB_TargStat = STATUS_GOOD;
        if (status == SS_PENDING) {
            StoreStatus(&srb->SRB_Status, SS_PENDING);
            const Job job{srb, TakeTimeout(srb)};
            if (slot->running || slot->inSystem || !slot->queue.empty())
                slot->queue.push_back(job);
            else
                status = Start(slot, job);
            if (!slot->worker.joinable())
                slot->worker = std::thread(&RequestServer::Serve, this, slot);
        }
        if (status != SS_PENDING)
            post = FinishRequest(srb, status);
    }
    if (status == SS_PENDING)
        wake.notify_all();
    CallPost(post, srb);
    return status;
}

uint8_t RequestServer::Start(Slot* slot, const Job& job) {
    slot->running = job.srb;
    ++slot->serial;
    slot->holdMs = 0;
    uint8_t status = ops.prepare(self, slot->target, job.srb, job.timeoutMs, &slot->holdMs);
    if (status != SS_PENDING)
        slot->running = nullptr;
    return status;
}

void RequestServer::Serve(Slot* slot) {
    std::unique_lock<std::mutex> lock(mutex);
    while (!stopping) {
        if (!slot->running && slot->queue.empty()) {
            wake.wait(lock);
            continue;
        }
        if (!slot->running) {
            Job job = slot->queue.front();
            slot->queue.erase(slot->queue.begin());
            uint8_t status = Start(slot, job);
            if (status != SS_PENDING)
                Finish(lock, job.srb, status);
            continue;
        }
        SRB_ExecSCSICmd* srb = slot->running;
        uint8_t status = Carry(lock, slot);
        if (status != SS_PENDING) {
            slot->running = nullptr;
            Finish(lock, srb, status);
        }
    }
}

uint8_t RequestServer::Carry(std::unique_lock<std::mutex>& lock, Slot* slot) {
    SRB_ExecSCSICmd* srb = slot->running;
    const uint32_t serial = slot->serial, holdMs = slot->holdMs;
    const auto givenBack = [&] {
        return stopping || slot->running != srb || slot->serial != serial;
    };
    if (ops.run) {
        // The system may hold the command for its whole time-out; the
        // request stays abortable meanwhile.
        slot->inSystem = true;
        lock.unlock();
        ops.run(self, slot->target);
        lock.lock();
        slot->inSystem = false;
    }
    if (holdMs == kHoldForever)
        wake.wait(lock, givenBack);
    else if (holdMs)
        wake.wait_for(lock, std::chrono::milliseconds(holdMs), givenBack);
    if (givenBack())
        return SS_PENDING; // the answer is dropped
    return ops.answer(self, slot->target, srb);
}

void RequestServer::Finish(std::unique_lock<std::mutex>& lock, SRB_ExecSCSICmd* srb,
                           uint8_t status) {
    if (void* post = FinishRequest(srb, status)) {
        lock.unlock();
        CallPost(post, srb);
        lock.lock();
    }
}

int RequestServer::GiveBack(Slot* slot, SRB_ExecSCSICmd* srb, GivenBack why, Posts& posts) {
    if (ops.gaveBack)
        ops.gaveBack(self, slot->target, srb, why);
    if (void* post = FinishRequest(srb, SS_ABORTED))
        posts.emplace_back(post, srb);
    return 1;
}

int RequestServer::GiveBackAll(Slot* slot, GivenBack why, Posts& posts) {
    int released = 0;
    if (SRB_ExecSCSICmd* running = slot->running) {
        slot->running = nullptr;
        released += GiveBack(slot, running, why, posts);
    }
    std::vector<Job> queue;
    queue.swap(slot->queue);
    for (const Job& job : queue)
        released += GiveBack(slot, job.srb, why, posts);
    return released;
}

uint32_t RequestServer::Abort(SRB_Abort* srb) {
    Posts posts;
    int found = 0;
    {
        std::lock_guard<std::mutex> lock(mutex);
        for (auto& slot : slots) {
            if (srb->SRB_ToAbort && slot->running == srb->SRB_ToAbort) {
                slot->running = nullptr;
                found = GiveBack(slot.get(), static_cast<SRB_ExecSCSICmd*>(srb->SRB_ToAbort),
                                 GivenBack::Abort, posts);
            }
            for (size_t i = 0; !found && i < slot->queue.size(); ++i)
                if (slot->queue[i].srb == srb->SRB_ToAbort) {
                    SRB_ExecSCSICmd* victim = slot->queue[i].srb;
                    slot->queue.erase(slot->queue.begin() + static_cast<ptrdiff_t>(i));
                    found = GiveBack(slot.get(), victim, GivenBack::Abort, posts);
                }
            if (found)
                break;
        }
    }
    wake.notify_all();
    for (auto& post : posts)
        CallPost(post.first, post.second);
    return Answer(srb, found ? SS_COMP : SS_ABORT_FAIL);
}

// The system has no reset that every driver honours; giving the requests
// back is what the submitter waits for. The reset ends as a request does:
// its status last, then its event or post routine.
uint32_t RequestServer::Reset(SRB_BusDeviceReset* srb) {
    Posts posts;
    uint8_t status = SS_COMP;
    {
        std::lock_guard<std::mutex> lock(mutex);
        Slot* slot = SlotAt(srb->SRB_HaId, srb->SRB_Target, srb->SRB_Lun);
        if (srb->SRB_HaId >= AdapterCount()) {
            status = SS_INVALID_HA;
        } else if (!slot) {
            status = SS_NO_DEVICE;
        } else {
            ++slot->resets;
            int released = GiveBackAll(slot, GivenBack::Reset, posts);
            if (ops.reset)
                ops.reset(self, slot->target, released);
        }
        srb->SRB_HaStat = HASTAT_OK;
        srb->SRB_TargStat = STATUS_GOOD;
    }
    wake.notify_all();
    for (auto& post : posts)
        CallPost(post.first, post.second);
    const uint8_t flags = srb->SRB_Flags;
    void* post = srb->SRB_PostProc;
    StoreStatus(&srb->SRB_Status, status);
    if (flags & SRB_EVENT_NOTIFY)
        SignalCompletionEvent(post);
    else if (flags & SRB_POSTING)
        CallPost(post, srb);
    return status;
}

int RequestServer::PendingCount() {
    std::lock_guard<std::mutex> lock(mutex);
    int count = 0;
    for (auto& slot : slots)
        count += static_cast<int>(slot->queue.size()) + (slot->running ? 1 : 0);
    return count;
}

int RequestServer::ResetCount(uint8_t adapter, uint8_t target) {
    std::lock_guard<std::mutex> lock(mutex);
    Slot* slot = SlotAt(adapter, target, 0);
    return slot ? slot->resets : -1;
}

} // namespace aspi
