// The commands of a download as the bank's log shows them, in order: what
// the plug-in sends, and what the command line must send alike. Shared by
// the procedure's and the command line's tests.
#pragma once

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

inline const char* const kInquiry = "12 00 00 00 2E";
inline const char* const kTray = "1B 00 00 00 02";
inline const char* const kReady = "00 00 00 00 00 00";
inline const char* const kType20 = "CB 20 00 ";
inline const char* const kType21 = "CB 21 00 ";
inline const char* const kType22 = "CB 00 22 ";
// INQUIRY and the three probes; then PREVENT and the tray.
inline const std::vector<std::string> kProbed = {kInquiry, "CB 00 22 00 00 00 00 FF FE 01",
                                                 "CB 20 00 00 00 00 00 FF FE 01",
                                                 "CB 21 00 00 00 00 00 FF FE 01"};
// Nothing at all, and a device that got only INQUIRY (no drive to it).
inline const std::vector<std::string> kNoCommands, kInquiryOnly = {kInquiry};
inline const std::vector<std::string> kAsked = {kProbed[0], kProbed[1],       kProbed[2],
                                                kProbed[3], "1E 00 00 00 02", kTray};

inline std::vector<std::string> Then(std::vector<std::string> first,
                                     const std::vector<std::string>& more) {
    first.insert(first.end(), more.begin(), more.end());
    return first;
}
// Asked, the transfer, the new identity and the two TEST UNIT READY; "exec"
// lines of the bank's log, where a command the bank held for good is none.
inline std::vector<std::string> Whole(const char* transfer) {
    return Then(kAsked, {transfer, kInquiry, kReady, kReady});
}

// The "exec" lines of a log, in order.
inline std::vector<std::string> ExecutedLines(const std::string& log) {
    std::vector<std::string> lines;
    std::istringstream in(log);
    for (std::string line; std::getline(in, line);)
        if (line.rfind("exec ", 0) == 0)
            lines.push_back(line);
    return lines;
}

// Each executed command starts with the expected block prefix, in order.
inline void ExpectCommands(const std::vector<std::string>& prefixes,
                           const std::vector<std::string>& executed) {
    ASSERT_EQ(prefixes.size(), executed.size());
    for (size_t i = 0; i < executed.size(); ++i)
        EXPECT_NE(std::string::npos, executed[i].find("cdb=" + prefixes[i])) << executed[i];
}
