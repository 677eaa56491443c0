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
    : mDevice(ZT::MakeRC<LSimulatedDevice>(ZT::MakeRC<LSimulatedBus>(0.0, &mClock), SimulatedDeviceKind::Controller,
                                           std::nullopt))
{
    // Erases and writes take no time: a client polls in real time, which moves no virtual clock.
    mDevice->SetTimings({.erase16KiBMs = 0, .erase64KiBMs = 0, .erase128KiBMs = 0, .blockWriteMs = 0});
    static_cast<void>(mDevice->OpenUsb(mDevice->GetUsbInfo()->path, mAppearance));
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
    mDevice->SetFaults(faults);
}

void CEmulatedDfuSeBootloader::SetInterfaceBusy(bool busy)
{
    std::lock_guard lock(mMutex);
    mInterfaceBusy = busy;
}

bool CEmulatedDfuSeBootloader::ProgramFlash(std::uint32_t address, std::span<const std::uint8_t> bytes)
{
    return mDevice->ProgramFlash(address, bytes);
}

std::vector<std::uint8_t> CEmulatedDfuSeBootloader::ReadFlash(std::uint32_t address, std::size_t length) const
{
    return mDevice->ReadFlash(address, length).value_or(std::vector<std::uint8_t>{});
}

bool CEmulatedDfuSeBootloader::HasLeft() const
{
    return mDevice->GetMode() == SimulatedDeviceMode::Restarting;
}

int CEmulatedDfuSeBootloader::GetClaimCount() const
{
    std::lock_guard lock(mMutex);
    return mClaims;
}

std::vector<SimulatedUsbRequest> CEmulatedDfuSeBootloader::GetRequestLog() const
{
    return mDevice->GetRequestLog();
}

std::optional<ZT::DfuState> CEmulatedDfuSeBootloader::GetDfuState() const
{
    return mDevice->GetDfuState();
}

void CEmulatedDfuSeBootloader::HoldFrom(HoldAt kind, std::uint32_t count)
{
    std::lock_guard lock(mMutex);
    mHoldKind = kind;
    mHoldCount = count;
    mHoldSeen = 0;
    mHolding = false;
}

bool CEmulatedDfuSeBootloader::WaitUntilHolding(std::chrono::milliseconds timeout)
{
    std::unique_lock lock(mMutex);
    return mHoldReached.wait_for(lock, timeout, [this] { return mHolding; });
}

void CEmulatedDfuSeBootloader::ReleaseHold()
{
    std::lock_guard lock(mMutex);
    mHoldKind.reset();
    mHolding = false;
}

bool CEmulatedDfuSeBootloader::HoldsRequest(const std::uint8_t* setup, const std::uint8_t* data, std::uint16_t length)
{
    // Called with mMutex held.
    if (mHolding)
        return true;
    if (!mHoldKind || setup[0] != ZT::kDfuRequestTypeOut ||
        setup[1] != static_cast<std::uint8_t>(ZT::DfuRequest::Dnload))
        return false;
    const std::uint16_t value = static_cast<std::uint16_t>(setup[2] | (setup[3] << 8));
    const bool matches = *mHoldKind == HoldAt::EraseCommand
                             ? value == 0 && length == 5 && data[0] == ZT::kDfuSeCommandErase
                             : value >= 2;
    if (!matches || ++mHoldSeen < mHoldCount)
        return false;
    mHolding = true;
    mHoldReached.notify_all();
    return true;
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
    const std::uint8_t* setup = buffer->data;
    std::uint8_t* data = buffer->data + kSetupLength; // the data stage, answered in place
    const auto length = static_cast<std::uint16_t>(urb->buffer_length - static_cast<int>(kSetupLength));
    if (HoldsRequest(setup, data, length)) {
        // Taken, never answered: the URB is forgotten, so that no later client's URB at the same
        // address can be taken for it.
        g_object_unref(buffer);
        g_object_unref(urbData);
        umockdev_ioctl_client_complete(client, 0, 0);
        return;
    }
    ZT::UsbError error = ZT::UsbError::None;
    std::uint16_t transferred = 0;
    if (setup[0] == 0x80 && setup[1] == 0x06 && setup[3] == 0x03) {
        // GET_DESCRIPTOR of a string: the USB device's business, not the DFU interface's.
        const std::vector<std::uint8_t> descriptor = StringDescriptor(setup[2]);
        transferred = static_cast<std::uint16_t>(std::min<std::size_t>(descriptor.size(), length));
        std::copy_n(descriptor.begin(), transferred, data);
    } else {
        static_cast<void>(mDevice->ControlTransfer(mAppearance, setup[0], setup[1],
                                                   static_cast<std::uint16_t>(setup[2] | (setup[3] << 8)),
                                                   static_cast<std::uint16_t>(setup[4] | (setup[5] << 8)), data,
                                                   length, error, transferred));
    }
    g_object_unref(buffer);
    if (error == ZT::UsbError::NoDevice) { // the unplug fault
        mGone = true;
        g_object_unref(urbData);
        umockdev_ioctl_client_complete(client, -1, ENODEV);
        return;
    }
    // An unanswered request stays in flight until the host discards it.
    mUrbs.push_back({.urb = urbData, .status = error == ZT::UsbError::None ? 0 : -EPIPE,
                     .actualLength = transferred, .completed = error != ZT::UsbError::Timeout});
    if (error == ZT::UsbError::None && !mDevice->GetUsbInfo())
        mGone = true; // the answer completed the leave: the device resets
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
    urb->status = pending.status;
    urb->actual_length = pending.actualLength;
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

} // namespace UsbTest
