#include "SafetyRun.h"

#include "../support/FileText.h"

#include "cli/Consent.h"
#include "cli/CorvaneCli.h"

#include "aspi/AspiSeam.h"
#include "download/DownloadProcedure.h"
#include "download/Pause.h"
#include "firmware/SyntheticImage.h"
#include "simulator/SimulatedLayer.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <random>
#include <sstream>
#include <thread>

namespace safety {
namespace {

// A folder of the process's own, the working folder while scenarios run, so
// that whatever corvane makes of a stray option lands there too.
class Scratch : public ::testing::Environment {
  public:
    static std::string dir;
    void SetUp() override {
        char name[] = "/tmp/corvane-safety-XXXXXX";
        ASSERT_NE(nullptr, mkdtemp(name));
        dir = name;
        ASSERT_EQ(0, chdir(name));
    }
    void TearDown() override {
        std::error_code ignored;
        std::filesystem::remove_all(dir, ignored);
    }
};
std::string Scratch::dir;
::testing::Environment* const kScratch = ::testing::AddGlobalTestEnvironment(new Scratch);

std::string Path(const char* name) {
    return Scratch::dir + "/" + name;
}

struct ImageFiles {
    std::vector<uint8_t> bytes;
    std::string hex;
};

const ImageFiles& Files(const ImagePlan& image) {
    static std::map<int, ImageFiles> made;
    ImageFiles& files = made[image.protocol * 2 + image.withTemplate];
    if (files.bytes.empty()) {
        SyntheticImageRecipe recipe;
        DefaultSyntheticRecipe(recipe);
        recipe.protocol = FwProtocol(image.protocol);
        recipe.withTemplate = image.withTemplate;
        // A short file (the rest of the image is 0xFF) is read in a fraction
        // of the time, and so many more downloads fit the time given.
        recipe.length = 2048;
        files.bytes.resize(65536);
        MakeSyntheticImage(recipe, files.bytes.data());
        const std::string path = Path("made.hex");
        SaveSyntheticImage(path.c_str(), recipe);
        files.hex = ::FileText(path);
    }
    return files;
}

// The file's text with the fault its plan names.
std::string FileText(const ImagePlan& image) {
    std::string text = Files(image).hex;
    const uint32_t at = image.faultAt;
    if (image.fault == FileFault::Cut) {
        text.resize(at % text.rfind(":00000001FF")); // the end record is always lost
    } else if (image.fault == FileFault::Damaged) {
        const std::string digits = "0123456789ABCDEF";
        std::vector<size_t> places;
        for (size_t i = 0; i < text.size(); ++i)
            if (digits.find(text[i]) != std::string::npos)
                places.push_back(i);
        char& digit = text[places[at % places.size()]];
        digit = digits[(digits.find(digit) + 1 + at % 15) % 16];
    } else if (image.fault == FileFault::Foreign) {
        std::mt19937 bytes(at);
        text.assign(1 + at % 4096, '\0');
        for (char& c : text)
            c = char(bytes());
    }
    return text;
}

void WriteFile(const std::string& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
}

// Real time, moved past any time-out while the bank holds a request: a
// held command times out at once, whichever wait the channel uses.
std::atomic<uint32_t> jumped{0};
uint32_t JumpingTicks() {
    const simulator::DriveBank* bank = simulator::InstalledBank();
    if (bank && bank->HeldCount() > 0)
        jumped += 20000000; // past the transfer's 9000 s
    using namespace std::chrono;
    return uint32_t(duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count()) +
           jumped.load();
}

LogLine ParseLine(const std::string& text) {
    LogLine line;
    std::istringstream words(text);
    words >> line.kind;
    std::sscanf(text.c_str() + line.kind.size(), " ha=%d target=%d", &line.adapter, &line.target);
    size_t at = text.find("cdb=");
    if (at != std::string::npos) {
        std::istringstream hex(text.substr(at + 4));
        unsigned byte = 0;
        for (std::string token; hex >> token && token.size() == 2 && line.cdb.size() < 16;)
            if (std::sscanf(token.c_str(), "%2x", &byte) == 1)
                line.cdb.push_back(uint8_t(byte));
    }
    if ((at = text.find("status=")) != std::string::npos)
        line.status = int(std::strtol(text.c_str() + at + 7, nullptr, 16));
    if ((at = text.find("sense=")) != std::string::npos)
        line.senseKey = int(std::strtol(text.c_str() + at + 6, nullptr, 16));
    return line;
}

std::vector<LogLine> ReadLog() {
    std::vector<LogLine> lines;
    std::istringstream in(::FileText(Path("bank.log")));
    for (std::string text; std::getline(in, text);)
        lines.push_back(ParseLine(text));
    return lines;
}

struct SilentView : download::DownloadView {
    explicit SilentView(bool agree) : answer(agree) {}
    bool answer;
    download::Picture picture = download::Picture::Idle;
    int warnings = 0;
    void RowState(int, int) override {}
    void RowValue(int, const char*) override {}
    void Message(const char*) override {}
    void ShowPicture(download::Picture shown) override { picture = shown; }
    void BarBegin(int) override {}
    void BarPercent(int32_t) override {}
    void BarEnd() override {}
    int Consent(DownloadMode) override { return answer ? 1 : 0; }
    void WarnFailedTransfer() override { ++warnings; }
    void RequestRestart() override {}
};

// As the page runs it: Start, the worker, then Finish once the worker is done.
void RunPlugIn(const Scenario& s, Observation& o) {
    simulator::BankConfig config;
    std::string error;
    simulator::ParseBank(s.bank, config, error);
    simulator::DriveBank bank(config);
    bank.SetLogPath(Path("bank.log"));
    simulator::InstallLayer(&bank);
    {
        DeviceChannel channel(kImageBufferSize, ChannelUser::Plugin);
        channel.SetAdapter(uint8_t(s.adapter));
        channel.SetTarget(uint8_t(s.target));
        SilentView view(s.consent);
        std::unique_ptr<download::DownloadProcedure> procedure(
            new download::DownloadProcedure(&channel, view));
        o.started = procedure->Start(Path("image.hex").c_str());
        if (o.started) {
            std::thread worker([&procedure] { RunTransfer(procedure->job); });
            worker.join();
            o.jobResult = procedure->job.result.load();
            o.finished = procedure->Finish();
        }
        o.picture = view.picture;
        o.warnings = view.warnings;
    }
    simulator::InstallLayer(nullptr);
}

std::string Substitute(const std::string& option) {
    if (option == "@image")
        return Path("image.hex");
    if (option == "@bank")
        return Path("bank.txt");
    if (option == "@log")
        return Path("steps.log");
    return option;
}

// corvane's terminal (where it asks): one with `typed` waiting in it; its
// other end, to close afterwards. Without `typed` there is none, whoever
// runs the tests (and then -1).
int TypeAtTerminal(const std::string& typed) {
    corvane::UseTerminal("");
    if (typed.empty())
        return -1;
    const int master = posix_openpt(O_RDWR | O_NOCTTY);
    const char* name =
        master >= 0 && grantpt(master) == 0 && unlockpt(master) == 0 ? ptsname(master) : nullptr;
    if (!name || write(master, typed.data(), typed.size()) != ssize_t(typed.size())) {
        ADD_FAILURE() << "no terminal for the typed answer";
        if (master >= 0)
            close(master);
        return -1;
    }
    corvane::UseTerminal(name);
    return master;
}

void RunCli(const Scenario& s, Observation& o) {
    WriteFile(Path("bank.txt"), s.bank);
    std::remove(Path("steps.log").c_str());
    setenv("CORVANE_BANK_LOG", Path("bank.log").c_str(), 1);
    unsetenv("CORVANE_BANK_STATE");
    if (HasOption(s, "--bank"))
        unsetenv("CORVANE_BANK");
    else
        setenv("CORVANE_BANK", Path("bank.txt").c_str(), 1);
    std::vector<std::string> args = {"flash"};
    for (const std::string& option : s.options)
        args.push_back(Substitute(option));
    std::vector<char*> argv;
    for (std::string& arg : args)
        argv.push_back(&arg[0]);
    const int terminal = TypeAtTerminal(s.typed);
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    o.exitStatus = corvane::Flash(int(argv.size()) - 1, argv.data() + 1);
    o.out = testing::internal::GetCapturedStdout();
    testing::internal::GetCapturedStderr();
    corvane::UseTerminal(nullptr);
    if (terminal >= 0)
        close(terminal);
    o.steps = ::FileText(Path("steps.log"));
    unsetenv("CORVANE_BANK_LOG");
    unsetenv("CORVANE_BANK");
}

} // namespace

const std::vector<uint8_t>& ImageBytes(const ImagePlan& image) {
    return Files(image).bytes;
}

Observation Run(const Scenario& s) {
    const std::string image = Path("image.hex");
    if (s.image.fault == FileFault::Missing)
        std::remove(image.c_str());
    else
        WriteFile(image, FileText(s.image));
    std::remove(Path("bank.log").c_str());
    // No terminal: corvane's consent is --yes alone.
    if (!std::freopen("/dev/null", "r", stdin))
        ADD_FAILURE() << "no /dev/null for standard input";
    download::SetPause(+[](uint32_t) {});
    aspi::SetTickCountSource(JumpingTicks);
    aspi::SetWindows95Or98Override(s.polled ? 1 : 0);
    Observation o;
    if (s.route == Route::PlugIn)
        RunPlugIn(s, o);
    else
        RunCli(s, o);
    aspi::SetWindows95Or98Override(-1);
    aspi::SetTickCountSource(nullptr);
    download::SetPause(nullptr);
    o.log = ReadLog();
    return o;
}

} // namespace safety
