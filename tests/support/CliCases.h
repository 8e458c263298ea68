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
#include <regex>
#include <string>
#include <utility>
#include <vector>

enum CaseImage { None, Type20, Type21, Type22, NoTemplate22, Damaged };

// A drive of the image's model, an older revision: no guard stands in the way.
inline const char* const kSameModel = "vendor=CORVANE product=\"SIMDRIVE 52X\" revision=0.90";
inline const char* const kOtherModel = "vendor=QVSIM product=DRIVE revision=0.10";
// The image's own identity: a drive that already carries it.
inline const char* const kImageModel = "vendor=CORVANE product=\"SIMDRIVE 52X\" revision=1.00";
// The image's model with a newer firmware, and with a revision of another shape.
inline const char* const kNewerModel = "vendor=CORVANE product=\"SIMDRIVE 52X\" revision=1.10";
inline const char* const kOddRevision = "vendor=CORVANE product=\"SIMDRIVE 52X\" revision=1-00";

// What nearly every row adds to the command line.
inline const std::vector<std::string> kYes = {"--yes"};

struct CliCase {
    const char* name;
    // Target 0 of adapter 0: of kSameModel, or with " other" of kOtherModel,
    // " current" of kImageModel, " newer" of kNewerModel, " odd" of
    // kOddRevision; "disk" a disk; "" nothing.
    const char* drive;
    CaseImage image;
    std::vector<std::string> options;
    int status;
    const char* result;
    std::vector<std::string> commands;
    int modeByte;               // of a transfer checked byte for byte; 0: none
    const char* says = nullptr; // in the output (the runner's standard error too)
};

inline const CliCase kCliCases[] = {
    {"Verify22On22", "protocols=2.2", Type22, kYes, 0, "ok", Whole(kType22), 0x84},
    {"Reboot20On20", "protocols=2.0", Type20, kYes, 0, "ok", Whole(kType20), 0x04},
    {"Reboot20On22", "protocols=2.2", Type20, kYes, 0, "ok", Whole(kType22), 0x04},
    {"Reboot21On21", "protocols=2.1", Type21, kYes, 0, "ok", Whole(kType21), 0x04},
    {"Reboot22On20", "protocols=2.0", Type22, kYes, 0, "ok", Whole(kType20), 0x04},
    {"OtherModelRefused", "protocols=2.2 other", Type22, kYes, 1, "refused", kProbed, 0},
    {"OtherModelForced", "protocols=2.2 other", Type22, Then(kYes, {"--force-model"}), 0, "ok",
     Whole(kType22), 0x84},
    {"DiskRefused", "disk", Type22, kYes, 1, "refused", {kInquiry}, 0},
    {"DamagedFile", "protocols=2.2", Damaged, kYes, 1, "refused", {}, 0},
    {"Mismatch", "protocols=2.1", Type22, kYes, 1, "refused", kProbed, 0},
    {"DryRun", "protocols=2.2", Type22, {"--dry-run"}, 0, "ok", kProbed, 0},
    {"NoTerminalNoConsent", "protocols=2.2", Type22, {}, 1, "refused", kProbed, 0},
    {"TransferRefused", "protocols=2.2 fail-transfer=3/0C/00", Type22, kYes, 3, "failed",
     Then(kAsked, {kType22, kInquiry}), // asked who it is after the failure
     0},
    {"KeptItsIdentity", "protocols=2.2", NoTemplate22, Then(kYes, {"--force-model"}), 3,
     "unverified", Whole(kType22), 0},
    {"NoDriveThere", "", Type22, kYes, 4, "no drive", {}, 0},
    // A short identity is no drive, as scan has it.
    {"ShortIdentityRefused", "protocols=2.2 inquiry-length=35", Type22, kYes, 1, "refused",
     kInquiryOnly, 0,
     "0:0 answers INQUIRY without a whole identity (36 bytes); nothing but INQUIRY was sent"},
    {"EmptyIdentityRefused", "protocols=2.2 inquiry-length=0", Type22, kYes, 1, "refused",
     kInquiryOnly, 0, "0:0 answers INQUIRY without a whole identity"},
    // A missing value takes no option with it: bad usage before anything is sent.
    {"LogWithoutName", "protocols=2.2", Type22, {"--yes", "--log", "--dry-run"}, 2, "", {}, 0},
    // Revisions of one model: an older image only when asked for.
    {"DowngradeRefused", "protocols=2.2 newer", Type22, kYes, 1, "refused", kProbed, 0,
     "the image's revision 1.00 is older than the drive's 1.10"},
    {"DowngradeAllowed", "protocols=2.2 newer", Type22, Then(kYes, {"--allow-downgrade"}), 0, "ok",
     Whole(kType22), 0x84, "\"downgrade\":true"},
    {"SameRevisionAgain", "protocols=2.2 current", Type22, kYes, 0, "ok", Whole(kType22), 0x84,
     "\"downgrade\":false"},
    {"RevisionOrderUnknown", "protocols=2.2 odd", Type22, kYes, 0, "ok", Whole(kType22), 0x84,
     "\"downgrade\":null"},
    // A cut transfer leaves the boot loader, which --recover alone flashes.
    {"CutTransfer", "protocols=2.2 cut-transfer", Type22, kYes, 3, "failed",
     Then(kAsked, {kType22, kInquiry}), 0,
     "its firmware is likely incomplete. Keep the drive powered, and flash the same image "
     "again: corvane flash "},
    {"LoaderRefused", "protocols=2.2 loader", Type22, kYes, 1, "refused", kProbed, 0,
     "the drive is CORVANE BOOT LOADER (--force-model flashes it anyway; --recover"},
    {"LoaderRecovered", "protocols=2.2 loader", Type22, Then(kYes, {"--recover"}), 0, "ok",
     Whole(kType22), 0x84, "\"recovered\":true"},
    {"RecoverWaitsForAnAnswer", "", Type22, Then(kYes, {"--recover"}), 4, "no drive", kNoCommands,
     0, "Waiting for the drive to answer: 60 of 60 s"},
    {"LoaderOfAnotherProtocol", "protocols=2.1 loader", Type22, Then(kYes, {"--recover"}), 1,
     "refused", kProbed, 0, "Mismatch protocol between F/W and drive!"},
    // Behind a USB bridge: the vendor command may never reach the drive.
    {"UsbBridgeDropsTheProbes", "protocols=none bus=usb", Type22, kYes, 1, "refused", kProbed, 0,
     "behind a USB bridge, which likely dropped the vendor download command"},
    {"UsbBridgePassesThem", "protocols=2.2 bus=usb", Type22, kYes, 0, "ok", Whole(kType22), 0x84,
     "\"bus\":\"usb\""},
    // The version and nothing else, whatever else is asked.
    {"VersionOnly", "protocols=2.2", Type22, Then(kYes, {"--version"}), 0, "", {}, 0, "corvane "},
};

// The bank file of a case.
inline std::string CaseBank(const CliCase& c) {
    std::string drive = c.drive;
    const char* model = kSameModel;
    for (const auto& mark :
         {std::make_pair(" other", kOtherModel), std::make_pair(" current", kImageModel),
          std::make_pair(" newer", kNewerModel), std::make_pair(" odd", kOddRevision)})
        if (drive.find(mark.first) != std::string::npos) {
            drive.erase(drive.find(mark.first));
            model = mark.second;
        }
    if (drive == "disk")
        return "adapter\ndisk 0\n";
    return drive.empty() ? "adapter\n" : "adapter\ndrive 0 " + drive + " " + model + " latency=0\n";
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
// commands in the bank's log. `err`: standard error, where the runner has
// it; `delivered`: false where a layer in between kept the transfer from the
// drive, which then reached none.
inline void ExpectCaseOutcome(const CliCase& c, int status, const std::string& out,
                              const std::string& log, const std::string& err = std::string(),
                              bool delivered = true) {
    EXPECT_EQ(c.status, status);
    if (c.says) {
        EXPECT_NE(std::string::npos, (out + err).find(c.says)) << out << err;
    }
    const std::vector<std::string> executed = ExecutedLines(log);
    ExpectCommands(c.commands, executed);
    if (c.status == 2) {
        EXPECT_EQ("", out);
        return;
    }
    if (!*c.result) { // --version: one line, the program and a version
        EXPECT_TRUE(std::regex_match(
            out, std::regex(std::string(c.says) + "[0-9]+\\.[0-9]+\\.[0-9]+\r?\n")))
            << out;
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
    const bool sent = c.status == 0 ? c.modeByte != 0 : c.status == 3 && delivered;
    EXPECT_NE(std::string::npos,
              out.find(sent ? "\"transferSent\":true" : "\"transferSent\":false"));
}
