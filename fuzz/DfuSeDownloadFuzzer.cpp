// Drives the engine's DfuSe download into a bootloader that answers anything: the input chooses the
// image and the erase list, then, request by request, whether the bootloader answers as a DfuSe
// bootloader does or stalls, times out, fails on the bus, sends a short or a long answer, gives a
// status reply of the input's own bytes (status, poll time-out, state), holds its answer back,
// leaves the bus, or comes back with other IDs; it may also have the user cancel. Everything runs
// in virtual time, so no input waits for real.
//
// What the download must keep, whatever the answers, is checked on every request and after the
// run; a broken promise aborts with a line that names it:
//   - it ends: a bounded number of requests and of the engine's own waits;
//   - it erases only sectors of the target's erase list, and writes only into sectors erased in
//     this run;
//   - it never asks the bootloader to leave once the flash may no longer hold a whole image,
//     unless the flash holds the whole new image and the address pointer is at its start;
//   - success means the flash holds the image;
//   - it opens and talks to the target alone, never the other bootloader on the bus (same IDs,
//     another serial) nor a device that took the target's path with other IDs;
//   - the block at the image's start goes out after every other, so that an image cut short never
//     has a start a bootloader would run.
//
// The input: byte 0 chooses the erase list (bit 0: the wheel display's, else the controller's), the
// element's start (bit 1: the list's second sector, else its first) and the bootloader's state when
// the run begins (bits 4-7); bytes 1-2 the element's size (1 + value mod 10240, little-endian). The
// rest is the script, one action per request (see Act); an exhausted script answers correctly.
// With ZT_FUZZ_VERBOSE set in the environment, each run prints one line of what happened.

#include "FirmwareUpdater/Panel/Engine/DeviceFlashLayout.h"
#include "FirmwareUpdater/Panel/Engine/ProductDevice.h"
#include "FirmwareUpdater/Panel/Engine/UpdateEngine.h"
#include "FirmwareUpdater/Panel/Engine/UpdateTarget.h"
#include "ZTFramework/Debug/DebugOutput.h"
#include "ZTFramework/Notification/NotificationCenterManager.h"
#include "ZTFramework/Time/Clock.h"
#include "ZTFramework/Usb/Dfu.h"
#include "ZTFramework/Usb/UsbBackend.h"
#include "ZTFramework/Usb/UsbError.h"
#include "fuzz/FuzzCheck.h"
#include "fuzz/FuzzInputFile.h"
#include "tools/DfuSeImage.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <functional>
#include <set>
#include <span>
#include <sstream>
#include <string>
#include <vector>

namespace {

using ZT::DfuState;
using ZT::DfuStatus;
using ZT::UsbError;


// A run that has not ended by then never will. The engine's own bounds are far below: at most 10 s
// of waiting for each of the idle check, the erases and the set-address commands, 20 polls of 10 ms
// for a block, and at most about 1000 status polls in any one 10 s wait.
constexpr std::uint32_t kRequestLimit = 20000;
constexpr std::uint64_t kEngineWaitLimitMs = 200000;

constexpr std::uint32_t kTransferSize = 2048;
constexpr std::uint32_t kMaxElementSize = 10240;
constexpr char kTargetPath[] = "/dev/bus/usb/001/010";
constexpr char kTargetSerial[] = "3276385A3331";
// The other device's bootloader: the same IDs, another serial. Listed first, so that a scan that
// ignored the serial would take it.
constexpr char kBystanderPath[] = "/dev/bus/usb/001/011";
constexpr char kBystanderSerial[] = "3276385A3332";
constexpr char kReenumeratedPath[] = "/dev/bus/usb/001/012";

std::string Hex32(std::uint32_t value)
{
    char text[16];
    std::snprintf(text, sizeof text, "0x%08X", static_cast<unsigned>(value));
    return text;
}

std::uint32_t Load32(const std::uint8_t* bytes)
{
    return static_cast<std::uint32_t>(bytes[0]) | (static_cast<std::uint32_t>(bytes[1]) << 8) |
           (static_cast<std::uint32_t>(bytes[2]) << 16) | (static_cast<std::uint32_t>(bytes[3]) << 24);
}

// The input's bytes in order; 0 (answer correctly) once they run out.
class Script {
public:
    Script(const std::uint8_t* data, std::size_t size) : mData(data), mSize(size) {}
    std::uint8_t Next() { return mPosition < mSize ? mData[mPosition++] : 0; }

private:
    const std::uint8_t* mData;
    std::size_t mSize;
    std::size_t mPosition = 0;
};

// Virtual time that tells the engine's own waits from the time the device takes to answer.
class FuzzClock final : public ZT::IClock {
public:
    std::uint64_t NowMs() const override { return mNowMs; }
    void SleepMs(std::uint32_t ms) override;
    void AdvanceMs(std::uint64_t ms) { mNowMs += ms; }
    std::uint64_t mNowMs = 1000;
    std::uint64_t mSleptMs = 0;
};

// What one run is about, and what the failure message shows of it.
struct Run {
    std::uint32_t ElementAddress = 0;
    std::vector<std::uint8_t> Image;
    std::span<const std::uint32_t> EraseList;
    std::deque<std::string> LastRequests; // the last few, for the failure message
    std::ostringstream EngineLog;
};

Run* gRun = nullptr;

// Names the broken promise, then shows the last requests and what the engine logged.
[[noreturn]] void Broken(const std::string& what)
{
    std::string text = "DfuSeDownloadFuzzer: " + what;
    if (gRun != nullptr) {
        text += "\n  element " + Hex32(gRun->ElementAddress) + ", " + std::to_string(gRun->Image.size()) +
                " bytes; last requests:";
        for (const std::string& request : gRun->LastRequests)
            text += "\n    " + request;
        text += "\n  engine log:\n" + gRun->EngineLog.str();
    }
    FuzzFailure(text);
}

void FuzzClock::SleepMs(std::uint32_t ms)
{
    mNowMs += ms;
    mSleptMs += ms;
    if (mSleptMs > kEngineWaitLimitMs)
        Broken("the engine has waited " + std::to_string(mSleptMs) + " ms of virtual time: the download does not end");
}

// A DfuSe bootloader as the microcontroller's ROM behaves, with its flash; an input's script
// decides, request by request, whether it does so.
class ScriptedBootloader final : public ZT::LRefCountedObject {
public:
    ScriptedBootloader(Script& script, FuzzClock& clock, DfuState initialState)
        : mScript(script), mClock(clock), mState(initialState), mFlash(WorkingFlash())
    {
        std::copy(OldFlash().begin(), OldFlash().end(), mFlash.begin());
    }

    // ---- The bus as the backend lists it -------------------------------------------------------
    bool mPresent = true;       // the bootloader answers at kTargetPath
    bool mReenumerated = false; // a device with other IDs came up
    std::string mReenumeratedAt;
    std::uint16_t mReenumeratedVendor = 0;
    std::uint16_t mReenumeratedProduct = 0;
    std::uint32_t mGeneration = 0; // bumped when the bootloader leaves the bus

    // ---- What the run did ---------------------------------------------------------------------
    std::uint32_t mRequests = 0;
    bool mFlashTouched = false; // an erase command or a data block was sent
    bool mLeaveSent = false;
    std::function<void()> mCancel;

    // One control transfer from a connection opened at generation. transferred is what the device
    // sent of an IN request.
    bool Transfer(std::uint32_t generation, std::uint8_t requestType, std::uint8_t request, std::uint16_t value,
                  std::uint8_t* data, std::uint16_t length, UsbError& error, std::uint16_t& transferred);

    // The first address where the flash differs from the element, or none.
    std::optional<std::uint32_t> FirstDifference(std::uint32_t from, std::uint32_t to) const
    {
        for (std::uint32_t address = from; address < to; ++address) {
            if (FlashAt(address) != gRun->Image[address - gRun->ElementAddress])
                return address;
        }
        return std::nullopt;
    }
    bool HoldsImage() const
    {
        return !FirstDifference(gRun->ElementAddress, gRun->ElementAddress + static_cast<std::uint32_t>(gRun->Image.size()));
    }
    std::uint32_t GetAddressPointer() const { return mAddressPointer; }

private:
    struct Pending {
        bool Present = false;
        std::uint16_t BlockNumber = 0;
        std::vector<std::uint8_t> Data;
    };

    // The old application and bootloader: whatever is there must be erased before a write can
    // hold. Made once; a loop per input would cost more than the download.
    static const std::vector<std::uint8_t>& OldFlash()
    {
        static const std::vector<std::uint8_t> flash = [] {
            std::vector<std::uint8_t> bytes(DeviceFlashLayout::kFlashEnd - DeviceFlashLayout::kFlashStart);
            for (std::size_t i = 0; i < bytes.size(); ++i)
                bytes[i] = static_cast<std::uint8_t>(0x5A ^ (i * 7));
            return bytes;
        }();
        return flash;
    }
    // The one flash every input's bootloader works in: a fresh megabyte per input would cost a
    // page fault per page.
    static std::vector<std::uint8_t>& WorkingFlash()
    {
        static std::vector<std::uint8_t> flash(OldFlash().size());
        return flash;
    }
    bool Answer(std::uint32_t generation, std::uint8_t requestType, std::uint8_t request, std::uint16_t value,
                std::uint8_t* data, std::uint16_t length, UsbError& error, std::uint16_t& transferred);
    std::uint8_t FlashAt(std::uint32_t address) const { return mFlash[address - DeviceFlashLayout::kFlashStart]; }
    void CheckDownloadRequest(std::uint16_t value, const std::uint8_t* data, std::uint16_t length);
    bool Behave(std::uint8_t requestType, std::uint8_t request, std::uint16_t value, std::uint8_t* data,
                std::uint16_t length, UsbError& error, std::uint16_t& transferred);
    // Carries out the command or block the last DNLOAD brought; false when the bootloader would
    // refuse it (the state is then dfuERROR).
    bool Execute();
    bool Stall(UsbError& error)
    {
        mState = DfuState::DfuError;
        mStatus = DfuStatus::ErrStalledPkt;
        mPending = Pending{};
        error = UsbError::Pipe;
        return false;
    }
    void Leave()
    {
        mPresent = false;
        ++mGeneration;
    }

public:
    // A USB port reset: the bootloader comes back at once in dfuIDLE at the same path, and handles
    // opened before no longer reach it.
    void Reset()
    {
        ++mRequests;
        mState = DfuState::DfuIdle;
        mStatus = DfuStatus::Ok;
        mPending = Pending{};
        ++mGeneration;
    }

private:
    Script& mScript;
    FuzzClock& mClock;
    DfuState mState;
    DfuStatus mStatus = DfuStatus::Ok;
    std::uint32_t mPollTimeoutMs = 0;
    Pending mPending;
    std::uint32_t mAddressPointer = DeviceFlashLayout::kFlashStart;
    std::set<std::uint32_t> mErasedSectors;
    std::vector<std::uint8_t>& mFlash;
};

std::string DescribeRequest(std::uint8_t request, std::uint16_t value, const std::uint8_t* data, std::uint16_t length)
{
    switch (request) {
    case 1:
        if (length == 0)
            return "DNLOAD " + std::to_string(value) + " leave";
        if (value == 0 && length == 5 && data[0] == ZT::kDfuSeCommandErase)
            return "DNLOAD 0 erase " + Hex32(Load32(data + 1));
        if (value == 0 && length == 5 && data[0] == ZT::kDfuSeCommandSetAddress)
            return "DNLOAD 0 set " + Hex32(Load32(data + 1));
        return "DNLOAD " + std::to_string(value) + " " + std::to_string(length) + " bytes";
    case 3: return "GETSTATUS";
    case 4: return "CLRSTATUS";
    case 6: return "ABORT";
    default: return "request " + std::to_string(request);
    }
}

// What a DNLOAD asks for is judged when it is sent, whatever the device then makes of it.
void ScriptedBootloader::CheckDownloadRequest(std::uint16_t value, const std::uint8_t* data, std::uint16_t length)
{
    const Run& run = *gRun;
    const auto elementEnd = static_cast<std::uint32_t>(run.ElementAddress + run.Image.size());
    if (length == 0) {
        if (!mFlashTouched)
            return; // nothing was erased or written: the old application is whole
        if (const auto difference = FirstDifference(run.ElementAddress, elementEnd))
            Broken("leave request after an incomplete image: the flash differs from the image at " + Hex32(*difference));
        if (mAddressPointer != run.ElementAddress)
            Broken("leave request with the address pointer at " + Hex32(mAddressPointer) + ", not at the image's start " +
                   Hex32(run.ElementAddress));
        return;
    }
    if (value == 0 && length == 5 && data[0] == ZT::kDfuSeCommandErase) {
        mFlashTouched = true;
        const std::uint32_t address = Load32(data + 1);
        if (std::find(run.EraseList.begin(), run.EraseList.end(), address) == run.EraseList.end())
            Broken("erase command for " + Hex32(address) + ", which is no sector of the target's erase list");
        return;
    }
    if (value < 2)
        return;
    mFlashTouched = true;
    const std::uint64_t start = mAddressPointer + static_cast<std::uint64_t>(value - 2) * kTransferSize;
    for (std::uint64_t address = start; address < start + length; ++address) {
        const auto sector = address < DeviceFlashLayout::kFlashEnd
                                ? DeviceFlashLayout::SectorStartOf(static_cast<std::uint32_t>(address))
                                : std::nullopt;
        if (!sector || mErasedSectors.count(*sector) == 0)
            Broken("block number " + std::to_string(value) + " (" + std::to_string(length) + " bytes from " +
                   Hex32(static_cast<std::uint32_t>(start)) + ") writes " + Hex32(static_cast<std::uint32_t>(address)) +
                   ", outside the sectors erased in this run");
    }
    if (start == run.ElementAddress) {
        if (const auto missing = FirstDifference(static_cast<std::uint32_t>(start + length), elementEnd))
            Broken("the first block (at " + Hex32(run.ElementAddress) + ") is written before the others: " +
                   Hex32(*missing) + " does not hold the image yet");
    }
}

bool ScriptedBootloader::Execute()
{
    const Pending pending = std::move(mPending);
    mPending = Pending{};
    mPollTimeoutMs = 0;
    if (!pending.Present)
        return true;
    const std::vector<std::uint8_t>& data = pending.Data;
    if (pending.BlockNumber == 0) {
        if (data.size() == 5 && data[0] == ZT::kDfuSeCommandSetAddress) {
            mAddressPointer = Load32(data.data() + 1);
            return true;
        }
        if (data.size() == 5 && data[0] == ZT::kDfuSeCommandErase) {
            const auto sector = DeviceFlashLayout::SectorStartOf(Load32(data.data() + 1));
            if (!sector) {
                mStatus = DfuStatus::ErrTarget;
                return false;
            }
            const std::uint32_t size = DeviceFlashLayout::SectorSizeAt(*sector);
            std::fill_n(mFlash.begin() + (*sector - DeviceFlashLayout::kFlashStart), size, std::uint8_t{0xFF});
            mErasedSectors.insert(*sector);
            mPollTimeoutMs = size / 64; // 16 KiB in 256 ms, 128 KiB in 2 s
            return true;
        }
        mStatus = DfuStatus::ErrTarget;
        return false;
    }
    if (pending.BlockNumber == 1) {
        mStatus = DfuStatus::ErrTarget;
        return false;
    }
    const std::uint64_t start = mAddressPointer + static_cast<std::uint64_t>(pending.BlockNumber - 2) * kTransferSize;
    if (start < DeviceFlashLayout::kFlashStart || start + data.size() > DeviceFlashLayout::kFlashEnd) {
        mStatus = DfuStatus::ErrAddress;
        return false;
    }
    // Programming only clears bits: a write over bytes that were not erased leaves neither.
    for (std::size_t i = 0; i < data.size(); ++i)
        mFlash[start - DeviceFlashLayout::kFlashStart + i] &= data[i];
    mPollTimeoutMs = 3;
    return true;
}

bool ScriptedBootloader::Behave(std::uint8_t requestType, std::uint8_t request, std::uint16_t value, std::uint8_t* data,
                                std::uint16_t length, UsbError& error, std::uint16_t& transferred)
{
    const bool in = (requestType & 0x80) != 0;
    const auto dfuRequest = static_cast<ZT::DfuRequest>(request);
    if (in && dfuRequest == ZT::DfuRequest::GetStatus && length >= 6) {
        switch (mState) {
        case DfuState::DfuDnloadSync:
            mState = Execute() ? DfuState::DfuDnbusy : DfuState::DfuError;
            break;
        case DfuState::DfuDnbusy:
            mState = DfuState::DfuDnloadIdle;
            mPollTimeoutMs = 0;
            break;
        case DfuState::DfuManifestSync:
            mState = DfuState::DfuManifest;
            break;
        default:
            break;
        }
        data[0] = static_cast<std::uint8_t>(mStatus);
        data[1] = static_cast<std::uint8_t>(mPollTimeoutMs);
        data[2] = static_cast<std::uint8_t>(mPollTimeoutMs >> 8);
        data[3] = static_cast<std::uint8_t>(mPollTimeoutMs >> 16);
        data[4] = static_cast<std::uint8_t>(mState);
        data[5] = 0;
        transferred = 6;
        if (mState == DfuState::DfuManifest)
            Leave(); // it restarts once it has answered
        return true;
    }
    if (in && dfuRequest == ZT::DfuRequest::GetState && length >= 1) {
        data[0] = static_cast<std::uint8_t>(mState);
        transferred = 1;
        return true;
    }
    if (in)
        return Stall(error);
    const bool idle = mState == DfuState::DfuIdle || mState == DfuState::DfuDnloadIdle;
    switch (dfuRequest) {
    case ZT::DfuRequest::Dnload:
        if (!idle)
            return Stall(error);
        if (length == 0) {
            mState = DfuState::DfuManifestSync;
            return true;
        }
        mPending = Pending{true, value, std::vector<std::uint8_t>(data, data + length)};
        mState = DfuState::DfuDnloadSync;
        return true;
    case ZT::DfuRequest::ClrStatus:
        if (mState != DfuState::DfuError)
            return Stall(error);
        mState = DfuState::DfuIdle;
        mStatus = DfuStatus::Ok;
        return true;
    case ZT::DfuRequest::Abort:
        if (!idle && mState != DfuState::DfuDnloadSync && mState != DfuState::DfuManifestSync &&
            mState != DfuState::DfuUploadIdle)
            return Stall(error);
        mState = DfuState::DfuIdle;
        mPending = Pending{};
        return true;
    default:
        return Stall(error);
    }
}

// The script's action for one request, by the high four bits of its byte:
//   0-7 answer correctly          8 stall                 9 no answer (time-out)
//   A   fail on the bus (low bit: a longer answer than asked for, Overflow)
//   B   a short answer: only (low bits mod 6) bytes of an IN reply
//   C   a status request gets the next 6 bytes as its reply
//   D   leave the bus; with the low bit, come back with the IDs of the next 4 bytes, at the
//       target's path when bit 1 is set, else at another
//   E   the user cancels, then a correct answer
//   F   hold the answer back for (next byte x 25) ms: from 5000 ms on, a time-out after the
//       bootloader has acted
bool ScriptedBootloader::Transfer(std::uint32_t generation, std::uint8_t requestType, std::uint8_t request,
                                  std::uint16_t value, std::uint8_t* data, std::uint16_t length, UsbError& error,
                                  std::uint16_t& transferred)
{
    const bool done = Answer(generation, requestType, request, value, data, length, error, transferred);
    // "GETSTATUS -> dfuDNLOAD-IDLE (OK)", "DNLOAD 2 62 bytes !Pipe" in the failure message.
    std::string& line = gRun->LastRequests.back();
    if (!done)
        line += std::string(" !") + ZT::UsbErrorName(error);
    else if ((requestType & 0x80) != 0 && request == 3)
        line += transferred >= 5 ? std::string(" -> ") + ZT::ToString(static_cast<DfuState>(data[4])) + " (" +
                                       ZT::ToString(static_cast<DfuStatus>(data[0])) + ")"
                                 : " -> " + std::to_string(transferred) + " bytes";
    return done;
}

bool ScriptedBootloader::Answer(std::uint32_t generation, std::uint8_t requestType, std::uint8_t request,
                                std::uint16_t value, std::uint8_t* data, std::uint16_t length, UsbError& error,
                                std::uint16_t& transferred)
{
    error = UsbError::None;
    transferred = 0;
    if (++mRequests > kRequestLimit)
        Broken(std::to_string(kRequestLimit) + " requests: the download does not end");
    gRun->LastRequests.push_back(DescribeRequest(request, value, data, length));
    if (gRun->LastRequests.size() > 24)
        gRun->LastRequests.pop_front();

    if (generation != mGeneration || !mPresent) {
        error = UsbError::NoDevice;
        return false;
    }
    const bool in = (requestType & 0x80) != 0;
    if (!in && static_cast<ZT::DfuRequest>(request) == ZT::DfuRequest::Dnload) {
        CheckDownloadRequest(value, data, length);
        if (length == 0 && value == 0)
            mLeaveSent = true;
    }

    const std::uint8_t action = mScript.Next();
    switch (action >> 4) {
    case 0x8:
        return Stall(error);
    case 0x9:
        mClock.AdvanceMs(ZT::kUsbControlTransferTimeoutMs);
        error = UsbError::Timeout;
        return false;
    case 0xA:
        error = in && (action & 1) != 0 ? UsbError::Overflow : UsbError::Io;
        return false;
    case 0xB: {
        if (!in)
            return Behave(requestType, request, value, data, length, error, transferred);
        std::vector<std::uint8_t> reply(length);
        if (!Behave(requestType, request, value, reply.data(), length, error, transferred))
            return false;
        transferred = std::min<std::uint16_t>(transferred, (action & 0x0F) % 6);
        std::copy_n(reply.begin(), transferred, data);
        return true;
    }
    case 0xC: {
        std::uint8_t reply[6];
        for (std::uint8_t& byte : reply)
            byte = mScript.Next();
        if (!in || static_cast<ZT::DfuRequest>(request) != ZT::DfuRequest::GetStatus || length < 6)
            return Behave(requestType, request, value, data, length, error, transferred);
        const auto state = static_cast<DfuState>(reply[4]);
        // A bootloader that reports progress or success with an OK status has done what was asked.
        if (reply[0] == 0 && (state == DfuState::DfuDnbusy || state == DfuState::DfuDnloadIdle) &&
            (mPending.Present || mState == DfuState::DfuDnloadSync)) {
            if (!Execute())
                mStatus = DfuStatus::Ok; // the reply says OK, whatever it did
        } else if (state != DfuState::DfuDnloadSync) {
            // Any other answer drops what was sent. One that says it is still in dfuDNLOAD-SYNC
            // has not acted yet: it keeps the block for its next status request, which then
            // programs it, or drops it, as that request's answer says.
            mPending = Pending{};
        }
        mState = reply[4] <= static_cast<std::uint8_t>(DfuState::DfuError) ? state : DfuState::DfuError;
        mStatus = static_cast<DfuStatus>(reply[0]);
        std::copy_n(reply, 6, data);
        transferred = 6;
        return true;
    }
    case 0xD:
        Leave();
        if ((action & 1) != 0) {
            mReenumerated = true;
            mReenumeratedAt = (action & 2) != 0 ? kTargetPath : kReenumeratedPath;
            mReenumeratedVendor = static_cast<std::uint16_t>(mScript.Next() | (mScript.Next() << 8));
            mReenumeratedProduct = static_cast<std::uint16_t>(mScript.Next() | (mScript.Next() << 8));
        }
        error = UsbError::NoDevice;
        return false;
    case 0xE:
        if (mCancel)
            mCancel();
        return Behave(requestType, request, value, data, length, error, transferred);
    case 0xF: {
        const std::uint32_t heldMs = mScript.Next() * 25u;
        if (heldMs < ZT::kUsbControlTransferTimeoutMs) {
            mClock.AdvanceMs(heldMs);
            return Behave(requestType, request, value, data, length, error, transferred);
        }
        mClock.AdvanceMs(ZT::kUsbControlTransferTimeoutMs);
        std::vector<std::uint8_t> lost(length);
        std::uint16_t ignored = 0;
        (void)Behave(requestType, request, value, in ? lost.data() : data, length, error, ignored);
        error = UsbError::Timeout;
        return false;
    }
    default:
        return Behave(requestType, request, value, data, length, error, transferred);
    }
}

class ScriptedConnection final : public ZT::IUsbDeviceConnection {
public:
    ScriptedConnection(ZT::RCPtr<ScriptedBootloader> device, std::uint32_t generation)
        : mDevice(std::move(device)), mGeneration(generation)
    {
    }
    bool ControlTransfer(std::uint8_t requestType, std::uint8_t request, std::uint16_t value, std::uint16_t index,
                         std::uint8_t* data, std::uint16_t length) override
    {
        mTransferred = 0;
        if (index != 0)
            Broken("a request to interface " + std::to_string(index) + "; the bootloader's DFU interface is 0");
        if (mClosed) {
            mError = UsbError::NotOpen;
            return false;
        }
        if (data == nullptr && length > 0) {
            mError = UsbError::InvalidParam;
            return false;
        }
        return mDevice->Transfer(mGeneration, requestType, request, value, data, length, mError, mTransferred);
    }
    UsbError GetLastError() const override { return mError; }
    std::uint16_t GetLastTransferredLength() const override { return mTransferred; }
    bool Reset() override
    {
        if (mClosed) {
            mError = UsbError::NotOpen;
            return false;
        }
        mClosed = true;
        if (mGeneration != mDevice->mGeneration || !mDevice->mPresent) {
            mError = UsbError::NoDevice;
            return false;
        }
        mDevice->Reset();
        return true;
    }
    void Close() override { mClosed = true; }

private:
    const ZT::RCPtr<ScriptedBootloader> mDevice;
    const std::uint32_t mGeneration;
    bool mClosed = false;
    UsbError mError = UsbError::None;
    std::uint16_t mTransferred = 0;
};

class ScriptedBackend final : public ZT::IUsbBackend {
public:
    explicit ScriptedBackend(ZT::RCPtr<ScriptedBootloader> device) : mDevice(std::move(device)) {}

    ZT::ZTRESULT ListDevices(std::vector<ZT::UsbDeviceInfo>& devices) override
    {
        devices.clear();
        devices.push_back({kBystanderPath, 0x0483, 0xDF11, 0x2200, kBystanderSerial});
        if (mDevice->mPresent)
            devices.push_back({kTargetPath, 0x0483, 0xDF11, 0x2200, kTargetSerial});
        if (mDevice->mReenumerated)
            devices.push_back({mDevice->mReenumeratedAt, mDevice->mReenumeratedVendor, mDevice->mReenumeratedProduct,
                               0x0031, std::string()});
        return ZT::S_OK;
    }
    ZT::RCPtr<ZT::IUsbDeviceConnection> Open(const std::string& path, UsbError& error) override
    {
        if (path != kTargetPath)
            Broken("the engine opened " + path + ", not the target at " + kTargetPath);
        if (!mDevice->mPresent) {
            if (mDevice->mReenumerated && mDevice->mReenumeratedAt == path)
                Broken("the engine opened " + path + " after another device took that path");
            error = UsbError::NoDevice;
            return nullptr;
        }
        error = UsbError::None;
        return ZT::MakeRC<ScriptedConnection>(mDevice, mDevice->mGeneration);
    }
    bool IsSimulated() const override { return true; }

private:
    const ZT::RCPtr<ScriptedBootloader> mDevice;
};

class FuzzTarget final : public IUpdateTarget {
public:
    explicit FuzzTarget(std::span<const std::uint32_t> sectors) : mSectors(sectors) {}
    ZT::WString GetMidiPortName() const override { return ZT::WString(); }
    std::uint32_t GetDefaultProductId() const override { return kControllerDevice.ProductId; }
    std::uint32_t GetEraseSectorCount() const override { return static_cast<std::uint32_t>(mSectors.size()); }
    bool GetEraseSectorAddress(std::uint32_t i, std::uint32_t& address) const override
    {
        address = i < mSectors.size() ? mSectors[i] : 0;
        return i < mSectors.size();
    }

private:
    std::span<const std::uint32_t> mSectors;
};

constexpr DfuState kInitialStates[] = {
    DfuState::DfuIdle,       DfuState::DfuIdle,        DfuState::DfuIdle,         DfuState::DfuIdle,
    DfuState::DfuError,      DfuState::DfuDnloadIdle,  DfuState::DfuDnbusy,       DfuState::DfuDnloadSync,
    DfuState::DfuUploadIdle, DfuState::DfuManifestSync, DfuState::AppIdle,        DfuState::DfuManifest,
    DfuState::DfuError,      DfuState::DfuDnloadIdle,  DfuState::DfuManifestWaitReset, DfuState::AppDetach,
};

// One engine for the whole process: an engine starts a worker thread, and one per input would make
// every input pay for a thread and for the leak check libFuzzer runs when an input's allocations
// outlive it. Each input starts it afresh: definitions, scan, file, state and the cancel flag.
class FuzzEngine final : public LUpdateEngine {
public:
    void ClearCancel() { SetCancelRequested(false); }
};

const char* ResultName(ZT::ZTRESULT result)
{
    if (result == ZT::S_OK)
        return "S_OK";
    if (result == ZT::E_FAIL)
        return "E_FAIL";
    if (result == ZT::E_ABORT)
        return "E_ABORT";
    return "another result";
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 3)
        return 0;
    static InputFile file("dfuse-download-fuzz");
    static std::wostringstream wideLog;

    Run run;
    gRun = &run;
    wideLog.str(std::wstring());
    const bool wheelDisplay = (data[0] & 1) != 0;
    run.EraseList = wheelDisplay ? std::span<const std::uint32_t>(kWheelDisplayEraseSectors)
                                 : std::span<const std::uint32_t>(kControllerEraseSectors);
    run.ElementAddress = run.EraseList[(data[0] >> 1) & 1];
    const std::uint32_t elementSize = 1 + (data[1] | (data[2] << 8)) % kMaxElementSize;
    run.Image.resize(elementSize);
    for (std::uint32_t i = 0; i < elementSize; ++i)
        run.Image[i] = static_cast<std::uint8_t>((i * 131 + 7 + (i >> 11)) & 0xFF);
    DfuSeImage image;
    image.ElementAddress = run.ElementAddress;
    image.ElementData = run.Image;
    const std::vector<std::uint8_t> bytes = image.ToBytes();
    file.Write(bytes.data(), bytes.size());

    Script script(data + 3, size - 3);
    FuzzClock clock;
    ZT::SetClock(&clock);
    ZT::DebugOutput::Instance().SetLogStreams(run.EngineLog, wideLog);
    const auto device = ZT::MakeRC<ScriptedBootloader>(script, clock, kInitialStates[data[0] >> 4]);
    ZT::SetUsbBackend(ZT::MakeRC<ScriptedBackend>(device));
    const FuzzTarget target(run.EraseList);

    ZT::ZTRESULT result = ZT::E_FAIL;
    {
        static const auto engine = ZT::MakeRC<FuzzEngine>();
        engine->ClearCancel();
        engine->SetUpdateTarget(&target);
        DeviceDefinition definition = kControllerDevice.GetDeviceDefinition();
        definition.BootloaderSerialNumber = kTargetSerial;
        DeviceDefinitions definitions;
        definitions.Append(definition);
        Check(engine->SetDeviceDefinitions(definitions) == ZT::S_OK);
        Check(engine->ScanForDevices() == ZT::S_OK);
        if (engine->GetDeviceState() != DeviceState::DeviceInUpdateMode)
            Broken("the scan did not find the target's bootloader in update mode");
        Check(engine->SetFirmwareFileWithVersion(ZT::WString(file.GetPath().c_str()),
                                                 FirmwareVersion(0, 0, 3, 1, ZT::WString("00.31"))) == ZT::S_OK);
        device->mCancel = [] { (void)engine->CancelUpdate(); };
        engine->SetDeviceState(DeviceState::Updating);
        result = engine->PerformUpdate();
        device->mCancel = nullptr;
        engine->SetUpdateTarget(nullptr);
    }

    if (result == ZT::S_OK && !(device->mLeaveSent && device->HoldsImage()))
        Broken(std::string("the download reported success, but ") +
               (device->mLeaveSent ? "the flash does not hold the image" : "never asked the bootloader to leave"));
    if (result != ZT::S_OK && result != ZT::E_FAIL && result != ZT::E_ABORT)
        Broken("the download ended with a result that is neither S_OK, E_FAIL nor E_ABORT");
    if (std::getenv("ZT_FUZZ_VERBOSE") != nullptr)
        std::fprintf(stderr, "DfuSeDownloadFuzzer: %s after %u requests, %llu ms waited; %s; flash %s the image\n",
                     ResultName(result), static_cast<unsigned>(device->mRequests),
                     static_cast<unsigned long long>(clock.mSleptMs), device->mLeaveSent ? "left" : "no leave",
                     device->HoldsImage() ? "holds" : "does not hold");

    ZT::SetUsbBackend(nullptr);
    ZT::DebugOutput::Instance().UseDebugStreams();
    ZT::SetClock(nullptr);
    (void)ZT::LNotificationCenterManager::GetInstance()
        ->GetCenter(ZT::WString(LUpdateEngineInterface::kApplicationCenterName))
        ->Flush();
    gRun = nullptr;
    return 0;
}
