// The download procedure's view on a console: keeps the rows and the last
// message for the summary, and writes every step to the --log file. The
// plan is the command's to print; consent is asked on the terminal itself.
// A console program cannot restart the machine for its user: a restart
// request only tells the log that the drive waits for one.
#pragma once

#include "cli/Consent.h"
#include "download/DownloadView.h"

#include <chrono>
#include <cstdio>
#include <functional>
#include <string>

namespace corvane {

class ConsoleView : public download::DownloadView {
  public:
    std::string rows[download::kStatusRows];
    int states[download::kStatusRows] = {};
    std::string message;
    download::Picture picture = download::Picture::Idle;
    int warnings = 0;
    int restartRequests = 0;
    // Shows the plan; null: none is shown (JSON).
    std::function<void(DownloadMode)> plan;
    bool askConsent = true; // false: --yes
    corvane::Consent consent = corvane::Consent::Withheld;

    // The log is appended to; null: no log.
    explicit ConsoleView(FILE* logFile);
    ConsoleView(const ConsoleView&) = delete;
    ConsoleView& operator=(const ConsoleView&) = delete;

    // A line of the command's own in the log.
    void Log(const std::string& line);

    void RowState(int row, int state) override;
    void RowValue(int row, const char* text) override;
    void Message(const char* text) override;
    void ShowPicture(download::Picture shown) override;
    void BarBegin(int) override {}
    void BarPercent(int32_t) override {}
    void BarEnd() override {}
    void Plan(DownloadMode mode) override;
    // The count on standard error, so that a script's JSON stays whole.
    void Waiting(uint32_t seconds, uint32_t limit) override;
    // --yes, or "Flash? [y/N]" on the terminal unless an interrupt came.
    int Consent(DownloadMode) override;
    void WarnFailedTransfer() override;
    void RequestRestart() override;

  private:
    FILE* log;
    std::chrono::steady_clock::time_point start;
};

} // namespace corvane
