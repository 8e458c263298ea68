// The download's safety as properties: thousands of random banks, images,
// answers and option vectors, through the plug-in's procedure and through
// corvane flash, each run checked against the rules of SafetyCheck. How many
// runs: RC_PARAMS="max_success=N" (CTest sets it per tree, see
// CORVANE_SAFETY_CASES); a failure prints its seed and its shrunk scenario
// as a row for kRegressions below, where it is replayed ever after.
#include "SafetyCheck.h"
#include "SafetyRun.h"
#include "SafetyScenario.h"

#include <gtest/gtest.h>
#include <rapidcheck/gtest.h>

#include <sstream>

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
    if (!broken.empty())
        RC_FAIL("rules broken:" + Joined(broken));
}

RC_GTEST_PROP(DownloadSafety, ThroughThePlugInsProcedure, ()) {
    Check(*GenScenario(Route::PlugIn));
}

RC_GTEST_PROP(DownloadSafety, ThroughCorvaneFlash, ()) {
    Check(*GenScenario(Route::Cli));
}

// Scenarios the properties once found breaking a rule, shrunk.
const Scenario kRegressions[] = {
    // One that passes, so the table is never empty.
    {Route::PlugIn,
     "adapter\ndrive 0 latency=0 protocols=2.2 vendor=CORVANE product=\"SIMDRIVE 52X\" "
     "revision=0.90\n",
     0,
     0,
     {3, true, FileFault::Sound, 0u},
     true,
     false,
     {}},
};

class Regression : public ::testing::TestWithParam<Scenario> {};

TEST_P(Regression, KeepsEveryRule) {
    const Scenario& scenario = GetParam();
    std::ostringstream shown;
    showValue(scenario, shown);
    EXPECT_EQ("", Joined(Violations(scenario, safety::Run(scenario)))) << shown.str();
}

INSTANTIATE_TEST_SUITE_P(Found, Regression, ::testing::ValuesIn(kRegressions));

} // namespace
} // namespace safety
