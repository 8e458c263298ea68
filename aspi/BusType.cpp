#include "aspi/BusType.h"

#include <cstring>

namespace aspi {
namespace {

// Whether a folder of `path` starts with `part` ("usb" finds "/usb1/").
bool HasFolder(const char* path, const char* part) {
    for (const char* at = std::strstr(path, part); at; at = std::strstr(at + 1, part))
        if (at > path && at[-1] == '/')
            return true;
    return false;
}

struct DriverBus {
    const char* driver;
    BusType bus;
};

// SCSI host drivers whose bus their name says.
const DriverBus kHostDrivers[] = {
    {"usb-storage", BusType::Usb}, {"uas", BusType::Usb},           {"ahci", BusType::Sata},
    {"sata_", BusType::Sata},      {"ata_piix", BusType::Ata},      {"pata_", BusType::Ata},
    {"sbp2", BusType::Ieee1394},   {"firewire", BusType::Ieee1394},
};

} // namespace

const char* BusName(BusType bus) {
    switch (bus) {
    case BusType::Usb:
        return "usb";
    case BusType::Ata:
        return "ata";
    case BusType::Scsi:
        return "scsi";
    case BusType::Sata:
        return "sata";
    case BusType::Ieee1394:
        return "1394";
    case BusType::Unknown:
        break;
    }
    return "unknown";
}

BusType BusFromSysfs(const char* devicePath, const char* hostDriver) {
    const char* path = devicePath ? devicePath : "";
    const char* driver = hostDriver ? hostDriver : "";
    // A USB controller above the host says more than any driver's name.
    if (HasFolder(path, "usb"))
        return BusType::Usb;
    for (const DriverBus& known : kHostDrivers)
        if (std::strncmp(driver, known.driver, std::strlen(known.driver)) == 0)
            return known.bus;
    if (HasFolder(path, "ata"))
        return BusType::Ata; // libata, driver unnamed: parallel or serial alike
    if (HasFolder(path, "fw"))
        return BusType::Ieee1394;
    return *path && *driver ? BusType::Scsi : BusType::Unknown;
}

BusType BusFromStorageProperty(uint32_t busType) {
    switch (busType) {
    case 0x1: // BusTypeScsi
    case 0x6: // BusTypeFibre
    case 0x9: // BusTypeiScsi
    case 0xA: // BusTypeSas
        return BusType::Scsi;
    case 0x2: // BusTypeAtapi
    case 0x3: // BusTypeAta
        return BusType::Ata;
    case 0x4: // BusType1394
        return BusType::Ieee1394;
    case 0x7: // BusTypeUsb
        return BusType::Usb;
    case 0xB: // BusTypeSata
        return BusType::Sata;
    default:
        return BusType::Unknown;
    }
}

} // namespace aspi
