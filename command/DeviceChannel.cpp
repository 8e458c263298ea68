#include "command/DeviceChannel.h"

#include "aspi/AspiLayer.h"

#include <atomic>
#include <chrono>
#include <cstring>
#include <new>
#include <thread>

using namespace aspi;

namespace {

const uint8_t kInquiry[12] = {0x12, 0, 0, 0, kInquiryIdentityBytes, 0, 0, 0, 0, 0, 0, 0};

int IsPending(const uint8_t* status) {
    return LoadStatus(status) == SS_PENDING;
}

// 1 once the layer has stored a status in the record, waiting at most
// kReleaseWait on the tick count.
int AwaitRelease(const uint8_t* status) {
    uint32_t start = TickCount();
    while (IsPending(status)) {
        if (TickCount() - start >= static_cast<uint32_t>(DeviceChannel::kReleaseWait))
            return 0;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return 1;
}

// What the layer still holds of a request it never gave back. The list keeps
// every part reachable for as long as the process lives; nothing is freed.
struct HeldRequest {
    void* record;
    uint8_t* buffer;
    EventHandle event;
    HeldRequest* next;
};
std::atomic<HeldRequest*> heldRequests{nullptr};

void KeepForTheLayer(void* record, uint8_t* buffer, EventHandle event) {
    HeldRequest* entry = new (std::nothrow) HeldRequest{record, buffer, event, nullptr};
    if (!entry)
        return; // lost track of, but still never freed
    entry->next = heldRequests.load();
    while (!heldRequests.compare_exchange_weak(entry->next, entry)) {
    }
}

SRB_ExecSCSICmd* NewRequest() {
    SRB_ExecSCSICmd* record = new (std::nothrow) SRB_ExecSCSICmd();
    if (record)
        record->SRB_Status = SS_COMP; // not pending: the layer does not hold it
    return record;
}

SRB_BusDeviceReset* NewResetRequest() {
    SRB_BusDeviceReset* record = new (std::nothrow) SRB_BusDeviceReset();
    if (record)
        record->SRB_Status = SS_COMP;
    return record;
}

// A buffer of `bytes` bytes, all 0, or null.
uint8_t* NewBuffer(uint32_t bytes) {
    return bytes ? new (std::nothrow) uint8_t[bytes]() : nullptr;
}

void CopyIdentity(char* out, int size, const uint8_t* in, int count) {
    if (size < 1)
        return;
    int n = count < size - 1 ? count : size - 1;
    for (int i = 0; i < n; ++i)
        out[i] = in[i] ? static_cast<char>(in[i]) : ' ';
    out[n] = 0;
}

} // namespace

DeviceChannel::DeviceChannel(int32_t size, ChannelUser channelUser)
    : cdbLength(0), direction(SRB_DIR_IN), dataLength(0), timeout(kDefaultTimeout), buffer(nullptr),
      bytesReceived(0), senseKey(0), asc(0), ascq(0), timedOut(0), deviceCount(0),
      user(channelUser), pollMode(channelUser == ChannelUser::Plugin ? IsWindows95Or98() : 0),
      bufferSize(0), request(NewRequest()), setAside(0), adapterCount(0), adapter(0), target(0),
      lingeringEvent(nullptr), resetRequest(NewResetRequest()) {
    if (size > kMaxBuffer)
        size = kMaxBuffer;
    if (size < kMinBuffer)
        size = kMinBuffer;
    uint32_t bytes = static_cast<uint32_t>(size);
    if (user == ChannelUser::Plugin)
        bytes *= 2;
    buffer = NewBuffer(bytes);
    if (buffer)
        bufferSize = bytes;
    std::memset(cdb, 0, sizeof cdb);
    std::memset(devices, 0, sizeof devices);

    uint32_t info = GetASPI32SupportInfo();
    if (SupportStatus(info) == SS_COMP)
        adapterCount = SupportAdapterCount(info);
}

DeviceChannel::~DeviceChannel() {
    if (request && !AwaitRelease(&request->SRB_Status)) {
        KeepForTheLayer(request, buffer, lingeringEvent);
    } else {
        CloseCompletionEvent(lingeringEvent);
        delete request;
        delete[] buffer;
    }
    if (resetRequest && !AwaitRelease(&resetRequest->SRB_Status))
        KeepForTheLayer(resetRequest, nullptr, nullptr);
    else
        delete resetRequest;
}

void DeviceChannel::SelectEntry(uint8_t index) {
    if (index >= kMaxDevices)
        return;
    if (index >= deviceCount) {
        // Entry 0 of an empty table describes no drive: never 0:0, where a
        // system disk may sit.
        adapter = kNoAdapter;
        target = kNoTarget;
        return;
    }
    adapter = devices[index].adapter;
    target = devices[index].target;
}

int8_t DeviceChannel::FindSelectedDevice() const {
    for (int i = 0; i < deviceCount && i < kMaxDevices; ++i)
        if (devices[i].adapter == adapter && devices[i].target == target)
            return static_cast<int8_t>(i);
    return -1;
}

DeviceChannel::Found DeviceChannel::InquireAt(uint8_t adapterNumber, uint8_t targetNumber,
                                              DeviceEntry& entry) {
    SetAdapter(adapterNumber);
    SetTarget(targetNumber);
    SetCommand(kInquiry, SRB_DIR_IN, kInquiryIdentityBytes);
    if (Execute() != 1)
        return Found::Nothing;
    if (!HasIdentity())
        return Found::NoIdentity;
    if (buffer[0] != kCdRomDeviceType)
        return Found::OtherDevice;
    ReadInquiryText(entry.model, entry.version);
    entry.adapter = adapterNumber;
    entry.target = targetNumber;
    return Found::CdDrive;
}

void DeviceChannel::ScanDevices() {
    deviceCount = 0;
    for (int a = 0; a < adapterCount; ++a) {
        for (int t = 0; t < kTargetsPerAdapter; ++t) {
            DeviceEntry entry = {};
            if (InquireAt(static_cast<uint8_t>(a), static_cast<uint8_t>(t), entry) ==
                    Found::CdDrive &&
                deviceCount < kMaxDevices)
                devices[deviceCount++] = entry;
        }
    }
    SelectEntry(0);
}

void DeviceChannel::ReadInquiryText(char* model, int modelSize, char* version,
                                    int versionSize) const {
    static const uint8_t kNoIdentity[kInquiryIdentityBytes] = {};
    const uint8_t* data = HasIdentity() ? buffer : kNoIdentity;
    CopyIdentity(model, modelSize, data + 8, 24);
    CopyIdentity(version, versionSize, data + 32, 4);
}

void DeviceChannel::ReadInquiryText(StringEx& model, StringEx& version) const {
    ReadInquiryText(model.data, model.capacity, version.data, version.capacity);
}

void DeviceChannel::SetCommand(const uint8_t* block, uint8_t dir, uint32_t length) {
    std::memmove(cdb, block, sizeof cdb);
    cdbLength = sizeof cdb;
    direction = dir;
    dataLength = length;
}

int32_t DeviceChannel::Execute() {
    if (adapter >= adapterCount)
        return 0;
    if (!TakeBackRequest())
        return 0;
    // The layer would write past the buffer.
    if (dataLength > bufferSize)
        return 0;
    EventHandle event = CreateCompletionEvent();
    if (!event)
        return 0;

    FillRequest(event);
    SRB_ExecSCSICmd& srb = *request;
    SetRequestTimeout(&srb, timeout);
    SendASPI32Command(&srb);

    senseKey = 0;
    timedOut = 0;
    if (!WaitForCompletion(event))
        return FinishTimedOut(event);
    if (IsPending(&srb.SRB_Status))
        lingeringEvent = event; // stopped on sense data before the status
    else
        CloseCompletionEvent(event);
    TakeResidual();
    ReadSense();
    return LoadStatus(&srb.SRB_Status) == SS_COMP && srb.SenseArea[0] == 0;
}

void DeviceChannel::FillRequest(EventHandle event) {
    SRB_ExecSCSICmd& srb = *request;
    std::memset(&srb, 0, sizeof srb);
    srb.SRB_Cmd = SC_EXEC_SCSI_CMD;
    srb.SRB_HaId = adapter;
    // The residual count tells a short answer from a whole one.
    srb.SRB_Flags = direction | SRB_ENABLE_RESIDUAL_COUNT;
    if (!pollMode)
        srb.SRB_Flags |= SRB_EVENT_NOTIFY;
    srb.SRB_Target = target;
    srb.SRB_Lun = 0;
    srb.SRB_BufLen = dataLength;
    srb.SRB_BufPointer = buffer;
    srb.SRB_SenseLen = SENSE_LEN;
    srb.SRB_CDBLen = cdbLength;
    srb.SRB_PostProc = event;
    std::memcpy(srb.CDBByte, cdb, cdbLength < sizeof cdb ? cdbLength : sizeof cdb);
    // A layer that moves fewer bytes than asked leaves zeros, never what an
    // earlier command received. Data out is the caller's and stays.
    if (buffer && (direction & SRB_DIR_IN))
        std::memset(buffer, 0, dataLength);
    bytesReceived = 0;
}

int32_t DeviceChannel::FinishTimedOut(EventHandle event) {
    // The reset makes the layer give the request back, and it must have
    // done so before the record, the event or the buffer serve again: a
    // late completion would land in the next command.
    ResetDevice();
    lingeringEvent = event;
    if (AwaitRelease(&request->SRB_Status))
        TakeBackRequest();
    else
        SetAsideRequest();
    MarkTimedOut();
    return 0;
}

// The layer wrote the residual count over the data length. One that ignores
// the flag leaves the length as it was, which reads as everything received;
// so does an answer of no bytes at all, harmless because the buffer was
// cleared. A count above the length is no count: nothing is trusted.
void DeviceChannel::TakeResidual() {
    if (!(direction & SRB_DIR_IN))
        return;
    // A polled command that stopped on sense data before the status: the
    // layer may still be writing the count, and the command failed anyway.
    if (IsPending(&request->SRB_Status)) {
        bytesReceived = 0;
        return;
    }
    const uint32_t left = request->SRB_BufLen;
    if (left == dataLength)
        bytesReceived = dataLength;
    else
        bytesReceived = left < dataLength ? dataLength - left : 0;
}

void DeviceChannel::MarkTimedOut() {
    if (user == ChannelUser::Host)
        senseKey = 255;
    else
        timedOut = 1;
}

int DeviceChannel::WaitForCompletion(EventHandle event) {
    const uint8_t* status = &request->SRB_Status;
    uint32_t start = TickCount();
    if (pollMode) {
        // Elapsed time, not a deadline: the tick count wraps every 49.7 days.
        for (;;) {
            if (!IsPending(status))
                return 1;
            if (__atomic_load_n(&request->SenseArea[0], __ATOMIC_ACQUIRE) != 0)
                return 1;
            if (TickCount() - start > timeout)
                return 0;
        }
    }
    int completed = 1;
    // A wake-up with the status still pending is a late signal meant for an
    // earlier command whose event handle was reused: keep waiting.
    while (IsPending(status)) {
        uint32_t elapsed = TickCount() - start;
        if (elapsed >= timeout || !WaitCompletionEvent(event, timeout - elapsed)) {
            completed = !IsPending(status);
            break;
        }
    }
    ResetCompletionEvent(event);
    return completed;
}

// 1 when the channel has a request record and buffer the layer does not hold.
int DeviceChannel::TakeBackRequest() {
    if (request && !AwaitRelease(&request->SRB_Status))
        SetAsideRequest();
    if (!request)
        request = NewRequest(); // an allocation that failed before may succeed now
    if (lingeringEvent) {
        CloseCompletionEvent(lingeringEvent);
        lingeringEvent = nullptr;
    }
    return request != nullptr;
}

void DeviceChannel::SetAsideRequest() {
    KeepForTheLayer(request, buffer, lingeringEvent);
    lingeringEvent = nullptr;
    ++setAside;
    request = NewRequest();
    uint32_t bytes = bufferSize;
    buffer = NewBuffer(bytes);
    bufferSize = buffer ? bytes : 0;
    bytesReceived = 0;
}

void DeviceChannel::ReadSense() {
    if (!request)
        return;
    senseKey = request->SenseArea[2] & 0x0F;
    asc = request->SenseArea[12];
    ascq = request->SenseArea[13];
}

int32_t DeviceChannel::ResetDevice() {
    if (resetRequest && IsPending(&resetRequest->SRB_Status)) {
        // The reset before was never answered: the layer keeps that record.
        KeepForTheLayer(resetRequest, nullptr, nullptr);
        resetRequest = NewResetRequest();
    }
    if (!resetRequest)
        return 0;
    SRB_BusDeviceReset& srb = *resetRequest;
    std::memset(&srb, 0, sizeof srb);
    srb.SRB_Cmd = SC_RESET_DEV;
    srb.SRB_HaId = adapter;
    srb.SRB_Flags = 0;
    srb.SRB_Hdr_Rsvd = 0;
    srb.SRB_Target = target;
    srb.SRB_Lun = 0;
    uint32_t result = SendASPI32Command(&srb);
    AwaitRelease(&srb.SRB_Status);
    return result == SS_COMP ? 1 : 0;
}
