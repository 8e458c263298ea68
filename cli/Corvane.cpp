// corvane: finds CD/DVD drives and flashes their firmware from the command
// line, with the plug-in's own procedure, for people and for scripts.
#include "cli/CorvaneCli.h"
#include "cli/Version.h"

#include <cstdio>
#include <cstring>

namespace {

const char kUsage[] =
    "usage: corvane scan [--json] [--bank FILE]\n"
    "       corvane flash IMAGE --device DEV [--dry-run] [--yes] [--force-model]\n"
    "                     [--json] [--log FILE] [--bank FILE]\n"
    "       corvane COMMAND --help\n"
    "       corvane --version\n"
    "scan lists the CD/DVD drives; flash sends a firmware image (Intel HEX) to one.\n";

} // namespace

int main(int argc, char** argv) {
    if (argc < 2)
        return corvane::Usage(nullptr, "no command given (scan, flash)");
    const char* command = argv[1];
    if (corvane::IsHelp(command) || std::strcmp(command, "help") == 0) {
        std::fputs(kUsage, stdout);
        return corvane::kExitOk;
    }
    if (corvane::IsVersion(command)) {
        corvane::PrintVersion("corvane");
        return corvane::kExitOk;
    }
    if (std::strcmp(command, "scan") == 0)
        return corvane::Scan(argc - 2, argv + 2);
    if (std::strcmp(command, "flash") == 0)
        return corvane::Flash(argc - 2, argv + 2);
    return corvane::Usage(nullptr, "unknown command (scan, flash)");
}
