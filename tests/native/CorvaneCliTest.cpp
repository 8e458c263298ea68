// corvane as a user or a script runs it, in-process on the simulated bank:
// the table of image, drive and options (shared with the run of corvane.exe
// under Wine), and what the table does not hold.
#include "cli/Consent.h"
#include "cli/CorvaneCli.h"

#include "../support/CliCases.h"
#include "../support/FakeCdRoms.h"
#include "../support/FileText.h"
#include "../support/LoggedCommands.h"
#include "../support/LoggedTransfer.h"
#include "../support/MeddlingLayer.h"

#include "aspi/AspiLayer.h"
#include "download/Pause.h"
#include "firmware/HexReader.h"
#include "firmware/SyntheticImage.h"
#include "simulator/BankConfig.h"

#include <gtest/gtest.h>

#include <signal.h>
#include <sys/stat.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

namespace {

// Rows that need a layer in between (the meddling layer, or a signal in the
// middle of a command): in-process only. The bank is the test's own.
struct MeddledCase {
    CliCase row;
    Meddle meddle;
    bool (*at)(const uint8_t*); // the commands it meddles with
    int signal;
};

MeddledCase Meddled(CliCase row, Meddle meddle, bool (*at)(const uint8_t*), int signal = 0) {
    return {std::move(row), meddle, at, signal};
}

const MeddledCase kMeddledCases[] = {
    // Reboot mode: "ok" only where the drive took the command or changed its identity.
    Meddled({"RebootUnreached", "protocols=2.0", Type20, kYes, 3, "failed", kAsked, 0,
             "the transfer reached no drive at 0:0"},
            Meddle::NoDevice, IsTransferCdb),
    // Sent, and the device went away before its answer: it may have the image.
    Meddled({"GoneDuringTheTransfer", "protocols=2.2", Type22, kYes, 3, "failed",
             Then(kAsked, {kInquiry}), 0, "the drive is gone"},
            Meddle::WentAway, IsTransferCdb),
    Meddled({"RebootSilentOnTheImagesIdentity", "protocols=2.0 hang-transfer current", Type20, kYes,
             3, "unverified", Then(kAsked, {kInquiry, kReady, kReady}), 0,
             "nothing shows that it took the image"},
            Meddle::TimeOut, IsTransferCdb),
    // Interrupts: before the transfer they cancel, during it they are held.
    Meddled({"InterruptedAtTheProbes", "protocols=2.2", Type22, kYes, 1, "cancelled",
             Then(kInquiryOnly, {kProbed[1]}), 0, "cancelled before the transfer"},
            Meddle::Signal, IsFirstProbeCdb, SIGINT),
    Meddled({"HungUpAtTheTray", "protocols=2.2", Type22, kYes, 1, "cancelled",
             Then(kProbed, {"1E 00 00 00 02"}), 0},
            Meddle::Signal, IsPreventCdb, SIGHUP),
    Meddled({"TerminatedDuringTheTransfer", "protocols=2.2 flash=100", Type22, kYes, 0, "ok",
             Whole(kType22), 0x84,
             "corvane: the transfer cannot be taken back; waiting for the drive to finish"},
            Meddle::Signal, IsTransferCdb, SIGTERM),
};

class CliFixture : public ::testing::Test {
  protected:
    std::string stem = "/tmp/corvane-cli-" + std::to_string(getpid()) + "-";
    std::string bank = stem + "bank.txt", log = stem + "log.txt", image = stem + "image.hex";

    void SetUp() override {
        download::SetPause(+[](uint32_t) {});
        setenv("CORVANE_BANK_LOG", log.c_str(), 1);
        unsetenv("CORVANE_BANK");
        unsetenv("CORVANE_BANK_STATE");
        // No terminal, whoever runs the tests: consent only by --yes.
        corvane::UseTerminal("");
        ASSERT_NE(nullptr, std::freopen("/dev/null", "r", stdin));
    }
    void TearDown() override {
        corvane::UseTerminal(nullptr);
        download::SetPause(nullptr);
        aspi::SetTickCountSource(nullptr);
        aspi::SetWindows95Or98Override(-1);
        unsetenv("CORVANE_BANK_LOG");
        for (const std::string& file : {bank, log, image})
            unlink(file.c_str());
    }

    // Runs one command; its standard output lands in `out`, its standard
    // error in `err`.
    int Run(std::vector<std::string> args, std::string& out, std::string* err = nullptr) {
        std::vector<char*> argv;
        for (std::string& arg : args)
            argv.push_back(&arg[0]);
        testing::internal::CaptureStdout();
        testing::internal::CaptureStderr();
        const int status = args[0] == "scan"
                               ? corvane::Scan(int(argv.size()) - 1, argv.data() + 1)
                               : corvane::Flash(int(argv.size()) - 1, argv.data() + 1);
        out = testing::internal::GetCapturedStdout();
        const std::string said = testing::internal::GetCapturedStderr();
        if (err)
            *err = said;
        return status;
    }

    void WriteImage(CaseImage kind) { WriteCaseImage(kind, image); }

    // Flashes `path` onto a drive that the transfer cuts off in its boot
    // loader; the command the output gives to flash it again ("corvane flash
    // ..."), or "" after a failure.
    std::string CutFlash(const std::string& path, std::string& out) {
        std::ofstream(bank) << "adapter\ndrive 0 protocols=2.2 cut-transfer latency=0 "
                            << kSameModel << "\n";
        EXPECT_EQ(corvane::kExitTransferFailed,
                  Run({"flash", path, "--device", "0:0", "--bank", bank, "--yes"}, out));
        const size_t at = out.find("again: corvane flash ");
        EXPECT_NE(std::string::npos, at) << out;
        return at == std::string::npos ? "" : out.substr(at + 7, out.find('\n', at) - at - 7);
    }
};

class CorvaneCli : public CliFixture, public ::testing::WithParamInterface<CliCase> {};
class CorvaneCliMeddled : public CliFixture, public ::testing::WithParamInterface<MeddledCase> {};

TEST_P(CorvaneCli, FlashesAsThePlugInWouldOrRefusesWithItsStatus) {
    const CliCase& c = GetParam();
    std::ofstream(bank) << CaseBank(c);
    WriteImage(c.image);
    std::string out, err;
    const int status = Run(CaseArguments(c, image, bank), out, &err);
    ExpectCaseOutcome(c, status, out, FileText(log), err);
}

INSTANTIATE_TEST_SUITE_P(ImageDriveOptions, CorvaneCli, ::testing::ValuesIn(kCliCases),
                         [](const ::testing::TestParamInfo<CliCase>& row) {
                             return std::string(row.param.name);
                         });

TEST_P(CorvaneCliMeddled, FlashesAsThePlugInWouldOrRefusesWithItsStatus) {
    const MeddledCase& m = GetParam();
    const CliCase& c = m.row;
    WriteImage(c.image);
    simulator::BankConfig config;
    std::string error;
    ASSERT_EQ(1, simulator::ParseBank(CaseBank(c), config, error)) << error;
    simulator::DriveBank own(config);
    own.SetLogPath(log);
    std::vector<std::string> args = {"flash", image, "--device", "0:0", "--json"};
    args.insert(args.end(), c.options.begin(), c.options.end());
    std::string out, err;
    int status = -1;
    {
        const MeddlingLayer layer(own, m.at, m.meddle, m.signal);
        aspi::SetTickCountSource(JumpingTicks);
        aspi::SetWindows95Or98Override(1);
        status = Run(args, out, &err);
    }
    ExpectCaseOutcome(c, status, out, FileText(log), err, m.meddle != Meddle::NoDevice);
}

INSTANTIATE_TEST_SUITE_P(MeddledLayer, CorvaneCliMeddled, ::testing::ValuesIn(kMeddledCases),
                         [](const ::testing::TestParamInfo<MeddledCase>& row) {
                             return std::string(row.param.row.name);
                         });

TEST_F(CorvaneCli, ARefusedTransferIsShownInWordsBesideTheRawSense) {
    std::ofstream(bank) << "adapter\ndrive 0 protocols=2.2 fail-transfer=3/0C/00 " << kSameModel
                        << " latency=0\n";
    WriteImage(Type22);
    std::string out;
    EXPECT_EQ(corvane::kExitTransferFailed,
              Run({"flash", image, "--device", "0:0", "--bank", bank, "--yes"}, out));
    EXPECT_NE(std::string::npos,
              out.find("Sense:  key 3, ASC 0C, ASCQ 00: Medium Error: Write error; bytes 70 00 03"))
        << out;
    EXPECT_NE(std::string::npos, out.find("Drive:  may have been modified: the image was sent; "
                                          "before: CORVANE SIMDRIVE 52X 0.90; "
                                          "after: CORVANE SIMDRIVE 52X 0.90"))
        << out;
    EXPECT_EQ(std::string::npos, out.find("Flash? [y/N]")) << "--yes asks nothing";
    EXPECT_EQ(corvane::kExitTransferFailed,
              Run({"flash", image, "--device", "0:0", "--bank", bank, "--yes", "--json"}, out));
    EXPECT_NE(std::string::npos, out.find("\"sense\":{\"key\":3,\"asc\":12,\"ascq\":0,\"text\":"
                                          "\"Medium Error: Write error\"}"))
        << out;
}

// The command a cut flash prints brings the drive back, in a later run that
// finds it still in its boot loader; each attempt sends the image once.
TEST_F(CorvaneCli, ACutFlashSaysHowToRecoverAndThatCommandRecovers) {
    const std::string state = stem + "state.txt";
    setenv("CORVANE_BANK_STATE", state.c_str(), 1);
    WriteImage(Type22);
    std::string out;
    const std::string command = CutFlash(image, out);
    EXPECT_NE(std::string::npos, out.find("the drive now answers as CORVANE BOOT LOADER 0.01, "
                                          "where it answered as CORVANE SIMDRIVE 52X 0.90 before"))
        << out;
    EXPECT_EQ(std::string::npos, out.find("Sense:")) << "the cut ends with no sense data";
    std::istringstream words(command);
    std::vector<std::string> again;
    for (std::string word; words >> word;)
        again.push_back(word);
    ASSERT_EQ((std::vector<std::string>{"corvane", "flash", image, "--device", "0:0", "--recover",
                                        "--bank", bank}),
              again);
    again.erase(again.begin());
    again.insert(again.end(), {"--yes", "--json"});
    EXPECT_EQ(corvane::kExitOk, Run(again, out));
    EXPECT_NE(std::string::npos, out.find("\"recovered\":true")) << out;
    EXPECT_NE(std::string::npos, out.find("\"after\":{\"vendor\":\"CORVANE\",\"product\":"
                                          "\"SIMDRIVE 52X\",\"revision\":\"1.00\"}"))
        << out;
    EXPECT_EQ(2, Occurrences(FileText(log), "len=65536")) << FileText(log);
    unsetenv("CORVANE_BANK_STATE");
    unlink(state.c_str());
}

// The printed command names the same files when pasted into a shell, also
// where their names hold quotes, a command substitution, a newline or UTF-8
// (which shown text escapes).
TEST_F(CorvaneCli, TheRecoverCommandNamesTheSameFilesWhateverTheirNames) {
    const std::string folder = stem + "fw \xC3\xA9 $(touch pwned) 'q' \\x41\nnext";
    ASSERT_EQ(0, mkdir(folder.c_str(), 0700));
    const std::string hostile = folder + "/-image.hex", script = stem + "again.sh";
    WriteCaseImage(Type22, hostile);
    std::string out;
    const std::string command = CutFlash(hostile, out);
    ASSERT_FALSE(command.empty());
    // The shell prints each word it reads, ended by a NUL.
    std::ofstream(script) << "printf '%s\\0'" << command.substr(std::strlen("corvane flash"))
                          << "\n";
    FILE* shell = popen(("bash " + script).c_str(), "r");
    ASSERT_NE(nullptr, shell);
    std::string words;
    for (int c; (c = std::fgetc(shell)) != EOF;)
        words += static_cast<char>(c);
    EXPECT_EQ(0, pclose(shell));
    std::string expected;
    for (const std::string& word : {hostile, std::string("--device"), std::string("0:0"),
                                    std::string("--recover"), std::string("--bank"), bank})
        expected += word + '\0';
    EXPECT_EQ(expected, words);
    for (const std::string& file : {hostile, script})
        unlink(file.c_str());
    rmdir(folder.c_str());
}

// A file name reaches the terminal as drives' texts do: no escape sequence
// of its own gets through.
TEST_F(CorvaneCli, ThePlanShowsHostileFileNamesEscaped) {
    const std::string name = stem + "\x1B]0;x\x07", hostile = name + ".hex", named = name + ".txt";
    WriteCaseImage(Type22, hostile);
    std::ofstream(named) << "adapter\ndrive 0 protocols=2.2 latency=0 " << kSameModel << "\n";
    std::string out;
    EXPECT_EQ(corvane::kExitOk,
              Run({"flash", hostile, "--device", "0:0", "--bank", named, "--dry-run"}, out));
    EXPECT_EQ(std::string::npos, out.find('\x1B')) << out;
    EXPECT_NE(std::string::npos, out.find("Image:  " + stem + "\\x1B]0;x\\x07.hex: ")) << out;
    EXPECT_NE(std::string::npos, out.find(stem + "\\x1B]0;x\\x07.txt\n")) << out;
    for (const std::string& file : {hostile, named})
        unlink(file.c_str());
}

// A drive that holds every INQUIRY until it times out: --recover waits a
// minute by the clock, not sixty time-outs.
TEST_F(CorvaneCli, TheRecoverWaitEndsByTheClock) {
    WriteImage(Type22);
    simulator::BankConfig config;
    std::string error;
    ASSERT_EQ(1, simulator::ParseBank("adapter\ndrive 0 protocols=2.2 hang=12 latency=0\n", config,
                                      error))
        << error;
    simulator::DriveBank own(config);
    own.SetLogPath(log);
    std::string out, err;
    {
        const MeddlingLayer layer(
            own, +[](const uint8_t* cdb) { return cdb[0] == 0x12; }, Meddle::TimeOut);
        aspi::SetTickCountSource(JumpingTicks);
        aspi::SetWindows95Or98Override(1);
        EXPECT_EQ(corvane::kExitNoDrive,
                  Run({"flash", image, "--device", "0:0", "--yes", "--recover"}, out, &err));
    }
    const std::string commands = FileText(log);
    EXPECT_EQ(2, Occurrences(commands, "cdb=12 ")) << commands << err;
    EXPECT_EQ(std::string::npos, commands.find("cdb=CB")) << commands;
}

// The plan says what the command line knows before the question.
TEST_F(CorvaneCli, ThePlanNamesTheRevisionOrderAndAUsbBridge) {
    const struct {
        const char* drive;
        const char* says;
    } cases[] = {
        {"revision=0.90", "Revision: 0.90 to 1.00, newer\n"},
        {"revision=1.00", "Revision: 1.00, the same revision again\n"},
        {"revision=1.10 bus=usb", "Revision: 1.10 to 1.00, older: a downgrade\nBus:    usb: the "
                                  "drive is behind a USB bridge: many do not pass the vendor "
                                  "download command\n"},
        {"revision=1-00", "Revision: 1-00 to 1.00: the order is unknown\n"},
    };
    WriteImage(Type22);
    for (const auto& c : cases) {
        std::ofstream(bank) << "adapter\ndrive 0 protocols=2.2 latency=0 vendor=CORVANE "
                               "product=\"SIMDRIVE 52X\" "
                            << c.drive << "\n";
        std::string out;
        EXPECT_EQ(corvane::kExitOk, Run({"flash", image, "--device", "0:0", "--bank", bank,
                                         "--dry-run", "--allow-downgrade"},
                                        out));
        EXPECT_NE(std::string::npos, out.find(c.says)) << out;
    }
}

TEST_F(CorvaneCli, ScanListsEveryDriveAndSendsNothingElse) {
    const std::string ten = "adapter\ndrive 0\ndrive 1\ndrive 2\ndrive 3\ndrive 4\ndrive 5\n"
                            "drive 6\ndrive 7\nadapter\ndisk 0\ndrive 3\ndrive 7\n";
    const struct {
        const char* name;
        std::string bank;
        bool json;
        int status;
        const char* out; // the whole output; null: only its lines are counted
        int lines;
        const char* err; // on stderr
    } cases[] = {
        {"two adapters",
         std::string("adapter\ndrive 1 protocols=2.2 ") + kOtherModel +
             "\ndisk 2\nadapter\ndrive 0 vendor=\"A\\0B\" product=P revision=1 bus=usb\n",
         true, corvane::kExitOk,
         "{\"drives\":[{\"address\":\"0:1\",\"device\":null,\"bus\":\"unknown\",\"vendor\":"
         "\"QVSIM\",\"product\":\"DRIVE\",\"revision\":\"0.10\"},{\"address\":\"1:0\",\"device\":"
         "null,\"bus\":\"usb\",\"vendor\":\"A B\",\"product\":\"P\",\"revision\":\"1\"}]}\n",
         1, ""},
        // Identities are 8-bit text: a byte is one character, escaped as scripts read it.
        {"8-bit identity",
         "adapter\ndrive 0 vendor=\"\\xE9T\\x7F\" product=\"\\x09P\" revision=1\n", true,
         corvane::kExitOk,
         "{\"drives\":[{\"address\":\"0:0\",\"device\":null,\"bus\":\"unknown\",\"vendor\":"
         "\"\\u00e9T\\u007f\","
         "\"product\":\"\\u0009P\",\"revision\":\"1\"}]}\n",
         1, ""},
        {"a disk only", "adapter\ndisk 0\n", false, corvane::kExitNoDrive, "", 0,
         "no CD/DVD drive found"},
        {"more than the channel's table", ten, false, corvane::kExitOk, nullptr, 10, ""},
        {"short identities",
         "adapter\ndrive 0 inquiry-length=20\ndrive 1\ndrive 2 inquiry-length=0\n", false,
         corvane::kExitOk, nullptr, 1,
         "corvane scan: 0:0 answers INQUIRY without a whole identity (36 bytes); nothing but "
         "INQUIRY was sent\ncorvane scan: 0:2 answers INQUIRY without a whole identity (36 "
         "bytes); nothing but INQUIRY was sent\n"},
    };
    for (const auto& c : cases) {
        std::ofstream(bank) << c.bank;
        std::vector<std::string> args = {"scan", "--bank", bank};
        if (c.json)
            args.push_back("--json");
        std::string out, err;
        EXPECT_EQ(c.status, Run(args, out, &err)) << c.name;
        if (c.out) {
            EXPECT_EQ(c.out, out) << c.name;
        }
        EXPECT_EQ(c.lines, std::count(out.begin(), out.end(), '\n')) << c.name << out;
        EXPECT_NE(std::string::npos, err.find(c.err)) << c.name << err;
        for (const std::string& line : ExecutedLines(FileText(log)))
            EXPECT_NE(std::string::npos, line.find("cdb=12 ")) << c.name << line;
        unlink(log.c_str());
    }
}

// Every case would reach a drive (CORVANE_BANK names one) if it were taken
// for good usage: --yes flashes, so a misreading shows in the bank's log.
TEST_F(CorvaneCli, BadUsageIsStatus2AndSendsNothing) {
    std::ofstream(bank) << "adapter\ndrive 0 protocols=2.2 " << kSameModel << " latency=0\n";
    WriteImage(Type22);
    setenv("CORVANE_BANK", bank.c_str(), 1);
    const std::vector<std::vector<std::string>> cases = {
        {"flash", "IMG", "--yes"},
        {"flash", "--device", "0:0", "--yes"},
        {"flash", "IMG", "--device", "0:8", "--yes"},
        {"flash", "IMG", "--device", "A:0", "--yes"},
        {"flash", "IMG", "--device", " 0:0", "--yes"},
        {"flash", "IMG", "--device", "0: 0", "--yes"},
        {"flash", "IMG", "--device", "+0:0", "--yes"},
        {"flash", "IMG", "--device", "0:0", "--yes", "--device"},
        {"flash", "IMG", "--device", "0:0", "--yes", "--log", "--dry-run"},
        {"flash", "IMG", "--device", "0:0", "--yes", "--log", "--json"},
        {"flash", "IMG", "--device", "0:0", "--yes", "--log", ""},
        {"flash", "IMG", "--yes", "--device", "--json", "0:0"},
        {"flash", "IMG", "--device", "0:0", "--yes", "--bank", "--json"},
        {"flash", "IMG", "--device", "0:0", "--yes", "--dry-run=no"},
        {"flash", "IMG", "IMG", "--device", "0:0", "--yes"},
        {"flash", "IMG", "--device", "0:0", "--yes", "--bogus"},
        {"scan", "extra"},
        {"scan", "--bank", "--json"},
    };
    for (auto args : cases) {
        std::replace(args.begin(), args.end(), std::string("IMG"), image);
        std::string out;
        EXPECT_EQ(corvane::kExitUsage, Run(args, out)) << args.back();
        EXPECT_EQ("", out);
        EXPECT_TRUE(ExecutedLines(FileText(log)).empty()) << args.back();
        unlink(log.c_str());
    }
    unsetenv("CORVANE_BANK");
    std::string out;
    EXPECT_EQ(corvane::kExitOk, Run({"flash", "--help"}, out));
    EXPECT_NE(std::string::npos, out.find("Exit status: 0 flashed and verified"));
    EXPECT_EQ(corvane::kExitOk, Run({"scan", "--help"}, out));
    EXPECT_EQ(0u, out.find("usage: corvane scan"));
}

// Status 4 says which it is: no drive, or a device the user may not open.
TEST_F(CorvaneCli, NoDriveOrNoAccessIsTheResultOfStatus4) {
    WriteImage(Type22);
    for (const bool denied : {false, true}) {
        FakeCdRoms fakes;
        if (denied)
            fakes.AddDenied(0);
        aspi::PassThroughLayer layer(fakes.Calls());
        aspi::UseLayer(&aspi::PassThroughLayer::kOps, &layer);
        const char* const result = denied ? "no access" : "no drive";
        std::string out;
        EXPECT_EQ(corvane::kExitNoDrive,
                  Run({"flash", image, "--device", "0:0", "--yes", "--json"}, out));
        EXPECT_EQ(0u, out.find("{\"result\":\"" + std::string(result) + "\"")) << out;
        EXPECT_EQ(corvane::kExitNoDrive, Run({"flash", image, "--device", "0:0", "--yes"}, out));
        EXPECT_EQ(0u, out.find("Result: " + std::string(result) + ": no drive: ")) << out;
        EXPECT_EQ(denied, out.find("administrator rights.; 0:0 = ") != std::string::npos) << out;
        aspi::UseLayer(&aspi::kNoLayer);
    }
}

// Identity bytes are data: a NUL is a blank, an escape never reaches the
// terminal raw (this revision would hide the rest of the screen).
TEST_F(CorvaneCli, IdentitiesWithNulAndControlBytesAreShownWholeAndInert) {
    SyntheticImageRecipe recipe;
    DefaultSyntheticRecipe(recipe);
    static uint8_t bytes[kImageSize];
    ASSERT_EQ(1, MakeSyntheticImage(recipe, bytes));
    std::memcpy(bytes + kSyntheticTemplateAddress + 8, "CO\0VANE SIMDRIVE 52X\x1B[2J", 24);
    FILE* file = std::fopen(image.c_str(), "wb");
    ASSERT_NE(nullptr, file);
    EXPECT_EQ(1, WriteHexImage(file, bytes, recipe.length));
    std::fclose(file);
    const char* const drive = "vendor=\"CO\\0VANE\" product=\"SIMDRIVE 52X\\x1B[2J\" "
                              "revision=\"\\x1B[8m\" latency=0";
    std::ofstream(bank) << "adapter\ndrive 0 protocols=2.2 " << drive << "\ndrive 1 protocols=2.2 "
                        << kOtherModel << " latency=0\n";
    const auto flash = [this](std::vector<std::string> more) {
        more.insert(more.begin(), {"flash", image, "--bank", bank, "--device"});
        return more;
    };
    const auto raw = [](const std::string& text) {
        return std::count_if(text.begin(), text.end(),
                             [](char c) { return (c >= 0 && c < 0x20 && c != '\n') || c == 0x7F; });
    };
    std::string out, logFile = stem + "steps.txt";
    EXPECT_EQ(corvane::kExitOk, Run(flash({"0:0", "--dry-run", "--log", logFile}), out));
    EXPECT_NE(std::string::npos, out.find("0:0 CO VANE SIMDRIVE 52X\\x1B[2J \\x1B[8m, ")) << out;
    EXPECT_NE(std::string::npos, out.find(": CO VANE SIMDRIVE 52X\\x1B[2J 1.00, ")) << out;
    EXPECT_EQ(0, raw(out)) << out;
    EXPECT_EQ(0, raw(FileText(logFile)));
    unlink(logFile.c_str());
    EXPECT_EQ(corvane::kExitRefused, Run(flash({"0:1", "--yes"}), out));
    EXPECT_NE(std::string::npos, out.find("the image is for CO VANE SIMDRIVE 52X\\x1B[2J, "))
        << out;
    EXPECT_EQ(0, raw(out)) << out;
    EXPECT_EQ(corvane::kExitRefused, Run(flash({"0:1", "--yes", "--json"}), out));
    EXPECT_NE(std::string::npos, out.find("for CO\\u0000VANE SIMDRIVE 52X\\u001b[2J, ")) << out;
    EXPECT_EQ(corvane::kExitOk, Run({"scan", "--bank", bank}, out));
    EXPECT_NE(std::string::npos, out.find(" SIMDRIVE 52X\\x1B[2J \\x1B[8m\n")) << out;
    EXPECT_EQ(0, raw(out)) << out;
}

// The question goes to the terminal, not to standard output, and only "y"
// or "yes" typed there consents; stdin holds nothing (it is /dev/null).
class Consent : public CorvaneCli {
  protected:
    int master = -1;
    void SetUp() override {
        CorvaneCli::SetUp();
        master = posix_openpt(O_RDWR | O_NOCTTY);
        ASSERT_GE(master, 0);
        ASSERT_EQ(0, grantpt(master));
        ASSERT_EQ(0, unlockpt(master));
        corvane::UseTerminal(ptsname(master));
    }
    void TearDown() override {
        corvane::UseTerminal(nullptr);
        close(master);
        CorvaneCli::TearDown();
    }
    // What the program wrote to the terminal (and the terminal's echo).
    std::string Screen() {
        std::string text;
        fcntl(master, F_SETFL, O_NONBLOCK);
        char buffer[256];
        for (ssize_t n; (n = read(master, buffer, sizeof buffer)) > 0;)
            text.append(buffer, static_cast<size_t>(n));
        return text;
    }
};

TEST_F(Consent, OnlyYOrYesTypedOnTheTerminalFlashes) {
    const struct {
        const char* typed;
        int status;
    } answers[] = {{"y\n", corvane::kExitOk},
                   {"YES\n", corvane::kExitOk},
                   {"Yes\n", corvane::kExitOk},
                   {"yesterday\n", corvane::kExitRefused},
                   {"yes please\n", corvane::kExitRefused},
                   {"n\n", corvane::kExitRefused},
                   {"\n", corvane::kExitRefused},
                   {" y\n", corvane::kExitRefused}};
    std::ofstream(bank) << "adapter\ndrive 0 protocols=2.2 " << kSameModel << " latency=0\n";
    WriteImage(Type22);
    for (const auto& answer : answers) {
        ASSERT_EQ(ssize_t(std::strlen(answer.typed)),
                  write(master, answer.typed, std::strlen(answer.typed)));
        std::string out;
        EXPECT_EQ(answer.status,
                  Run({"flash", image, "--device", "0:0", "--bank", bank, "--json"}, out))
            << answer.typed;
        EXPECT_EQ(1, std::count(out.begin(), out.end(), '\n')) << "one object: " << out;
        EXPECT_NE(std::string::npos, Screen().find("Flash? [y/N] ")) << answer.typed;
        EXPECT_EQ(answer.status == corvane::kExitOk, ExecutedLines(FileText(log)).size() > 6)
            << answer.typed;
        unlink(log.c_str());
    }
    corvane::UseTerminal("");
    std::string out;
    EXPECT_EQ(corvane::kExitRefused, Run({"flash", image, "--device", "0:0", "--bank", bank}, out));
    EXPECT_NE(std::string::npos, out.find("no terminal to ask for consent")) << out;
}

} // namespace
