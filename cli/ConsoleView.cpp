#include "cli/ConsoleView.h"

#include "cli/Interrupts.h"
#include "cli/OutputText.h"

namespace corvane {
namespace {

const char* const kStateNames[] = {"blank", "done", "failed", "working"};

} // namespace

ConsoleView::ConsoleView(FILE* logFile) : log(logFile), start(std::chrono::steady_clock::now()) {}

void ConsoleView::Log(const std::string& line) {
    if (!log)
        return;
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                        std::chrono::steady_clock::now() - start)
                        .count();
    std::fprintf(log, "%7.3f %s\n", ms / 1000.0, DisplayText(line).c_str());
    std::fflush(log);
}

void ConsoleView::RowState(int row, int state) {
    if (row < 0 || row >= download::kStatusRows)
        return;
    states[row] = state;
    if (state != download::kRowBlank)
        Log(std::string("row ") + download::kRowKeys[row] + ": " + kStateNames[state & 3] + " " +
            rows[row]);
}

void ConsoleView::RowValue(int row, const char* text) {
    if (row >= 0 && row < download::kStatusRows)
        rows[row] = text;
}

void ConsoleView::Message(const char* text) {
    message = text;
    Log(std::string("message: ") + text);
}

void ConsoleView::Waiting(uint32_t seconds, uint32_t limit) {
    std::fprintf(stderr, "Waiting for the drive to answer: %u of %u s\n", seconds, limit);
    Log("waiting for the drive to answer: " + std::to_string(seconds) + " of " +
        std::to_string(limit) + " s");
}

void ConsoleView::ShowPicture(download::Picture shown) {
    picture = shown;
}

void ConsoleView::Plan(DownloadMode mode) {
    if (plan)
        plan(mode);
}

int ConsoleView::Consent(DownloadMode) {
    consent = askConsent ? corvane::Consent::Withheld : corvane::Consent::Given;
    if (askConsent && !InterruptWatch::Noticed()) {
        // Ctrl-C breaks off the read of the answer.
        const InterruptWatch::Listening listening;
        consent = AskOnTerminal("Flash? [y/N] ");
    }
    return consent == corvane::Consent::Given ? 1 : 0;
}

void ConsoleView::WarnFailedTransfer() {
    ++warnings;
    Log("the transfer failed");
}

void ConsoleView::RequestRestart() {
    ++restartRequests;
    Log("the drive waits for a restart (of the drive or the machine)");
}

} // namespace corvane
