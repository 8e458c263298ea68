// corvane-image: checks a firmware image offline with exactly the plug-in's
// reader and rules, dumps the image that would be sent, and makes synthetic
// images.
#include "cli/ImageOptions.h"
#include "cli/JsonText.h"
#include "cli/OutputFile.h"
#include "cli/OutputText.h"
#include "cli/Version.h"

#include "command/StringEx.h"
#include "download/DownloadView.h"
#include "firmware/DownloadRules.h"
#include "firmware/HexReader.h"
#include "firmware/IdentifyImage.h"
#include "firmware/SyntheticImage.h"

#include <nlohmann/json.hpp>

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
    return kExitFileFailed;
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

// The drives that take the image, as lines or as `accepts` objects; their
// number.
int ListAccepting(const FirmwareInfo& info, bool json, Json& accepts) {
    int accepted = 0;
    for (uint8_t drive = FwProtocolType20; drive <= FwProtocolType22; ++drive) {
        const DownloadMode mode = DecideDownloadMode(info.protocol, drive);
        if (mode == DownloadMismatch)
            continue;
        const char* modeName = mode == DownloadVerify ? "verify" : "reboot";
        if (json) {
            Json row;
            row["drive"] = JsonText(ProtocolName(drive));
            row["driveProtocol"] = drive;
            row["mode"] = JsonText(modeName);
            accepts.push_back(row);
        } else {
            std::printf("%s drive: %s mode\n", ProtocolName(drive), modeName);
        }
        ++accepted;
    }
    return accepted;
}

// The image a command reads or makes: too large for the stack.
uint8_t image[kImageBufferSize];

// Reads the file into `image`; -1, or the status after saying why not (as
// JSON too when asked).
int ReadImage(const std::string& path, bool json) {
    const HexReadResult result = ReadHexFile(path.c_str(), image, nullptr, nullptr);
    if (result == HexReadResult::Done)
        return -1;
    if (json) {
        Json out;
        out["result"] = JsonText(ResultKey(result));
        out["message"] = JsonText(HexReadMessage(result));
        std::printf("%s\n", JsonLine(out).c_str());
    }
    return Fail(HexReadMessage(result), path.c_str());
}

int Info(int argc, char** argv) {
    InfoOptions options;
    int status = ParseInfoOptions(argc, argv, options);
    if (status < 0)
        status = ReadImage(options.path, options.json);
    if (status >= 0)
        return status;
    FirmwareInfo info;
    IdentifyImage(image, kImageBufferSize, info);
    StringEx sum(kRowTextSize), half(kRowTextSize);
    CheckSumRowText(info.checkSum, sum);
    CheckSumRowText(HalfSum(image), half);
    if (!options.json) {
        using download::kRowKeys;
        std::printf("%-15s%s\n%-15s%s\n%-15s%s\n%-15s%s\n", kRowKeys[download::kRowFwModel],
                    ModelRow(info).c_str(), kRowKeys[download::kRowFwProtocol],
                    ProtocolName(info.protocol), kRowKeys[download::kRowCheckSum], sum.data,
                    "Half Sum", half.data);
    }
    Json accepts = Json::array();
    const int accepted = ListAccepting(info, options.json, accepts);
    if (options.json) {
        Json out;
        out["result"] = JsonText("ok");
        out["message"] = JsonText("");
        out["model"] = JsonText(FieldText(info.modelName, 24));
        out["version"] = JsonText(FieldText(info.version, 4));
        out["protocol"] = static_cast<int>(info.protocol);
        out["protocolName"] = JsonText(ProtocolName(info.protocol));
        out["checkSum"] = JsonText(sum.data);
        out["halfSum"] = JsonText(half.data);
        out["accepts"] = accepts;
        std::printf("%s\n", JsonLine(out).c_str());
    } else if (!accepted) {
        std::printf("No drive accepts this image.\n");
    }
    return accepted ? kExitOk : kExitNoProtocol;
}

int Dump(int argc, char** argv) {
    DumpOptions options;
    int status = ParseDumpOptions(argc, argv, options);
    if (status < 0)
        status = ReadImage(options.path, false);
    if (status >= 0)
        return status;
    std::string error;
    const bool written = WriteOutputFile(
        options.out.c_str(),
        [](FILE* file) {
            return std::fwrite(image, 1, kImageSize, file) == static_cast<size_t>(kImageSize);
        },
        error);
    return written ? kExitOk : Fail(error.c_str(), options.out.c_str());
}

int Make(int argc, char** argv) {
    MakeOptions options;
    const int parsed = ParseMakeOptions(argc, argv, options);
    if (parsed >= 0)
        return parsed;
    if (!MakeSyntheticImage(options.recipe, image))
        return Fail("cannot make the image", options.out.c_str());
    const int32_t length = options.recipe.length;
    std::string error;
    const bool written = WriteOutputFile(
        options.out.c_str(),
        [length](FILE* file) { return WriteHexImage(file, image, length) != 0; }, error);
    return written ? kExitOk : Fail(error.c_str(), options.out.c_str());
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 2)
        return ImageUsage("no command given (info, dump, make; --help)");
    const char* command = argv[1];
    if (IsHelp(command)) {
        std::fputs(kUsage, stdout);
        return kExitOk;
    }
    if (IsVersion(command)) {
        PrintVersion("corvane-image");
        return kExitOk;
    }
    if (std::strcmp(command, "info") == 0)
        return Info(argc - 2, argv + 2);
    if (std::strcmp(command, "dump") == 0)
        return Dump(argc - 2, argv + 2);
    if (std::strcmp(command, "make") == 0)
        return Make(argc - 2, argv + 2);
    return ImageUsage("unknown command (info, dump, make; --help)");
}
