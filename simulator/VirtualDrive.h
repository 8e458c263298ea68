// One simulated device: answers command blocks as a drive would, without any
// notion of time or of the ASPI request that carried them.
#pragma once

#include "BankConfig.h"

#include "command/DeviceChannel.h"

#include <array>
#include <cstdint>

namespace simulator {

constexpr uint32_t IMAGE_SIZE = 65536;
// Peripheral device type of a disk (direct access); a CD/DVD drive answers
// kCdRomDeviceType.
constexpr uint8_t DISK_DEVICE_TYPE = 0x00;

struct CommandResult {
    uint8_t targetStatus = 0; // GOOD or CHECK CONDITION
    uint8_t hostStatus = 0;   // 0, or data overrun when the data direction is wrong
    uint8_t sense[18] = {};   // fixed-format sense data with CHECK CONDITION
    uint32_t bytesIn = 0;     // bytes written into the data buffer
    uint32_t bytesOut = 0;    // bytes taken from the data buffer
};

class VirtualDrive {
  public:
    // The device type its INQUIRY answer and the ASPI device-type request give.
    uint8_t DeviceType() const;

    explicit VirtualDrive(const DriveConfig& config);

    // Commands that never complete, until a reset or abort.
    bool Hangs(const uint8_t* cdb) const;
    // Commands that never reach the drive: its selection times out.
    bool Vanishes(const uint8_t* cdb) const;
    // Commands the drive takes and then never ends: it restarts.
    bool RestartsOn(const uint8_t* cdb) const;
    // How long the command takes after it was sent.
    uint32_t DurationMs(const uint8_t* cdb) const;

    CommandResult Execute(const uint8_t* cdb, uint8_t* data, uint32_t length, uint8_t flags);

    void Reset() { ++resetCount; }

    DriveConfig config; // identity fields change when a firmware is taken
    bool trayOpen = false;
    bool prevented = false;
    int unitAttentionsLeft;
    int resetCount = 0;
    int flashCount = 0;
    // Left by a cut transfer: the boot loader answers until a good transfer.
    bool inLoader = false;

  private:
    CommandResult Inquiry(const uint8_t* cdb, uint8_t* data, uint32_t length, uint8_t flags);
    CommandResult Loader(const uint8_t* cdb, uint8_t* data, uint32_t length, uint8_t flags);
    CommandResult StartStop(const uint8_t* cdb);
    CommandResult Vendor(const uint8_t* cdb, const uint8_t* data, uint32_t length, uint8_t flags);
    CommandResult TakeFirmware(const uint8_t* cdb, const uint8_t* data);
};

// The 36-byte identity template a firmware image carries starts with these.
constexpr uint8_t INQUIRY_TEMPLATE[5] = {0x05, 0x80, 0x00, 0x21, 0x1F};

// Offset of the last INQUIRY template in the image that has room for the
// identity after it, or -1.
int FindLastTemplate(const uint8_t* image, uint32_t size);

} // namespace simulator
