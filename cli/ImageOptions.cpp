#include "cli/ImageOptions.h"

#include "cli/ArgParse.h"
#include "firmware/HexReader.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace corvane {
namespace {

const char kInfoHelp[] =
    "usage: corvane-image info [--json] FILE.HEX\n"
    "Reads FILE.HEX as the download page does and shows its model and version,\n"
    "protocol, check sum and half sum, and which drives would take it and how.\n"
    "  --json   one JSON object instead of text\n"
    "Exit status: 0 read and a protocol found; 3 read but no drive would take it;\n"
    "1 cannot open or damaged; 2 bad usage.\n";

const char kDumpHelp[] = "usage: corvane-image dump FILE.HEX -o IMAGE.BIN\n"
                         "Writes the 65536-byte image that would be sent (0xFF where the file\n"
                         "sets nothing). Exit status: 0 written; 1 cannot read or write; 2 bad "
                         "usage.\n";

const char kMakeHelp[] =
    "usage: corvane-image make [options] -o FILE.HEX\n"
    "Writes a synthetic firmware image: records of 16 data bytes, CR LF, an end record.\n"
    "  --protocol P    none, 2.0, 2.1 or 2.2 (default 2.2)\n"
    "  --vendor TEXT   INQUIRY vendor, 8 characters (default CORVANE)\n"
    "  --product TEXT  INQUIRY product, 16 characters (default SIMDRIVE 52X)\n"
    "  --revision TEXT INQUIRY revision, 4 characters (default 1.00)\n"
    "  --no-template   no INQUIRY template in the image\n"
    "  --seed N        payload seed (default 1)\n"
    "  --size N        data bytes from address 0, at most 65280 (default 65280)\n"
    "Exit status: 0 written; 1 cannot write; 2 bad usage.\n";

int BadUsage(const char* command, const std::string& error) {
    return ImageUsage(std::string(command) + ": " + error + " (see corvane-image " + command +
                      " --help)");
}

int Run(CLI::App& app, int argc, char** argv, const char* command, const char* help) {
    return ParseCommand(app, argc, argv, "corvane-image", command, help, BadUsage);
}

// Parses the arguments of a command that reads one file (`app` holds the
// command's own options) into `path`; -1, or the exit status.
int ParseFileCommand(CLI::App& app, int argc, char** argv, const char* command, const char* help,
                     std::string& path) {
    std::vector<std::string> files;
    app.add_option("file", files);
    const int status = Run(app, argc, argv, command, help);
    if (status >= 0)
        return status;
    if (files.size() > 1)
        return ImageUsage(std::string(command) + ": more than one file given");
    if (!files.empty())
        path = files[0];
    return -1;
}

// A decimal number within 0..max.
bool ParseNumber(const std::string& text, unsigned long max, unsigned long& value) {
    if (text.empty() || text[0] == '-' || text[0] == '+')
        return false;
    char* end = nullptr;
    errno = 0;
    value = std::strtoul(text.c_str(), &end, 10);
    return errno == 0 && *end == '\0' && value <= max;
}

// The texts of make's options into the recipe; -1, or the usage status.
int TakeMakeTexts(const std::string& protocol, const std::string* identity, const std::string& seed,
                  const std::string& size, SyntheticImageRecipe& recipe) {
    if (!protocol.empty()) {
        static const char* const names[] = {"none", "2.0", "2.1", "2.2"};
        int p = 0;
        while (p < 4 && protocol != names[p])
            ++p;
        if (p == 4)
            return ImageUsage("make: --protocol takes none, 2.0, 2.1 or 2.2");
        recipe.protocol = static_cast<FwProtocol>(p);
    }
    char* const fields[] = {recipe.vendor, recipe.product, recipe.revision};
    const size_t sizes[] = {sizeof recipe.vendor, sizeof recipe.product, sizeof recipe.revision};
    for (int k = 0; k < 3; ++k) {
        if (identity[k].size() >= sizes[k])
            return ImageUsage("make: vendor, product or revision text too long (8, 16, 4)");
        if (!identity[k].empty())
            std::memcpy(fields[k], identity[k].c_str(), identity[k].size() + 1);
    }
    unsigned long number = 0;
    if (!seed.empty() && !ParseNumber(seed, 0xFFFFFFFFul, number))
        return ImageUsage("make: --seed takes a number 0-4294967295");
    if (!seed.empty())
        recipe.seed = static_cast<uint32_t>(number);
    if (!size.empty() && !ParseNumber(size, kLoadLimit, number))
        return ImageUsage("make: --size takes a number 0-65280");
    if (!size.empty())
        recipe.length = static_cast<int32_t>(number);
    return -1;
}

} // namespace

int ImageUsage(const std::string& line) {
    std::fprintf(stderr, "corvane-image: %s\n", line.c_str());
    return kExitUsage;
}

int ParseInfoOptions(int argc, char** argv, InfoOptions& options) {
    CLI::App app;
    SetUpParser(app);
    app.add_flag("--json", options.json);
    const int status = ParseFileCommand(app, argc, argv, "info", kInfoHelp, options.path);
    if (status < 0 && options.path.empty())
        return ImageUsage("info: no file given (see corvane-image info --help)");
    return status;
}

int ParseDumpOptions(int argc, char** argv, DumpOptions& options) {
    CLI::App app;
    SetUpParser(app);
    AddValueOption(app, "-o", options.out);
    const int status = ParseFileCommand(app, argc, argv, "dump", kDumpHelp, options.path);
    if (status < 0 && (options.path.empty() || options.out.empty()))
        return ImageUsage("dump: needs FILE.HEX and -o IMAGE.BIN (see corvane-image dump --help)");
    return status;
}

int ParseMakeOptions(int argc, char** argv, MakeOptions& options) {
    DefaultSyntheticRecipe(options.recipe);
    CLI::App app;
    SetUpParser(app);
    std::string protocol, identity[3], seed, size;
    bool noTemplate = false;
    AddValueOption(app, "-o", options.out);
    AddValueOption(app, "--protocol", protocol);
    AddValueOption(app, "--vendor", identity[0]);
    AddValueOption(app, "--product", identity[1]);
    AddValueOption(app, "--revision", identity[2]);
    AddValueOption(app, "--seed", seed);
    AddValueOption(app, "--size", size);
    app.add_flag("--no-template", noTemplate);
    int status = Run(app, argc, argv, "make", kMakeHelp);
    if (status < 0)
        status = TakeMakeTexts(protocol, identity, seed, size, options.recipe);
    if (noTemplate)
        options.recipe.withTemplate = 0;
    if (status < 0 && options.out.empty())
        return ImageUsage("make: needs -o FILE.HEX (see corvane-image make --help)");
    return status;
}

} // namespace corvane
