// What corvane flash prints: the plan before the question, and the report
// at the end, as text or as one JSON object.
#pragma once

#include "cli/CorvaneOptions.h"
#include "cli/FlashVerdict.h"
#include "download/DownloadProcedure.h"

#include <string>

namespace corvane {

// Drive, image and mode; `layer`: empty for the system's layer.
void PrintPlan(const FlashOptions& options, const std::string& layer, uint8_t adapter,
               uint8_t target, aspi::BusType bus, const download::DownloadProcedure& procedure);

void PrintReport(bool json, const FlashReport& report);

} // namespace corvane
