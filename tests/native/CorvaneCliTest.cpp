// corvane as a user or a script runs it, in-process on the simulated bank:
// one table of image, drive and options, each checked for the exit status,
// the result, and the commands the drive got (the plug-in's, in its order).
#include "cli/CorvaneCli.h"

#include "../support/LoggedCommands.h"
#include "../support/LoggedTransfer.h"
#include "../support/MeddlingLayer.h"

#include "download/Pause.h"
#include "firmware/SyntheticImage.h"
#include "simulator/BankConfig.h"

#include <gtest/gtest.h>

#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

namespace {

enum Image { None, Type20, Type21, Type22, NoTemplate22, Damaged };

// A drive of the image's model, an older revision: no guard stands in the way.
const char* const kSameModel = "vendor=CORVANE product=\"SIMDRIVE 52X\" revision=0.90";
const char* const kOtherModel = "vendor=QVSIM product=DRIVE revision=0.10";
// The image's own identity: a drive that already carries it.
const char* const kImageModel = "vendor=CORVANE product=\"SIMDRIVE 52X\" revision=1.00";

struct Case {
    const char* name;
    const char* drive; // target 0 of adapter 0, of the image's model unless it says
    Image image;
    std::vector<std::string> options;
    int status;
    const char* result;
    std::vector<std::string> commands;
    int modeByte; // of a transfer checked byte for byte; 0: none
    // With the commands `at` picks; the bank is then the test's own.
    Meddle meddle = Meddle::None;
    bool (*at)(const uint8_t*) = nullptr;
    int signal = 0;
    const char* says = nullptr; // on stdout or stderr
};

const Case kCases[] = {
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
    {"NoDriveThere", "", Type22, {"--yes"}, 4, "refused", {}, 0},
    // Reboot mode: "ok" only where the drive took the command or changed its identity.
    {"RebootUnreached",
     "protocols=2.0",
     Type20,
     {"--yes"},
     3,
     "failed",
     kAsked,
     0,
     Meddle::NoDevice,
     IsTransferCdb,
     0,
     "the transfer reached no drive at 0:0"},
    {"RebootSilentOnTheImagesIdentity",
     "protocols=2.0 hang-transfer current",
     Type20,
     {"--yes"},
     3,
     "unverified",
     Then(kAsked, {kInquiry, kReady, kReady}),
     0,
     Meddle::TimeOut,
     IsTransferCdb,
     0,
     "nothing shows that it took the image"},
    // Interrupts: before the transfer they cancel, during it they are held.
    {"InterruptedAtTheProbes",
     "protocols=2.2",
     Type22,
     {"--yes"},
     1,
     "cancelled",
     {kInquiry, kProbed[1]},
     0,
     Meddle::Signal,
     IsFirstProbeCdb,
     SIGINT,
     "cancelled before the transfer"},
    {"HungUpAtTheTray",
     "protocols=2.2",
     Type22,
     {"--yes"},
     1,
     "cancelled",
     Then(kProbed, {"1E 00 00 00 02"}),
     0,
     Meddle::Signal,
     IsPreventCdb,
     SIGHUP},
    {"TerminatedDuringTheTransfer",
     "protocols=2.2 flash=100",
     Type22,
     {"--yes"},
     0,
     "ok",
     Whole(kType22),
     0x84,
     Meddle::Signal,
     IsTransferCdb,
     SIGTERM,
     "corvane: the transfer cannot be taken back; waiting for the drive to finish"},
    // A short identity is no drive, as scan has it.
    {"ShortIdentityRefused",
     "protocols=2.2 inquiry-length=35",
     Type22,
     {"--yes"},
     1,
     "refused",
     {kInquiry},
     0,
     Meddle::None,
     nullptr,
     0,
     "0:0 answers INQUIRY without a whole identity (36 bytes); nothing but INQUIRY was sent"},
    {"EmptyIdentityRefused",
     "protocols=2.2 inquiry-length=0",
     Type22,
     {"--yes"},
     1,
     "refused",
     {kInquiry},
     0,
     Meddle::None,
     nullptr,
     0,
     "0:0 answers INQUIRY without a whole identity"},
};

std::string Contents(const std::string& path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

class CorvaneCli : public ::testing::TestWithParam<Case> {
  protected:
    std::string stem = "/tmp/corvane-cli-" + std::to_string(getpid()) + "-";
    std::string bank = stem + "bank.txt", log = stem + "log.txt", image = stem + "image.hex";

    void SetUp() override {
        download::SetPause(+[](uint32_t) {});
        setenv("CORVANE_BANK_LOG", log.c_str(), 1);
        unsetenv("CORVANE_BANK");
        unsetenv("CORVANE_BANK_STATE");
        // No terminal: consent only by --yes.
        ASSERT_NE(nullptr, std::freopen("/dev/null", "r", stdin));
    }
    void TearDown() override {
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

    void WriteImage(Image kind) {
        if (kind == Damaged) {
            std::ofstream(image) << ":10000000000102030405060708090A0B0C0D0E0F79\r\n";
            return;
        }
        SyntheticImageRecipe recipe;
        DefaultSyntheticRecipe(recipe);
        recipe.protocol = kind == NoTemplate22 ? FwProtocolType22 : FwProtocol(kind);
        recipe.withTemplate = kind != NoTemplate22;
        ASSERT_EQ(1, SaveSyntheticImage(image.c_str(), recipe));
    }
};

// Target 0 of adapter 0 as the case describes it (" other", " current": of
// that model, else of kSameModel).
std::string BankText(const Case& c) {
    std::string drive = c.drive;
    const char* model = kSameModel;
    for (const auto& mark :
         {std::make_pair(" other", kOtherModel), std::make_pair(" current", kImageModel)})
        if (drive.find(mark.first) != std::string::npos) {
            drive.erase(drive.find(mark.first));
            model = mark.second;
        }
    if (drive == "disk")
        return "adapter\ndisk 0\n";
    return drive.empty() ? "adapter\n" : "adapter\ndrive 0 " + drive + " " + model + " latency=0\n";
}

TEST_P(CorvaneCli, FlashesAsThePlugInWouldOrRefusesWithItsStatus) {
    const Case& c = GetParam();
    const std::string text = BankText(c);
    std::ofstream(bank) << text;
    WriteImage(c.image);
    std::vector<std::string> args = {"flash", image, "--device", "0:0", "--json"};
    args.insert(args.end(), c.options.begin(), c.options.end());
    // The test's own bank, where a layer in between meddles; else --bank.
    simulator::BankConfig config;
    std::string error;
    ASSERT_EQ(1, simulator::ParseBank(text, config, error)) << error;
    std::unique_ptr<simulator::DriveBank> own;
    std::unique_ptr<MeddlingLayer> layer;
    if (c.meddle != Meddle::None) {
        own.reset(new simulator::DriveBank(config));
        own->SetLogPath(log);
        layer.reset(new MeddlingLayer(*own, c.at, c.meddle, c.signal));
        aspi::SetTickCountSource(JumpingTicks);
        aspi::SetWindows95Or98Override(1);
    } else {
        args.insert(args.end(), {"--bank", bank});
    }
    std::string out, err;
    EXPECT_EQ(c.status, Run(args, out, &err));
    layer.reset();
    EXPECT_EQ(0u, out.find("{\"result\":\"" + std::string(c.result) + "\"")) << out;
    EXPECT_EQ(1, std::count(out.begin(), out.end(), '\n')) << "one object: " << out;
    if (c.says) {
        EXPECT_NE(std::string::npos, (out + err).find(c.says)) << out << err;
    }
    const std::vector<std::string> executed = ExecutedLines(Contents(log));
    ExpectCommands(c.commands, executed);
    if (c.modeByte)
        ExpectTransferOf(executed[executed.size() - 4],
                         SyntheticBytes(c.image == Type20   ? FwProtocolType20
                                        : c.image == Type21 ? FwProtocolType21
                                                            : FwProtocolType22),
                         c.modeByte);
    const bool sent =
        c.status == 0 ? c.modeByte != 0 : c.status == 3 && c.meddle != Meddle::NoDevice;
    EXPECT_NE(std::string::npos,
              out.find(sent ? "\"transferSent\":true" : "\"transferSent\":false"));
}

INSTANTIATE_TEST_SUITE_P(ImageDriveOptions, CorvaneCli, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<Case>& row) {
                             return std::string(row.param.name);
                         });

TEST_F(CorvaneCli, ARefusedTransferIsShownInWordsBesideTheRawSense) {
    std::ofstream(bank) << "adapter\ndrive 0 protocols=2.2 fail-transfer=3/0C/00 " << kSameModel
                        << " latency=0\n";
    WriteImage(Type22);
    std::string out;
    EXPECT_EQ(3, Run({"flash", image, "--device", "0:0", "--bank", bank, "--yes"}, out));
    EXPECT_NE(std::string::npos,
              out.find("Sense:  key 3, ASC 0C, ASCQ 00: MEDIUM ERROR: write error; bytes 70 00 03"))
        << out;
    EXPECT_NE(std::string::npos, out.find("Drive:  may have been modified: the image was sent; "
                                          "before: CORVANE SIMDRIVE 52X 0.90; after: not asked"))
        << out;
    EXPECT_EQ(std::string::npos, out.find("Flash? [y/N]")) << "--yes asks nothing";
    EXPECT_EQ(3, Run({"flash", image, "--device", "0:0", "--bank", bank, "--yes", "--json"}, out));
    EXPECT_NE(std::string::npos, out.find("\"sense\":{\"key\":3,\"asc\":12,\"ascq\":0,\"text\":"
                                          "\"MEDIUM ERROR: write error\"}"))
        << out;
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
             "\ndisk 2\nadapter\ndrive 0 vendor=\"A\\0B\" product=P revision=1\n",
         true, 0,
         "{\"drives\":[{\"address\":\"0:1\",\"device\":null,\"vendor\":\"QVSIM\",\"product\":"
         "\"DRIVE\",\"revision\":\"0.10\"},{\"address\":\"1:0\",\"device\":null,\"vendor\":"
         "\"A B\",\"product\":\"P\",\"revision\":\"1\"}]}\n",
         1, ""},
        {"a disk only", "adapter\ndisk 0\n", false, 4, "", 0, "no CD/DVD drive found"},
        {"more than the channel's table", ten, false, 0, nullptr, 10, ""},
        {"short identities",
         "adapter\ndrive 0 inquiry-length=20\ndrive 1\ndrive 2 inquiry-length=0\n", false, 0,
         nullptr, 1,
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
        for (const std::string& line : ExecutedLines(Contents(log)))
            EXPECT_NE(std::string::npos, line.find("cdb=12 ")) << c.name << line;
        unlink(log.c_str());
    }
}

TEST_F(CorvaneCli, BadUsageIsStatus2) {
    const std::vector<std::vector<std::string>> cases = {
        {"flash", "x.hex"},
        {"flash", "--device", "0:0"},
        {"flash", "x.hex", "--device", "0:8"},
        {"flash", "x.hex", "--device", "A:0"},
        {"flash", "x.hex", "--device"},
        {"flash", "x.hex", "y.hex", "--device", "0:0"},
        {"flash", "x.hex", "--device", "0:0", "--bogus"},
        {"scan", "extra"},
    };
    for (const auto& args : cases) {
        std::string out;
        EXPECT_EQ(2, Run(args, out)) << args.back();
        EXPECT_EQ("", out);
    }
    std::string out;
    EXPECT_EQ(0, Run({"flash", "--help"}, out));
    EXPECT_NE(std::string::npos, out.find("Exit status: 0 flashed and verified"));
}

} // namespace
