#include "VirtualDrive.h"

#include "aspi/AspiRecords.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace simulator {
namespace {

// Sense keys and additional sense codes the drives answer with.
constexpr uint8_t KEY_NOT_READY = 0x2, KEY_ILLEGAL_REQUEST = 0x5, KEY_UNIT_ATTENTION = 0x6;

CommandResult Good() {
    return CommandResult();
}

CommandResult CheckCondition(uint8_t key, uint8_t asc, uint8_t ascq) {
    CommandResult r;
    r.targetStatus = aspi::STATUS_CHKCOND;
    r.sense[0] = 0x70; // current error, fixed format
    r.sense[2] = key & 0x0F;
    r.sense[7] = 10; // additional sense length
    r.sense[12] = asc;
    r.sense[13] = ascq;
    return r;
}

CommandResult InvalidOpcode() {
    return CheckCondition(KEY_ILLEGAL_REQUEST, 0x20, 0x00);
}
CommandResult InvalidField() {
    return CheckCondition(KEY_ILLEGAL_REQUEST, 0x24, 0x00);
}

CommandResult WrongDirection() {
    CommandResult r;
    r.hostStatus = aspi::HASTAT_DO_DU;
    return r;
}

uint16_t Sum16(const uint8_t* bytes, uint32_t count) {
    uint32_t sum = 0;
    for (uint32_t i = 0; i < count; ++i)
        sum += bytes[i];
    return static_cast<uint16_t>(sum);
}

// Protocol bit of a vendor command block, or 0 for no known form.
unsigned VendorForm(const uint8_t* cdb) {
    if (cdb[1] == 0x20 && cdb[2] == 0x00)
        return PROTOCOL_20;
    if (cdb[1] == 0x21 && cdb[2] == 0x00)
        return PROTOCOL_21;
    if (cdb[1] == 0x00 && cdb[2] == 0x22)
        return PROTOCOL_22;
    return 0;
}

bool IsTransfer(const uint8_t* cdb) {
    return cdb[0] == 0xCB && (cdb[9] == 0x04 || cdb[9] == 0x84);
}

} // namespace

VirtualDrive::VirtualDrive(const DriveConfig& driveConfig)
    : config(driveConfig), unitAttentionsLeft(driveConfig.unitAttentions),
      inLoader(driveConfig.inLoader) {}

uint8_t VirtualDrive::DeviceType() const {
    return config.kind == DriveKind::CdDrive ? kCdRomDeviceType : DISK_DEVICE_TYPE;
}

bool VirtualDrive::Hangs(const uint8_t* cdb) const {
    return config.hang.test(cdb[0]) || (config.hangTransfer && IsTransfer(cdb)) ||
           (flashCount > 0 && config.hangAfterFlash.test(cdb[0]));
}

bool VirtualDrive::RestartsOn(const uint8_t* cdb) const {
    return config.restartTransfer && IsTransfer(cdb);
}

bool VirtualDrive::Vanishes(const uint8_t* cdb) const {
    return config.vanishTransfer && IsTransfer(cdb);
}

uint32_t VirtualDrive::DurationMs(const uint8_t* cdb) const {
    return config.latencyMs + (IsTransfer(cdb) ? config.flashMs : 0);
}

CommandResult VirtualDrive::Execute(const uint8_t* cdb, uint8_t* data, uint32_t length,
                                    uint8_t flags) {
    if (inLoader)
        return Loader(cdb, data, length, flags);
    if (cdb[0] == 0x12)
        return Inquiry(cdb, data, length, flags);
    if (cdb[0] == 0x00)
        return config.notReady ? CheckCondition(KEY_NOT_READY, 0x04, 0x00) : Good();
    if (config.kind != DriveKind::CdDrive)
        return InvalidOpcode();
    switch (cdb[0]) {
    case 0x1E:
        prevented = (cdb[4] & 0x01) != 0;
        return Good();
    case 0x1B:
        return StartStop(cdb);
    case 0xCB:
        return Vendor(cdb, data, length, flags);
    default:
        return InvalidOpcode();
    }
}

CommandResult VirtualDrive::Inquiry(const uint8_t* cdb, uint8_t* data, uint32_t length,
                                    uint8_t flags) {
    if (cdb[1] & 0x01)
        return InvalidField(); // no vital product data pages
    if (flags & aspi::SRB_DIR_OUT)
        return WrongDirection();
    uint8_t answer[INQUIRY_DATA_SIZE] = {};
    bool cd = config.kind == DriveKind::CdDrive;
    answer[0] = DeviceType();
    answer[1] = cd ? 0x80 : 0x00;
    answer[3] = 0x21;
    answer[4] = INQUIRY_DATA_SIZE - 5;
    std::memcpy(answer + 8, config.vendor.data(), 8);
    std::memcpy(answer + 16, (inLoader ? config.loaderProduct : config.product).data(), 16);
    std::memcpy(answer + 32, (inLoader ? config.loaderRevision : config.revision).data(), 4);
    CommandResult r;
    r.bytesIn = std::min<uint32_t>({cdb[4], length, config.inquiryLength});
    if (r.bytesIn)
        std::memcpy(data, answer, r.bytesIn);
    return r;
}

// A boot loader knows its identity, the probe of the drive's own forms and
// the transfer; it has no medium.
CommandResult VirtualDrive::Loader(const uint8_t* cdb, uint8_t* data, uint32_t length,
                                   uint8_t flags) {
    if (cdb[0] == 0x12)
        return Inquiry(cdb, data, length, flags);
    if (cdb[0] == 0x00)
        return CheckCondition(KEY_NOT_READY, 0x04, 0x00);
    if (cdb[0] == 0xCB)
        return Vendor(cdb, data, length, flags);
    return InvalidOpcode();
}

CommandResult VirtualDrive::StartStop(const uint8_t* cdb) {
    if (unitAttentionsLeft > 0) {
        --unitAttentionsLeft;
        return CheckCondition(KEY_UNIT_ATTENTION, 0x29, 0x00); // power on or reset
    }
    bool loadEject = (cdb[4] & 0x02) != 0;
    bool start = (cdb[4] & 0x01) != 0;
    if (loadEject) {
        if (!start && prevented)
            return CheckCondition(KEY_ILLEGAL_REQUEST, 0x53, 0x02); // removal prevented
        trayOpen = !start;
    }
    return Good();
}

CommandResult VirtualDrive::Vendor(const uint8_t* cdb, const uint8_t* data, uint32_t length,
                                   uint8_t flags) {
    unsigned form = VendorForm(cdb);
    if (!form || !(config.protocols & form))
        return InvalidOpcode();
    if (cdb[7] != 0xFF || cdb[8] != 0xFE)
        return InvalidField();
    if (cdb[9] == 0x01)
        return Good(); // probe: this drive takes the form
    bool verify = cdb[9] == 0x84;
    if (!IsTransfer(cdb) || (verify && form != PROTOCOL_22))
        return InvalidField();
    if (flags & aspi::SRB_DIR_IN)
        return WrongDirection();
    if (length < IMAGE_SIZE)
        return InvalidField();
    if (config.failTransfer) {
        CommandResult r = CheckCondition(config.failKey, config.failAsc, config.failAscq);
        r.bytesOut = IMAGE_SIZE;
        return r;
    }
    if (config.cutTransfer && !inLoader) {
        inLoader = true; // the old firmware is half overwritten
        CommandResult r;
        r.hostStatus = aspi::HASTAT_PHASE_ERR;
        r.bytesOut = IMAGE_SIZE / 2;
        return r;
    }
    return TakeFirmware(cdb, data);
}

CommandResult VirtualDrive::TakeFirmware(const uint8_t* cdb, const uint8_t* data) {
    // The first two image bytes ride in the command block, the rest in the data.
    std::vector<uint8_t> buffer(IMAGE_SIZE);
    uint8_t* image = buffer.data();
    image[0] = cdb[10];
    image[1] = cdb[11];
    std::memcpy(image + 2, data, IMAGE_SIZE - 2);
    // Both sums are checked as a drive checks them, so that an image the
    // plug-in sent wrong, or sums made from a cut image, fail here too.
    uint16_t halfSum = static_cast<uint16_t>(cdb[3] << 8 | cdb[4]);
    uint16_t checkSum = static_cast<uint16_t>(cdb[5] << 8 | cdb[6]);
    if (Sum16(image, IMAGE_SIZE / 2) != halfSum || Sum16(image, IMAGE_SIZE) != checkSum) {
        CommandResult r = CheckCondition(KEY_ILLEGAL_REQUEST, 0x26, 0x00);
        r.bytesOut = IMAGE_SIZE;
        return r;
    }
    int at = FindLastTemplate(image, IMAGE_SIZE);
    if (at >= 0) {
        std::memcpy(config.vendor.data(), image + at + 8, 8);
        std::memcpy(config.product.data(), image + at + 16, 16);
        std::memcpy(config.revision.data(), image + at + 32, 4);
    }
    ++flashCount;
    inLoader = false;
    CommandResult r;
    r.bytesOut = IMAGE_SIZE;
    return r;
}

int FindLastTemplate(const uint8_t* image, uint32_t size) {
    if (size < 36)
        return -1;
    for (int at = static_cast<int>(size) - 36; at >= 0; --at)
        if (std::memcmp(image + at, INQUIRY_TEMPLATE, sizeof INQUIRY_TEMPLATE) == 0)
            return at;
    return -1;
}

} // namespace simulator
