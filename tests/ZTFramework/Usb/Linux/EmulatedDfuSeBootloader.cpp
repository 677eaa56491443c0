#include "EmulatedDfuSeBootloader.h"

#include <umockdev.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <iterator>
#include <linux/ioctl.h>
#include <linux/usbdevice_fs.h>

namespace UsbTest {

namespace {

constexpr std::size_t kSetupLength = 8;

// String descriptors: languages, then the texts. A DfuSe tool reads the flash layout from the
// interface's name (index 4); it is the layout of LSimulatedFlash.
std::vector<std::uint8_t> StringDescriptor(std::uint8_t index)
{
    if (index == 0)
        return {0x04, 0x03, 0x09, 0x04};
    static const char* const kTexts[] = {"Halvard", "DFU in FS Mode", "0000ZT000001",
                                         "@Internal Flash  /0x08000000/04*016Kg,01*064Kg,07*128Kg"};
    if (index > std::size(kTexts))
        return {};
    std::vector<std::uint8_t> descriptor{0, 0x03};
    for (const char* c = kTexts[index - 1]; *c; ++c) {
        descriptor.push_back(static_cast<std::uint8_t>(*c));
        descriptor.push_back(0);
    }
    descriptor[0] = static_cast<std::uint8_t>(descriptor.size());
    return descriptor;
}

} // namespace

std::mutex CEmulatedDfuSeBootloader::mMutex;

CEmulatedDfuSeBootloader::CEmulatedDfuSeBootloader()
    : mBus(ZT::MakeRC<LSimulatedBus>()),
      mBootloader(mFlash, mFaults, mTimings, *mBus)
{
    mHandler = umockdev_ioctl_base_new();
    const auto onIoctl = +[](UMockdevIoctlBase*, UMockdevIoctlClient* client, void* self) -> int {
        return static_cast<CEmulatedDfuSeBootloader*>(self)->HandleIoctl(client) ? TRUE : FALSE;
    };
    g_signal_connect(mHandler, "handle-ioctl", G_CALLBACK(onIoctl), this);
}

CEmulatedDfuSeBootloader::~CEmulatedDfuSeBootloader()
{
    // The worker's last changes reach this thread through mMutex (see Attach).
    std::lock_guard lock(mMutex);
    for (PendingUrb& pending : mUrbs)
        g_object_unref(pending.urb);
    g_object_unref(mHandler);
}

bool CEmulatedDfuSeBootloader::Attach(UMockdevTestbed* testbed, const std::string& devnode)
{
    // umockdev hands the handler to its worker thread through GLib, which ThreadSanitizer cannot
    // see; passing through mMutex publishes everything built so far to that thread.
    {
        std::lock_guard lock(mMutex);
    }
    return umockdev_testbed_attach_ioctl(testbed, devnode.c_str(), mHandler, nullptr) != FALSE;
}

void CEmulatedDfuSeBootloader::Detach(UMockdevTestbed* testbed, const std::string& devnode)
{
    static_cast<void>(umockdev_testbed_detach_ioctl(testbed, devnode.c_str(), nullptr));
}

void CEmulatedDfuSeBootloader::SetFaults(const SimulatedDeviceFaults& faults)
{
    std::lock_guard lock(mMutex);
    mFaults = faults;
}

void CEmulatedDfuSeBootloader::SetInterfaceBusy(bool busy)
{
    std::lock_guard lock(mMutex);
    mInterfaceBusy = busy;
}

bool CEmulatedDfuSeBootloader::ProgramFlash(std::uint32_t address, std::span<const std::uint8_t> bytes)
{
    std::lock_guard lock(mMutex);
    return mFlash.FactoryProgram(address, bytes);
}

std::vector<std::uint8_t> CEmulatedDfuSeBootloader::ReadFlash(std::uint32_t address, std::size_t length) const
{
    std::lock_guard lock(mMutex);
    return mFlash.Read(address, length).value_or(std::vector<std::uint8_t>{});
}

bool CEmulatedDfuSeBootloader::HasLeft() const
{
    std::lock_guard lock(mMutex);
    return mLeft;
}

int CEmulatedDfuSeBootloader::GetClaimCount() const
{
    std::lock_guard lock(mMutex);
    return mClaims;
}

bool CEmulatedDfuSeBootloader::HandleIoctl(UMockdevIoctlClient* client)
{
    const unsigned long request = umockdev_ioctl_client_get_request(client);
    std::lock_guard lock(mMutex);
    if (mGone) {
        // What was answered before the device went can still be reaped, as with the kernel.
        const bool reaping = request == USBDEVFS_REAPURB || request == USBDEVFS_REAPURBNDELAY;
        if (reaping && std::any_of(mUrbs.begin(), mUrbs.end(), [](const PendingUrb& p) { return p.completed; }))
            ReapUrb(client);
        else
            umockdev_ioctl_client_complete(client, -1, ENODEV);
        return true;
    }
    switch (request) {
    case USBDEVFS_GET_CAPABILITIES: {
        UMockdevIoctlData* data = umockdev_ioctl_data_resolve(umockdev_ioctl_client_get_arg(client), 0,
                                                              sizeof(std::uint32_t), nullptr);
        const std::uint32_t capabilities = USBDEVFS_CAP_NO_PACKET_SIZE_LIM | USBDEVFS_CAP_REAP_AFTER_DISCONNECT;
        std::memcpy(data->data, &capabilities, sizeof capabilities);
        g_object_unref(data);
        umockdev_ioctl_client_complete(client, 0, 0);
        return true;
    }
    case USBDEVFS_GETDRIVER:
    case USBDEVFS_IOCTL: // the disconnect request that detaches a kernel driver
        // No kernel driver is bound to the bootloader's interface.
        umockdev_ioctl_client_complete(client, -1, ENODATA);
        return true;
    case USBDEVFS_CLAIMINTERFACE:
        if (mInterfaceBusy) {
            umockdev_ioctl_client_complete(client, -1, EBUSY);
            return true;
        }
        ++mClaims;
        umockdev_ioctl_client_complete(client, 0, 0);
        return true;
    case USBDEVFS_RELEASEINTERFACE:
    case USBDEVFS_SETINTERFACE:
    case USBDEVFS_CLEAR_HALT:
    case USBDEVFS_RESET:
    case USBDEVFS_RESETEP:
        umockdev_ioctl_client_complete(client, 0, 0);
        return true;
    case USBDEVFS_SUBMITURB:
        SubmitUrb(client);
        return true;
    case USBDEVFS_REAPURB:
    case USBDEVFS_REAPURBNDELAY:
        ReapUrb(client);
        return true;
    case USBDEVFS_DISCARDURB:
        DiscardUrb(client);
        return true;
    default:
        return false;
    }
}

void CEmulatedDfuSeBootloader::SubmitUrb(UMockdevIoctlClient* client)
{
    // Called with mMutex held.
    UMockdevIoctlData* urbData =
        umockdev_ioctl_data_resolve(umockdev_ioctl_client_get_arg(client), 0, sizeof(usbdevfs_urb), nullptr);
    auto* urb = reinterpret_cast<usbdevfs_urb*>(urbData->data);
    if (urb->type != USBDEVFS_URB_TYPE_CONTROL || urb->buffer_length < static_cast<int>(kSetupLength)) {
        g_object_unref(urbData);
        umockdev_ioctl_client_complete(client, -1, EINVAL);
        return;
    }
    UMockdevIoctlData* buffer =
        umockdev_ioctl_data_resolve(urbData, G_STRUCT_OFFSET(usbdevfs_urb, buffer), static_cast<gsize>(urb->buffer_length), nullptr);
    const DfuSeReply reply = Execute(buffer->data, buffer->data + kSetupLength);
    const bool hostToDevice = (buffer->data[0] & 0x80) == 0;
    g_object_unref(buffer);
    if (reply.outcome == DfuSeReply::Outcome::Unplug) {
        mGone = true;
        g_object_unref(urbData);
        umockdev_ioctl_client_complete(client, -1, ENODEV);
        return;
    }
    PendingUrb pending;
    pending.urb = urbData;
    switch (reply.outcome) {
    case DfuSeReply::Outcome::Answered:
        pending.reply = reply.dataIn;
        if (hostToDevice)
            pending.sentLength = static_cast<std::size_t>(urb->buffer_length) - kSetupLength;
        pending.completed = true;
        break;
    case DfuSeReply::Outcome::Stalled:
        pending.status = -EPIPE;
        pending.completed = true;
        break;
    case DfuSeReply::Outcome::NoAnswer: // stays in flight until the host discards it
    case DfuSeReply::Outcome::HoldUntil: // Execute has already let the clock pass the hold
    case DfuSeReply::Outcome::Unplug:
        break;
    }
    if (reply.resetAfterReply)
        mGone = mLeft = true;
    mUrbs.push_back(std::move(pending));
    umockdev_ioctl_client_complete(client, 0, 0);
}

void CEmulatedDfuSeBootloader::ReapUrb(UMockdevIoctlClient* client)
{
    // Called with mMutex held.
    const auto ready = std::find_if(mUrbs.begin(), mUrbs.end(), [](const PendingUrb& p) { return p.completed; });
    if (ready == mUrbs.end()) {
        umockdev_ioctl_client_complete(client, -1, EAGAIN);
        return;
    }
    PendingUrb pending = std::move(*ready);
    mUrbs.erase(ready);
    auto* urb = reinterpret_cast<usbdevfs_urb*>(pending.urb->data);
    const std::size_t room = static_cast<std::size_t>(urb->buffer_length) - kSetupLength;
    const std::size_t length = std::min(room, pending.reply.size());
    if (length > 0)
        std::memcpy(static_cast<std::uint8_t*>(urb->buffer) + kSetupLength, pending.reply.data(), length);
    urb->status = pending.status;
    urb->actual_length = pending.status == 0 ? static_cast<int>(length + pending.sentLength) : 0;
    UMockdevIoctlData* pointer =
        umockdev_ioctl_data_resolve(umockdev_ioctl_client_get_arg(client), 0, sizeof(void*), nullptr);
    umockdev_ioctl_data_set_ptr(pointer, 0, pending.urb);
    umockdev_ioctl_client_complete(client, 0, 0);
    g_object_unref(pointer);
    g_object_unref(pending.urb);
}

void CEmulatedDfuSeBootloader::DiscardUrb(UMockdevIoctlClient* client)
{
    // Called with mMutex held. The argument is the client's address of the URB to cancel.
    UMockdevIoctlData* arg = umockdev_ioctl_client_get_arg(client);
    gulong address = 0;
    std::memcpy(&address, arg->data, sizeof address);
    const auto flying = std::find_if(mUrbs.begin(), mUrbs.end(),
                                     [&](const PendingUrb& p) { return !p.completed && p.urb->client_addr == address; });
    if (flying == mUrbs.end()) {
        umockdev_ioctl_client_complete(client, -1, EINVAL);
        return;
    }
    flying->completed = true;
    flying->status = -ENOENT;
    umockdev_ioctl_client_complete(client, 0, 0);
}

DfuSeReply CEmulatedDfuSeBootloader::Execute(const std::uint8_t* setup, const std::uint8_t* dataOut)
{
    // Called with mMutex held.
    DfuSeRequest request;
    request.requestType = setup[0];
    request.request = setup[1];
    request.value = static_cast<std::uint16_t>(setup[2] | (setup[3] << 8));
    request.index = static_cast<std::uint16_t>(setup[4] | (setup[5] << 8));
    request.length = static_cast<std::uint16_t>(setup[6] | (setup[7] << 8));
    if (request.requestType == 0x80 && request.request == 0x06 && (request.value >> 8) == 0x03) {
        // GET_DESCRIPTOR of a string: the USB device's business, not the DFU interface's.
        DfuSeReply reply;
        reply.dataIn = StringDescriptor(static_cast<std::uint8_t>(request.value & 0xFF));
        reply.dataIn.resize(std::min<std::size_t>(reply.dataIn.size(), request.length));
        return reply;
    }
    if ((request.requestType & 0x80) == 0)
        request.dataOut = std::span<const std::uint8_t>(dataOut, request.length);
    DfuSeReply reply = mBootloader.Handle(request, mNowMs);
    while (reply.outcome == DfuSeReply::Outcome::HoldUntil) {
        mNowMs = reply.holdUntilMs;
        reply = mBootloader.Handle(request, mNowMs);
    }
    return reply;
}

} // namespace UsbTest
