// One download as the safety properties generate it: a drive bank, the
// address the user names, an image file (sound or not), the user's answer
// and, for corvane, its argument vector. Plain values, so that a shrunk
// counterexample prints as a row of the regression table and is replayed
// from there.
#pragma once

#include <rapidcheck.h>

#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

namespace safety {

enum class Route : uint8_t { PlugIn, Cli };
enum class FileFault : uint8_t { Sound, Cut, Damaged, Foreign, Missing };

struct ImagePlan {
    uint8_t protocol; // FwProtocol of the marker, 0 for none
    bool withTemplate;
    FileFault fault;
    uint32_t faultAt; // where the cut or the damage falls; the foreign bytes' seed
};

struct Scenario {
    Route route;
    std::string bank; // bank file text; every device has latency=0
    int adapter, target;
    ImagePlan image;
    bool consent; // the plug-in's notice answered OK
    bool polled;  // the Windows 95/98 wait instead of the event
    // corvane's arguments after "flash"; "@image", "@bank" and "@log" stand
    // for the scenario's files. Without "--bank" the bank comes from
    // CORVANE_BANK. Empty on the plug-in's route.
    std::vector<std::string> options;
    // What the user types at corvane's terminal, line end included; empty:
    // no terminal (consent is --yes alone).
    std::string typed = "";
};

// The identity the images carry (vendor, product, revision: 28 bytes).
extern const char* const kImageIdentity;

rc::Gen<Scenario> GenScenario(Route route);

// A C++ initializer of the scenario: a row for the regression table.
void showValue(const Scenario& scenario, std::ostream& out);
// The same for GoogleTest.
void PrintTo(const Scenario& scenario, std::ostream* out);

// What the bank text says of one address; a device that is not there is
// kind 0.
struct DeviceFacts {
    int kind = 0; // 0 none, 1 CD/DVD drive, 2 disk
    unsigned protocols = 0;
    std::string identity; // 28 bytes as INQUIRY shows them, NUL as blank
    uint32_t inquiryLength = 96;
    bool restarts = false; // takes the transfer and never ends it
};
DeviceFacts FactsAt(const Scenario& scenario);

bool HasOption(const Scenario& scenario, const char* option);
// The user agreed: --yes, or "y" or "yes" typed (any case, blanks around).
bool CliConsent(const Scenario& scenario);

} // namespace safety
