// corvane as a whole program, interrupted: the native binary flashes a
// simulated drive that takes its time over the transfer, and gets Ctrl-C,
// SIGTERM or SIGHUP in the middle of it, or writes to a pipe nobody reads.
// It must let the drive finish, send the image once, and end with the
// outcome's exit status. At the consent question Ctrl-C cancels.
#include "../support/FileText.h"

#include "firmware/SyntheticImage.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace {

const char* const kDrive = "drive 0 protocols=2.2 vendor=CORVANE product=\"SIMDRIVE 52X\" "
                           "revision=0.90 latency=0 flash=1500";

// Everything a file descriptor gives until its writer is gone.
std::string Drain(int fd) {
    std::string text;
    char chunk[4096];
    for (ssize_t got; (got = read(fd, chunk, sizeof chunk)) > 0;)
        text.append(chunk, static_cast<size_t>(got));
    return text;
}

class CorvaneInterrupted : public ::testing::Test {
  protected:
    std::string stem = "/tmp/corvane-interrupt-" + std::to_string(getpid()) + "-";
    std::string bank = stem + "bank.txt", bankLog = stem + "bank.log", log = stem + "flash.log",
                image = stem + "image.hex";

    void SetUp() override {
        SyntheticImageRecipe recipe;
        DefaultSyntheticRecipe(recipe);
        recipe.protocol = FwProtocolType22;
        ASSERT_EQ(1, SaveSyntheticImage(image.c_str(), recipe));
    }
    void TearDown() override {
        for (const std::string& file : {bank, bankLog, log, image})
            unlink(file.c_str());
    }

    // Starts corvane flash with these standard streams, every signal at its
    // default and none blocked, as a shell would start it. With `terminal`
    // (a pseudo-terminal's name) in a session of its own, whose controlling
    // terminal that is, and which is its standard input.
    pid_t Start(const std::vector<std::string>& options, int in, int out, int err,
                const char* terminal = nullptr) {
        std::vector<std::string> args = {CORVANE_BINARY, "flash", image,   "--device", "0:0",
                                         "--bank",       bank,    "--log", log};
        args.insert(args.end(), options.begin(), options.end());
        std::vector<char*> argv;
        for (std::string& arg : args)
            argv.push_back(&arg[0]);
        argv.push_back(nullptr);
        std::string logVariable = "CORVANE_BANK_LOG=" + bankLog;
        std::vector<char*> envp = {&logVariable[0]};
        for (char** e = environ; *e; ++e)
            if (std::string(*e).rfind("CORVANE_", 0) != 0)
                envp.push_back(*e);
        envp.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        if (terminal)
            posix_spawn_file_actions_addopen(&actions, 0, terminal, O_RDWR, 0);
        else
            posix_spawn_file_actions_adddup2(&actions, in, 0);
        posix_spawn_file_actions_adddup2(&actions, out, 1);
        posix_spawn_file_actions_adddup2(&actions, err, 2);
        posix_spawnattr_t attributes;
        posix_spawnattr_init(&attributes);
        sigset_t none, all;
        sigemptyset(&none);
        sigfillset(&all);
        posix_spawnattr_setsigmask(&attributes, &none);
        posix_spawnattr_setsigdefault(&attributes, &all);
        posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF |
                                                  (terminal ? POSIX_SPAWN_SETSID : 0));
        pid_t pid = -1;
        EXPECT_EQ(0, posix_spawn(&pid, argv[0], &actions, &attributes, argv.data(), envp.data()));
        posix_spawn_file_actions_destroy(&actions);
        posix_spawnattr_destroy(&attributes);
        return pid;
    }

    // Until `text` shows in the flash log; false after 10 s.
    bool AwaitLogged(const std::string& text) {
        for (int i = 0; i < 1000; ++i) {
            if (FileText(log).find(text) != std::string::npos)
                return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return false;
    }

    // The exit status, or -(signal) when a signal ended it; kRunning when it
    // has not ended within `ms`, and then, when `kill`, it is killed.
    static constexpr int kRunning = -1000;
    static int AwaitExit(pid_t pid, int ms, bool killLate = true) {
        int status = 0;
        for (int waited = 0; waited < ms; waited += 10) {
            if (waitpid(pid, &status, WNOHANG) == pid)
                return WIFEXITED(status) ? WEXITSTATUS(status) : -WTERMSIG(status);
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        if (killLate) {
            kill(pid, SIGKILL);
            waitpid(pid, &status, 0);
        }
        return kRunning;
    }
};

TEST_F(CorvaneInterrupted, DuringTheTransferTheDriveFinishesAndTheOutcomeIsReported) {
    const struct {
        const char* name;
        const char* keys; // more keys of the drive
        int signal;       // sent in the middle of the transfer; 0: none
        bool closedOut;   // standard output: a pipe whose reader has gone
        bool json;
        int status;
        const char* says; // on standard output, when it is read
    } cases[] = {
        {"Ctrl-C", "", SIGINT, false, true, 0, "{\"result\":\"ok\""},
        {"SIGTERM", "", SIGTERM, false, false, 0, "Result: ok: flashed"},
        {"SIGHUP, output closed", "", SIGHUP, true, false, 0, nullptr},
        {"output closed", "", 0, true, true, 0, nullptr},
        {"Ctrl-C, transfer refused", " fail-transfer=3/0C/00", SIGINT, false, false, 3,
         "Result: failed: the drive refused the image"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::ofstream(bank) << "adapter\n" << kDrive << c.keys << "\n";
        unlink(bankLog.c_str());
        unlink(log.c_str());
        int out[2], err[2];
        ASSERT_EQ(0, pipe(out));
        ASSERT_EQ(0, pipe(err));
        if (c.closedOut)
            close(out[0]);
        const int in = open("/dev/null", O_RDONLY);
        std::vector<std::string> options = {"--yes"};
        if (c.json)
            options.push_back("--json");
        const pid_t pid = Start(options, in, out[1], err[1]);
        close(in);
        close(out[1]);
        close(err[1]);
        EXPECT_TRUE(AwaitLogged("message: Downloading... (Do NOT turn off!)"));
        std::this_thread::sleep_for(std::chrono::milliseconds(200)); // well inside the 1.5 s
        if (c.signal)
            kill(pid, c.signal);
        EXPECT_EQ(c.status, AwaitExit(pid, 20000));
        const std::string said = Drain(err[0]);
        close(err[0]);
        if (!c.closedOut) {
            const std::string shown = Drain(out[0]);
            close(out[0]);
            EXPECT_NE(std::string::npos, shown.find(c.says)) << shown;
        }
        EXPECT_EQ(c.signal ? 1 : 0, Occurrences(said, "the transfer cannot be taken back")) << said;
        EXPECT_EQ(1, Occurrences(FileText(bankLog), "len=65536")) << "the image went once";
    }
}

TEST_F(CorvaneInterrupted, CtrlCAtTheQuestionCancelsBeforeAnyTrayCommand) {
    std::ofstream(bank) << "adapter\n" << kDrive << "\n";
    const int terminal = posix_openpt(O_RDWR | O_NOCTTY);
    ASSERT_LE(0, terminal);
    ASSERT_EQ(0, grantpt(terminal));
    ASSERT_EQ(0, unlockpt(terminal));
    int out[2];
    ASSERT_EQ(0, pipe(out));
    const pid_t pid = Start({}, -1, out[1], out[1], ptsname(terminal));
    close(out[1]);
    // The question is asked on the terminal.
    std::string asked;
    for (int i = 0; i < 1000 && asked.find("Flash? [y/N] ") == std::string::npos; ++i) {
        pollfd ready = {terminal, POLLIN, 0};
        char chunk[512];
        if (poll(&ready, 1, 10) == 1) {
            const ssize_t got = read(terminal, chunk, sizeof chunk);
            if (got <= 0)
                break;
            asked.append(chunk, static_cast<size_t>(got));
        }
    }
    ASSERT_NE(std::string::npos, asked.find("Flash? [y/N] ")) << asked;
    std::this_thread::sleep_for(std::chrono::milliseconds(100)); // into the read
    kill(pid, SIGINT);
    int status = AwaitExit(pid, 3000, false);
    // Still asking: an answer ends it, and the test fails.
    EXPECT_NE(kRunning, status) << "the question was not broken off";
    if (status == kRunning) {
        EXPECT_EQ(2, write(terminal, "n\n", 2));
        status = AwaitExit(pid, 20000);
    }
    EXPECT_EQ(1, status);
    const std::string shown = Drain(out[0]);
    close(out[0]);
    close(terminal);
    EXPECT_NE(std::string::npos,
              shown.find("Result: cancelled: cancelled before the transfer: nothing more was "
                         "sent to the drive"))
        << shown;
    const std::string commands = FileText(bankLog);
    EXPECT_EQ(std::string::npos, commands.find("cdb=1E")) << commands;
    EXPECT_EQ(std::string::npos, commands.find("cdb=1B")) << commands;
    EXPECT_EQ(0, Occurrences(commands, "len=65536"));
}

} // namespace
