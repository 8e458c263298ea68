// One execute request with its own data buffer and completion event, for
// tests that talk to an ASPI layer directly.
#pragma once

#include "aspi/AspiPlatform.h"
#include "aspi/AspiRecords.h"

#include <chrono>
#include <cstdint>
#include <initializer_list>
#include <thread>

struct AspiRequest {
    aspi::SRB_ExecSCSICmd srb{};
    uint8_t data[128] = {};
    aspi::EventHandle event = aspi::CreateCompletionEvent();

    AspiRequest(int adapter, int target, std::initializer_list<int> cdb,
                uint8_t flags = aspi::SRB_DIR_IN, bool notify = true) {
        srb.SRB_Cmd = aspi::SC_EXEC_SCSI_CMD;
        srb.SRB_HaId = static_cast<uint8_t>(adapter);
        srb.SRB_Target = static_cast<uint8_t>(target);
        srb.SRB_Flags = static_cast<uint8_t>(flags | (notify ? aspi::SRB_EVENT_NOTIFY : 0));
        srb.SRB_BufLen = sizeof data;
        srb.SRB_BufPointer = data;
        srb.SRB_SenseLen = aspi::SENSE_LEN;
        srb.SRB_CDBLen = static_cast<uint8_t>(cdb.size() < 12 ? 12 : cdb.size());
        srb.SRB_PostProc = notify ? event : nullptr;
        int i = 0;
        for (int b : cdb)
            srb.CDBByte[i++] = static_cast<uint8_t>(b);
    }
    ~AspiRequest() { aspi::CloseCompletionEvent(event); }
    AspiRequest(const AspiRequest&) = delete;
    AspiRequest& operator=(const AspiRequest&) = delete;

    uint8_t Status() { return aspi::LoadStatus(&srb.SRB_Status); }
    // Waits for the status to leave "pending", for at most `ms`.
    bool Done(int ms = 5000) {
        auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
        while (Status() == aspi::SS_PENDING) {
            if (std::chrono::steady_clock::now() > end)
                return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        return true;
    }
};
