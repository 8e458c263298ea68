// corvane.exe as a whole program under Wine, on the simulated WNASPI32.DLL
// beside it: the command line's table of cases, the same table the native
// tests run in-process. Every case runs as its own process, all at once (a
// reboot-mode case waits for the drive's restart as a real run does), with
// its own bank, log and image; each case then checks its own outcome.
#include "../support/CliCases.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <cstdio>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

namespace {

struct Outcome {
    int status = -1;
    std::string out, err, log;
};

std::map<std::string, Outcome>& Outcomes() {
    static std::map<std::string, Outcome> outcomes;
    return outcomes;
}

std::string Contents(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    std::string bytes = text.str();
    std::string lines;
    for (char c : bytes)
        if (c != '\r')
            lines += c;
    return lines;
}

std::string ProgramDir() {
    char path[MAX_PATH];
    const DWORD n = GetModuleFileNameA(nullptr, path, sizeof path);
    std::string dir(path, n);
    return dir.substr(0, dir.find_last_of('\\') + 1);
}

struct Started {
    const CliCase* c;
    PROCESS_INFORMATION process;
    std::string out, err, log;
};

// Starts corvane.exe for a case with standard output and error into files,
// no console (so no terminal to ask), and the bank's log of its own.
bool Start(const CliCase& c, const std::string& stem, Started& started) {
    const std::string bank = stem + "bank.txt", image = stem + "image.hex";
    started.c = &c;
    started.out = stem + "out.txt";
    started.err = stem + "err.txt";
    started.log = stem + "log.txt";
    std::ofstream(bank) << CaseBank(c);
    WriteCaseImage(c.image, image);
    DeleteFileA(started.log.c_str());
    std::string line = "\"" + ProgramDir() + "corvane.exe\"";
    for (const std::string& arg : CaseArguments(c, image, bank))
        line += " \"" + arg + "\"";
    SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
    HANDLE out = CreateFileA(started.out.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit,
                             CREATE_ALWAYS, 0, nullptr);
    HANDLE err = CreateFileA(started.err.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit,
                             CREATE_ALWAYS, 0, nullptr);
    HANDLE none =
        CreateFileA("NUL", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                    &inherit, OPEN_EXISTING, 0, nullptr);
    STARTUPINFOA startup;
    ZeroMemory(&startup, sizeof startup);
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = none;
    startup.hStdOutput = out;
    startup.hStdError = err;
    SetEnvironmentVariableA("CORVANE_BANK_LOG", started.log.c_str());
    const BOOL made = CreateProcessA(nullptr, &line[0], nullptr, nullptr, TRUE, DETACHED_PROCESS,
                                     nullptr, nullptr, &startup, &started.process);
    CloseHandle(out);
    CloseHandle(err);
    CloseHandle(none);
    return made != 0;
}

class CorvaneExe : public ::testing::TestWithParam<CliCase> {
  public:
    static void SetUpTestSuite() {
        char dir[MAX_PATH];
        GetTempPathA(sizeof dir, dir);
        // Each case starts from its bank file alone: no identity kept from another run.
        SetEnvironmentVariableA("CORVANE_BANK", nullptr);
        SetEnvironmentVariableA("CORVANE_BANK_STATE", nullptr);
        std::vector<Started> running;
        for (const CliCase& c : kCliCases) {
            Started started;
            const std::string stem = std::string(dir) + "corvane-exe-" +
                                     std::to_string(GetCurrentProcessId()) + "-" + c.name + "-";
            if (Start(c, stem, started))
                running.push_back(started);
        }
        for (Started& started : running) {
            Outcome& outcome = Outcomes()[started.c->name];
            if (WaitForSingleObject(started.process.hProcess, 120000) == WAIT_OBJECT_0) {
                DWORD code = 0;
                GetExitCodeProcess(started.process.hProcess, &code);
                outcome.status = static_cast<int>(code);
            } else {
                TerminateProcess(started.process.hProcess, 99); // hung: its status stays -1
            }
            CloseHandle(started.process.hProcess);
            CloseHandle(started.process.hThread);
            outcome.out = Contents(started.out);
            outcome.err = Contents(started.err);
            outcome.log = Contents(started.log);
        }
    }
};

TEST_P(CorvaneExe, FlashesAsThePlugInWouldOrRefusesWithItsStatus) {
    const CliCase& c = GetParam();
    const auto found = Outcomes().find(c.name);
    ASSERT_NE(Outcomes().end(), found) << "corvane.exe did not start";
    ExpectCaseOutcome(c, found->second.status, found->second.out, found->second.log,
                      found->second.err);
}

INSTANTIATE_TEST_SUITE_P(ImageDriveOptions, CorvaneExe, ::testing::ValuesIn(kCliCases),
                         [](const ::testing::TestParamInfo<CliCase>& row) {
                             return std::string(row.param.name);
                         });

} // namespace
