// corvane-image: checks a firmware image offline with exactly the plug-in's
// reader and rules, dumps the image that would be sent, and makes synthetic
// images.
#include "command/StringEx.h"
#include "firmware/DownloadRules.h"
#include "firmware/HexReader.h"
#include "firmware/IdentifyImage.h"
#include "firmware/SyntheticImage.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

enum Exit : int { kExitOk = 0, kExitFailed = 1, kExitUsage = 2, kExitNoProtocol = 3 };

const char kUsage[] = "usage: corvane-image info [--json] FILE.HEX\n"
                      "       corvane-image dump FILE.HEX -o IMAGE.BIN\n"
                      "       corvane-image make [options] -o FILE.HEX\n"
                      "       corvane-image COMMAND --help\n";

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

int Usage(const char* line) {
    std::fprintf(stderr, "corvane-image: %s\n", line);
    return kExitUsage;
}

int Fail(const char* what, const char* path) {
    std::fprintf(stderr, "corvane-image: %s: %s\n", path, what);
    return kExitFailed;
}

bool IsHelp(const char* arg) {
    return std::strcmp(arg, "--help") == 0 || std::strcmp(arg, "-h") == 0;
}

// A decimal number within 0..max.
bool ParseNumber(const char* text, unsigned long max, unsigned long& value) {
    if (!*text || *text == '-' || *text == '+')
        return false;
    char* end = nullptr;
    errno = 0;
    value = std::strtoul(text, &end, 10);
    return errno == 0 && *end == '\0' && value <= max;
}

// Text from an image as a JSON string: bytes above 0x7F are taken as
// Latin-1, so the output is always valid JSON.
void PrintJsonString(const char* text) {
    std::putchar('"');
    for (const unsigned char* p = reinterpret_cast<const unsigned char*>(text); *p; ++p) {
        if (*p == '"' || *p == '\\')
            std::printf("\\%c", *p);
        else if (*p < 0x20 || *p >= 0x7F)
            std::printf("\\u%04x", *p);
        else
            std::putchar(*p);
    }
    std::putchar('"');
}

const char* ResultKey(HexReadResult result) {
    static const char* const keys[] = {"ok", "cannotOpen", "damaged", "addressOverflow"};
    const int index = static_cast<int>(result);
    return index >= 0 && index < 4 ? keys[index] : "damaged";
}

int Info(int argc, char** argv) {
    bool json = false;
    const char* path = nullptr;
    for (int i = 0; i < argc; ++i) {
        if (IsHelp(argv[i])) {
            std::fputs(kInfoHelp, stdout);
            return kExitOk;
        }
        if (std::strcmp(argv[i], "--json") == 0)
            json = true;
        else if (argv[i][0] == '-' && argv[i][1])
            return Usage("info: unknown option (see corvane-image info --help)");
        else if (path)
            return Usage("info: more than one file given");
        else
            path = argv[i];
    }
    if (!path)
        return Usage("info: no file given (see corvane-image info --help)");

    static uint8_t image[kImageBufferSize];
    const HexReadResult result = ReadHexFile(path, image, nullptr, nullptr);
    if (result != HexReadResult::Done) {
        if (json) {
            std::printf("{\"result\":\"%s\",\"message\":", ResultKey(result));
            PrintJsonString(HexReadMessage(result));
            std::printf("}\n");
        }
        return Fail(HexReadMessage(result), path);
    }
    FirmwareInfo info;
    IdentifyImage(image, kImageBufferSize, info);
    const uint16_t halfSum = HalfSum(image);
    StringEx row(kRowTextSize), sum(kRowTextSize), half(kRowTextSize);
    ModelRowText(info, row);
    CheckSumRowText(info.checkSum, sum);
    CheckSumRowText(halfSum, half);

    int accepted = 0;
    if (json) {
        std::printf("{\"result\":\"ok\",\"message\":\"\",\"model\":");
        PrintJsonString(info.modelName);
        std::printf(",\"version\":");
        PrintJsonString(info.version);
        std::printf(",\"protocol\":%d,\"protocolName\":\"%s\",\"checkSum\":\"%s\","
                    "\"halfSum\":\"%s\",\"accepts\":[",
                    info.protocol, ProtocolName(info.protocol), sum.data, half.data);
    } else {
        std::printf("FW Model Name  %s\nFW Protocol    %s\nCheck Sum      %s\nHalf Sum       %s\n",
                    row.data, ProtocolName(info.protocol), sum.data, half.data);
    }
    for (uint8_t drive = FwProtocolType20; drive <= FwProtocolType22; ++drive) {
        const DownloadMode mode = DecideDownloadMode(info.protocol, drive);
        if (mode == DownloadMismatch)
            continue;
        const char* modeName = mode == DownloadVerify ? "verify" : "reboot";
        if (json)
            std::printf("%s{\"drive\":\"%s\",\"driveProtocol\":%d,\"mode\":\"%s\"}",
                        accepted ? "," : "", ProtocolName(drive), drive, modeName);
        else
            std::printf("%s drive: %s mode\n", ProtocolName(drive), modeName);
        ++accepted;
    }
    if (json)
        std::printf("]}\n");
    else if (!accepted)
        std::printf("No drive accepts this image.\n");
    return accepted ? kExitOk : kExitNoProtocol;
}

int Dump(int argc, char** argv) {
    const char* path = nullptr;
    const char* out = nullptr;
    for (int i = 0; i < argc; ++i) {
        if (IsHelp(argv[i])) {
            std::fputs(kDumpHelp, stdout);
            return kExitOk;
        }
        if (std::strcmp(argv[i], "-o") == 0) {
            if (++i == argc)
                return Usage("dump: -o needs a file name");
            out = argv[i];
        } else if (argv[i][0] == '-' && argv[i][1]) {
            return Usage("dump: unknown option (see corvane-image dump --help)");
        } else if (path) {
            return Usage("dump: more than one file given");
        } else {
            path = argv[i];
        }
    }
    if (!path || !out)
        return Usage("dump: needs FILE.HEX and -o IMAGE.BIN (see corvane-image dump --help)");

    static uint8_t image[kImageBufferSize];
    const HexReadResult result = ReadHexFile(path, image, nullptr, nullptr);
    if (result != HexReadResult::Done)
        return Fail(HexReadMessage(result), path);
    FILE* file = std::fopen(out, "wb");
    if (!file)
        return Fail(std::strerror(errno), out);
    bool ok = std::fwrite(image, 1, kImageSize, file) == static_cast<size_t>(kImageSize);
    ok = std::fclose(file) == 0 && ok;
    if (!ok) {
        std::remove(out);
        return Fail("cannot write the image", out);
    }
    return kExitOk;
}

int Make(int argc, char** argv) {
    SyntheticImageRecipe recipe;
    DefaultSyntheticRecipe(recipe);
    const char* out = nullptr;
    for (int i = 0; i < argc; ++i) {
        const char* arg = argv[i];
        if (IsHelp(arg)) {
            std::fputs(kMakeHelp, stdout);
            return kExitOk;
        }
        if (std::strcmp(arg, "--no-template") == 0) {
            recipe.withTemplate = 0;
            continue;
        }
        static const char* const valued[] = {"-o",         "--protocol", "--vendor", "--product",
                                             "--revision", "--seed",     "--size"};
        int which = -1;
        for (int k = 0; k < 7; ++k)
            if (std::strcmp(arg, valued[k]) == 0)
                which = k;
        if (which < 0)
            return Usage("make: unknown option or argument (see corvane-image make --help)");
        if (++i == argc)
            return Usage("make: an option needs a value (see corvane-image make --help)");
        const char* value = argv[i];
        unsigned long number = 0;
        switch (which) {
        case 0:
            out = value;
            break;
        case 1: {
            static const char* const names[] = {"none", "2.0", "2.1", "2.2"};
            int p = 0;
            while (p < 4 && std::strcmp(value, names[p]) != 0)
                ++p;
            if (p == 4)
                return Usage("make: --protocol takes none, 2.0, 2.1 or 2.2");
            recipe.protocol = static_cast<FwProtocol>(p);
            break;
        }
        case 2:
        case 3:
        case 4: {
            char* field = which == 2   ? recipe.vendor
                          : which == 3 ? recipe.product
                                       : recipe.revision;
            const size_t size = which == 2   ? sizeof recipe.vendor
                                : which == 3 ? sizeof recipe.product
                                             : sizeof recipe.revision;
            if (std::strlen(value) >= size)
                return Usage("make: vendor, product or revision text too long (8, 16, 4)");
            std::strcpy(field, value);
            break;
        }
        case 5:
            if (!ParseNumber(value, 0xFFFFFFFFul, number))
                return Usage("make: --seed takes a number 0-4294967295");
            recipe.seed = static_cast<uint32_t>(number);
            break;
        case 6:
            if (!ParseNumber(value, kLoadLimit, number))
                return Usage("make: --size takes a number 0-65280");
            recipe.length = static_cast<int32_t>(number);
            break;
        }
    }
    if (!out)
        return Usage("make: needs -o FILE.HEX (see corvane-image make --help)");
    if (!SaveSyntheticImage(out, recipe))
        return Fail("cannot write the image", out);
    return kExitOk;
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 2)
        return Usage("no command given (info, dump, make; --help)");
    const char* command = argv[1];
    if (IsHelp(command)) {
        std::fputs(kUsage, stdout);
        return kExitOk;
    }
    if (std::strcmp(command, "info") == 0)
        return Info(argc - 2, argv + 2);
    if (std::strcmp(command, "dump") == 0)
        return Dump(argc - 2, argv + 2);
    if (std::strcmp(command, "make") == 0)
        return Make(argc - 2, argv + 2);
    return Usage("unknown command (info, dump, make; --help)");
}
