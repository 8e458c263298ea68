// The download's safety as properties: thousands of random banks, images,
// answers and option vectors, through the plug-in's procedure and through
// corvane flash, each run checked against the rules of SafetyCheck. How many
// runs: RC_PARAMS="max_success=N" (CTest sets it per tree, see
// tests/native/CMakeLists.txt); a failure prints its seed and its shrunk
// scenario as a row for kRegressions below, where it is replayed ever after.
#include "SafetyCheck.h"
#include "SafetyRun.h"
#include "SafetyScenario.h"

#include <gtest/gtest.h>
#include <rapidcheck/gtest.h>

#include <string>
#include <utility>
#include <vector>

namespace safety {
namespace {

std::string Joined(const std::vector<std::string>& lines) {
    std::string text;
    for (const std::string& line : lines)
        text += "\n  " + line;
    return text;
}

void Check(const Scenario& scenario) {
    const Observation observation = Run(scenario);
    RC_TAG(OutcomeTag(scenario, observation));
    const std::vector<std::string> broken = Violations(scenario, observation);
    // The run's seed beside the rules, where a short log shows only this.
    if (!broken.empty())
        RC_FAIL("rules broken (RC_PARAMS=\"seed=" +
                std::to_string(rc::detail::configuration().testParams.seed) +
                "\"):" + Joined(broken));
}

RC_GTEST_PROP(DownloadSafety, ThroughThePlugInsProcedure, ()) {
    Check(*GenScenario(Route::PlugIn));
}

RC_GTEST_PROP(DownloadSafety, ThroughCorvaneFlash, ()) {
    Check(*GenScenario(Route::Cli));
}

// A row of the table below: the one drive at 0:0, of the images' model, and
// a sound image of `image` (an FwProtocol) with its identity template.
Scenario OneDrive(Route route, const char* protocols, const char* revision, uint8_t image,
                  bool consent, bool polled, std::vector<std::string> options = {},
                  std::string typed = "") {
    return {route,
            std::string("adapter\ndrive 0 latency=0 protocols=") + protocols +
                " vendor=CORVANE product=\"SIMDRIVE 52X\" revision=" + revision + "\n",
            0,
            0,
            {image, true, FileFault::Sound, 0u},
            consent,
            polled,
            std::move(options),
            std::move(typed)};
}

const Route kPlugIn = Route::PlugIn, kCli = Route::Cli;

// Scenarios the properties once found breaking a rule, shrunk, and some that
// keep them all. A failure's printed row goes in as it is.
const Scenario kRegressions[] = {
    OneDrive(kPlugIn, "2.2", "0.90", 3, true, false),
    OneDrive(kCli, "2.0", "0.90", 1, true, true,
             {"--log", "@log", "@image", "--json", "--device", "0:0", "--yes"}),
    OneDrive(kCli, "2.2", "0.90", 3, false, false, {"@image", "--device", "0:0"}, "Yes\n"),
    // Reboot mode: the drive restarts with the image without ending the
    // transfer, and answers with the image's identity: evidence enough.
    OneDrive(kPlugIn, "2.0", "0.90 restart-transfer", 1, true, true),
    OneDrive(kCli, "2.0", "0.90 restart-transfer", 1, true, false,
             {"@image", "--json", "--device", "0:0", "--yes"}),
    // A drive that answers 1 byte of INQUIRY gets the image.
    OneDrive(kPlugIn, "2.0", "0.90 inquiry-length=1", 1, true, false),
    OneDrive(kCli, "2.0", "0.90 inquiry-length=1", 1, true, false,
             {"@image", "--device", "0:0", "--yes", "--force-model"}),
    // Reboot mode, the transfer never answered, the old identity after: success.
    OneDrive(kPlugIn, "2.0", "0.90 hang-transfer", 1, true, false),
    OneDrive(kCli, "2.2", "1.00 hang-transfer", 1, true, false,
             {"@image", "--device", "0:0", "--yes"}),
    // Reboot mode, the transfer reached no drive (selection time-out), which
    // answers afterwards with the identity it had before, the image's: success.
    OneDrive(kPlugIn, "2.0", "1.00 vanish-transfer", 1, true, false),
    OneDrive(kCli, "2.0", "1.00 vanish-transfer", 1, true, false,
             {"@image", "--device", "0:0", "--yes"}),
    // Reboot mode, the drive restarts without ending the transfer and answers
    // with the identity it had, the image's: no evidence that it took it.
    OneDrive(kPlugIn, "2.1", "1.00 restart-transfer", 2, true, false),
    OneDrive(kCli, "2.0", "1.00 restart-transfer", 1, true, false,
             {"@image", "--device", "0:0", "--yes"}),
    // A --log without its file takes --dry-run as the file, and the image goes.
    OneDrive(kCli, "2.2", "0.90", 3, true, false,
             {"@image", "--device", "0:0", "--log", "--dry-run", "--yes", "--json"}),
    // Typed at the terminal, a word that starts with "yes" counts as yes.
    OneDrive(kCli, "2.2", "0.90", 3, false, false, {"@image", "--device", "0:0"}, "yesterday\n"),
};

class Regression : public ::testing::TestWithParam<Scenario> {};

TEST_P(Regression, KeepsEveryRule) {
    const Scenario& scenario = GetParam();
    EXPECT_EQ("", Joined(Violations(scenario, safety::Run(scenario))));
}

INSTANTIATE_TEST_SUITE_P(Found, Regression, ::testing::ValuesIn(kRegressions));

} // namespace
} // namespace safety
