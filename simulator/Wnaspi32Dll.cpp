// The simulated drive bank as WNASPI32.DLL, for machines without a drive:
// the demo and the tests. The bank is read once, at the first call, from the
// files the environment names.
#include "SimulatedLayer.h"

#include <windows.h>

#include <mutex>

namespace {

std::mutex bankMutex;
simulator::DriveBank* bank = nullptr; // never freed: its thread may outlive DllMain

std::string Variable(const char* name) {
    char value[MAX_PATH * 2];
    DWORD length = GetEnvironmentVariableA(name, value, sizeof value);
    return length && length < sizeof value ? std::string(value, length) : std::string();
}

simulator::DriveBank* Bank() {
    std::lock_guard<std::mutex> lock(bankMutex);
    if (!bank)
        bank = simulator::CreateBank(Variable(simulator::BANK_VARIABLE),
                                     Variable(simulator::LOG_VARIABLE),
                                     Variable(simulator::STATE_VARIABLE));
    return bank;
}

} // namespace

extern "C" {

__declspec(dllexport) DWORD __cdecl GetASPI32SupportInfo(void) {
    return Bank()->GetSupportInfo();
}

__declspec(dllexport) DWORD __cdecl SendASPI32Command(void* srb) {
    return Bank()->SendCommand(srb);
}

// Test hook: replaces the bank by the one in this file (null: the default
// bank), with the log and state files the environment names now, exactly as
// a first load. Requests still pending in the old bank are never completed;
// the old bank is kept alive so that they stay valid memory.
__declspec(dllexport) int __cdecl SimReloadBank(const char* path) {
    simulator::DriveBank* fresh = simulator::CreateBank(
        path ? path : "", Variable(simulator::LOG_VARIABLE), Variable(simulator::STATE_VARIABLE));
    std::lock_guard<std::mutex> lock(bankMutex);
    bank = fresh;
    return fresh->AdapterCount() > 0 || !path ? 1 : 0;
}

// The bus the bank's drive at an adapter and target names (aspi::BusType):
// what a layer that knows its drives tells of them.
__declspec(dllexport) int __cdecl SimDeviceBus(int adapter, int target) {
    return Bank()->Bus(adapter, target);
}

} // extern "C"
