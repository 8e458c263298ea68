// corvane flash while the worker sends the image: a bar on a terminal, by
// time as the page's, with elapsed and expected time; plain lines otherwise
// (none in JSON). An interrupt now would leave a drive half written: it is
// held, and said so.
#pragma once

#include "cli/ConsoleView.h"
#include "download/TransferJob.h"

namespace corvane {

// Returns once the worker has stored its result.
void WatchTransfer(bool json, ConsoleView& view, const download::TransferJob& job);

} // namespace corvane
