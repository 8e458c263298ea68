// The bus a drive hangs on, as the system tells it: a drive behind a USB
// bridge often never sees a vendor command, which explains a refusal no
// drive would give.
#pragma once

#include <cstdint>

namespace aspi {

enum class BusType { Unknown, Usb, Ata, Scsi, Sata, Ieee1394 };

// "usb", "ata", "scsi", "sata", "1394", "unknown": the names reports use.
const char* BusName(BusType bus);

// Linux: from the device's place in sysfs (the resolved link
// /sys/class/scsi_generic/sgN/device) and its SCSI host's driver
// (/sys/class/scsi_host/hostN/proc_name); either may be empty.
BusType BusFromSysfs(const char* devicePath, const char* hostDriver);

// Windows: from the bus type of the storage device property
// (STORAGE_DEVICE_DESCRIPTOR's BusType).
BusType BusFromStorageProperty(uint32_t busType);

} // namespace aspi
