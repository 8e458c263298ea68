#include "SafetyCheck.h"

#include "cli/ExitStatus.h"
#include "firmware/DownloadRules.h"

#include <cstring>
#include <map>
#include <set>

namespace safety {
namespace {

// What the scenario and the bank's log say, gathered once for the rules.
struct Facts {
    DeviceFacts device;
    std::vector<const LogLine*> commands;  // exec, hold and reject lines
    std::vector<const LogLine*> transfers; // attempted, whether or not a drive was there
    bool delivered = false;                // one reached the drive
    int probed = 0;                        // the drive's protocol as its probe answers make it
    DownloadMode mode = DownloadMismatch;
    bool consent = false, dryRun = false, sound = false;
};

bool IsCommand(const LogLine& line) {
    return line.kind == "exec" || line.kind == "hold" || line.kind == "reject";
}

bool IsVendor(const LogLine& line) {
    return line.cdb.size() >= 12 && line.cdb[0] == 0xCB;
}

// The three probes in the order sent; a later success overrides.
int ProbedProtocol(const std::vector<const LogLine*>& commands) {
    int protocol = 0;
    for (const LogLine* line : commands) {
        if (!IsVendor(*line) || line->cdb[9] != 0x01 || line->kind != "exec" || line->status != 1)
            continue;
        protocol = line->cdb[1] == 0x20   ? 1
                   : line->cdb[1] == 0x21 ? 2
                   : line->cdb[2] == 0x22 ? 3
                                          : 0;
    }
    return protocol;
}

Facts Gather(const Scenario& s, const Observation& o) {
    Facts f;
    f.device = FactsAt(s);
    for (const LogLine& line : o.log) {
        if (!IsCommand(line))
            continue;
        f.commands.push_back(&line);
        if (IsVendor(line) && line.cdb[9] != 0x01) {
            f.transfers.push_back(&line);
            f.delivered = f.delivered || line.kind != "reject";
        }
    }
    f.probed = ProbedProtocol(f.commands);
    f.mode = DecideDownloadMode(s.image.protocol, uint8_t(f.probed));
    const bool cli = s.route == Route::Cli;
    f.consent = cli ? CliConsent(s) : s.consent;
    f.dryRun = cli && HasOption(s, "--dry-run");
    f.sound = s.image.fault == FileFault::Sound;
    return f;
}

typedef std::vector<std::string> Out;

void CheckAddresses(const Scenario& s, const Observation& o, Out& out) {
    for (const LogLine& line : o.log)
        if (line.adapter >= 0 && (line.adapter != s.adapter || line.target != s.target))
            out.push_back("a " + line.kind + " reached " + std::to_string(line.adapter) + ":" +
                          std::to_string(line.target) + ", not the address named");
}

void CheckWhatReachedTheDevice(const Facts& f, Out& out) {
    if (!f.sound && !f.commands.empty())
        out.push_back("a command was sent although the image file is not sound");
    const bool cd = f.device.kind == 1 && f.device.inquiryLength > 0;
    bool other = false, tray = false;
    for (const LogLine* line : f.commands) {
        const int opcode = line->cdb.empty() ? -1 : line->cdb[0];
        other = other || (opcode != 0x12 && opcode != 0x00);
        tray = tray || opcode == 0x1B || opcode == 0x1E;
    }
    if (!cd && other)
        out.push_back("a device that is not a CD/DVD drive got more than INQUIRY and TEST UNIT "
                      "READY");
    if (f.dryRun && tray)
        out.push_back("a dry run sent a tray command");
}

// The one transfer carries this image in the drive's form and the mode's byte.
void CheckTransferBlock(const Scenario& s, const Facts& f, const LogLine& t, Out& out) {
    const std::vector<uint8_t>& image = ImageBytes(s.image);
    uint32_t half = 0, all = 0;
    for (size_t i = 0; i < image.size(); ++i)
        (i < 32768 ? half : all) += image[i];
    all += half;
    const bool form = f.probed == 1   ? t.cdb[1] == 0x20
                      : f.probed == 2 ? t.cdb[1] == 0x21
                                      : t.cdb[1] == 0 && t.cdb[2] == 0x22;
    if (!form)
        out.push_back("the transfer is not in the form the drive's probes chose");
    if ((t.cdb[3] << 8 | t.cdb[4]) != int(half & 0xFFFF) ||
        (t.cdb[5] << 8 | t.cdb[6]) != int(all & 0xFFFF) || t.cdb[10] != image[0] ||
        t.cdb[11] != image[1])
        out.push_back("the transfer's sums or first bytes are not the image's");
    if (t.cdb[9] != (f.mode == DownloadVerify ? 0x84 : 0x04))
        out.push_back("the transfer's mode byte is not the mode's");
}

void CheckTransfer(const Scenario& s, const Facts& f, Out& out) {
    if (f.transfers.empty())
        return;
    if (f.transfers.size() > 1)
        out.push_back(std::to_string(f.transfers.size()) + " transfers");
    if (!f.consent)
        out.push_back("a transfer without consent");
    if (f.dryRun)
        out.push_back("a transfer in a dry run");
    if (f.device.kind != 1 || f.device.inquiryLength < 36)
        out.push_back("a transfer to a device that did not show a whole CD/DVD identity");
    if (f.mode == DownloadMismatch)
        out.push_back("a transfer although image and drive protocols do not fit");
    const bool sameModel =
        s.image.withTemplate && std::strncmp(f.device.identity.c_str(), kImageIdentity, 24) == 0;
    if (s.route == Route::Cli && !sameModel && !HasOption(s, "--force-model") &&
        !HasOption(s, "--recover"))
        out.push_back("a transfer to another model without --force-model or --recover");
    // Revisions of one shape ("0.90", "1.00", "1.10") order as text does.
    const bool older = sameModel && f.device.identity.compare(24, 4, kImageIdentity + 24) > 0;
    if (s.route == Route::Cli && older && !HasOption(s, "--allow-downgrade"))
        out.push_back("an older revision sent without --allow-downgrade");
    if (f.sound && f.mode != DownloadMismatch)
        CheckTransferBlock(s, f, *f.transfers[0], out);
}

// Success needs evidence. Verify mode: a good transfer and the image's
// identity afterwards. Reboot mode: a completed transfer, or the image's
// identity newly taken.
void CheckEvidence(const Scenario& s, const Facts& f, bool success, Out& out) {
    if (!success)
        return;
    if (f.transfers.size() != 1) {
        if (!f.dryRun)
            out.push_back("success without a transfer");
        return;
    }
    const LogLine& t = *f.transfers[0];
    // The bank's drive takes the image when it completes the transfer, or
    // when it restarts with it; it then answers with the image's template.
    const bool completed = t.kind == "exec" && t.status == 1;
    const bool took = completed || (t.kind == "hold" && f.device.restarts);
    const std::string after = took && s.image.withTemplate ? kImageIdentity : f.device.identity;
    bool answeredAfter = false;
    for (const LogLine* line : f.commands)
        answeredAfter = answeredAfter || (line > &t && line->kind == "exec" && line->status == 1 &&
                                          line->cdb[0] == 0x12);
    const bool hasImageIdentity = answeredAfter && s.image.withTemplate && after == kImageIdentity;
    const bool newly = hasImageIdentity && f.device.identity != kImageIdentity;
    if (f.mode == DownloadVerify && !(completed && hasImageIdentity))
        out.push_back("verify-mode success without a good transfer and the image's identity after");
    if (f.mode == DownloadReboot && !(completed || newly))
        out.push_back("reboot-mode success without a completed transfer or the image's identity "
                      "newly taken");
}

void CheckPlugIn(const Facts& f, const Observation& o, Out& out) {
    using download::Picture;
    if (!o.started && (o.picture != Picture::Ng || !f.transfers.empty()))
        out.push_back("a refused download that shows no NG picture or sent a transfer");
    if (o.finished == 1 && o.picture != Picture::Ok)
        out.push_back("a verified download without the OK picture");
    if (o.finished == 0 && o.picture != Picture::Ng)
        out.push_back("a failed download without the NG picture");
    if (o.started && (o.jobResult == 0) != (o.warnings == 1))
        out.push_back("the failed-transfer warning does not match the worker's result");
}

// The result word of the report: JSON or text; empty when there is none.
std::string ResultWord(const std::string& text, const char* before, char end) {
    const size_t at = text.find(before);
    if (at == std::string::npos)
        return std::string();
    const size_t from = at + std::strlen(before);
    return text.substr(from, text.find(end, from) - from);
}

bool Contains(const std::string& text, const char* part) {
    return text.find(part) != std::string::npos;
}

// "Not sent" and "not modified" need that no transfer reached the drive;
// "sent" and "may have been modified", that one was tried.
void CheckCliWords(const Facts& f, const Observation& o, const std::string& word, Out& out) {
    const bool tried = !f.transfers.empty();
    const bool json = o.out.rfind("{", 0) == 0;
    const bool saysSent = Contains(o.out, "\"transferSent\":true");
    if (json && (saysSent ? !tried : f.delivered))
        out.push_back("the JSON's transferSent is not what the drive got");
    if (json && tried &&
        !Contains(o.out, f.mode == DownloadVerify ? "\"mode\":\"verify\"" : "\"mode\":\"reboot\""))
        out.push_back("the JSON's mode is not the mode of the transfer");
    if (!json && word != "ok" &&
        ((Contains(o.out, "Drive:  not modified") && f.delivered) ||
         (Contains(o.out, "Drive:  may have been modified") && !tried)))
        out.push_back("the report says whether the drive was modified, the drive says otherwise");
    const std::string logged = ResultWord(o.steps, "result: ", ':');
    if (!o.steps.empty() && logged != word)
        out.push_back("the log says " + logged + ", the report " + word);
}

void CheckCli(const Facts& f, const Observation& o, Out& out) {
    using namespace corvane;
    if (o.exitStatus == kExitUsage) {
        if (!f.commands.empty())
            out.push_back("a usage error after commands were sent");
        return;
    }
    std::string word = ResultWord(o.out, "{\"result\":\"", '"');
    if (word.empty())
        word = ResultWord(o.out, "Result: ", ':');
    // The result words and the exit statuses they go with.
    static const std::map<std::string, std::set<int>> kStatuses = {
        {"ok", {kExitOk}},
        {"refused", {kExitRefused, kExitNoDrive}},
        {"no drive", {kExitNoDrive}},
        {"no access", {kExitNoDrive}},
        {"failed", {kExitTransferFailed}},
        {"unverified", {kExitTransferFailed}}};
    const auto statuses = kStatuses.find(word);
    if (statuses == kStatuses.end())
        out.push_back("no result reported: " + o.out.substr(0, 200));
    else if (!statuses->second.count(o.exitStatus))
        out.push_back("exit status " + std::to_string(o.exitStatus) + " for result " + word);
    if (word == "refused" && f.delivered)
        out.push_back("refused after a transfer reached the drive");
    CheckCliWords(f, o, word, out);
}

} // namespace

std::vector<std::string> Violations(const Scenario& s, const Observation& o) {
    const Facts f = Gather(s, o);
    Out out;
    CheckAddresses(s, o, out);
    CheckWhatReachedTheDevice(f, out);
    CheckTransfer(s, f, out);
    const bool success = s.route == Route::PlugIn ? o.finished == 1 : o.exitStatus == 0;
    CheckEvidence(s, f, success, out);
    if (s.route == Route::PlugIn)
        CheckPlugIn(f, o, out);
    else
        CheckCli(f, o, out);
    return out;
}

std::string OutcomeTag(const Scenario& s, const Observation& o) {
    const bool sent = !Gather(s, o).transfers.empty();
    if (s.route == Route::PlugIn)
        return std::string(sent ? "sent, " : "not sent, ") + (o.finished == 1 ? "verified"
                                                              : o.started     ? "failed"
                                                                              : "stopped");
    return std::string(sent ? "sent, exit " : "not sent, exit ") + std::to_string(o.exitStatus);
}

} // namespace safety
