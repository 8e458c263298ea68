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

// Scenarios the properties once found breaking a rule, shrunk, and some that
// keep them all.
#define CORVANE_DRIVE "vendor=CORVANE product=\"SIMDRIVE 52X\" "
const Scenario kRegressions[] = {
    {Route::PlugIn,
     "adapter\ndrive 0 latency=0 protocols=2.2 " CORVANE_DRIVE "revision=0.90\n",
     0,
     0,
     {3, true, FileFault::Sound, 0u},
     true,
     false,
     {}},
    {Route::Cli,
     "adapter\ndrive 0 latency=0 protocols=2.0 " CORVANE_DRIVE "revision=0.90\n",
     0,
     0,
     {1, true, FileFault::Sound, 0u},
     true,
     true,
     {"--log", "@log", "@image", "--json", "--device", "0:0", "--yes"}},
    {Route::Cli,
     "adapter\ndrive 0 latency=0 protocols=2.2 " CORVANE_DRIVE "revision=0.90\n",
     0,
     0,
     {3, true, FileFault::Sound, 0u},
     false,
     false,
     {"@image", "--device", "0:0"},
     "Yes\n"},
    // Reboot mode: the drive restarts with the image without ending the
    // transfer, and answers with the image's identity: evidence enough.
    {Route::PlugIn,
     "adapter\ndrive 0 latency=0 protocols=2.0 " CORVANE_DRIVE "revision=0.90 restart-transfer\n",
     0,
     0,
     {1, true, FileFault::Sound, 0u},
     true,
     true,
     {}},
    {Route::Cli,
     "adapter\ndrive 0 latency=0 protocols=2.0 " CORVANE_DRIVE "revision=0.90 restart-transfer\n",
     0,
     0,
     {1, true, FileFault::Sound, 0u},
     true,
     false,
     {"@image", "--json", "--device", "0:0", "--yes"}},
    // A drive that answers 1 byte of INQUIRY gets the image.
    {Route::PlugIn,
     "adapter\ndrive 0 latency=0 protocols=2.0 " CORVANE_DRIVE "revision=0.90 inquiry-length=1\n",
     0,
     0,
     {1, true, FileFault::Sound, 0u},
     true,
     false,
     {}},
    {Route::Cli,
     "adapter\ndrive 0 latency=0 protocols=2.0 " CORVANE_DRIVE "revision=0.90 inquiry-length=1\n",
     0,
     0,
     {1, true, FileFault::Sound, 0u},
     true,
     false,
     {"@image", "--device", "0:0", "--yes", "--force-model"}},
    // Reboot mode, the transfer never answered, the old identity after: success.
    {Route::PlugIn,
     "adapter\ndrive 0 latency=0 protocols=2.0 " CORVANE_DRIVE "revision=0.90 hang-transfer\n",
     0,
     0,
     {1, true, FileFault::Sound, 0u},
     true,
     false,
     {}},
    {Route::Cli,
     "adapter\ndrive 0 latency=0 protocols=2.2 " CORVANE_DRIVE "revision=1.00 hang-transfer\n",
     0,
     0,
     {1, true, FileFault::Sound, 0u},
     true,
     false,
     {"@image", "--device", "0:0", "--yes"}},
    // Reboot mode, the transfer reached no drive (selection time-out), which
    // answers afterwards with the identity it had before, the image's: success.
    {Route::PlugIn,
     "adapter\ndrive 0 latency=0 protocols=2.0 " CORVANE_DRIVE "revision=1.00 vanish-transfer\n",
     0,
     0,
     {1, true, FileFault::Sound, 0u},
     true,
     false,
     {}},
    {Route::Cli,
     "adapter\ndrive 0 latency=0 protocols=2.0 " CORVANE_DRIVE "revision=1.00 vanish-transfer\n",
     0,
     0,
     {1, true, FileFault::Sound, 0u},
     true,
     false,
     {"@image", "--device", "0:0", "--yes"}},
    // Reboot mode, the drive restarts without ending the transfer and answers
    // with the identity it had, the image's: no evidence that it took it.
    {Route::PlugIn,
     "adapter\ndrive 0 latency=0 protocols=2.1 " CORVANE_DRIVE "revision=1.00 restart-transfer\n",
     0,
     0,
     {2, true, FileFault::Sound, 0u},
     true,
     false,
     {}},
    {Route::Cli,
     "adapter\ndrive 0 latency=0 protocols=2.0 " CORVANE_DRIVE "revision=1.00 restart-transfer\n",
     0,
     0,
     {1, true, FileFault::Sound, 0u},
     true,
     false,
     {"@image", "--device", "0:0", "--yes"}},
    // A --log without its file takes --dry-run as the file, and the image goes.
    {Route::Cli,
     "adapter\ndrive 0 latency=0 protocols=2.2 " CORVANE_DRIVE "revision=0.90\n",
     0,
     0,
     {3, true, FileFault::Sound, 0u},
     true,
     false,
     {"@image", "--device", "0:0", "--log", "--dry-run", "--yes", "--json"}},
    // Typed at the terminal, a word that starts with "yes" counts as yes.
    {Route::Cli,
     "adapter\ndrive 0 latency=0 protocols=2.2 " CORVANE_DRIVE "revision=0.90\n",
     0,
     0,
     {3, true, FileFault::Sound, 0u},
     false,
     false,
     {"@image", "--device", "0:0"},
     "yesterday\n"},
};
#undef CORVANE_DRIVE

class Regression : public ::testing::TestWithParam<Scenario> {};

TEST_P(Regression, KeepsEveryRule) {
    const Scenario& scenario = GetParam();
    EXPECT_EQ("", Joined(Violations(scenario, safety::Run(scenario))));
}

INSTANTIATE_TEST_SUITE_P(Found, Regression, ::testing::ValuesIn(kRegressions));

} // namespace
} // namespace safety
