// corvane-image: checks a firmware image offline with exactly the plug-in's
// reader and rules, dumps the image that would be sent, and makes synthetic
// images.
#include "cli/ImageOptions.h"
#include "cli/OutputFile.h"
#include "cli/OutputText.h"
#include "cli/Version.h"

#include "command/StringEx.h"
#include "download/DownloadView.h"
#include "firmware/DownloadRules.h"
#include "firmware/HexReader.h"
#include "firmware/IdentifyImage.h"
#include "firmware/SyntheticImage.h"

#include <cstdio>
#include <cstring>
#include <string>

using namespace corvane;

namespace {

const char kUsage[] = "usage: corvane-image info [--json] FILE.HEX\n"
                      "       corvane-image dump FILE.HEX -o IMAGE.BIN\n"
                      "       corvane-image make [options] -o FILE.HEX\n"
                      "       corvane-image COMMAND --help\n"
                      "       corvane-image --version\n";

int Fail(const char* what, const char* path) {
    std::fprintf(stderr, "corvane-image: %s: %s\n", path, what);
    return kImageFailed;
}

bool IsHelp(const char* arg) {
    return std::strcmp(arg, "--help") == 0 || std::strcmp(arg, "-h") == 0;
}

const char* ResultKey(HexReadResult result) {
    static const char* const keys[] = {"ok", "cannotOpen", "damaged", "addressOverflow"};
    const int index = static_cast<int>(result);
    return index >= 0 && index < 4 ? keys[index] : "damaged";
}

// The image's model and version as the page's row 0 shows them, every byte
// of both fields kept.
std::string ModelRow(const FirmwareInfo& info) {
    return DisplayText(FieldText(info.modelName, 24)) + " " +
           DisplayText(FieldText(info.version, 4)) + "  ";
}

// The drives that take the image; their number.
int PrintAccepting(const FirmwareInfo& info, bool json) {
    int accepted = 0;
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
    return accepted;
}

int Info(int argc, char** argv) {
    InfoOptions options;
    const int parsed = ParseInfoOptions(argc, argv, options);
    if (parsed >= 0)
        return parsed;
    const char* path = options.path.c_str();
    static uint8_t image[kImageBufferSize];
    const HexReadResult result = ReadHexFile(path, image, nullptr, nullptr);
    if (result != HexReadResult::Done) {
        if (options.json) {
            std::string out = std::string("{\"result\":\"") + ResultKey(result) + "\",\"message\":";
            AppendJsonString(out, HexReadMessage(result));
            std::printf("%s}\n", out.c_str());
        }
        return Fail(HexReadMessage(result), path);
    }
    FirmwareInfo info;
    IdentifyImage(image, kImageBufferSize, info);
    StringEx sum(kRowTextSize), half(kRowTextSize);
    CheckSumRowText(info.checkSum, sum);
    CheckSumRowText(HalfSum(image), half);
    if (options.json) {
        std::string out = "{\"result\":\"ok\",\"message\":\"\",\"model\":";
        AppendJsonString(out, FieldText(info.modelName, 24));
        out += ",\"version\":";
        AppendJsonString(out, FieldText(info.version, 4));
        std::printf("%s,\"protocol\":%d,\"protocolName\":\"%s\",\"checkSum\":\"%s\","
                    "\"halfSum\":\"%s\",\"accepts\":[",
                    out.c_str(), info.protocol, ProtocolName(info.protocol), sum.data, half.data);
    } else {
        using download::kRowKeys;
        std::printf("%-15s%s\n%-15s%s\n%-15s%s\n%-15s%s\n", kRowKeys[download::kRowFwModel],
                    ModelRow(info).c_str(), kRowKeys[download::kRowFwProtocol],
                    ProtocolName(info.protocol), kRowKeys[download::kRowCheckSum], sum.data,
                    "Half Sum", half.data);
    }
    const int accepted = PrintAccepting(info, options.json);
    if (options.json)
        std::printf("]}\n");
    else if (!accepted)
        std::printf("No drive accepts this image.\n");
    return accepted ? kImageOk : kImageNoProtocol;
}

int Dump(int argc, char** argv) {
    DumpOptions options;
    const int parsed = ParseDumpOptions(argc, argv, options);
    if (parsed >= 0)
        return parsed;
    static uint8_t image[kImageBufferSize];
    const HexReadResult result = ReadHexFile(options.path.c_str(), image, nullptr, nullptr);
    if (result != HexReadResult::Done)
        return Fail(HexReadMessage(result), options.path.c_str());
    std::string error;
    const bool written = WriteOutputFile(
        options.out.c_str(),
        [](FILE* file) {
            return std::fwrite(image, 1, kImageSize, file) == static_cast<size_t>(kImageSize);
        },
        error);
    return written ? kImageOk : Fail(error.c_str(), options.out.c_str());
}

int Make(int argc, char** argv) {
    MakeOptions options;
    const int parsed = ParseMakeOptions(argc, argv, options);
    if (parsed >= 0)
        return parsed;
    static uint8_t image[kImageSize];
    if (!MakeSyntheticImage(options.recipe, image))
        return Fail("cannot make the image", options.out.c_str());
    const int32_t length = options.recipe.length;
    std::string error;
    const bool written = WriteOutputFile(
        options.out.c_str(),
        [length](FILE* file) { return WriteHexImage(file, image, length) != 0; }, error);
    return written ? kImageOk : Fail(error.c_str(), options.out.c_str());
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 2)
        return ImageUsage("no command given (info, dump, make; --help)");
    const char* command = argv[1];
    if (IsHelp(command)) {
        std::fputs(kUsage, stdout);
        return kImageOk;
    }
    if (IsVersion(command)) {
        PrintVersion("corvane-image");
        return kImageOk;
    }
    if (std::strcmp(command, "info") == 0)
        return Info(argc - 2, argv + 2);
    if (std::strcmp(command, "dump") == 0)
        return Dump(argc - 2, argv + 2);
    if (std::strcmp(command, "make") == 0)
        return Make(argc - 2, argv + 2);
    return ImageUsage("unknown command (info, dump, make; --help)");
}
