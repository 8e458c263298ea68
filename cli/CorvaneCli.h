// corvane, the command line: what its commands share. Exit statuses, the
// choice of the ASPI layer (the system's, or the simulated bank), drive
// identities as the output shows them.
#pragma once

#include "cli/ExitStatus.h"
#include "cli/JsonText.h"
#include "cli/OutputText.h"
#include "command/DeviceChannel.h"
#include "firmware/FirmwareInfo.h"

#include <cstdint>
#include <string>

namespace corvane {

int Usage(const char* command, const char* line);

// The ASPI layer a command uses while this lives: with --bank FILE, else
// CORVANE_BANK, the simulated bank with CORVANE_BANK_LOG and
// CORVANE_BANK_STATE; else the system's. Declare it before any channel, so
// that the channels go first.
class Layer {
  public:
    explicit Layer(const char* bankOption);
    ~Layer();
    Layer(const Layer&) = delete;
    Layer& operator=(const Layer&) = delete;
    // Empty when the system's layer serves, else "simulated drive bank FILE".
    std::string name;

  private:
    void* bank; // the simulator's, natively
};
// Why no host adapter answers, in the layer's own words, on one line.
std::string NoAdapterReason();
// The result of a command that found no drive to work on: "no access" when
// the layer saw a device it may not open, else "no drive".
const char* NoDriveResult();

// A device that answers INQUIRY with less than a whole identity: scan does
// not list it and flash refuses it, both in these words.
std::string NoIdentityMessage(uint8_t adapter, uint8_t target);
// "A:T", as scan shows a drive and flash --device takes it.
std::string AddressString(uint8_t adapter, uint8_t target);

// Vendor, product and revision of an identity, trailing blanks cut.
struct Identity {
    std::string vendor, product, revision;
};
Identity SplitIdentity(const FirmwareInfo& info);
Identity SplitIdentity(const DeviceEntry& entry);
// "VENDOR PRODUCT REVISION".
std::string IdentityText(const Identity& identity);

// {"vendor":…,"product":…,"revision":…}
Json JsonIdentity(const Identity& identity);

int Scan(int argc, char** argv);
int Flash(int argc, char** argv);

} // namespace corvane
