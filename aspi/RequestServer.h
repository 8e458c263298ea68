// The part of an ASPI layer that does not depend on where its drives are:
// the commands of a request (host adapter inquiry, device type, execute,
// abort, reset), the checks of an execute request, one queue and one worker
// a target, giving requests back on abort and reset, and completion: data,
// host and target status and sense first, the request status last, then the
// event or the post routine, outside the lock.
//
// A layer plugs in through a table of its own (TargetOps): which target an
// address names and how one command reaches it. The simulated bank and our
// pass-through layer are both served so, so an ASPI client meets the same
// rules on either.
#pragma once

#include "aspi/AspiRecords.h"

#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace aspi {

// A command held until it is given back (a drive that never answers).
constexpr uint32_t kHoldForever = 0xFFFFFFFFu;

// Why a request went back to its submitter unanswered.
enum class GivenBack { Abort, Reset, Stop };

// What a layer tells its server. Every slot gets the layer's `self`. Slots
// marked "locked" run under the server's lock and must not call the server.
struct TargetOps {
    const char* adapterName; // the host adapter inquiry's identifier
    uint32_t maxTransfer;    // the most bytes one request may move
    int (*adapterCount)(void* self);
    // The target at this adapter and target number (logical unit 0), with
    // its peripheral device type; null where there is none. Locked.
    void* (*find)(void* self, uint8_t adapter, uint8_t target, uint8_t* type);
    // One command on a target, one at a time a target. Prepare (locked)
    // takes what it needs from the request and answers SS_PENDING, with how
    // long to hold it before its answer (kHoldForever: until it is given
    // back), or the status to end it with now (host status written).
    uint8_t (*prepare)(void* self, void* target, SRB_ExecSCSICmd* srb, uint32_t timeoutMs,
                       uint32_t* holdMs);
    // Carries it out, unlocked, for as long as the system takes. Null: the
    // answer needs no time of its own.
    void (*run)(void* self, void* target);
    // Writes data, residual count, host and target status and sense into the
    // request (locked, only while it is still the server's); answers its
    // status.
    uint8_t (*answer)(void* self, void* target, SRB_ExecSCSICmd* srb);
    // A request of this target given back unanswered (locked). May be null.
    void (*gaveBack)(void* self, void* target, const SRB_ExecSCSICmd* srb, GivenBack why);
    // A reset of this target, after `released` requests went back (locked).
    // May be null.
    void (*reset)(void* self, void* target, int released);
    // Makes a run on this target end soon: the server stops (unlocked). Null:
    // runs end on their own in bounded time.
    void (*cancel)(void* self, void* target);
};

class RequestServer {
  public:
    enum : uint32_t { kDefaultTimeoutMs = 7200, kTimeoutSlots = 8 };

    RequestServer(const TargetOps& ops, void* self);
    // Stop, if the layer has not.
    ~RequestServer();
    RequestServer(const RequestServer&) = delete;
    RequestServer& operator=(const RequestServer&) = delete;

    // Gives every request back as aborted (no post routine runs: the layer
    // is going) and ends the workers. A layer calls it first when it goes,
    // while its targets still exist.
    void Stop();

    // The two ASPI entry points.
    uint32_t GetSupportInfo();
    uint32_t SendCommand(void* srb);

    // The time-out the submitter of this record waits, for the next execute
    // request carried in it; without one a request gets kDefaultTimeoutMs.
    void SetRequestTimeout(const void* srb, uint32_t milliseconds);

    // Requests queued or being carried out.
    int PendingCount();
    // Resets asked for on this target; -1 where there is none.
    int ResetCount(uint8_t adapter, uint8_t target);

  private:
    struct Job {
        SRB_ExecSCSICmd* srb;
        uint32_t timeoutMs;
    };
    struct Slot {
        void* target;
        std::vector<Job> queue;   // oldest first
        SRB_ExecSCSICmd* running; // started, until answered or given back
        uint32_t serial;          // of the last start: the record may come again
        uint32_t holdMs;
        bool inSystem; // a run is under way, whatever request it was for
        std::thread worker;
        int resets;
    };
    typedef std::vector<std::pair<void*, void*>> Posts; // routine, request

    uint8_t AdapterCount();
    // The target's slot, made at its first use; null where there is none.
    Slot* SlotAt(uint8_t adapter, uint8_t target, uint8_t lun);
    uint32_t HostAdapterInquiry(SRB_HAInquiry* srb);
    uint32_t DeviceType(SRB_GDEVBlock* srb);
    uint32_t Execute(SRB_ExecSCSICmd* srb);
    uint32_t Abort(SRB_Abort* srb);
    uint32_t Reset(SRB_BusDeviceReset* srb);
    uint32_t TakeTimeout(const void* srb);
    // Prepares a request on its idle target: SS_PENDING when it is under
    // way, else the status it ends with now.
    uint8_t Start(Slot* slot, const Job& job);
    void Serve(Slot* slot);
    // Runs and answers the started request: SS_PENDING when it was given back
    // meanwhile.
    uint8_t Carry(std::unique_lock<std::mutex>& lock, Slot* slot);
    void Finish(std::unique_lock<std::mutex>& lock, SRB_ExecSCSICmd* srb, uint8_t status);
    int GiveBackAll(Slot* slot, GivenBack why, Posts& posts);
    int GiveBack(Slot* slot, SRB_ExecSCSICmd* srb, GivenBack why, Posts& posts);

    const TargetOps& ops;
    void* self;
    std::mutex mutex;
    std::condition_variable wake;
    bool stopping;
    std::vector<std::unique_ptr<Slot>> slots;
    struct TimeoutSlot {
        const void* srb;
        uint32_t milliseconds;
    } timeouts[kTimeoutSlots];
    uint32_t nextTimeout;
};

} // namespace aspi
