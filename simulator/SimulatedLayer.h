// Putting a drive bank in place as this process's ASPI layer.
#pragma once

#include "DriveBank.h"

namespace simulator {

#ifndef _WIN32
// Makes this bank the ASPI layer in use (aspi/AspiLayer.h); null: no layer.
// The bank must outlive the binding. (Windows programs load WNASPI32.DLL.)
void InstallLayer(DriveBank* bank);
// The bank InstallLayer put in place last, or null; for tests that must see
// the bank a program made for itself.
DriveBank* InstalledBank();
#endif

// A bank as the environment describes it: the bank file (or the default bank
// when the path is empty), the command log and the state file (either may be
// empty). A bad bank file is reported and gives a bank with no adapters.
DriveBank* CreateBank(const std::string& bankPath, const std::string& logPath,
                      const std::string& statePath);

// Environment variables naming the three files.
constexpr const char* BANK_VARIABLE = "CORVANE_BANK";
constexpr const char* LOG_VARIABLE = "CORVANE_BANK_LOG";
constexpr const char* STATE_VARIABLE = "CORVANE_BANK_STATE";

} // namespace simulator
