// The road to the drives: the host adapter count that ASPI reports, a table
// of the CD/DVD drives found, the selected drive, one pending command and one
// data buffer, and synchronous execution through ASPI with a time-out.
//
// The host and the plug-in differ in three points, chosen at construction:
// the host always waits on the event, marks a time-out with `senseKey` 255
// and gets exactly the clamped buffer size; the plug-in polls on Windows 95
// and 98, flags a time-out in `timedOut` and gets twice the clamped size.
//
// A request the layer holds belongs to the layer: its record, event and data
// buffer are not touched until it stores a status. One it never gives back
// within kReleaseWait is set aside for good (never reused, never freed) and
// the channel goes on with a fresh record and buffer, so one hung drive
// cannot stop the others. The longest an Execute takes is therefore
//   timeout + 3 * kReleaseWait
// (waiting for a request a polled command left behind, the reset's answer,
// and the timed-out request given back), plus scheduling delays.
#pragma once

#include "aspi/AspiPlatform.h"
#include "aspi/AspiRecords.h"
#include "aspi/DeviceAddress.h"
#include "aspi/DeviceNumbering.h"
#include "command/StringEx.h"

#include <cstdint>

enum class ChannelUser : uint8_t { Host, Plugin };

// Peripheral device type of a CD/DVD device, the low five bits of INQUIRY
// byte 0; a scan lists a device only when the whole byte is this value
// (qualifier 0: the device is connected).
constexpr uint8_t kCdRomDeviceType = 5;
// Bytes of an INQUIRY answer up to the end of the product revision: a shorter
// answer carries no identity.
constexpr uint32_t kInquiryIdentityBytes = 36;

struct DeviceEntry {
    uint8_t adapter; // DeviceChannel::kNoAdapter marks a serial-port entry
    uint8_t target;
    char model[40];  // vendor (8) and product (16), NUL bytes shown as spaces
    char version[8]; // product revision (4)
};

class DeviceChannel {
  public:
    enum : int {
        kMaxBuffer = 0x10004,
        kMaxDevices = 8,
        kDefaultTimeout = 7200,
        // Every buffer holds an INQUIRY identity, whatever size was asked for.
        kMinBuffer = static_cast<int>(kInquiryIdentityBytes),
        // How long a request the layer still owns is waited for before its
        // record, event or buffer is used again.
        kReleaseWait = 1000,
    };
    // Never a host adapter number (the adapter count is a byte, so the last
    // adapter is at most 254): serial-port entries carry it, and the
    // selection holds it, with kNoTarget, when there is no drive.
    static constexpr uint8_t kNoAdapter = aspi::kAdapterLimit;
    static constexpr uint8_t kNoTarget = 255;

    // The pending command: written by the command compiler (or SetCommand),
    // sent by Execute, kept until it is replaced.
    uint8_t cdb[12];
    uint8_t cdbLength;
    uint8_t direction;
    uint32_t dataLength;
    uint32_t timeout;

    // What the last command left, for the caller to read: data in lands in
    // `buffer` (cleared first, so bytes the drive did not send read 0),
    // `bytesReceived` of them arrived; the sense fields come from its sense
    // data, and a time-out shows in `timedOut` (plug-in) or `senseKey` 255
    // (host).
    uint8_t* buffer;
    uint32_t bytesReceived;
    uint8_t senseKey, asc, ascq;
    int32_t timedOut; // plug-in only; the host's stays 0

    // Filled by ScanDevices; the host appends its serial-port entries.
    DeviceEntry devices[kMaxDevices];
    uint8_t deviceCount;

    // The channel's own; callers and tests only read them.
    const ChannelUser user;
    const int32_t pollMode; // plug-in on Windows 95 and 98 only
    // Bytes allocated for `buffer`; a command never moves more.
    uint32_t bufferSize;
    // The record every command reuses; replaced only when the layer never
    // gives it back. May be null after a failed allocation: Execute then
    // tries to make a new one and fails when it cannot.
    aspi::SRB_ExecSCSICmd* request;
    // Requests the layer never gave back, left to it with their buffers.
    uint32_t setAside;

    DeviceChannel(int32_t size, ChannelUser user);
    ~DeviceChannel();
    DeviceChannel(const DeviceChannel&) = delete;
    DeviceChannel& operator=(const DeviceChannel&) = delete;

    uint8_t GetAdapterCount() const { return adapterCount; }
    // The selection; stored without any check.
    uint8_t GetAdapter() const { return adapter; }
    uint8_t GetTarget() const { return target; }
    void SetAdapter(uint8_t value) { adapter = value; }
    void SetTarget(uint8_t value) { target = value; }
    // An index of 8 or more leaves the selection as it is; an index past the
    // table's end leaves no selection (kNoAdapter, kNoTarget).
    void SelectEntry(uint8_t index);
    int8_t FindSelectedDevice() const;

    // What answers INQUIRY at one address. A short answer, even one of 0
    // bytes with good status, carries no identity: no drive to list or flash.
    enum class Found { Nothing, NoIdentity, OtherDevice, CdDrive };
    // Selects the address and asks it; `entry` is filled for a CD/DVD drive.
    Found InquireAt(uint8_t adapterNumber, uint8_t targetNumber, DeviceEntry& entry);
    void ScanDevices();
    // The last command brought a whole INQUIRY identity: kInquiryIdentityBytes
    // arrived, and the answer's additional length (byte 4) says as much. An
    // answer of no bytes reads as a whole one of zeros by the residual count
    // alone (see TakeResidual); its additional length of 0 gives it away.
    int32_t HasIdentity() const {
        return buffer && bytesReceived >= kInquiryIdentityBytes &&
               buffer[4] + 5u >= kInquiryIdentityBytes;
    }
    // model gets 24 characters, version 4; each is cut to the room it has.
    // Spaces only when the last command received no whole identity.
    void ReadInquiryText(char* model, int modelSize, char* version, int versionSize) const;
    void ReadInquiryText(StringEx& model, StringEx& version) const;
    template <int M, int V> void ReadInquiryText(char (&model)[M], char (&version)[V]) const {
        ReadInquiryText(model, M, version, V);
    }

    void SetCommand(const uint8_t* block, uint8_t dir, uint32_t length);
    int32_t Execute();
    // Keeps the sense fields when there is no request record to read.
    void ReadSense();
    int32_t ResetDevice();

  private:
    void FillRequest(aspi::EventHandle event);
    int WaitForCompletion(aspi::EventHandle event);
    int32_t FinishTimedOut(aspi::EventHandle event);
    void TakeResidual();
    int TakeBackRequest();
    void SetAsideRequest();
    void MarkTimedOut();

    uint8_t adapterCount; // reported by ASPI at construction
    uint8_t adapter;
    uint8_t target;
    // A polled command may stop on sense data before the layer stores the
    // status; its event stays open until the layer has given the request back.
    aspi::EventHandle lingeringEvent;
    // Lives in the heap, not in a stack frame: a layer that answers late
    // still writes into memory nobody else uses.
    aspi::SRB_BusDeviceReset* resetRequest;
};
