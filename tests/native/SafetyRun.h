// Runs a scenario through the plug-in's procedure or through corvane, on the
// simulated bank, and gathers what the drive got and what the user was told.
#pragma once

#include "SafetyScenario.h"

#include "download/DownloadView.h"

#include <cstdint>
#include <string>
#include <vector>

namespace safety {

// One line of the bank's log: a command that reached the bank (exec, hold,
// reject) or a reset or abort.
struct LogLine {
    std::string kind;
    int adapter = -1, target = -1;
    std::vector<uint8_t> cdb;
    int status = -1; // exec and reject lines
    int senseKey = 0;
};

struct Observation {
    std::vector<LogLine> log;
    // The plug-in's route.
    int started = 0;
    int finished = -1; // Finish's answer; -1 when it never ran
    int jobResult = -1;
    download::Picture picture = download::Picture::Idle;
    int warnings = 0;
    // corvane's route.
    int exitStatus = -1;
    std::string out;   // standard output
    std::string steps; // the --log file, when one was written
};

// The image bytes a sound image file of this plan holds.
const std::vector<uint8_t>& ImageBytes(const ImagePlan& image);

Observation Run(const Scenario& scenario);

} // namespace safety
