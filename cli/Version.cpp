#include "cli/Version.h"

#include <cstdio>
#include <cstring>

namespace corvane {

const char* Version() {
    return CORVANE_VERSION;
}

void PrintVersion(const char* program) {
    std::printf("%s %s\n", program, CORVANE_VERSION);
}

bool IsVersion(const char* arg) {
    return std::strcmp(arg, "--version") == 0;
}

bool IsHelp(const char* arg) {
    return std::strcmp(arg, "--help") == 0 || std::strcmp(arg, "-h") == 0;
}

} // namespace corvane
