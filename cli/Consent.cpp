#include "cli/Consent.h"

#include <cctype>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

namespace corvane {
namespace {

#ifdef _WIN32
const char kTerminalIn[] = "CONIN$";
const char kTerminalOut[] = "CONOUT$";
#else
const char kTerminalIn[] = "/dev/tty";
const char kTerminalOut[] = "/dev/tty";
#endif

const char* terminalOverride = nullptr;
std::string terminalPath;

using File = std::unique_ptr<FILE, int (*)(FILE*)>;

File Open(const char* path, const char* mode) {
    FILE* file = path[0] ? std::fopen(path, mode) : nullptr;
    return File(file, file ? &std::fclose : nullptr);
}

// One line of at most `size` - 1 bytes; a longer one is read to its end and
// comes back empty, which is no yes.
bool ReadLine(FILE* in, char* line, int size) {
    if (!std::fgets(line, size, in))
        return false;
    if (!std::strchr(line, '\n') && !std::feof(in)) {
        int c = 0;
        while ((c = std::fgetc(in)) != EOF && c != '\n') {
        }
        line[0] = '\0';
    }
    return true;
}

} // namespace

bool IsYes(const char* line) {
    size_t n = std::strlen(line);
    while (n > 0 && (line[n - 1] == '\n' || line[n - 1] == '\r'))
        --n;
    static const char* const kYes[] = {"y", "yes"};
    for (const char* yes : kYes) {
        if (std::strlen(yes) != n)
            continue;
        size_t i = 0;
        while (i < n && std::tolower(static_cast<unsigned char>(line[i])) == yes[i])
            ++i;
        if (i == n)
            return true;
    }
    return false;
}

Consent AskOnTerminal(const char* question) {
    const char* inPath = terminalOverride ? terminalOverride : kTerminalIn;
    const char* outPath = terminalOverride ? terminalOverride : kTerminalOut;
    File in = Open(inPath, "r");
    File out = Open(outPath, "w");
    if (!in || !out)
        return Consent::NoTerminal;
    std::fputs(question, out.get());
    std::fflush(out.get());
    char line[64] = "";
    if (!ReadLine(in.get(), line, sizeof line))
        return Consent::Withheld;
    return IsYes(line) ? Consent::Given : Consent::Withheld;
}

void UseTerminal(const char* path) {
    if (!path) {
        terminalOverride = nullptr;
        return;
    }
    terminalPath = path;
    terminalOverride = terminalPath.c_str();
}

} // namespace corvane
