#include "cli/CorvaneCli.h"

#include "aspi/AspiLayer.h"

#ifndef _WIN32
#include "simulator/SimulatedLayer.h"
#endif

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace corvane {
namespace {

std::string Trimmed(const char* text, int count) {
    std::string out(text, strnlen(text, count));
    while (!out.empty() && (out.back() == ' ' || out.back() == '\0'))
        out.pop_back();
    return out;
}

Identity Split(const char* model, const char* version) {
    Identity identity;
    identity.vendor = Trimmed(model, 8);
    identity.product = strnlen(model, 24) > 8 ? Trimmed(model + 8, 16) : std::string();
    identity.revision = Trimmed(version, 4);
    return identity;
}

} // namespace

int Usage(const char* command, const char* line) {
    std::fprintf(stderr, "corvane%s%s: %s (see corvane%s%s --help)\n", command ? " " : "",
                 command ? command : "", line, command ? " " : "", command ? command : "");
    return kExitUsage;
}

bool IsHelp(const char* arg) {
    return std::strcmp(arg, "--help") == 0 || std::strcmp(arg, "-h") == 0;
}

const char* OptionValue(int argc, char** argv, int& i) {
    if (i + 1 >= argc)
        return nullptr;
    return argv[++i];
}

Layer::Layer(const char* bankOption) : bank(nullptr) {
    const char* file = bankOption;
    if (!file) {
        const char* variable = std::getenv("CORVANE_BANK");
        file = variable && variable[0] ? variable : nullptr;
    }
    if (!file)
        return;
    name = std::string("simulated drive bank ") + file;
#ifdef _WIN32
    // The simulated WNASPI32.DLL beside the program reads it at its first call.
    _putenv_s("CORVANE_BANK", file);
#else
    const char* log = std::getenv("CORVANE_BANK_LOG");
    const char* state = std::getenv("CORVANE_BANK_STATE");
    simulator::DriveBank* drives = simulator::CreateBank(file, log ? log : "", state ? state : "");
    simulator::InstallLayer(drives);
    bank = drives;
#endif
}

Layer::~Layer() {
#ifndef _WIN32
    if (bank) {
        simulator::InstallLayer(nullptr);
        delete static_cast<simulator::DriveBank*>(bank);
    }
#endif
}

std::string NoAdapterReason() {
    char text[aspi::kLayerTextSize] = "";
    aspi::DescribeLayer(text, sizeof text);
    std::string reason(text);
    while (!reason.empty() && (reason.back() == '\n' || reason.back() == '\r'))
        reason.pop_back();
    return reason.empty() ? std::string("no ASPI layer") : reason;
}

std::string NoIdentityMessage(uint8_t adapter, uint8_t target) {
    char text[128];
    std::snprintf(text, sizeof text,
                  "%u:%u answers INQUIRY without a whole identity (%u bytes); nothing but INQUIRY "
                  "was sent",
                  adapter, target, kInquiryIdentityBytes);
    return text;
}

Identity SplitIdentity(const FirmwareInfo& info) {
    return Split(info.modelName, info.version);
}

Identity SplitIdentity(const DeviceEntry& entry) {
    return Split(entry.model, entry.version);
}

std::string IdentityText(const Identity& identity) {
    std::string text = identity.vendor;
    for (const std::string* part : {&identity.product, &identity.revision})
        if (!part->empty())
            text += (text.empty() ? "" : " ") + *part;
    return text;
}

void AppendJsonString(std::string& out, const std::string& text) {
    out += '"';
    for (unsigned char c : text) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c < 0x20 || c >= 0x7F) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
            out += escaped;
        } else {
            out += static_cast<char>(c);
        }
    }
    out += '"';
}

void AppendJsonIdentity(std::string& out, const Identity& identity) {
    out += "{\"vendor\":";
    AppendJsonString(out, identity.vendor);
    out += ",\"product\":";
    AppendJsonString(out, identity.product);
    out += ",\"revision\":";
    AppendJsonString(out, identity.revision);
    out += '}';
}

} // namespace corvane
