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
#include "command/StringEx.h"

#include <cstdint>

enum class ChannelUser : uint8_t { Host, Plugin };

struct DeviceEntry {
    uint8_t adapter; // 255 marks a serial-port entry
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
        kMinBuffer = 36,
        // How long a request the layer still owns is waited for before its
        // record, event or buffer is used again.
        kReleaseWait = 1000,
    };

    uint8_t adapterCount;
    uint8_t adapter;
    uint8_t target;
    // The record every command reuses; replaced only when the layer never
    // gives it back.
    aspi::SRB_ExecSCSICmd* request;
    uint8_t direction;
    uint32_t dataLength;
    uint8_t* buffer;
    uint8_t cdb[12];
    uint8_t cdbLength;
    uint8_t senseKey, asc, ascq;
    uint32_t timeout;
    int32_t timedOut; // plug-in only; the host's stays 0
    int32_t pollMode; // plug-in only; the host's stays 0
    DeviceEntry devices[kMaxDevices];
    uint8_t deviceCount;

    // Bytes allocated for `buffer`; a command never moves more.
    uint32_t bufferSize;
    const ChannelUser user;
    // Requests the layer never gave back, left to it with their buffers.
    uint32_t setAside;

    DeviceChannel(int32_t size, ChannelUser user);
    ~DeviceChannel();
    DeviceChannel(const DeviceChannel&) = delete;
    DeviceChannel& operator=(const DeviceChannel&) = delete;

    uint8_t GetAdapterCount() const { return adapterCount; }
    uint8_t GetAdapter() const { return adapter; }
    uint8_t GetTarget() const { return target; }
    void SetAdapter(uint8_t value) { adapter = value; }
    void SetTarget(uint8_t value) { target = value; }
    // An index of 8 or more leaves the selection as it is.
    void SelectEntry(uint8_t index);
    int8_t FindSelectedDevice() const;

    void ScanDevices();
    // model gets 24 characters, version 4; each is cut to the room it has.
    void ReadInquiryText(char* model, int modelSize, char* version, int versionSize) const;
    void ReadInquiryText(StringEx& model, StringEx& version) const;
    template <int M, int V> void ReadInquiryText(char (&model)[M], char (&version)[V]) const {
        ReadInquiryText(model, M, version, V);
    }

    void SetCommand(const uint8_t* block, uint8_t dir, uint32_t length);
    int32_t Execute();
    void ReadSense();
    int32_t ResetDevice();

  private:
    int WaitForCompletion(aspi::EventHandle event);
    int TakeBackRequest();
    void SetAsideRequest();
    void MarkTimedOut();

    // A polled command may stop on sense data before the layer stores the
    // status; its event stays open until the layer has given the request back.
    aspi::EventHandle lingeringEvent;
    // Lives in the heap, not in a stack frame: a layer that answers late
    // still writes into memory nobody else uses.
    aspi::SRB_BusDeviceReset* resetRequest;
};
