#include "SimulatedLayer.h"

#include "aspi/AspiLayer.h"

#include <atomic>

namespace simulator {

#ifndef _WIN32
namespace {

uint32_t BankSupportInfo(void* bank) {
    return static_cast<DriveBank*>(bank)->GetSupportInfo();
}

uint32_t BankSend(void* bank, void* srb) {
    return static_cast<DriveBank*>(bank)->SendCommand(srb);
}

int BankBus(void* bank, uint8_t adapter, uint8_t target) {
    return static_cast<DriveBank*>(bank)->Bus(adapter, target);
}

const aspi::LayerOps kBankOps = {aspi::kSimulatedBankName,
                                 1,
                                 &BankSupportInfo,
                                 &BankSend,
                                 nullptr,
                                 nullptr,
                                 nullptr,
                                 nullptr,
                                 &BankBus};

std::atomic<DriveBank*> installed{nullptr};

} // namespace

void InstallLayer(DriveBank* bank) {
    aspi::UseLayer(bank ? &kBankOps : &aspi::kNoLayer, bank);
    installed.store(bank);
}

DriveBank* InstalledBank() {
    return installed.load();
}
#endif

DriveBank* CreateBank(const std::string& bankPath, const std::string& logPath,
                      const std::string& statePath) {
    BankConfig config;
    std::string error;
    bool loaded = bankPath.empty() ? (config = DefaultBank(), true)
                                   : LoadBankFile(bankPath, config, error) != 0;
    DriveBank* bank = new DriveBank(config);
    if (!logPath.empty())
        bank->SetLogPath(logPath);
    if (!loaded)
        bank->ReportError(error);
    if (!statePath.empty())
        bank->SetStatePath(statePath);
    return bank;
}

} // namespace simulator
