// What must hold after every download, whatever the bank, the image, the
// answers and the options: each rule broken is one line of the answer.
#pragma once

#include "SafetyRun.h"
#include "SafetyScenario.h"

#include <string>
#include <vector>

namespace safety {

// Empty when the run kept every rule.
std::vector<std::string> Violations(const Scenario& scenario, const Observation& observation);

// A word for the run's outcome, for the distribution RapidCheck prints.
std::string OutcomeTag(const Scenario& scenario, const Observation& observation);

} // namespace safety
