#include "SafetyScenario.h"

#include "simulator/BankConfig.h"

#include <algorithm>
#include <cctype>

namespace safety {

const char* const kImageIdentity = "CORVANE SIMDRIVE 52X    1.00";

namespace {

using namespace rc;

// Before the download: an older revision of the image's model, the image's
// own revision, another model, the image's model padded with NUL bytes.
const std::vector<std::string> kIdentities = {
    "vendor=CORVANE product=\"SIMDRIVE 52X\" revision=0.90",
    "vendor=CORVANE product=\"SIMDRIVE 52X\" revision=1.00",
    "vendor=QVSIM product=DRIVE revision=0.10",
    "vendor=\"CORVANE\\0\" product=\"SIMDRIVE 52X\\0\\0\\0\\0\" revision=0.90",
    "vendor=CORVANE product=\"SIMDRIVE 52X\" revision=1.10",
};
const char* const kForms[] = {"", "2.0", "2.1", "2.2"};

std::string Protocols(unsigned forms) {
    std::string text;
    for (unsigned form = 1; form <= 3; ++form)
        if (forms & (1u << form))
            text += (text.empty() ? "" : ",") + std::string(kForms[form]);
    return " protocols=" + (text.empty() ? std::string("none") : text);
}

// The forms of the drive at the named address: half of them made to fit the
// image, so that many runs reach the transfer.
unsigned GenForms(uint8_t imageProtocol) {
    if (*gen::arbitrary<bool>())
        return unsigned(*gen::inRange(0, 8)) << 1;
    return imageProtocol ? 1u << imageProtocol : 0u;
}

Gen<std::string> OneOf(std::vector<std::string> texts) {
    return gen::elementOf(std::move(texts));
}

// One of the choices, as often as its weight says; shrinks towards the first.
template <typename T> T Pick(std::initializer_list<std::pair<int, T>> choices) {
    int total = 0;
    for (const auto& choice : choices)
        total += choice.first;
    int at = *gen::inRange(0, total);
    for (const auto& choice : choices) {
        if (at < choice.first)
            return choice.second;
        at -= choice.first;
    }
    return choices.begin()->second;
}

// Drawn as 0 shrinks to "absent".
bool Chance(int percent) {
    return *gen::inRange(0, 100) >= 100 - percent;
}

std::string Maybe(int percent, const Gen<std::string>& text) {
    return Chance(percent) ? *text : std::string();
}

// The drive at the named address, with everything that can go wrong.
std::string NamedDrive(int target, uint8_t imageProtocol) {
    std::string line = "drive " + std::to_string(target) + " latency=0";
    line += Protocols(GenForms(imageProtocol));
    line += " " + Pick<std::string>({{6, kIdentities[0]},
                                     {2, kIdentities[1]},
                                     {1, kIdentities[2]},
                                     {1, kIdentities[3]},
                                     {1, kIdentities[4]}});
    line += Maybe(12, gen::map(gen::inRange(0, 46),
                               [](int n) { return " inquiry-length=" + std::to_string(n); }));
    line += Maybe(
        20, gen::map(gen::inRange(1, 12), [](int n) { return " attention=" + std::to_string(n); }));
    line += Maybe(
        40, OneOf({" fail-transfer=3/0C/00", " fail-transfer=5/26/00", " fail-transfer=2/04/00",
                   " fail-transfer=6/29/00", " hang-transfer", " vanish-transfer",
                   " restart-transfer", " restart-transfer", " cut-transfer", " cut-transfer"}));
    line += Maybe(8, gen::just<std::string>(" loader"));
    line += Maybe(
        10, OneOf({" hang-after-flash=12", " hang-after-flash=00", " hang-after-flash=12,00"}));
    line += Maybe(8, OneOf({" hang=12", " hang=cb", " hang=1b", " hang=1e", " hang=00"}));
    line += Maybe(10, gen::just<std::string>(" notready"));
    return line + "\n";
}

std::string NamedDevice(int target, uint8_t imageProtocol) {
    const int kind = Pick<int>({{16, 1}, {2, 2}, {2, 0}});
    if (kind == 1)
        return NamedDrive(target, imageProtocol);
    if (kind == 0)
        return std::string();
    return "disk " + std::to_string(target) + " latency=0" +
           Maybe(30, OneOf({" inquiry-length=0", " inquiry-length=5", " hang=12", " notready"})) +
           "\n";
}

std::string OtherDevice(int target) {
    const int kind = Pick<int>({{11, 0}, {7, 1}, {2, 2}});
    if (kind == 0)
        return std::string();
    if (kind == 2)
        return "disk " + std::to_string(target) + " latency=0\n";
    const unsigned forms = unsigned(*gen::inRange(0, 8)) << 1;
    return "drive " + std::to_string(target) + " latency=0" + Protocols(forms) + "\n";
}

std::string Bank(int adapters, int adapter, int target, uint8_t imageProtocol) {
    std::string text;
    for (int a = 0; a < adapters; ++a) {
        text += "adapter\n";
        for (int t = 0; t < 8; ++t)
            text += a == adapter && t == target ? NamedDevice(t, imageProtocol) : OtherDevice(t);
    }
    return text;
}

ImagePlan GenImage() {
    ImagePlan image;
    image.protocol = uint8_t(Pick<int>({{1, 0}, {3, 1}, {3, 2}, {3, 3}}));
    image.withTemplate = Pick<bool>({{9, true}, {1, false}});
    image.fault = Pick<FileFault>({{16, FileFault::Sound},
                                   {1, FileFault::Cut},
                                   {1, FileFault::Damaged},
                                   {1, FileFault::Foreign},
                                   {1, FileFault::Missing}});
    image.faultAt = image.fault == FileFault::Sound ? 0u : *gen::arbitrary<uint32_t>();
    return image;
}

// corvane's options in a random order; a value stays after its option,
// except for a --log that lost its value, which takes whatever follows.
std::vector<std::string> GenOptions(const Scenario& s) {
    std::vector<std::vector<std::string>> groups = {
        {"@image"}, {"--device", std::to_string(s.adapter) + ":" + std::to_string(s.target)}};
    auto add = [&groups](int percent, std::vector<std::string> group) {
        if (Chance(percent))
            groups.push_back(std::move(group));
    };
    add(80, {"--bank", "@bank"});
    if (s.consent)
        groups.push_back({"--yes"});
    add(50, {"--json"});
    add(25, {"--dry-run"});
    add(20, {"--force-model"});
    add(15, {"--recover"});
    add(15, {"--allow-downgrade"});
    add(40, {"--log", "@log"});
    add(15, {"--log"});
    for (size_t i = 0; i + 1 < groups.size(); ++i)
        std::swap(groups[i], groups[size_t(*gen::inRange(int(i), int(groups.size())))]);
    std::vector<std::string> options;
    for (const auto& group : groups)
        options.insert(options.end(), group.begin(), group.end());
    return options;
}

} // namespace

Gen<Scenario> GenScenario(Route route) {
    return gen::exec([route] {
        Scenario s;
        s.route = route;
        s.image = GenImage();
        const int adapters = Pick<int>({{1, 0}, {12, 1}, {10, 2}, {8, 3}});
        // Now and then an adapter that is not there.
        s.adapter = *gen::inRange(0, std::max(adapters, 1) + (*gen::inRange(0, 20) == 0));
        s.target = *gen::inRange(0, 8);
        s.bank = Bank(adapters, s.adapter, s.target, s.image.protocol);
        s.consent = Pick<bool>({{6, true}, {1, false}});
        s.polled = Chance(50);
        if (route == Route::Cli) {
            s.options = GenOptions(s);
            // Now and then a terminal, and whatever is typed at it.
            if (Chance(30))
                s.typed = *OneOf({"y\n", "Y\n", "yes\n", "Yes\n", "YES\n", " yes \n", "n\n", "no\n",
                                  "\n", "yesterday\n", "yess\n", "yes no\n", "ye\n", "nyes\n"});
        }
        return s;
    });
}

bool HasOption(const Scenario& scenario, const char* option) {
    return std::find(scenario.options.begin(), scenario.options.end(), option) !=
           scenario.options.end();
}

bool CliConsent(const Scenario& scenario) {
    if (HasOption(scenario, "--yes"))
        return true;
    std::string word;
    for (char c : scenario.typed)
        if (c != ' ' && c != '\n')
            word += char(std::tolower(static_cast<unsigned char>(c)));
    const size_t first = scenario.typed.find_first_not_of(' ');
    const size_t last = scenario.typed.find_last_not_of(" \n");
    const bool oneWord = first != std::string::npos && last - first + 1 == word.size();
    return oneWord && (word == "y" || word == "yes");
}

DeviceFacts FactsAt(const Scenario& scenario) {
    DeviceFacts facts;
    simulator::BankConfig config;
    std::string error;
    if (!simulator::ParseBank(scenario.bank, config, error) || scenario.adapter < 0 ||
        scenario.adapter >= int(config.adapters.size()) || scenario.target < 0 ||
        scenario.target > 7)
        return facts;
    const simulator::DriveConfig& d =
        config.adapters[size_t(scenario.adapter)][size_t(scenario.target)];
    facts.kind = d.kind == simulator::DriveKind::CdDrive ? 1
                 : d.kind == simulator::DriveKind::Disk  ? 2
                                                         : 0;
    facts.protocols = d.protocols;
    facts.identity.assign(d.vendor.begin(), d.vendor.end());
    // A drive in its boot loader answers the loader's product and revision.
    const auto& product = d.inLoader ? d.loaderProduct : d.product;
    const auto& revision = d.inLoader ? d.loaderRevision : d.revision;
    facts.identity.append(product.begin(), product.end());
    facts.identity.append(revision.begin(), revision.end());
    std::replace(facts.identity.begin(), facts.identity.end(), '\0', ' ');
    facts.inquiryLength = d.inquiryLength;
    facts.restarts = d.restartTransfer;
    return facts;
}

namespace {

void ShowText(const std::string& text, std::ostream& out) {
    out << '"';
    for (char c : text)
        out << (c == '\n' ? "\\n" : c == '"' ? "\\\"" : c == '\\' ? "\\\\" : std::string(1, c));
    out << '"';
}

const char* const kFaults[] = {"Sound", "Cut", "Damaged", "Foreign", "Missing"};

} // namespace

void showValue(const Scenario& s, std::ostream& out) {
    out << "{Route::" << (s.route == Route::Cli ? "Cli" : "PlugIn") << ", ";
    ShowText(s.bank, out);
    out << ", " << s.adapter << ", " << s.target << ", {" << int(s.image.protocol) << ", "
        << (s.image.withTemplate ? "true" : "false")
        << ", FileFault::" << kFaults[int(s.image.fault)] << ", " << s.image.faultAt << "u}, "
        << (s.consent ? "true" : "false") << ", " << (s.polled ? "true" : "false") << ", {";
    for (size_t i = 0; i < s.options.size(); ++i) {
        out << (i ? ", " : "");
        ShowText(s.options[i], out);
    }
    out << "}";
    if (!s.typed.empty()) {
        out << ", ";
        ShowText(s.typed, out);
    }
    out << "}";
}

void PrintTo(const Scenario& scenario, std::ostream* out) {
    showValue(scenario, *out);
}

} // namespace safety
