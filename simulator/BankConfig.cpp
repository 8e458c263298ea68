#include "BankConfig.h"

#include "aspi/BusType.h"

#include <cstdlib>
#include <fstream>
#include <set>
#include <sstream>

namespace simulator {
namespace {

struct Parser {
    int lineNumber = 0;
    std::string error;

    int Fail(const std::string& message) {
        error = "line " + std::to_string(lineNumber) + ": " + message;
        return 0;
    }
};

int HexDigit(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// Splits a line into words; double quotes group, with \0 \\ \" \xNN escapes.
int SplitWords(Parser& p, const std::string& line, std::vector<std::string>& words) {
    size_t i = 0;
    while (i < line.size()) {
        char c = line[i];
        if (c == ' ' || c == '\t' || c == '\r') {
            ++i;
            continue;
        }
        if (c == '#')
            break;
        std::string word;
        bool quoted = false;
        while (i < line.size()) {
            c = line[i];
            if (!quoted && (c == ' ' || c == '\t' || c == '\r' || c == '#'))
                break;
            ++i;
            if (c == '"') {
                quoted = !quoted;
            } else if (quoted && c == '\\') {
                if (i >= line.size())
                    return p.Fail("escape at end of line");
                char e = line[i++];
                if (e == '0') {
                    word += '\0';
                } else if (e == 'x') {
                    int hi = i < line.size() ? HexDigit(line[i]) : -1;
                    int lo = i + 1 < line.size() ? HexDigit(line[i + 1]) : -1;
                    if (hi < 0 || lo < 0)
                        return p.Fail("\\x needs two hexadecimal digits");
                    word += static_cast<char>(hi * 16 + lo);
                    i += 2;
                } else if (e == '\\' || e == '"') {
                    word += e;
                } else {
                    return p.Fail(std::string("unknown escape \\") + e);
                }
            } else {
                word += c;
            }
        }
        if (quoted)
            return p.Fail("unterminated quote");
        words.push_back(word);
    }
    return 1;
}

int ParseNumber(Parser& p, const std::string& key, const std::string& text, uint32_t max,
                uint32_t& out) {
    if (text.empty() || text.find_first_not_of("0123456789") != std::string::npos ||
        text.size() > 9)
        return p.Fail(key + " needs a whole number, not '" + text + "'");
    unsigned long value = std::strtoul(text.c_str(), nullptr, 10);
    if (value > max)
        return p.Fail(key + " is at most " + std::to_string(max));
    out = static_cast<uint32_t>(value);
    return 1;
}

int ParseHexByte(const std::string& text, uint8_t& out) {
    if (text.empty() || text.size() > 2)
        return 0;
    int value = 0;
    for (char c : text) {
        int d = HexDigit(c);
        if (d < 0)
            return 0;
        value = value * 16 + d;
    }
    out = static_cast<uint8_t>(value);
    return 1;
}

// The items of a comma-separated list; an empty item (an empty list, a
// leading, doubled or trailing comma) is kept, for the caller to refuse.
std::vector<std::string> SplitList(const std::string& text) {
    std::vector<std::string> items(1);
    for (char c : text) {
        if (c == ',')
            items.emplace_back();
        else
            items.back() += c;
    }
    return items;
}

int ParseProtocols(Parser& p, const std::string& text, unsigned& out) {
    out = 0;
    if (text == "none")
        return 1;
    for (const std::string& item : SplitList(text)) {
        if (item == "2.0")
            out |= PROTOCOL_20;
        else if (item == "2.1")
            out |= PROTOCOL_21;
        else if (item == "2.2")
            out |= PROTOCOL_22;
        else
            return p.Fail("unknown protocol '" + item + "' (2.0, 2.1, 2.2 or none)");
    }
    return 1;
}

int ParseHang(Parser& p, const std::string& key, const std::string& text, std::bitset<256>& out) {
    if (text == "all") {
        out.set();
        return 1;
    }
    for (const std::string& item : SplitList(text)) {
        uint8_t opcode;
        if (!ParseHexByte(item, opcode))
            return p.Fail(key + " needs hexadecimal opcodes or all, not '" + item + "'");
        out.set(opcode);
    }
    return 1;
}

int ParseSense(Parser& p, const std::string& text, DriveConfig& drive) {
    std::stringstream parts(text);
    std::string key, asc, ascq;
    if (!std::getline(parts, key, '/') || !std::getline(parts, asc, '/') ||
        !std::getline(parts, ascq) || !ParseHexByte(key, drive.failKey) ||
        !ParseHexByte(asc, drive.failAsc) || !ParseHexByte(ascq, drive.failAscq) ||
        drive.failKey > 0xF)
        return p.Fail("fail-transfer needs sense as K/AA/QQ in hexadecimal, not '" + text + "'");
    drive.failTransfer = true;
    return 1;
}

// A bus by the name reports give it.
int ParseBus(Parser& p, const std::string& value, int& bus) {
    for (int b = 1; b <= static_cast<int>(aspi::BusType::Ieee1394); ++b)
        if (value == aspi::BusName(static_cast<aspi::BusType>(b))) {
            bus = b;
            return 1;
        }
    return p.Fail("bus is usb, ata, scsi, sata or 1394, not '" + value + "'");
}

template <size_t N>
int ParseText(Parser& p, const std::string& key, const std::string& text,
              std::array<uint8_t, N>& field) {
    if (text.size() > N)
        return p.Fail(key + " holds at most " + std::to_string(N) + " characters");
    SetField(field, text);
    return 1;
}

// One key=value of a device line; 2 when the key is unknown for the kind.
int ParseValue(Parser& p, bool cd, const std::string& key, const std::string& value,
               DriveConfig& drive) {
    if (key == "vendor")
        return ParseText(p, key, value, drive.vendor);
    if (key == "product")
        return ParseText(p, key, value, drive.product);
    if (key == "revision")
        return ParseText(p, key, value, drive.revision);
    if (key == "latency")
        return ParseNumber(p, key, value, 600000, drive.latencyMs);
    if (key == "inquiry-length")
        return ParseNumber(p, key, value, INQUIRY_DATA_SIZE, drive.inquiryLength);
    if (key == "hang")
        return ParseHang(p, key, value, drive.hang);
    if (!cd)
        return 2;
    if (key == "protocols")
        return ParseProtocols(p, value, drive.protocols);
    if (key == "flash")
        return ParseNumber(p, key, value, 600000, drive.flashMs);
    if (key == "attention") {
        uint32_t n;
        int ok = ParseNumber(p, key, value, 1000, n);
        drive.unitAttentions = static_cast<int>(n);
        return ok;
    }
    if (key == "hang-after-flash")
        return ParseHang(p, key, value, drive.hangAfterFlash);
    if (key == "fail-transfer")
        return ParseSense(p, value, drive);
    if (key == "bus")
        return ParseBus(p, value, drive.bus);
    if (key == "loader-product")
        return ParseText(p, key, value, drive.loaderProduct);
    if (key == "loader-revision")
        return ParseText(p, key, value, drive.loaderRevision);
    return 2;
}

// The words after the target: flags and key=value pairs, each key once (a
// second value would silently replace or add to the first).
int ParseKeys(Parser& p, const std::vector<std::string>& words, DriveConfig& drive) {
    bool cd = drive.kind == DriveKind::CdDrive;
    std::set<std::string> seen;
    for (size_t i = 2; i < words.size(); ++i) {
        const std::string& word = words[i];
        size_t eq = word.find('=');
        std::string key = word.substr(0, eq);
        if (!seen.insert(key).second)
            return p.Fail(key + " is given twice");
        if (eq == std::string::npos) {
            if (key == "notready")
                drive.notReady = true;
            else if (cd && key == "hang-transfer")
                drive.hangTransfer = true;
            else if (cd && key == "vanish-transfer")
                drive.vanishTransfer = true;
            else if (cd && key == "restart-transfer")
                drive.restartTransfer = true;
            else if (cd && key == "cut-transfer")
                drive.cutTransfer = true;
            else if (cd && key == "loader")
                drive.inLoader = true;
            else
                return p.Fail("expected key=value, not '" + word + "'");
            continue;
        }
        int ok = ParseValue(p, cd, key, word.substr(eq + 1), drive);
        if (ok == 2)
            return p.Fail("unknown key '" + key + "' for " + words[0]);
        if (!ok)
            return 0;
    }
    return 1;
}

int ParseDevice(Parser& p, const std::vector<std::string>& words, BankConfig& config) {
    if (config.adapters.empty())
        return p.Fail("'" + words[0] + "' before the first 'adapter'");
    uint32_t target;
    if (words.size() < 2 || !ParseNumber(p, "target", words[1], TARGETS_PER_ADAPTER - 1, target))
        return p.error.empty() ? p.Fail(words[0] + " needs a target number 0 to " +
                                        std::to_string(TARGETS_PER_ADAPTER - 1))
                               : 0;
    DriveConfig& drive = config.adapters.back()[target];
    if (drive.kind != DriveKind::None)
        return p.Fail("target " + std::to_string(target) + " is described twice");
    bool cd = words[0] == "drive";
    drive.kind = cd ? DriveKind::CdDrive : DriveKind::Disk;
    SetField(drive.vendor, "QVSIM");
    SetField(drive.product, cd ? "CD-ROM" : "DISK");
    SetField(drive.revision, "1.00");
    SetField(drive.loaderProduct, "BOOT LOADER");
    SetField(drive.loaderRevision, "0.01");
    return ParseKeys(p, words, drive);
}

} // namespace

int ParseBank(const std::string& text, BankConfig& config, std::string& error) {
    config = BankConfig();
    Parser p;
    std::stringstream lines(text);
    std::string line;
    while (std::getline(lines, line)) {
        ++p.lineNumber;
        std::vector<std::string> words;
        int ok = SplitWords(p, line, words);
        if (ok && !words.empty()) {
            if (words[0] == "adapter") {
                if (words.size() > 1)
                    ok = p.Fail("'adapter' takes nothing after it");
                else if (config.adapters.size() >= MAX_ADAPTERS)
                    ok = p.Fail("at most " + std::to_string(MAX_ADAPTERS) + " adapters");
                else
                    config.adapters.emplace_back();
            } else if (words[0] == "drive" || words[0] == "disk") {
                ok = ParseDevice(p, words, config);
            } else {
                ok = p.Fail("unknown statement '" + words[0] + "'");
            }
        }
        if (!ok) {
            error = p.error;
            config = BankConfig();
            return 0;
        }
    }
    return 1;
}

int LoadBankFile(const std::string& path, BankConfig& config, std::string& error) {
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        config = BankConfig();
        error = "bank file " + path + ": cannot be read";
        return 0;
    }
    std::stringstream text;
    text << file.rdbuf();
    if (!ParseBank(text.str(), config, error)) {
        error = "bank file " + path + " " + error;
        return 0;
    }
    return 1;
}

BankConfig DefaultBank() {
    static const char* const text = R"(
adapter
drive 0 vendor="QVSIM" product="CD-RW QV-2000" revision="1.00" protocols=2.0 latency=2 flash=4000
drive 1 vendor="QVSIM" product="DVD-ROM QV-2100" revision="2.10" protocols=2.1 latency=2 flash=4000
disk 2 vendor="QVSIM" product="HARD DISK" revision="0.90" latency=2
adapter
drive 0 vendor="QVSIM" product="DVD+RW QV-2200" revision="1.20" protocols=2.2 latency=2 flash=4000 attention=1
drive 1 vendor="QVSIM" product="CD-ROM QV-1000" revision="3.00" protocols=none latency=2
)";
    BankConfig config;
    std::string error;
    ParseBank(text, config, error);
    return config;
}

} // namespace simulator
