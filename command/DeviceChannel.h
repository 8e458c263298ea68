// The road to the drives: the host adapter count that ASPI reports, a table
// of the CD/DVD drives found, the selected drive, one pending command and one
// data buffer, and synchronous execution through ASPI with a time-out.
//
// One source, two copies. The plug-in's copy (the default) can poll instead
// of waiting on the event (Windows 95 and 98) and flags a time-out in
// `timedOut`; the host's copy, built with CORVANE_HOST_CHANNEL, always waits
// on the event and marks a time-out with `senseKey` 255.
#pragma once

#include "aspi/AspiPlatform.h"
#include "aspi/AspiRecords.h"
#include "command/StringEx.h"

#include <cstdint>

#ifndef CORVANE_HOST_CHANNEL
#define CORVANE_HOST_CHANNEL 0
#endif

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
    aspi::SRB_ExecSCSICmd request;
    uint8_t direction;
    uint32_t dataLength;
    uint8_t* buffer;
    uint8_t cdb[12];
    uint8_t cdbLength;
    uint8_t senseKey, asc, ascq;
    uint32_t timeout;
#if !CORVANE_HOST_CHANNEL
    int32_t timedOut;
    int32_t pollMode;
#endif
    DeviceEntry devices[kMaxDevices];
    uint8_t deviceCount;

    // Bytes allocated for `buffer`; a command never moves more.
    uint32_t bufferSize;

    explicit DeviceChannel(int32_t size);
    ~DeviceChannel();
    DeviceChannel(const DeviceChannel&) = delete;
    DeviceChannel& operator=(const DeviceChannel&) = delete;

    uint8_t GetAdapterCount() const {
        return adapterCount;
    }
    uint8_t GetAdapter() const {
        return adapter;
    }
    uint8_t GetTarget() const {
        return target;
    }
    void SetAdapter(uint8_t value) {
        adapter = value;
    }
    void SetTarget(uint8_t value) {
        target = value;
    }
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

    // The layer owns a request from sending until it stores a status. A
    // request it did not give back in time keeps its event here until it does.
    aspi::EventHandle lingeringEvent;
    aspi::SRB_BusDeviceReset resetRequest;

  private:
    int WaitForCompletion(aspi::EventHandle event);
    void EndTimedOutCommand();
    int ReleaseRequest();
    void HandOverEvent(aspi::EventHandle event);
};
