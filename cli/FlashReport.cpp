#include "cli/FlashReport.h"

#include "cli/JsonText.h"
#include "download/SenseText.h"
#include "firmware/DownloadRules.h"

#include <nlohmann/json.hpp>

#include <cstdio>
#include <cstring>

using namespace download;

namespace corvane {
namespace {

std::string SenseText(const FlashReport& report) {
    char text[160];
    DescribeSense(report.key, report.asc, report.ascq, text, sizeof text);
    return text;
}

void PrintJson(const FlashReport& report) {
    Json out;
    out["result"] = JsonText(report.result);
    out["mode"] = report.mode ? JsonText(report.mode) : Json(nullptr);
    out["transferSent"] = report.transferSent;
    out["before"] = report.haveBefore ? JsonIdentity(report.before) : Json(nullptr);
    out["after"] = report.haveAfter ? JsonIdentity(report.after) : Json(nullptr);
    out["message"] = JsonText(report.message);
    Json sense(nullptr);
    if (report.haveSense) {
        sense["key"] = report.key;
        sense["asc"] = report.asc;
        sense["ascq"] = report.ascq;
        sense["text"] = JsonText(SenseText(report));
    }
    out["sense"] = sense;
    out["downgrade"] = report.downgrade < 0 ? Json(nullptr) : Json(report.downgrade == 1);
    out["recovered"] = report.recovered;
    out["bus"] = JsonText(report.bus);
    std::printf("%s\n", JsonLine(out).c_str());
}

void PrintText(const FlashReport& report) {
    std::printf("Result: %s: %s\n", report.result, DisplayText(report.message).c_str());
    if (report.haveSense) {
        std::printf("Sense:  key %X, ASC %02X, ASCQ %02X: %s; bytes", report.key, report.asc,
                    report.ascq, SenseText(report).c_str());
        for (uint8_t byte : report.raw)
            std::printf(" %02X", byte);
        std::printf("\n");
    }
    if (std::strcmp(report.result, "ok") == 0)
        return;
    if (!report.transferSent) {
        std::printf("Drive:  not modified: no image was sent\n");
        return;
    }
    std::printf("Drive:  may have been modified: the image was sent; before: %s; after: %s\n",
                DisplayText(IdentityText(report.before)).c_str(),
                report.haveAfter    ? DisplayText(IdentityText(report.after)).c_str()
                : report.askedAfter ? "no answer"
                                    : "not asked");
}

void PrintRevision(const DownloadProcedure& procedure) {
    const std::string image = SplitIdentity(procedure.fwInfo).revision;
    const std::string drive = SplitIdentity(procedure.before).revision;
    switch (procedure.revision) {
    case RevisionOrder::Same:
        std::printf("Revision: %s, the same revision again\n", DisplayText(image).c_str());
        return;
    case RevisionOrder::Newer:
    case RevisionOrder::Older:
        std::printf("Revision: %s to %s, %s\n", DisplayText(drive).c_str(),
                    DisplayText(image).c_str(),
                    procedure.revision == RevisionOrder::Newer ? "newer" : "older: a downgrade");
        return;
    case RevisionOrder::Unknown:
        break;
    }
    std::printf("Revision: %s to %s: the order is unknown\n", DisplayText(drive).c_str(),
                DisplayText(image).c_str());
}

} // namespace

void PrintPlan(const FlashOptions& options, const std::string& layer, uint8_t adapter,
               uint8_t target, aspi::BusType bus, const DownloadProcedure& procedure) {
    char sum[8];
    std::snprintf(sum, sizeof sum, "%04X", procedure.fwInfo.checkSum);
    // File names are shown as drives' texts are: no byte of theirs reaches
    // the terminal as a control.
    std::printf("Drive:  %s %s, %s%s%s\n", AddressString(adapter, target).c_str(),
                DisplayText(IdentityText(SplitIdentity(procedure.before))).c_str(),
                ProtocolName(procedure.before.protocol), layer.empty() ? "" : ", ",
                DisplayText(layer).c_str());
    std::printf("Image:  %s: %s, %s, check sum %s\n", DisplayText(options.image).c_str(),
                DisplayText(IdentityText(SplitIdentity(procedure.fwInfo))).c_str(),
                ProtocolName(procedure.fwInfo.protocol), sum);
    std::printf(procedure.downloadMode == DownloadVerify
                    ? "Mode:   verify: the drive is asked for its new identity afterwards\n"
                    : "Mode:   reboot: the drive restarts itself; it is asked again after 8.5 s\n");
    PrintRevision(procedure);
    if (bus == aspi::BusType::Usb)
        std::printf("Bus:    usb: %s\n", kUsbBridgeWarning);
}

void PrintReport(bool json, const FlashReport& report) {
    if (json)
        PrintJson(report);
    else
        PrintText(report);
}

} // namespace corvane
