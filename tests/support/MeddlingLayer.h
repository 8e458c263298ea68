// A clock that jumps, so that a command the bank holds for good times out at
// once; and a simulated bank behind a layer that meddles with one kind of
// command: the drive is not reached (no device, or its selection times out),
// a signal comes in as the command is sent, or the command (which the bank
// must hold) times out. Shared by the procedure's and the command line's tests.
#pragma once

#include "aspi/AspiLayer.h"
#include "aspi/AspiRecords.h"
#include "aspi/AspiSeam.h"
#include "simulator/DriveBank.h"

#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <mutex>
#include <thread>

// Real time plus jumps: a command the bank holds for good is made to time
// out at once by moving the clock past any time-out.
inline std::atomic<uint32_t> jumpedTicks{0};
inline uint32_t JumpingTicks() {
    using namespace std::chrono;
    const auto now = duration_cast<milliseconds>(steady_clock::now().time_since_epoch());
    return static_cast<uint32_t>(now.count()) + jumpedTicks.load();
}

enum class Meddle { None, NoDevice, SelectionTimeout, WentAway, Signal, TimeOut };

inline bool IsTransferCdb(const uint8_t* cdb) {
    return cdb[0] == 0xCB && (cdb[9] == 0x04 || cdb[9] == 0x84);
}
inline bool IsFirstProbeCdb(const uint8_t* cdb) {
    return cdb[0] == 0xCB && cdb[2] == 0x22 && cdb[9] == 0x01;
}
inline bool IsPreventCdb(const uint8_t* cdb) {
    return cdb[0] == 0x1E;
}

class MeddlingLayer {
  public:
    // From now the process's layer; `matches` picks the commands meddled with.
    // A time-out needs the polled wait on JumpingTicks (Windows 95/98).
    MeddlingLayer(simulator::DriveBank& drives, bool (*matches)(const uint8_t*), Meddle how,
                  int signalNumber = 0)
        : bank(drives), picks(matches), meddle(how), signal(signalNumber) {
        aspi::UseLayer(&kOps, this);
        if (how == Meddle::TimeOut)
            clock = std::thread([this] { JumpWhileHeld(); });
    }
    ~MeddlingLayer() {
        done = true;
        if (clock.joinable())
            clock.join();
        aspi::UseLayer(&aspi::kNoLayer);
    }
    MeddlingLayer(const MeddlingLayer&) = delete;
    MeddlingLayer& operator=(const MeddlingLayer&) = delete;

  private:
    static uint32_t SupportInfo(void* self) {
        return static_cast<MeddlingLayer*>(self)->bank.GetSupportInfo();
    }
    static uint32_t Send(void* self, void* request) {
        MeddlingLayer& layer = *static_cast<MeddlingLayer*>(self);
        auto* srb = static_cast<aspi::SRB_ExecSCSICmd*>(request);
        if (srb->SRB_Cmd != aspi::SC_EXEC_SCSI_CMD || !layer.picks(srb->CDBByte) ||
            layer.meddle == Meddle::None) {
            layer.Disarm();
            return layer.bank.SendCommand(request);
        }
        if (layer.meddle == Meddle::Signal) {
            kill(getpid(), layer.signal); // to the process, as a user's signal comes
            return layer.bank.SendCommand(request);
        }
        if (layer.meddle == Meddle::TimeOut) {
            const uint32_t status = layer.bank.SendCommand(request);
            const std::lock_guard<std::mutex> lock(layer.jumping);
            layer.held = true;
            return status;
        }
        // As a layer answers a target that is not there: the bank never hears of it.
        const uint8_t status = layer.meddle == Meddle::NoDevice ? aspi::SS_NO_DEVICE : aspi::SS_ERR;
        srb->SRB_HaStat = layer.meddle == Meddle::SelectionTimeout ? aspi::HASTAT_SEL_TO
                          : layer.meddle == Meddle::WentAway       ? aspi::HASTAT_BUS_FREE
                                                                   : aspi::HASTAT_OK;
        srb->SRB_TargStat = 0;
        if (void* post = aspi::FinishRequest(srb, status))
            reinterpret_cast<aspi::PostRoutine>(post)(srb);
        return status;
    }
    // The bank behind it: the test pause is taken as on the bank.
    static constexpr aspi::LayerOps kOps = {"simulated drive bank, meddled with",
                                            1,
                                            &SupportInfo,
                                            &Send,
                                            nullptr,
                                            nullptr,
                                            nullptr,
                                            nullptr,
                                            nullptr};

    // Only the picked command times out: the clock jumps while the bank
    // holds it, and never once another request (the reset) has been sent.
    void JumpWhileHeld() {
        while (!done.load()) {
            {
                const std::lock_guard<std::mutex> lock(jumping);
                if (held && bank.PendingCount() > 0)
                    jumpedTicks += 20000000; // past the transfer's 9000 s
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
    }
    void Disarm() {
        const std::lock_guard<std::mutex> lock(jumping);
        held = false;
    }

    simulator::DriveBank& bank;
    bool (*picks)(const uint8_t*);
    Meddle meddle;
    int signal;
    std::mutex jumping;
    bool held = false; // under `jumping`
    std::atomic<bool> done{false};
    std::thread clock;
};

// While it lives, any request the bank holds is timed out. The channel must
// poll (the Windows 95/98 wait) on JumpingTicks: an event wait would sleep on.
class TimeOutHeldRequests {
  public:
    explicit TimeOutHeldRequests(simulator::DriveBank& bank)
        : watcher([this, &bank] {
              while (!done.load()) {
                  if (bank.PendingCount() > 0)
                      jumpedTicks += 20000000; // past the transfer's 9000 s
                  std::this_thread::sleep_for(std::chrono::milliseconds(5));
              }
          }) {}
    ~TimeOutHeldRequests() {
        done = true;
        watcher.join();
    }

  private:
    std::atomic<bool> done{false};
    std::thread watcher;
};
