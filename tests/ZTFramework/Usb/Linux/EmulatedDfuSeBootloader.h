#pragma once
// A DfuSe bootloader (0483:DF11) that the real libusb talks to through umockdev: the test process
// runs with umockdev's preload library, the testbed owns /sys and /dev/bus/usb, and this class
// answers the usbfs ioctls of the device node it is attached to.
//
// The bootloader keeps a flash image, decodes DfuSe commands (set address 0x21, erase 0x41) and
// data blocks the way the real one does (block n lands at (n - 2) * 2048 + address pointer), and
// reports dnbusy then dnload-idle on the two status requests after a download. Tests make it stall
// a request, hold back a reply so the transfer times out, or vanish from the bus.
//
// Threads: umockdev calls HandleIoctl on its own worker thread; the test thread reads the flash
// and sets faults. mMutex guards everything below mHandler.

#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <vector>

typedef struct _UMockdevTestbed UMockdevTestbed;
typedef struct _UMockdevIoctlBase UMockdevIoctlBase;
typedef struct _UMockdevIoctlClient UMockdevIoctlClient;
typedef struct _UMockdevIoctlData UMockdevIoctlData;

namespace UsbTest {

inline constexpr std::uint32_t kFlashBase = 0x08000000;
inline constexpr std::uint32_t kFlashSize = 0x80000;
inline constexpr std::uint16_t kTransferSize = 2048;

class CEmulatedDfuSeBootloader {
public:
    enum class Fault {
        None,
        StallNextRequest,  // the next control request is stalled (EPIPE)
        NeverAnswer,       // control requests are accepted but never completed
        GoneOnNextRequest, // the device leaves the bus when the next request is submitted
        BusyOnClaim,       // another program holds interface 0
    };

    CEmulatedDfuSeBootloader();
    ~CEmulatedDfuSeBootloader();
    CEmulatedDfuSeBootloader(const CEmulatedDfuSeBootloader&) = delete;
    CEmulatedDfuSeBootloader& operator=(const CEmulatedDfuSeBootloader&) = delete;

    // Attaches to devnode ("/dev/bus/usb/001/005") in testbed; call before the node is added.
    bool Attach(UMockdevTestbed* testbed, const std::string& devnode);
    void Detach(UMockdevTestbed* testbed, const std::string& devnode);

    // The fault strikes at the request after the next afterRequests control requests.
    void SetFault(Fault fault, int afterRequests = 0);
    // From now on every request on an open handle fails with ENODEV, as after an unplug.
    void LeaveBus();
    // Bytes of the flash from address; erased flash reads 0xFF, never-written flash 0x00.
    [[nodiscard]] std::vector<std::uint8_t> ReadFlash(std::uint32_t address, std::size_t length) const;
    // Sector addresses erased, in order.
    [[nodiscard]] std::vector<std::uint32_t> GetErasedSectors() const;
    // True once the zero-length download (leave DFU mode) arrived and its status was read.
    [[nodiscard]] bool HasLeft() const;
    [[nodiscard]] int GetClaimCount() const;

private:
    struct PendingUrb {
        UMockdevIoctlData* urb = nullptr; // referenced
        int status = 0;
        std::vector<std::uint8_t> reply;  // data stage of an IN transfer
        std::size_t sentLength = 0;       // data stage of an OUT transfer, all taken
        bool completed = false;
    };

    static int OnHandleIoctl(UMockdevIoctlBase* handler, UMockdevIoctlClient* client, void* self);
    bool HandleIoctl(UMockdevIoctlClient* client);
    bool SubmitUrb(UMockdevIoctlClient* client);
    void ReapUrb(UMockdevIoctlClient* client);
    void DiscardUrb(UMockdevIoctlClient* client);
    // Runs one control request on the bootloader; returns the URB status (0 or -EPIPE).
    int Execute(const std::uint8_t* setup, const std::uint8_t* dataOut, std::vector<std::uint8_t>& reply);
    void ExecuteDfuSeCommand(const std::uint8_t* data, std::uint16_t length);

    // One lock for all instances, constant-initialised before umockdev's worker thread exists:
    // the worker reaches an instance through GLib, which ThreadSanitizer cannot follow, so the
    // lock itself must be visible to that thread before any instance is.
    static std::mutex mMutex;

    UMockdevIoctlBase* mHandler = nullptr;
    Fault mFault = Fault::None;
    int mRequestsBeforeFault = 0;
    bool mGone = false;
    std::vector<std::uint8_t> mFlash;
    std::vector<std::uint32_t> mErased;
    std::uint32_t mAddressPointer = kFlashBase;
    std::uint8_t mState = 2;        // dfuIDLE
    bool mCommandPending = false;   // a download waits for the status request that runs it
    bool mLeaveRequested = false;
    bool mLeft = false;
    int mClaims = 0;
    std::vector<PendingUrb> mUrbs;
};

} // namespace UsbTest
