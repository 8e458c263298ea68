// The whole download procedure against the simulated bank: one table of
// image, drive and answer, each row checked for the commands the drive got
// (in order), what was shown, asked and requested, and the pause asked for.
#include "download/DownloadProcedure.h"

#include "../support/LoggedCommands.h"
#include "../support/LoggedTransfer.h"
#include "../support/MeddlingLayer.h"

#include "aspi/AspiSeam.h"
#include "download/Pause.h"
#include "firmware/SyntheticImage.h"
#include "simulator/BankConfig.h"
#include "simulator/SimulatedLayer.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <fstream>
#include <functional>
#include <memory>
#include <thread>

using namespace download;

namespace {

struct RecordingView : DownloadView {
    std::string rows[kStatusRows];
    int states[kStatusRows] = {};
    std::string message;
    Picture picture = Picture::Idle;
    bool answer = true;
    int consents = 0, warnings = 0, restarts = 0;
    void RowState(int row, int state) override { states[row] = state; }
    void RowValue(int row, const char* text) override { rows[row] = text; }
    void Message(const char* text) override { message = text; }
    void ShowPicture(Picture shown) override { picture = shown; }
    void BarBegin(int) override {}
    void BarPercent(int32_t) override {}
    void BarEnd() override {}
    int Consent(DownloadMode) override { return ++consents, answer ? 1 : 0; }
    void WarnFailedTransfer() override { ++warnings; }
    void RequestRestart() override { ++restarts; }
};

std::atomic<uint32_t> askedPause{0};
void RecordPause(uint32_t milliseconds) {
    askedPause = milliseconds;
}
const char* const kDone = "Download has done successfully!";
const char* const kInvalid = "Invalid check sum Fail to Download, Restart Now!";
const char* const kMismatch = "Mismatch protocol between F/W and drive!";
const char* const kNotADrive = "The selected device is not a CD/DVD drive!";
const char* const kUnconfirmed = "New F/W is something wrong. Download not confirmed !";
// Asked, and after a transfer that did not end, asked who it is.
const std::vector<std::string> kAskedAgain = Then(kAsked, {kInquiry, kReady, kReady});
// The synthetic image's identity, for a drive that already runs it.
#define IMAGE_IDENTITY "vendor=CORVANE product=\"SIMDRIVE 52X\" revision=1.00"
enum Image { None, Type20, Type21, Type22, NoTemplate22, Damaged };

struct Case {
    const char* name;
    const char* bank; // target 0 of adapter 0; its keys win over the usual identity
    Image image;
    bool consent;
    std::vector<std::string> commands; // command block prefixes, in order
    const char* message;
    int finished; // -1: Start stopped
    int restarts, warnings;
    uint32_t pause;
    int modeByte;                 // of a transfer checked byte for byte; 0: none
    Meddle meddle = Meddle::None; // with the transfer
};

const Case kCases[] = {
    {"Verify22On22", "drive 0 protocols=2.2", Type22, true, Whole(kType22), kDone, 1, 0, 0, 0,
     0x84},
    {"Reboot20On20", "drive 0 protocols=2.0", Type20, true, Whole(kType20), kDone, 1, 1, 0, 8500,
     0x04},
    {"Reboot20On22", "drive 0 protocols=2.2", Type20, true, Whole(kType22), kDone, 1, 1, 0, 8500,
     0x04},
    {"Reboot21On21", "drive 0 protocols=2.1", Type21, true, Whole(kType21), kDone, 1, 1, 0, 8500,
     0x04},
    {"Reboot22On20", "drive 0 protocols=2.0", Type22, true, Whole(kType20), kDone, 1, 1, 0, 8500,
     0x04},
    // A drive that a cut flash left in its boot loader: the page has no model
    // guard, so the loader takes the image and the drive answers as the image.
    {"VerifyBringsBackALoader", "drive 0 protocols=2.2 loader", Type22, true, Whole(kType22), kDone,
     1, 0, 0, 0, 0x84},
    {"UnitAttentionRepeatsTheTray", "drive 0 protocols=2.2 attention=2", Type22, true,
     Then(kAsked, {kTray, kTray, kType22, kInquiry, kReady, kReady}), kDone, 1, 0, 0, 0, 0x84},
    {"MismatchImage0", "drive 0 protocols=2.2", None, true, kAsked, kMismatch, -1, 0, 0, 0, 0},
    {"MismatchNoProbe", "drive 0 protocols=none", Type22, true, kAsked, kMismatch, -1, 0, 0, 0, 0},
    {"NoConsent", "drive 0 protocols=2.2", Type22, false, kAsked, "Check download protocol...", -1,
     0, 0, 0, 0},
    {"DamagedFile", "drive 0 protocols=2.2", Damaged, true, kNoCommands, "Damaged F/W file!", -1, 0,
     0, 0, 0},
    {"NoAnswer", "drive 5", Type22, true, kNoCommands, "Reading F/W file...", -1, 0, 0, 0, 0},
    {"DiskHearsOnlyInquiry", "disk 0", Type22, true, kInquiryOnly, kNotADrive, -1, 0, 0, 0, 0},
    {"VerifyRefused", "drive 0 protocols=2.2 fail-transfer=3/0C/00", Type22, true,
     Then(kAsked, {kType22}), kInvalid, 0, 1, 1, 0, 0},
    {"RebootRefused", "drive 0 protocols=2.0 fail-transfer=5/26/00", Type20, true,
     Then(kAsked, {kType20}), kInvalid, 0, 2, 1, 8500, 0},
    // Reboot mode without good status: only the image's identity, where the
    // drive had another, shows it took the image.
    {"RebootRestartedWithTheImage", "drive 0 protocols=2.0 restart-transfer", Type20, true,
     kAskedAgain, kDone, 1, 1, 0, 8500, 0},
    {"RebootRestartedAsBefore", "drive 0 protocols=2.0 restart-transfer " IMAGE_IDENTITY, Type20,
     true, kAskedAgain, kUnconfirmed, 0, 1, 0, 8500, 0},
    {"RebootNoAnswerOldIdentity", "drive 0 protocols=2.0 hang-transfer", Type20, true, kAskedAgain,
     kUnconfirmed, 0, 1, 0, 8500, 0},
    {"RebootNoAnswerImageIdentity", "drive 0 protocols=2.0 hang-transfer " IMAGE_IDENTITY, Type20,
     true, kAskedAgain, kUnconfirmed, 0, 1, 0, 8500, 0},
    // A transfer that never got to a drive delivered nothing, whatever the mode.
    {"RebootNoDevice", "drive 0 protocols=2.0", Type20, true, kAsked, kInvalid, 0, 2, 1, 8500, 0,
     Meddle::NoDevice},
    {"RebootSelectionTimedOut", "drive 0 protocols=2.0", Type20, true, kAsked, kInvalid, 0, 2, 1,
     8500, 0, Meddle::SelectionTimeout},
    {"VerifyNoDevice", "drive 0 protocols=2.2", Type22, true, kAsked, kInvalid, 0, 1, 1, 0, 0,
     Meddle::NoDevice},
    {"ShortIdentityHearsOnlyInquiry", "drive 0 protocols=2.2 inquiry-length=35", Type22, true,
     kInquiryOnly, kNotADrive, -1, 0, 0, 0, 0},
    {"VerifyKeptItsIdentity", "drive 0 protocols=2.2", NoTemplate22, true, Whole(kType22),
     "New F/W is something wrong. Model or version not changed !", 0, 0, 0, 0, 0},
    {"NoInquiryAnswerAfter", "drive 0 protocols=2.2 hang-after-flash=12", Type22, true,
     Then(kAsked, {kType22}), "New F/W is something wrong. no response to Inquiry !", 0, 0, 0, 0,
     0},
};
#undef IMAGE_IDENTITY

std::string WriteImage(Image image) {
    static int counter = 0;
    const std::string path = "/tmp/corvane-procedure-" + std::to_string(getpid()) + "-" +
                             std::to_string(++counter) + ".hex";
    if (image == Damaged) {
        std::ofstream(path) << ":10000000000102030405060708090A0B0C0D0E0F79\r\n";
        return path;
    }
    SyntheticImageRecipe recipe;
    DefaultSyntheticRecipe(recipe);
    recipe.protocol = image == NoTemplate22 ? FwProtocolType22 : FwProtocol(image);
    recipe.withTemplate = image != NoTemplate22;
    EXPECT_EQ(1, SaveSyntheticImage(path.c_str(), recipe));
    return path;
}

class DownloadProcedureTable : public ::testing::TestWithParam<Case> {
  protected:
    void SetUp() override {
        SetPause(RecordPause);
        askedPause = 0;
        // A polled wait sees the clock jump; an event wait would sleep on.
        aspi::SetTickCountSource(JumpingTicks);
        aspi::SetWindows95Or98Override(1);
    }
    void TearDown() override {
        SetPause(nullptr);
        aspi::SetTickCountSource(nullptr);
        aspi::SetWindows95Or98Override(-1);
    }
};

bool HoldsTheTransfer(const Case& c) {
    return std::strstr(c.bank, "hang-transfer") || std::strstr(c.bank, "restart-transfer");
}

// Start, the worker, Finish, as the page runs them; -1 when Start stopped.
int RunDownload(const Case& c, simulator::DriveBank& bank, DownloadProcedure& procedure,
                const std::string& path) {
    if (!procedure.Start(path.c_str()))
        return -1;
    EXPECT_EQ(kTransferRunning, procedure.job.result.load());
    // Held requests are timed out only where the drive holds one: its
    // transfer, or the first command after it; nothing else is sent meanwhile.
    std::unique_ptr<TimeOutHeldRequests> timeOut;
    if (HoldsTheTransfer(c))
        timeOut.reset(new TimeOutHeldRequests(bank));
    std::thread worker([&] { RunTransfer(procedure.job); });
    while (procedure.job.result.load() == kTransferRunning)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    worker.join();
    timeOut.reset(std::strstr(c.bank, "hang-after-flash") ? new TimeOutHeldRequests(bank)
                                                          : nullptr);
    return procedure.Finish();
}

TEST_P(DownloadProcedureTable, SendsShowsAndAsksAsThePairAndTheDriveAllow) {
    const Case& c = GetParam();
    simulator::BankConfig config;
    std::string error;
    // The usual identity, for each key the row does not give itself (a key
    // may be given once).
    std::string drive = c.bank;
    for (const char* key : {"vendor=QVSIM", "product=DRIVE", "revision=0.10", "latency=0"})
        if (drive.find(std::string(key, std::strchr(key, '=') + 1)) == std::string::npos)
            drive = drive + " " + key;
    ASSERT_EQ(1, simulator::ParseBank("adapter\n" + drive + "\n", config, error)) << error;
    simulator::DriveBank bank(config);
    const MeddlingLayer layer(bank, IsTransferCdb, c.meddle);
    const std::string path = WriteImage(c.image);
    {
        DeviceChannel channel(kImageBufferSize, ChannelUser::Plugin);
        RecordingView view;
        view.answer = c.consent;
        std::unique_ptr<DownloadProcedure> procedure(new DownloadProcedure(&channel, view));
        const int finished = RunDownload(c, bank, *procedure, path);
        EXPECT_EQ(c.finished, finished);
        EXPECT_EQ(c.message, view.message);
        EXPECT_EQ(finished == 1 ? Picture::Ok : Picture::Ng, view.picture);
        EXPECT_EQ(c.restarts, view.restarts);
        EXPECT_EQ(c.warnings, view.warnings);
        EXPECT_EQ(c.pause, askedPause.load());
        if (c.modeByte) {
            EXPECT_EQ(view.rows[kRowFwModel], view.rows[kRowNewModel]);
        }
    }
    // A command the bank held for good is no "exec" line; its reset is.
    std::vector<std::string> executed;
    int resets = 0;
    for (const std::string& line : bank.Journal()) {
        if (line.rfind("exec ", 0) == 0)
            executed.push_back(line);
        resets += line.rfind("reset ha=0 target=0", 0) == 0;
    }
    EXPECT_EQ(std::strstr(c.bank, "hang") || HoldsTheTransfer(c) ? 1 : 0, resets);
    ExpectCommands(c.commands, executed);
    if (c.modeByte)
        ExpectTransferOf(executed[c.commands.size() - 4],
                         SyntheticBytes(FwProtocol(c.image == Type20   ? FwProtocolType20
                                                   : c.image == Type21 ? FwProtocolType21
                                                                       : FwProtocolType22)),
                         c.modeByte);
    unlink(path.c_str());
}

INSTANTIATE_TEST_SUITE_P(ImageDriveAnswer, DownloadProcedureTable, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<Case>& row) {
                             return std::string(row.param.name);
                         });

} // namespace

namespace {

// The test pause replaces the wait on the simulated bank only: under any other
// layer (none, or another library answering the same calls) the drive still
// gets its time to restart.
TEST(PauseSeam, TakenOnlyWhereTheSimulatedBankAnswers) {
    simulator::DriveBank bank(simulator::DefaultBank());
    static simulator::DriveBank* other;
    other = &bank; // the same drives behind the test's own binding
    const struct {
        const char* layer;
        std::function<void()> install;
        int taken;
    } cases[] = {
        {"none", [] { aspi::UseLayer(&aspi::kNoLayer); }, 0},
        {"another library",
         [] {
             aspi::BindLayer(
                 +[] { return other->GetSupportInfo(); },
                 +[](void* srb) { return other->SendCommand(srb); });
         },
         0},
        {"the bank", [&] { simulator::InstallLayer(&bank); }, 1},
    };
    for (const auto& c : cases) {
        c.install();
        askedPause = 0;
        EXPECT_EQ(c.taken, SetPauseWhereSimulated(RecordPause)) << c.layer;
        Pause(c.taken ? 5 : 1);
        EXPECT_EQ(c.taken ? 5u : 0u, askedPause.load()) << c.layer;
        EXPECT_EQ(1, SetPauseWhereSimulated(nullptr)) << "the wait comes back on any layer";
    }
    simulator::InstallLayer(nullptr);
}

} // namespace
