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

constexpr std::uint8_t kStateIdle = 2;
constexpr std::uint8_t kStateDownloadBusy = 4;
constexpr std::uint8_t kStateDownloadIdle = 5;
constexpr std::uint8_t kStateManifest = 7;

// The STM32F4 layout: four 16 KiB sectors, one of 64 KiB, then 128 KiB sectors.
std::uint32_t SectorSize(std::uint32_t address)
{
    if (address < kFlashBase + 0x10000)
        return 0x4000;
    if (address < kFlashBase + 0x20000)
        return 0x10000;
    return 0x20000;
}

std::uint32_t ReadLittleEndian32(const std::uint8_t* bytes)
{
    return static_cast<std::uint32_t>(bytes[0]) | (static_cast<std::uint32_t>(bytes[1]) << 8) |
           (static_cast<std::uint32_t>(bytes[2]) << 16) | (static_cast<std::uint32_t>(bytes[3]) << 24);
}

// String descriptors: languages, then the texts. A DfuSe tool reads the flash layout from the
// interface's name (index 4).
std::vector<std::uint8_t> StringDescriptor(std::uint8_t index)
{
    if (index == 0)
        return {0x04, 0x03, 0x09, 0x04};
    static const char* const kTexts[] = {"Halvard", "DFU in FS Mode", "0000ZT000001",
                                         "@Internal Flash  /0x08000000/04*016Kg,01*064Kg,03*128Kg"};
    if (index > std::size(kTexts))
        return {};
    const char* text = kTexts[index - 1];
    std::vector<std::uint8_t> descriptor{0, 0x03};
    for (const char* c = text; *c; ++c) {
        descriptor.push_back(static_cast<std::uint8_t>(*c));
        descriptor.push_back(0);
    }
    descriptor[0] = static_cast<std::uint8_t>(descriptor.size());
    return descriptor;
}

} // namespace

std::mutex CEmulatedDfuSeBootloader::mMutex;

CEmulatedDfuSeBootloader::CEmulatedDfuSeBootloader() : mFlash(kFlashSize, 0x00)
{
    mHandler = umockdev_ioctl_base_new();
    g_signal_connect(mHandler, "handle-ioctl", G_CALLBACK(OnHandleIoctl), this);
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

void CEmulatedDfuSeBootloader::LeaveBus()
{
    std::lock_guard lock(mMutex);
    mGone = true;
}

void CEmulatedDfuSeBootloader::SetFault(Fault fault, int afterRequests)
{
    std::lock_guard lock(mMutex);
    mFault = fault;
    mRequestsBeforeFault = afterRequests;
}

std::vector<std::uint8_t> CEmulatedDfuSeBootloader::ReadFlash(std::uint32_t address, std::size_t length) const
{
    std::lock_guard lock(mMutex);
    const std::size_t offset = address - kFlashBase;
    return std::vector<std::uint8_t>(mFlash.begin() + static_cast<std::ptrdiff_t>(offset),
                                     mFlash.begin() + static_cast<std::ptrdiff_t>(offset + length));
}

std::vector<std::uint32_t> CEmulatedDfuSeBootloader::GetErasedSectors() const
{
    std::lock_guard lock(mMutex);
    return mErased;
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

int CEmulatedDfuSeBootloader::OnHandleIoctl(UMockdevIoctlBase*, UMockdevIoctlClient* client, void* self)
{
    return static_cast<CEmulatedDfuSeBootloader*>(self)->HandleIoctl(client) ? TRUE : FALSE;
}

bool CEmulatedDfuSeBootloader::HandleIoctl(UMockdevIoctlClient* client)
{
    const unsigned long request = umockdev_ioctl_client_get_request(client);
    std::lock_guard lock(mMutex);
    if (mGone) {
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
        if (mFault == Fault::BusyOnClaim) {
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
        return SubmitUrb(client);
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

bool CEmulatedDfuSeBootloader::SubmitUrb(UMockdevIoctlClient* client)
{
    // Called with mMutex held.
    UMockdevIoctlData* urbData =
        umockdev_ioctl_data_resolve(umockdev_ioctl_client_get_arg(client), 0, sizeof(usbdevfs_urb), nullptr);
    auto* urb = reinterpret_cast<usbdevfs_urb*>(urbData->data);
    if (urb->type != USBDEVFS_URB_TYPE_CONTROL || urb->buffer_length < 8) {
        g_object_unref(urbData);
        umockdev_ioctl_client_complete(client, -1, EINVAL);
        return true;
    }
    // Faults of transfers wait for their turn; a busy interface is a claim's business.
    const Fault fault = mRequestsBeforeFault > 0 ? Fault::None : mFault;
    if (mRequestsBeforeFault > 0)
        --mRequestsBeforeFault;
    if (fault == Fault::GoneOnNextRequest) {
        mGone = true;
        g_object_unref(urbData);
        umockdev_ioctl_client_complete(client, -1, ENODEV);
        return true;
    }
    UMockdevIoctlData* buffer =
        umockdev_ioctl_data_resolve(urbData, G_STRUCT_OFFSET(usbdevfs_urb, buffer), static_cast<gsize>(urb->buffer_length), nullptr);
    PendingUrb pending;
    pending.urb = urbData;
    if (fault == Fault::NeverAnswer) {
        pending.completed = false;
    } else if (fault == Fault::StallNextRequest) {
        mFault = Fault::None;
        pending.status = -EPIPE;
        pending.completed = true;
    } else {
        pending.status = Execute(buffer->data, buffer->data + 8, pending.reply);
        if ((buffer->data[0] & 0x80) == 0)
            pending.sentLength = static_cast<std::size_t>(urb->buffer_length) - 8;
        pending.completed = true;
    }
    g_object_unref(buffer);
    mUrbs.push_back(std::move(pending));
    umockdev_ioctl_client_complete(client, 0, 0);
    return true;
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
    const std::size_t room = static_cast<std::size_t>(urb->buffer_length) - 8;
    const std::size_t length = std::min(room, pending.reply.size());
    if (length > 0)
        std::memcpy(static_cast<std::uint8_t*>(urb->buffer) + 8, pending.reply.data(), length);
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

int CEmulatedDfuSeBootloader::Execute(const std::uint8_t* setup, const std::uint8_t* dataOut,
                                      std::vector<std::uint8_t>& reply)
{
    // Called with mMutex held.
    const std::uint8_t requestType = setup[0];
    const std::uint8_t request = setup[1];
    const std::uint16_t value = static_cast<std::uint16_t>(setup[2] | (setup[3] << 8));
    const std::uint16_t length = static_cast<std::uint16_t>(setup[6] | (setup[7] << 8));

    if (requestType == 0x21 && request == 0x01) { // DNLOAD
        if (length == 0) {
            mLeaveRequested = true;
            mCommandPending = true;
            return 0;
        }
        if (value == 0) {
            ExecuteDfuSeCommand(dataOut, length);
        } else if (value >= 2) {
            const std::uint32_t address = mAddressPointer + static_cast<std::uint32_t>(value - 2) * kTransferSize;
            if (address < kFlashBase || address + length > kFlashBase + kFlashSize)
                return -EPIPE;
            std::memcpy(mFlash.data() + (address - kFlashBase), dataOut, length);
        }
        mCommandPending = true;
        return 0;
    }
    if (requestType == 0xA1 && request == 0x03) { // GETSTATUS
        if (mCommandPending) {
            mCommandPending = false;
            mState = mLeaveRequested ? kStateManifest : kStateDownloadBusy;
            mLeft = mLeaveRequested;
        } else if (mState == kStateDownloadBusy) {
            mState = kStateDownloadIdle;
        }
        reply = {0x00, 0x00, 0x00, 0x00, mState, 0x00};
        return 0;
    }
    if (requestType == 0x21 && (request == 0x04 || request == 0x06)) { // CLRSTATUS, ABORT
        mState = kStateIdle;
        mCommandPending = false;
        return 0;
    }
    if (requestType == 0xA1 && request == 0x05) { // GETSTATE
        reply = {mState};
        return 0;
    }
    if (requestType == 0x80 && request == 0x06 && (value >> 8) == 0x03) { // GET_DESCRIPTOR, string
        reply = StringDescriptor(static_cast<std::uint8_t>(value & 0xFF));
        if (reply.size() > length)
            reply.resize(length);
        return 0;
    }
    if (requestType == 0xA1 && request == 0x02 && value >= 2) { // UPLOAD
        const std::uint32_t address = mAddressPointer + static_cast<std::uint32_t>(value - 2) * kTransferSize;
        if (address < kFlashBase || address + length > kFlashBase + kFlashSize)
            return -EPIPE;
        reply.assign(mFlash.begin() + (address - kFlashBase), mFlash.begin() + (address - kFlashBase + length));
        mState = 9; // dfuUPLOAD-IDLE
        return 0;
    }
    return -EPIPE;
}

void CEmulatedDfuSeBootloader::ExecuteDfuSeCommand(const std::uint8_t* data, std::uint16_t length)
{
    if (length != 5)
        return;
    const std::uint32_t address = ReadLittleEndian32(data + 1);
    if (data[0] == 0x21) {
        mAddressPointer = address;
        return;
    }
    if (data[0] == 0x41 && address >= kFlashBase && address < kFlashBase + kFlashSize) {
        const std::uint32_t size = SectorSize(address);
        std::fill_n(mFlash.begin() + (address - kFlashBase), std::min(size, kFlashBase + kFlashSize - address),
                    std::uint8_t{0xFF});
        mErased.push_back(address);
    }
}

} // namespace UsbTest
