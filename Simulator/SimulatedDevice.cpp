#include "Simulator/SimulatedDevice.h"

#include "Simulator/FirmwareVersionRecord.h"
#include "ZTFramework/Usb/UsbDeviceConnection.h"

#include <algorithm>
#include <cstdio>

namespace {

// The release number the microcontroller's built-in bootloader reports (bcdDevice).
constexpr std::uint16_t kBootloaderReleaseNumber = 0x2200;
// Size of the application image a device leaves the factory with.
constexpr std::size_t kFactoryImageSize = 0x10000;

std::vector<std::uint8_t> MakeFactoryImage(SimulatedDeviceKind kind, std::uint16_t releaseNumber)
{
    std::vector<std::uint8_t> image(kFactoryImageSize);
    const std::uint8_t seed = kind == SimulatedDeviceKind::Controller ? 0x31 : 0x50;
    for (std::size_t i = 0; i < image.size(); ++i)
        image[i] = static_cast<std::uint8_t>((i * 131 + seed) ^ (i >> 8));
    WriteVersionRecord(image, releaseNumber, kind);
    return image;
}

std::string HexBytes(std::span<const std::uint8_t> bytes)
{
    std::string text;
    char digits[4];
    for (std::uint8_t byte : bytes) {
        std::snprintf(digits, sizeof digits, "%02X", static_cast<unsigned>(byte));
        if (!text.empty())
            text += ' ';
        text += digits;
    }
    return text;
}

std::string Hex4(std::uint32_t value)
{
    char text[16];
    std::snprintf(text, sizeof text, "%04X", static_cast<unsigned>(value));
    return text;
}

std::string Hex8(std::uint32_t value)
{
    char text[16];
    std::snprintf(text, sizeof text, "0x%08X", static_cast<unsigned>(value));
    return text;
}

std::string DescribeRequest(std::uint8_t request)
{
    if (request <= static_cast<std::uint8_t>(ZT::DfuRequest::Abort))
        return ZT::ToString(static_cast<ZT::DfuRequest>(request));
    return "request " + std::to_string(request);
}

} // namespace

class LSimulatedDevice::ChangeNotice {
public:
    explicit ChangeNotice(LSimulatedDevice& device) : mDevice(device)
    {
        std::lock_guard lock(mDevice.mMutex);
        mModeChanges = mDevice.mModeChanges;
        mDfuStateChanges = mDevice.mDfuStateChanges;
    }
    ~ChangeNotice()
    {
        ChangeHook hook;
        bool modeChanged = false;
        {
            std::lock_guard lock(mDevice.mMutex);
            modeChanged = mDevice.mModeChanges != mModeChanges;
            if (!modeChanged && mDevice.mDfuStateChanges == mDfuStateChanges)
                return;
            hook = mDevice.mChangeHook;
        }
        if (hook)
            hook(modeChanged);
    }
    ChangeNotice(const ChangeNotice&) = delete;
    ChangeNotice& operator=(const ChangeNotice&) = delete;

private:
    LSimulatedDevice& mDevice;
    std::uint64_t mModeChanges = 0;
    std::uint64_t mDfuStateChanges = 0;
};

const char* SimulatedDeviceModeName(SimulatedDeviceMode mode)
{
    switch (mode) {
    case SimulatedDeviceMode::Application:
        return "Application";
    case SimulatedDeviceMode::SwitchingToBootloader:
        return "SwitchingToBootloader";
    case SimulatedDeviceMode::Bootloader:
        return "Bootloader";
    case SimulatedDeviceMode::Restarting:
        return "Restarting";
    case SimulatedDeviceMode::Unplugged:
        return "Unplugged";
    case SimulatedDeviceMode::RunningBrokenImage:
        return "RunningBrokenImage";
    }
    return "unknown mode";
}

LSimulatedDevice::LSimulatedDevice(ZT::RCPtr<LSimulatedBus> bus, SimulatedDeviceKind kind,
                                   std::optional<std::uint16_t> releaseNumber, std::string serialNumber)
    : mBus(std::move(bus)), mKind(kind), mIdentity(IdentityOf(kind)), mSerialNumber(std::move(serialNumber)),
      mRunningIdentity(mIdentity)
{
    if (!mBus)
        ZT_THROW_NULL_POINTER("bus", "LSimulatedDevice::LSimulatedDevice");
    if (releaseNumber) {
        const bool programmed = mFlash.FactoryProgram(kApplicationStartAddress, MakeFactoryImage(kind, *releaseNumber));
        (void)programmed; // the factory image fits the flash by construction
    }
    std::lock_guard lock(mMutex);
    StartLocked(mBus->NowMs());
}

SimulatedDeviceMode LSimulatedDevice::GetMode()
{
    const ChangeNotice notice(*this);
    std::lock_guard lock(mMutex);
    AdvanceLocked(mBus->NowMs());
    return mMode;
}

std::optional<ZT::UsbDeviceInfo> LSimulatedDevice::GetUsbInfo()
{
    const ChangeNotice notice(*this);
    std::lock_guard lock(mMutex);
    AdvanceLocked(mBus->NowMs());
    if (!IsOnBusLocked())
        return std::nullopt;
    ZT::UsbDeviceInfo info;
    info.path = mPath;
    info.serialNumber = mSerialNumber;
    if (mMode == SimulatedDeviceMode::Bootloader) {
        info.vendorId = kBootloaderVendorId;
        info.productId = kBootloaderProductId;
        info.releaseNumber = kBootloaderReleaseNumber;
    } else {
        info.vendorId = mRunningIdentity.vendorId;
        info.productId = mRunningIdentity.productId;
        info.releaseNumber = mReleaseNumber;
    }
    return info;
}

std::optional<std::string> LSimulatedDevice::GetMidiPortName()
{
    const ChangeNotice notice(*this);
    std::lock_guard lock(mMutex);
    AdvanceLocked(mBus->NowMs());
    if (mMode != SimulatedDeviceMode::Application || mFaults.noMidiPort)
        return std::nullopt;
    return std::string(mRunningIdentity.midiPortName);
}

std::optional<ZT::DfuState> LSimulatedDevice::GetDfuState()
{
    const ChangeNotice notice(*this);
    std::lock_guard lock(mMutex);
    AdvanceLocked(mBus->NowMs());
    if (!mBootloader)
        return std::nullopt;
    return mBootloader->GetState();
}

void LSimulatedDevice::SetFaults(const SimulatedDeviceFaults& faults)
{
    std::lock_guard lock(mMutex);
    mFaults = faults;
    mDeviceHoldDone = false; // a hold given anew holds again
}

std::uint32_t LSimulatedDevice::GetFaultHits() const
{
    std::lock_guard lock(mMutex);
    return mFaultHits;
}

SimulatedDeviceFaults LSimulatedDevice::GetFaults() const
{
    std::lock_guard lock(mMutex);
    return mFaults;
}

void LSimulatedDevice::SetTimings(const SimulatedDeviceTimings& timings)
{
    std::lock_guard lock(mMutex);
    mTimings = timings;
}

SimulatedDeviceTimings LSimulatedDevice::GetTimings() const
{
    std::lock_guard lock(mMutex);
    return mTimings;
}

void LSimulatedDevice::Unplug()
{
    const ChangeNotice notice(*this);
    std::lock_guard lock(mMutex);
    const std::uint64_t now = mBus->NowMs();
    AdvanceLocked(now);
    if (mMode == SimulatedDeviceMode::Unplugged)
        return;
    LogLocked(now, "unplugged");
    LeaveBusLocked(SimulatedDeviceMode::Unplugged, std::nullopt, now);
}

void LSimulatedDevice::Plug()
{
    const ChangeNotice notice(*this);
    std::lock_guard lock(mMutex);
    const std::uint64_t now = mBus->NowMs();
    AdvanceLocked(now);
    if (mMode != SimulatedDeviceMode::Unplugged)
        return;
    LogLocked(now, "plugged in");
    StartLocked(now);
}

SimulatedDeviceSnapshot LSimulatedDevice::TakeSnapshot()
{
    const ChangeNotice notice(*this);
    std::lock_guard lock(mMutex);
    AdvanceLocked(mBus->NowMs());
    SimulatedDeviceSnapshot snapshot;
    snapshot.Mode = mMode == SimulatedDeviceMode::SwitchingToBootloader ? SimulatedDeviceMode::Bootloader : mMode;
    LSimulatedFlash flash = mFlash;
    if (mBootloader)
        snapshot.Bootloader = mBootloader->Settle(flash);
    const auto bytes = flash.Bytes();
    snapshot.Flash.assign(bytes.begin(), bytes.end());
    return snapshot;
}

bool LSimulatedDevice::ResumeBootloader(const DfuSeSession& session)
{
    if (!DfuSeSession::IsRestingState(session.State))
        return false;
    const ChangeNotice notice(*this);
    std::lock_guard lock(mMutex);
    const std::uint64_t now = mBus->NowMs();
    EnumerateLocked(SimulatedDeviceMode::Bootloader, now);
    (void)mBootloader->Resume(session); // a resting state, checked above
    LogLocked(now, std::string("bootloader session continued in ") + ZT::ToString(session.State) + ", " +
                       ZT::ToString(session.Status));
    return true;
}

void LSimulatedDevice::ResumeBrokenImage()
{
    const ChangeNotice notice(*this);
    std::lock_guard lock(mMutex);
    LeaveBusLocked(SimulatedDeviceMode::RunningBrokenImage, std::nullopt, mBus->NowMs());
}

void LSimulatedDevice::SetChangeHook(ChangeHook hook)
{
    std::lock_guard lock(mMutex);
    mChangeHook = std::move(hook);
}

void LSimulatedDevice::SetHoldHook(HoldHook hook)
{
    std::lock_guard lock(mMutex);
    mHoldHook = std::move(hook);
}

bool LSimulatedDevice::HoldsLocked(SimulatedDeviceHold::Point point)
{
    if (mDeviceHoldDone || !mFaults.hold || mFaults.hold->At != point)
        return false;
    mDeviceHoldDone = true;
    return true;
}

void LSimulatedDevice::BeginHoldUnlocked(Lock& lock)
{
    const std::string text = std::string(mKind == SimulatedDeviceKind::Controller ? "the controller" : "the wheel display") +
                             " holds " + (mFaults.hold ? mFaults.hold->Describe() : std::string("nothing")) +
                             " until the process ends";
    LogLocked(mBus->NowMs(), text);
    const ChangeHook changeHook = mChangeHook;
    const HoldHook holdHook = mHoldHook;
    lock.unlock();
    // Kept before anyone is told: whoever ends the process at the hold finds the device as it is.
    if (changeHook)
        changeHook(true);
    if (holdHook)
        holdHook(text);
}

bool LSimulatedDevice::ProgramFlash(std::uint32_t address, std::span<const std::uint8_t> bytes)
{
    std::lock_guard lock(mMutex);
    return mFlash.FactoryProgram(address, bytes);
}

std::vector<std::uint8_t> LSimulatedDevice::GetFlashDump() const
{
    std::lock_guard lock(mMutex);
    const auto bytes = mFlash.Bytes();
    return {bytes.begin(), bytes.end()};
}

std::optional<std::vector<std::uint8_t>> LSimulatedDevice::ReadFlash(std::uint32_t address, std::size_t length) const
{
    std::lock_guard lock(mMutex);
    return mFlash.Read(address, length);
}

std::optional<std::uint16_t> LSimulatedDevice::GetFlashReleaseNumber() const
{
    std::lock_guard lock(mMutex);
    return FlashReleaseLocked();
}

std::vector<std::string> LSimulatedDevice::GetLog() const
{
    std::lock_guard lock(mMutex);
    return mLog;
}

std::vector<SimulatedUsbRequest> LSimulatedDevice::GetRequestLog() const
{
    std::lock_guard lock(mMutex);
    return mRequestLog;
}

void LSimulatedDevice::ClearLogs()
{
    std::lock_guard lock(mMutex);
    mLog.clear();
    mRequestLog.clear();
}

ZT::UsbError LSimulatedDevice::OpenUsb(const std::string& path, std::uint64_t& appearance)
{
    const ChangeNotice notice(*this);
    std::lock_guard lock(mMutex);
    const std::uint64_t now = mBus->NowMs();
    AdvanceLocked(now);
    if (!IsOnBusLocked() || path != mPath)
        return ZT::UsbError::NotFound;
    if (mOpenConnections > 0) {
        LogLocked(now, "USB open refused: already open");
        return ZT::UsbError::Busy;
    }
    ++mOpenConnections;
    appearance = mAppearance;
    LogLocked(now, "USB opened at " + mPath);
    return ZT::UsbError::None;
}

void LSimulatedDevice::CloseUsb(std::uint64_t appearance)
{
    std::lock_guard lock(mMutex);
    if (appearance != mAppearance || mOpenConnections == 0)
        return;
    --mOpenConnections;
    LogLocked(mBus->NowMs(), "USB closed");
}

bool LSimulatedDevice::ControlTransfer(std::uint64_t appearance, std::uint8_t requestType, std::uint8_t request,
                                       std::uint16_t value, std::uint16_t index, std::uint8_t* data,
                                       std::uint16_t length, ZT::UsbError& error, std::uint16_t& transferred)
{
    transferred = 0;
    const bool deviceToHost = (requestType & 0x80) != 0;
    const ChangeNotice notice(*this);
    Lock lock(mMutex);

    SimulatedUsbRequest entry;
    entry.timeMs = mBus->NowMs();
    entry.requestType = requestType;
    entry.request = request;
    entry.value = value;
    entry.index = index;
    entry.length = length;
    if (!deviceToHost && length > 0)
        entry.dataOut.assign(data, data + length);

    for (;;) {
        const std::uint64_t now = mBus->NowMs();
        AdvanceLocked(now);
        if (!IsOnBusLocked() || appearance != mAppearance) {
            error = ZT::UsbError::NoDevice;
            return false;
        }
        if (mMode == SimulatedDeviceMode::Application) {
            // The application has no DFU interface: class requests to interface 0 are stalled.
            entry.error = ZT::UsbError::Pipe;
            mRequestLog.push_back(std::move(entry));
            error = ZT::UsbError::Pipe;
            return false;
        }

        DfuSeRequest dfuRequest;
        dfuRequest.requestType = requestType;
        dfuRequest.request = request;
        dfuRequest.value = value;
        dfuRequest.index = index;
        dfuRequest.length = length;
        dfuRequest.dataOut = entry.dataOut;
        const ZT::DfuState stateBefore = mBootloader->GetState();
        DfuSeReply reply = mBootloader->Handle(dfuRequest, now);
        if (mBootloader->GetState() != stateBefore)
            ++mDfuStateChanges;

        switch (reply.outcome) {
        case DfuSeReply::Outcome::HoldUntil: {
            // The bootloader answers only when its erase is done (or its hold is over); the
            // host's request waits.
            const std::uint64_t until = reply.holdUntilMs;
            if (reply.held)
                BeginHoldUnlocked(lock);
            else
                lock.unlock();
            mBus->SleepUntilMs(until);
            lock.lock();
            continue;
        }
        case DfuSeReply::Outcome::NoAnswer:
            entry.error = ZT::UsbError::Timeout;
            entry.stateAfter = mBootloader->GetState();
            mRequestLog.push_back(std::move(entry));
            LogLocked(now, DescribeRequest(request) + " not answered");
            lock.unlock();
            mBus->SleepMs(ZT::kUsbControlTransferTimeoutMs);
            error = ZT::UsbError::Timeout;
            return false;
        case DfuSeReply::Outcome::Unplug:
            entry.error = ZT::UsbError::NoDevice;
            entry.stateAfter = mBootloader->GetState();
            mRequestLog.push_back(std::move(entry));
            LogLocked(now, "unplugged during " + DescribeRequest(request) + " of block " + std::to_string(value));
            LeaveBusLocked(SimulatedDeviceMode::Unplugged, std::nullopt, now);
            error = ZT::UsbError::NoDevice;
            return false;
        case DfuSeReply::Outcome::PowerCut:
            entry.error = ZT::UsbError::NoDevice;
            entry.stateAfter = mBootloader->GetState();
            mRequestLog.push_back(std::move(entry));
            LogLocked(now, "power cut during " + DescribeRequest(request) + " of block " + std::to_string(value));
            LeaveBusLocked(SimulatedDeviceMode::Restarting, now + mBus->DurationMs(mTimings.returnMs), now);
            error = ZT::UsbError::NoDevice;
            return false;
        case DfuSeReply::Outcome::Stalled:
            entry.error = ZT::UsbError::Pipe;
            entry.stateAfter = mBootloader->GetState();
            mRequestLog.push_back(std::move(entry));
            LogLocked(now, DescribeRequest(request) + " stalled; " + ZT::ToString(mBootloader->GetState()) + ", " +
                               ZT::ToString(mBootloader->GetStatus()));
            error = ZT::UsbError::Pipe;
            return false;
        case DfuSeReply::Outcome::Answered: {
            if (deviceToHost) {
                const std::size_t count = std::min<std::size_t>(reply.dataIn.size(), length);
                if (count > 0)
                    std::copy_n(reply.dataIn.begin(), count, data);
                reply.dataIn.resize(count);
                transferred = static_cast<std::uint16_t>(count);
                entry.dataIn = std::move(reply.dataIn);
            } else {
                transferred = length;
            }
            entry.stateAfter = mBootloader->GetState();
            mRequestLog.push_back(std::move(entry));
            if (reply.resetAfterReply && reply.resetDelayMs > 0) {
                LogLocked(now, "leaving the bootloader to 0x" + Hex4(mBootloader->GetAddressPointer() >> 16) +
                                   Hex4(mBootloader->GetAddressPointer() & 0xFFFF) + ", resetting after " +
                                   std::to_string(reply.resetDelayMs) + " ms");
                mNextEventMs = now + reply.resetDelayMs; // AdvanceLocked resets it then
            } else if (reply.resetAfterReply) {
                LogLocked(now, "leaving the bootloader to 0x" + Hex4(mBootloader->GetAddressPointer() >> 16) +
                                   Hex4(mBootloader->GetAddressPointer() & 0xFFFF) + ", resetting");
                if (HoldsLocked(SimulatedDeviceHold::Point::Return)) {
                    LeaveBusLocked(SimulatedDeviceMode::Restarting, now + SimulatedDeviceHold::kHoldMs, now);
                    BeginHoldUnlocked(lock);
                } else {
                    RestartLocked(now);
                }
            }
            error = ZT::UsbError::None;
            return true;
        }
        }
        error = ZT::UsbError::Io;
        return false;
    }
}

bool LSimulatedDevice::ResetUsb(std::uint64_t appearance, ZT::UsbError& error)
{
    const ChangeNotice notice(*this);
    std::lock_guard lock(mMutex);
    const std::uint64_t now = mBus->NowMs();
    AdvanceLocked(now);
    if (!IsOnBusLocked() || appearance != mAppearance) {
        error = ZT::UsbError::NoDevice;
        return false;
    }
    error = ZT::UsbError::None;
    const std::uint64_t returnAt = now + mBus->DurationMs(mTimings.returnMs);
    if (mMode == SimulatedDeviceMode::Application) {
        LogLocked(now, "USB reset: the application restarts");
        LeaveBusLocked(SimulatedDeviceMode::Restarting, returnAt, now);
        return true;
    }
    const ZT::DfuState state = mBootloader->GetState();
    switch (state) {
    case ZT::DfuState::DfuManifestSync:
    case ZT::DfuState::DfuManifest:
    case ZT::DfuState::DfuManifestWaitReset:
        LogLocked(now, std::string("USB reset in ") + ZT::ToString(state) + ": booting as at power-up");
        RestartLocked(now);
        return true;
    case ZT::DfuState::AppIdle:
    case ZT::DfuState::AppDetach:
    case ZT::DfuState::DfuIdle:
    case ZT::DfuState::DfuDnloadSync:
    case ZT::DfuState::DfuDnbusy:
    case ZT::DfuState::DfuDnloadIdle:
    case ZT::DfuState::DfuUploadIdle:
    case ZT::DfuState::DfuError:
        break;
    }
    LogLocked(now, std::string("USB reset in ") + ZT::ToString(state) + ": the bootloader starts again");
    LeaveBusLocked(SimulatedDeviceMode::SwitchingToBootloader, returnAt, now);
    return true;
}

bool LSimulatedDevice::OpenMidi(const std::string& name, std::uint64_t& appearance)
{
    const ChangeNotice notice(*this);
    std::lock_guard lock(mMutex);
    const std::uint64_t now = mBus->NowMs();
    AdvanceLocked(now);
    if (mMode != SimulatedDeviceMode::Application || mFaults.noMidiPort || name != mRunningIdentity.midiPortName)
        return false;
    appearance = mAppearance;
    LogLocked(now, "MIDI port opened");
    return true;
}

LSimulatedDevice::MidiDelivery LSimulatedDevice::ReceiveMidi(std::uint64_t appearance, std::span<const std::uint8_t> message)
{
    const ChangeNotice notice(*this);
    Lock lock(mMutex);
    std::uint64_t now = mBus->NowMs();
    AdvanceLocked(now);
    if (mMode != SimulatedDeviceMode::Application || appearance != mAppearance || mFaults.noMidiPort)
        return MidiDelivery::Gone;
    const bool updateModeRequest =
        std::equal(message.begin(), message.end(), kUpdateModeRequest.begin(), kUpdateModeRequest.end());
    // Only the update-mode message meets the fault; Stall stands for none until one is found.
    bool faulted = false;
    SimulatedFaultKind fault = SimulatedFaultKind::Stall;
    if (const auto kind = mFaults.KindAt(SimulatedFaultPhase::ModeSwitch); updateModeRequest && kind) {
        faulted = true;
        fault = *kind;
    }
    if (faulted && fault != SimulatedFaultKind::ErrorStatus && fault != SimulatedFaultKind::BusyTooLong)
        ++mFaultHits;
    if (faulted && fault == SimulatedFaultKind::NoAnswer) {
        LogLocked(now, "MIDI " + HexBytes(message) + " lost: completion never reported");
        return MidiDelivery::NeverCompletes;
    }
    if (updateModeRequest && HoldsLocked(SimulatedDeviceHold::Point::UpdateModeMessage)) {
        BeginHoldUnlocked(lock);
        mBus->SleepUntilMs(now + SimulatedDeviceHold::kHoldMs);
        lock.lock();
        now = mBus->NowMs();
        AdvanceLocked(now);
        if (mMode != SimulatedDeviceMode::Application || appearance != mAppearance)
            return MidiDelivery::Gone;
    }
    LogLocked(now, "MIDI " + HexBytes(message));
    if (!updateModeRequest)
        return MidiDelivery::Delivered;
    // A message has no status: ErrorStatus and BusyTooLong do not apply to it.
    if (faulted && fault == SimulatedFaultKind::Stall) {
        LogLocked(now, "update-mode request ignored");
        return MidiDelivery::Delivered;
    }
    if (faulted && fault == SimulatedFaultKind::Unplug) {
        LogLocked(now, "update-mode request: unplugged");
        LeaveBusLocked(SimulatedDeviceMode::Unplugged, std::nullopt, now);
        return MidiDelivery::Delivered;
    }
    if (faulted && fault == SimulatedFaultKind::PowerCut) {
        LogLocked(now, "update-mode request: power cut");
        LeaveBusLocked(SimulatedDeviceMode::Restarting, now + mBus->DurationMs(mTimings.returnMs), now);
        return MidiDelivery::Delivered;
    }
    // The way into the bootloader: the restart may come late, never, or boot the application.
    std::optional<std::uint64_t> appearAt = now + mBus->DurationMs(mTimings.bootloaderAppearMs);
    SimulatedDeviceMode mode = SimulatedDeviceMode::SwitchingToBootloader;
    switch (mFaults.KindAt(SimulatedFaultPhase::BootloaderSearch).value_or(SimulatedFaultKind::ErrorStatus)) {
    case SimulatedFaultKind::Unplug:
        ++mFaultHits;
        appearAt.reset();
        break;
    case SimulatedFaultKind::BusyTooLong:
        ++mFaultHits;
        appearAt = now + mBus->DurationMs(mTimings.slowReturnMs);
        break;
    case SimulatedFaultKind::PowerCut:
        ++mFaultHits;
        LogLocked(now, "update-mode request: power cut while restarting");
        mode = SimulatedDeviceMode::Restarting; // boots by the image's first word, as at power-up
        break;
    case SimulatedFaultKind::Stall:
    case SimulatedFaultKind::NoAnswer:    // the bootloader starts broken (LDfuSeBootloader)
    case SimulatedFaultKind::ErrorStatus: // likewise
        break;
    }
    const bool held = mode == SimulatedDeviceMode::SwitchingToBootloader && appearAt &&
                      HoldsLocked(SimulatedDeviceHold::Point::BootloaderAppearance);
    if (held)
        appearAt = now + SimulatedDeviceHold::kHoldMs;
    if (mode == SimulatedDeviceMode::SwitchingToBootloader)
        LogLocked(now, "update-mode request: restarting in the bootloader");
    LeaveBusLocked(mode, appearAt, now);
    if (held)
        BeginHoldUnlocked(lock);
    return MidiDelivery::Delivered;
}

void LSimulatedDevice::AdvanceLocked(std::uint64_t nowMs)
{
    // One event may bring the next (a long manifestation's end brings the restart): each in turn.
    while (mNextEventMs && nowMs >= *mNextEventMs) {
        const std::uint64_t dueMs = *mNextEventMs;
        mNextEventMs.reset();
        switch (mMode) {
        case SimulatedDeviceMode::SwitchingToBootloader:
            EnumerateLocked(SimulatedDeviceMode::Bootloader, dueMs);
            break;
        case SimulatedDeviceMode::Restarting:
            StartLocked(dueMs);
            break;
        case SimulatedDeviceMode::Bootloader: // a leave that kept it in dfuMANIFEST ends now
            LogLocked(dueMs, "resetting at the end of a long manifestation");
            RestartLocked(dueMs);
            break;
        case SimulatedDeviceMode::Application:
        case SimulatedDeviceMode::Unplugged:
        case SimulatedDeviceMode::RunningBrokenImage:
            break;
        }
    }
}

void LSimulatedDevice::RestartLocked(std::uint64_t timeMs)
{
    std::optional<std::uint64_t> returnAt = timeMs + mBus->DurationMs(mTimings.returnMs);
    switch (mFaults.KindAt(SimulatedFaultPhase::Return).value_or(SimulatedFaultKind::Stall)) {
    case SimulatedFaultKind::Unplug:
        ++mFaultHits;
        returnAt.reset();
        break;
    case SimulatedFaultKind::BusyTooLong:
        ++mFaultHits;
        returnAt = timeMs + mBus->DurationMs(mTimings.slowReturnMs);
        break;
    case SimulatedFaultKind::PowerCut:
        ++mFaultHits;
        // The power goes while it restarts: it powers up once more, a restart time later.
        LogLocked(timeMs, "power cut while restarting");
        returnAt = timeMs + 2 * mBus->DurationMs(mTimings.returnMs);
        break;
    case SimulatedFaultKind::Stall: // nothing to stall, answer or fail while it is off the bus
    case SimulatedFaultKind::NoAnswer:
    case SimulatedFaultKind::ErrorStatus:
        break;
    }
    LeaveBusLocked(SimulatedDeviceMode::Restarting, returnAt, timeMs);
}

void LSimulatedDevice::StartLocked(std::uint64_t timeMs)
{
    // The boot code looks at the image's initial stack pointer: erased, or no RAM address, and
    // there is no application to start.
    const auto firstWord = mFlash.Read(kApplicationStartAddress, 4);
    const std::uint32_t stackPointer = firstWord ? static_cast<std::uint32_t>((*firstWord)[0] | ((*firstWord)[1] << 8) |
                                                                              ((*firstWord)[2] << 16)) |
                                                       (static_cast<std::uint32_t>((*firstWord)[3]) << 24)
                                                 : 0xFFFFFFFFu;
    std::optional<std::uint16_t> release;
    const FirmwareImageCheck check = CheckImageLocked(&release);
    const bool starts = IsPlausibleStackPointer(stackPointer) &&
                        (!mFaults.checksImage || check == FirmwareImageCheck::Valid);
    if (!starts) {
        LogLocked(timeMs, std::string("no application to start (initial stack pointer ") + Hex8(stackPointer) + ", " +
                              FirmwareImageCheckName(check) + "): staying in the bootloader");
        EnumerateLocked(SimulatedDeviceMode::Bootloader, timeMs);
        return;
    }
    if (check != FirmwareImageCheck::Valid) {
        LogLocked(timeMs, std::string("starting a broken application (") + FirmwareImageCheckName(check) +
                              "): it crashes before it enumerates");
        LeaveBusLocked(SimulatedDeviceMode::RunningBrokenImage, std::nullopt, timeMs);
        return;
    }
    mReleaseNumber = *release;
    mRunningIdentity = mIdentity;
    if (mFaults.identityFromImage) {
        const auto bytes = mFlash.Bytes();
        if (const auto named = ReadImageDevice(bytes.subspan(kApplicationStartAddress - LSimulatedFlash::kBaseAddress)))
            mRunningIdentity = IdentityOf(*named);
    }
    EnumerateLocked(SimulatedDeviceMode::Application, timeMs);
}

FirmwareImageCheck LSimulatedDevice::CheckImageLocked(std::optional<std::uint16_t>* release) const
{
    const auto bytes = mFlash.Bytes();
    return CheckFirmwareImage(bytes.subspan(kApplicationStartAddress - LSimulatedFlash::kBaseAddress), release);
}

void LSimulatedDevice::EnumerateLocked(SimulatedDeviceMode mode, std::uint64_t timeMs)
{
    ++mModeChanges;
    mMode = mode;
    ++mAppearance;
    mOpenConnections = 0;
    mNextEventMs.reset();
    mPath = mBus->NextDevicePath();
    if (mode == SimulatedDeviceMode::Bootloader) {
        mBootloader = std::make_unique<LDfuSeBootloader>(mFlash, mFaults, mTimings, *mBus, mFaultHits);
        LogLocked(timeMs, "enumerated as bootloader " + Hex4(kBootloaderVendorId) + ":" + Hex4(kBootloaderProductId) +
                              " at " + mPath + " in " + ZT::ToString(mBootloader->GetState()));
        return;
    }
    mBootloader.reset();
    LogLocked(timeMs, "enumerated as " + Hex4(mRunningIdentity.vendorId) + ":" + Hex4(mRunningIdentity.productId) + " release " +
                          Hex4(mReleaseNumber) + " at " + mPath);
}

void LSimulatedDevice::LeaveBusLocked(SimulatedDeviceMode mode, std::optional<std::uint64_t> returnAtMs, std::uint64_t timeMs)
{
    ++mModeChanges;
    mMode = mode;
    ++mAppearance;
    mOpenConnections = 0;
    mPath.clear();
    mBootloader.reset();
    mNextEventMs = returnAtMs;
    LogLocked(timeMs, std::string("left the bus: ") + SimulatedDeviceModeName(mode) +
                          (returnAtMs ? ", back at " + std::to_string(*returnAtMs) + " ms" : ", not coming back"));
}

bool LSimulatedDevice::IsOnBusLocked() const
{
    return mMode == SimulatedDeviceMode::Application || mMode == SimulatedDeviceMode::Bootloader;
}

std::optional<std::uint16_t> LSimulatedDevice::FlashReleaseLocked() const
{
    std::optional<std::uint16_t> release;
    (void)CheckImageLocked(&release); // release stays empty unless the image is valid
    return release;
}

void LSimulatedDevice::LogLocked(std::uint64_t timeMs, const std::string& text)
{
    mLog.push_back("[" + std::to_string(timeMs) + " ms] " + text);
}
