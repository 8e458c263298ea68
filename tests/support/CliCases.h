// corvane flash's table of cases: image, drive and options, each with the
// exit status, the result and the commands the drive got (the plug-in's, in
// its order). One table, two runners: in-process natively, and corvane.exe
// as a whole program under Wine on the simulated WNASPI32.DLL.
#pragma once

#include "LoggedCommands.h"
#include "LoggedTransfer.h"

#include "firmware/SyntheticImage.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <string>
#include <vector>

enum CaseImage { None, Type20, Type21, Type22, NoTemplate22, Damaged };

// A drive of the image's model, an older revision: no guard stands in the way.
inline const char* const kSameModel = "vendor=CORVANE product=\"SIMDRIVE 52X\" revision=0.90";
inline const char* const kOtherModel = "vendor=QVSIM product=DRIVE revision=0.10";

struct CliCase {
    const char* name;
    const char* drive; // target 0 of adapter 0, of the image's model unless it says
    CaseImage image;
    std::vector<std::string> options;
    int status;
    const char* result;
    std::vector<std::string> commands;
    int modeByte; // of a transfer checked byte for byte; 0: none
};

inline const CliCase kCliCases[] = {
    {"Verify22On22", "protocols=2.2", Type22, {"--yes"}, 0, "ok", Whole(kType22), 0x84},
    {"Reboot20On20", "protocols=2.0", Type20, {"--yes"}, 0, "ok", Whole(kType20), 0x04},
    {"Reboot20On22", "protocols=2.2", Type20, {"--yes"}, 0, "ok", Whole(kType22), 0x04},
    {"Reboot21On21", "protocols=2.1", Type21, {"--yes"}, 0, "ok", Whole(kType21), 0x04},
    {"Reboot22On20", "protocols=2.0", Type22, {"--yes"}, 0, "ok", Whole(kType20), 0x04},
    {"OtherModelRefused", "protocols=2.2 other", Type22, {"--yes"}, 1, "refused", kProbed, 0},
    {"OtherModelForced",
     "protocols=2.2 other",
     Type22,
     {"--yes", "--force-model"},
     0,
     "ok",
     Whole(kType22),
     0x84},
    {"DiskRefused", "disk", Type22, {"--yes"}, 1, "refused", {kInquiry}, 0},
    {"DamagedFile", "protocols=2.2", Damaged, {"--yes"}, 1, "refused", {}, 0},
    {"Mismatch", "protocols=2.1", Type22, {"--yes"}, 1, "refused", kProbed, 0},
    {"DryRun", "protocols=2.2", Type22, {"--dry-run"}, 0, "ok", kProbed, 0},
    {"NoTerminalNoConsent", "protocols=2.2", Type22, {}, 1, "refused", kProbed, 0},
    {"TransferRefused",
     "protocols=2.2 fail-transfer=3/0C/00",
     Type22,
     {"--yes"},
     3,
     "failed",
     Then(kAsked, {kType22}),
     0},
    {"KeptItsIdentity",
     "protocols=2.2",
     NoTemplate22,
     {"--yes", "--force-model"},
     3,
     "unverified",
     Whole(kType22),
     0},
    {"NoDriveThere", "", Type22, {"--yes"}, 4, "no drive", {}, 0},
    // A missing value takes no option with it: bad usage before anything is sent.
    {"LogWithoutName", "protocols=2.2", Type22, {"--yes", "--log", "--dry-run"}, 2, "", {}, 0},
};

// The bank file of a case.
inline std::string CaseBank(const CliCase& c) {
    std::string drive = c.drive;
    const bool other = drive.find(" other") != std::string::npos;
    if (other)
        drive.erase(drive.find(" other"));
    std::string text = "adapter\n";
    if (drive == "disk")
        text += "disk 0\n";
    else if (!drive.empty())
        text += "drive 0 " + drive + " " + (other ? kOtherModel : kSameModel) + " latency=0\n";
    return text;
}

inline void WriteCaseImage(CaseImage kind, const std::string& path) {
    if (kind == Damaged) {
        std::ofstream(path) << ":10000000000102030405060708090A0B0C0D0E0F79\r\n";
        return;
    }
    SyntheticImageRecipe recipe;
    DefaultSyntheticRecipe(recipe);
    recipe.protocol = kind == NoTemplate22 ? FwProtocolType22 : FwProtocol(kind);
    recipe.withTemplate = kind != NoTemplate22;
    ASSERT_EQ(1, SaveSyntheticImage(path.c_str(), recipe));
}

// The command line of a case, the command word first.
inline std::vector<std::string> CaseArguments(const CliCase& c, const std::string& image,
                                              const std::string& bank) {
    std::vector<std::string> args = {"flash", image, "--device", "0:0", "--bank", bank, "--json"};
    args.insert(args.end(), c.options.begin(), c.options.end());
    return args;
}

// The exit status, the one JSON object (none after bad usage) and the
// commands in the bank's log.
inline void ExpectCaseOutcome(const CliCase& c, int status, const std::string& out,
                              const std::string& log) {
    EXPECT_EQ(c.status, status);
    const std::vector<std::string> executed = ExecutedLines(log);
    ExpectCommands(c.commands, executed);
    if (c.status == 2) {
        EXPECT_EQ("", out);
        return;
    }
    EXPECT_EQ(0u, out.find("{\"result\":\"" + std::string(c.result) + "\"")) << out;
    EXPECT_EQ(1, std::count(out.begin(), out.end(), '\n')) << "one object: " << out;
    if (c.modeByte && executed.size() >= 4)
        ExpectTransferOf(executed[executed.size() - 4],
                         SyntheticBytes(c.image == Type20   ? FwProtocolType20
                                        : c.image == Type21 ? FwProtocolType21
                                                            : FwProtocolType22),
                         c.modeByte);
    const bool sent = c.status == 0 ? c.modeByte != 0 : c.status == 3;
    EXPECT_NE(std::string::npos,
              out.find(sent ? "\"transferSent\":true" : "\"transferSent\":false"));
}
