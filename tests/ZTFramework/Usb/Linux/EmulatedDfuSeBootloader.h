#pragma once
// A simulated device in its DfuSe bootloader (0483:DF11) behind a device node that the real libusb
// opens through umockdev's preload library: this class answers the node's usbfs ioctls, turns
// control URBs into the device's control transfers and serves the string descriptors a DfuSe tool
// reads the flash layout from. Erases and writes take no time, so no client waits; a request the
// device does not answer stays in flight until the client's time-out discards it.
// After the answer that completes the leave, or from the unplug fault on, the device is gone:
// every request fails with ENODEV. A hold point stops the device from answering at a chosen
// download request, so that a test can kill the client that waits for that answer.
//
// Threads: umockdev calls HandleIoctl on its own worker thread; the test thread reads the flash
// and sets faults on the device, which guards itself. mMutex guards the members below mHandler.

#include "Simulator/SimulatedDevice.h"
#include "ZTFramework/ObjectBase/RCPtr.h"
#include "ZTFramework/Time/VirtualClock.h"

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <vector>

typedef struct _UMockdevTestbed UMockdevTestbed;
typedef struct _UMockdevIoctlBase UMockdevIoctlBase;
typedef struct _UMockdevIoctlClient UMockdevIoctlClient;
typedef struct _UMockdevIoctlData UMockdevIoctlData;

namespace UsbTest {

class CEmulatedDfuSeBootloader {
public:
    CEmulatedDfuSeBootloader();
    ~CEmulatedDfuSeBootloader();
    CEmulatedDfuSeBootloader(const CEmulatedDfuSeBootloader&) = delete;
    CEmulatedDfuSeBootloader& operator=(const CEmulatedDfuSeBootloader&) = delete;

    // Attaches to devnode ("/dev/bus/usb/001/005") in testbed; call before the node is added.
    bool Attach(UMockdevTestbed* testbed, const std::string& devnode);
    void Detach(UMockdevTestbed* testbed, const std::string& devnode);

    void SetFaults(const SimulatedDeviceFaults& faults);
    // While busy, claiming interface 0 fails with EBUSY, as when another program holds it.
    void SetInterfaceBusy(bool busy);
    // Writes bytes into the flash as a factory programmer does.
    [[nodiscard]] bool ProgramFlash(std::uint32_t address, std::span<const std::uint8_t> bytes);
    // Bytes of the flash from address; erased flash reads 0xFF.
    [[nodiscard]] std::vector<std::uint8_t> ReadFlash(std::uint32_t address, std::size_t length) const;
    // True once the status request that completes the leave was answered.
    [[nodiscard]] bool HasLeft() const;
    [[nodiscard]] int GetClaimCount() const;
    // The DFU requests that reached the device (string descriptors are not among them).
    [[nodiscard]] std::vector<SimulatedUsbRequest> GetRequestLog() const;
    // The bootloader's DFU state; nothing once the device has left.
    [[nodiscard]] std::optional<ZT::DfuState> GetDfuState() const;

    // Which DNLOAD a hold starts at.
    enum class HoldAt { EraseCommand, DataBlock };
    // From the count-th (counted from 1) DNLOAD of that kind on, requests are taken but never
    // answered and never reach the device: its DFU state stays what the requests before left
    // (dfuDNLOAD-IDLE after a completed erase or block), and the client waits for an answer.
    void HoldFrom(HoldAt kind, std::uint32_t count);
    // Waits, in real time, for a request to be held: the client runs in a process of its own.
    [[nodiscard]] bool WaitUntilHolding(std::chrono::milliseconds timeout);
    // Requests are answered again. A request that was held stays unanswered.
    void ReleaseHold();

private:
    struct PendingUrb {
        UMockdevIoctlData* urb = nullptr; // referenced; its data stage holds the answer
        int status = 0;
        int actualLength = 0;
        bool completed = false;
    };

    bool HandleIoctl(UMockdevIoctlClient* client);
    // Whether the request (setup and the data stage that follows it) is to be held; counts it.
    bool HoldsRequest(const std::uint8_t* setup, const std::uint8_t* data, std::uint16_t length);
    void SubmitUrb(UMockdevIoctlClient* client);
    void ReapUrb(UMockdevIoctlClient* client);
    void DiscardUrb(UMockdevIoctlClient* client);

    // One lock for all instances, constant-initialised before umockdev's worker thread exists:
    // the worker reaches an instance through GLib, which ThreadSanitizer cannot follow, so the
    // lock itself must be visible to that thread before any instance is.
    static std::mutex mMutex;

    UMockdevIoctlBase* mHandler = nullptr;
    bool mInterfaceBusy = false;
    bool mGone = false;
    int mClaims = 0;
    std::vector<PendingUrb> mUrbs;
    std::optional<HoldAt> mHoldKind;
    std::uint32_t mHoldCount = 0;
    std::uint32_t mHoldSeen = 0; // DNLOADs of mHoldKind taken so far
    bool mHolding = false;
    std::condition_variable mHoldReached;
    ZT::VirtualClock mClock; // the device's: its wait for an unanswered request blocks no ioctl
    const ZT::RCPtr<LSimulatedDevice> mDevice; // in its bootloader, its flash erased
    std::uint64_t mAppearance = 0;             // of the device's one connection
};

} // namespace UsbTest
