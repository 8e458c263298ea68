// The simulated WNASPI32.DLL as a program finds it: loaded by name, entry
// points by ordinal, completion through a Win32 event.
#include "aspi/AspiLayer.h"
#include "aspi/AspiPlatform.h"
#include "aspi/AspiRecords.h"
#include "command/DeviceChannel.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>

using namespace aspi;

namespace {

typedef DWORD(__cdecl* InfoProc)();
typedef DWORD(__cdecl* SendProc)(void*);
typedef int(__cdecl* ReloadProc)(const char*);

struct Dll {
    HMODULE module = LoadLibraryA("WNASPI32.DLL");
    template <typename T> T Proc(const char* nameOrOrdinal) {
        return reinterpret_cast<T>(reinterpret_cast<void*>(GetProcAddress(module, nameOrOrdinal)));
    }
    InfoProc info = Proc<InfoProc>(MAKEINTRESOURCEA(1));
    SendProc send = Proc<SendProc>(MAKEINTRESOURCEA(2));
    ReloadProc reload = Proc<ReloadProc>("SimReloadBank");
};

// Named after the process: test programs run in parallel in one prefix.
std::string WriteBank(const char* name, const char* text) {
    char dir[MAX_PATH];
    GetTempPathA(sizeof dir, dir);
    std::string path = std::string(dir) + std::to_string(GetCurrentProcessId()) + "-" + name;
    FILE* f = std::fopen(path.c_str(), "w");
    std::fputs(text, f);
    std::fclose(f);
    return path;
}

// An INQUIRY for 36 bytes into `data`, announced through `event`.
SRB_ExecSCSICmd Inquiry(uint8_t adapter, uint8_t target, uint8_t (&data)[36], void* event,
                        uint8_t senseLength, uint8_t cdbLength) {
    SRB_ExecSCSICmd srb;
    ZeroMemory(&srb, sizeof srb);
    srb.SRB_Cmd = SC_EXEC_SCSI_CMD;
    srb.SRB_HaId = adapter;
    srb.SRB_Target = target;
    srb.SRB_Flags = SRB_DIR_IN | SRB_EVENT_NOTIFY;
    srb.SRB_BufLen = sizeof data;
    srb.SRB_BufPointer = data;
    srb.SRB_SenseLen = senseLength;
    srb.SRB_CDBLen = cdbLength;
    srb.SRB_PostProc = event;
    srb.CDBByte[0] = 0x12;
    srb.CDBByte[4] = sizeof data;
    return srb;
}

} // namespace

TEST(SimulatedDll, ExportsByOrdinalAndName) {
    Dll dll;
    ASSERT_NE(nullptr, dll.module) << "WNASPI32.DLL beside the test";
    ASSERT_NE(nullptr, dll.info);
    ASSERT_NE(nullptr, dll.send);
    ASSERT_NE(nullptr, dll.reload);
    EXPECT_EQ(reinterpret_cast<void*>(dll.info),
              reinterpret_cast<void*>(dll.Proc<InfoProc>("GetASPI32SupportInfo")));
    EXPECT_EQ(reinterpret_cast<void*>(dll.send),
              reinterpret_cast<void*>(dll.Proc<SendProc>("SendASPI32Command")));
}

TEST(SimulatedDll, InquiryCompletesThroughAWin32Event) {
    Dll dll;
    ASSERT_EQ(1, dll.reload(nullptr)); // the default bank
    EXPECT_EQ(MakeSupportInfo(SS_COMP, 2), dll.info());

    HANDLE event = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    uint8_t data[36] = {};
    SRB_ExecSCSICmd srb = Inquiry(1, 0, data, event, SENSE_LEN, 12);
    EXPECT_EQ(SS_PENDING, dll.send(&srb));
    ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(event, 5000));
    EXPECT_EQ(SS_COMP, LoadStatus(&srb.SRB_Status));
    EXPECT_EQ(kCdRomDeviceType, data[0]);
    EXPECT_EQ(0, std::memcmp(data + 16, "DVD+RW QV-2200", 14));
    CloseHandle(event);
}

TEST(SimulatedDll, BankFileAndTheProgramsOwnBinding) {
    Dll dll;
    std::string path = WriteBank("corvane-win-bank.txt", "adapter\nadapter\nadapter\n"
                                                         "drive 5 product=THIRD latency=0\n");
    // A reloaded bank also takes the identities the state file keeps.
    const char identity[] = "QVSIM   RESTORED        2.00";
    std::string state = "2 5 ";
    for (int i = 0; i < 28; ++i) {
        char hex[3];
        std::snprintf(hex, sizeof hex, "%02X", static_cast<uint8_t>(identity[i]));
        state += hex;
    }
    std::string statePath = WriteBank("corvane-win-state.txt", (state + "\n").c_str());
    SetEnvironmentVariableA("CORVANE_BANK_STATE", statePath.c_str());
    ASSERT_EQ(1, dll.reload(path.c_str()));
    SetEnvironmentVariableA("CORVANE_BANK_STATE", nullptr);
    DeleteFileA(path.c_str());
    // The binding the programs use loads the same DLL.
    EXPECT_EQ(1, HasLayer());
    EXPECT_EQ(MakeSupportInfo(SS_COMP, 3), GetASPI32SupportInfo());

    uint8_t data[36] = {};
    EventHandle event = CreateCompletionEvent();
    SRB_ExecSCSICmd srb = Inquiry(2, 5, data, event, 0, 6);
    SendASPI32Command(&srb);
    ASSERT_EQ(1, WaitCompletionEvent(event, 5000));
    EXPECT_EQ(0, std::memcmp(data + 16, "RESTORED", 8));
    CloseCompletionEvent(event);

    // A broken bank file reads as no adapters, and the program goes on.
    path = WriteBank("corvane-broken-bank.txt", "adapter\ndrive 9\n");
    EXPECT_EQ(0, dll.reload(path.c_str()));
    EXPECT_EQ(0, SupportAdapterCount(GetASPI32SupportInfo()));
    EXPECT_NE(SS_COMP, SupportStatus(GetASPI32SupportInfo()));
    DeleteFileA(path.c_str());
    DeleteFileA(statePath.c_str());
}

TEST(SimulatedDll, ThisProgramIsNotWindows98) {
    EXPECT_EQ(0, IsWindows95Or98());
}
