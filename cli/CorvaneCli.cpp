#include "cli/CorvaneCli.h"

#include "aspi/AspiLayer.h"
#include "aspi/DeviceAddress.h"

#ifndef _WIN32
#include "simulator/SimulatedLayer.h"
#endif

#include <nlohmann/json.hpp>

#include <cctype>
#include <cstdio>
#include <cstdlib>

namespace corvane {
namespace {

// A field of an identity: NULs inside kept (the output shows or escapes
// them), trailing blanks and NULs cut.
std::string Trimmed(const char* text, size_t count) {
    std::string out = FieldText(text, count);
    while (!out.empty() && (out.back() == ' ' || out.back() == '\0'))
        out.pop_back();
    return out;
}

Identity Split(const char* model, const char* version) {
    Identity identity;
    identity.vendor = Trimmed(model, 8);
    identity.product = Trimmed(model + 8, 16);
    identity.revision = Trimmed(version, 4);
    return identity;
}

} // namespace

int Usage(const char* command, const char* line) {
    std::fprintf(stderr, "corvane%s%s: %s (see corvane%s%s --help)\n", command ? " " : "",
                 command ? command : "", line, command ? " " : "", command ? command : "");
    return kExitUsage;
}

Layer::Layer(const char* bankOption) : bank(nullptr) {
    const char* file = bankOption;
    if (!file) {
        const char* variable = std::getenv("CORVANE_BANK");
        file = variable && variable[0] ? variable : nullptr;
    }
    if (!file)
        return;
    name = std::string(aspi::kSimulatedBankName) + " " + file;
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
    // One line: the result line stays one line, and a line break in it is
    // no byte the output has to escape.
    std::string reason;
    for (const char* c = text; *c; ++c) {
        if (*c == '\n') {
            while (c[1] == ' ')
                ++c;
            reason += c[1] ? "; " : "";
        } else if (*c != '\r') {
            reason += *c;
        }
    }
    return reason.empty() ? std::string("no ASPI layer") : reason;
}

const char* NoDriveResult() {
    // The layer words a device it may not open as "no access" (Linux: also
    // "No access to /dev/sgN ...", with the group to join).
    std::string text = NoAdapterReason();
    for (char& c : text)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text.find("no access") != std::string::npos ? "no access" : "no drive";
}

std::string NoIdentityMessage(uint8_t adapter, uint8_t target) {
    char text[128];
    std::snprintf(text, sizeof text,
                  "%s answers INQUIRY without a whole identity (%u bytes); nothing but INQUIRY "
                  "was sent",
                  AddressString(adapter, target).c_str(), kInquiryIdentityBytes);
    return text;
}

std::string AddressString(uint8_t adapter, uint8_t target) {
    char text[aspi::kAddressTextSize];
    aspi::AddressText(adapter, target, text, sizeof text);
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

Json JsonIdentity(const Identity& identity) {
    Json out;
    out["vendor"] = JsonText(identity.vendor);
    out["product"] = JsonText(identity.product);
    out["revision"] = JsonText(identity.revision);
    return out;
}

} // namespace corvane
