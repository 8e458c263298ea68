#include "SimulatedLayer.h"

#include "aspi/AspiLayer.h"
#include "aspi/AspiSeam.h"

#include <atomic>

namespace simulator {

#ifndef _WIN32
namespace {

std::atomic<DriveBank*> installed{nullptr};

uint32_t InstalledSupportInfo() {
    DriveBank* bank = installed.load();
    return bank ? bank->GetSupportInfo() : aspi::MakeSupportInfo(aspi::SS_NO_ADAPTERS, 0);
}

uint32_t InstalledSend(void* srb) {
    DriveBank* bank = installed.load();
    return bank ? bank->SendCommand(srb) : uint32_t{aspi::SS_NO_ASPI};
}

} // namespace

void InstallLayer(DriveBank* bank) {
    installed.store(bank);
    if (bank)
        aspi::BindLayer(&InstalledSupportInfo, &InstalledSend);
    else
        aspi::BindLayer(nullptr, nullptr);
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
