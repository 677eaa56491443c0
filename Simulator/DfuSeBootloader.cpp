#include "Simulator/DfuSeBootloader.h"

#include "Simulator/SimulatedBus.h"
#include "Simulator/SimulatedFlash.h"

#include <algorithm>
#include <limits>
#include <utility>

namespace {

constexpr std::size_t kStatusReplyLength = 6;
constexpr std::size_t kDfuSeCommandLength = 5;
constexpr std::uint32_t kKiB = 1024;

std::uint32_t ReadLittleEndian32(std::span<const std::uint8_t> bytes)
{
    return static_cast<std::uint32_t>(bytes[0]) | (static_cast<std::uint32_t>(bytes[1]) << 8) |
           (static_cast<std::uint32_t>(bytes[2]) << 16) | (static_cast<std::uint32_t>(bytes[3]) << 24);
}

// A request for another interface or of a type the bootloader does not know: a protocol stall
// that leaves the DFU state machine alone.
DfuSeReply ProtocolStall()
{
    DfuSeReply reply;
    reply.outcome = DfuSeReply::Outcome::Stalled;
    return reply;
}

} // namespace

LDfuSeBootloader::LDfuSeBootloader(LSimulatedFlash& flash, const SimulatedDeviceFaults& faults,
                                   const SimulatedDeviceTimings& timings, const LSimulatedBus& bus,
                                   std::uint32_t& faultHits)
    : mFlash(flash),
      mFaults(faults),
      mTimings(timings),
      mBus(bus),
      mFaultHits(faultHits),
      mState(ZT::DfuState::DfuIdle),
      mStatus(ZT::DfuStatus::Ok),
      mAddressPointer(LSimulatedFlash::kBaseAddress)
{
    // A bootloader that comes up broken: in dfuERROR, or answering nothing.
    const std::optional<SimulatedFaultKind> start = faults.KindAt(SimulatedFaultPhase::BootloaderSearch);
    if (start == SimulatedFaultKind::ErrorStatus) {
        mState = ZT::DfuState::DfuError;
        mStatus = ZT::DfuStatus::ErrUnknown;
    }
    mHung = start == SimulatedFaultKind::NoAnswer;
    if (mHung || mState == ZT::DfuState::DfuError)
        ++mFaultHits;
}

DfuSeReply LDfuSeBootloader::Handle(const DfuSeRequest& request, std::uint64_t nowMs)
{
    if (mHung) {
        DfuSeReply reply;
        reply.outcome = DfuSeReply::Outcome::NoAnswer;
        return reply;
    }
    if (mRequestsHandled++ == 0 && HoldsHere(SimulatedDeviceHold::Point::FirstRequest)) {
        mRequestsHandled = 0; // answered after the hold as the first request
        return Held(nowMs);
    }
    if (request.index != 0)
        return ProtocolStall();
    const bool deviceToHost = request.requestType == ZT::kDfuRequestTypeIn;
    if (!deviceToHost && request.requestType != ZT::kDfuRequestTypeOut)
        return ProtocolStall();
    if (request.request > static_cast<std::uint8_t>(ZT::DfuRequest::Abort))
        return Stall();

    const bool busy = mState == ZT::DfuState::DfuDnbusy;
    switch (static_cast<ZT::DfuRequest>(request.request)) {
    case ZT::DfuRequest::Detach:
        return Stall();
    case ZT::DfuRequest::Dnload:
        if (deviceToHost || busy)
            return Stall();
        return HandleDnload(request);
    case ZT::DfuRequest::Upload:
        if (!deviceToHost || busy)
            return Stall();
        return HandleUpload(request);
    case ZT::DfuRequest::GetStatus:
        if (!deviceToHost)
            return Stall();
        if (!std::exchange(mStatusAsked, true)) {
            const std::optional<SimulatedFaultKind> kind = mFaults.KindAt(SimulatedFaultPhase::IdleCheck);
            if (auto reply = kind ? FaultReply(*kind) : std::nullopt)
                return *reply;
            if (kind == SimulatedFaultKind::ErrorStatus || kind == SimulatedFaultKind::BusyTooLong)
                ++mFaultHits;
            if (kind == SimulatedFaultKind::ErrorStatus) {
                mState = ZT::DfuState::DfuError;
                mStatus = ZT::DfuStatus::ErrUnknown;
                mPending.reset();
            } else if (kind == SimulatedFaultKind::BusyTooLong && !mPending) {
                // Still busy with an operation of its own, far longer than a host waits.
                Operation operation;
                operation.kind = OperationKind::SetAddress;
                operation.address = mAddressPointer;
                operation.tooLong = true;
                mPending = std::move(operation);
                mBusyUntilMs.reset();
                mState = ZT::DfuState::DfuDnloadSync;
            }
        }
        return HandleGetStatus(request, nowMs);
    case ZT::DfuRequest::ClrStatus:
        if (deviceToHost || busy)
            return Stall();
        return HandleClrStatus();
    case ZT::DfuRequest::GetState:
        if (!deviceToHost || request.length < 1)
            return Stall();
        return Answer({static_cast<std::uint8_t>(mState)});
    case ZT::DfuRequest::Abort:
        if (deviceToHost || busy)
            return Stall();
        return HandleAbort();
    }
    return Stall();
}

DfuSeReply LDfuSeBootloader::Stall(ZT::DfuStatus status)
{
    mState = ZT::DfuState::DfuError;
    mStatus = status;
    mPending.reset();
    mBusyUntilMs.reset();
    mForcedBusyReplies = 0;
    DfuSeReply reply;
    reply.outcome = DfuSeReply::Outcome::Stalled;
    return reply;
}

std::optional<DfuSeReply> LDfuSeBootloader::FaultReply(SimulatedFaultKind kind)
{
    DfuSeReply reply;
    switch (kind) {
    case SimulatedFaultKind::Stall:
        ++mFaultHits;
        return Stall();
    case SimulatedFaultKind::NoAnswer:
        ++mFaultHits;
        mHung = true;
        reply.outcome = DfuSeReply::Outcome::NoAnswer;
        return reply;
    case SimulatedFaultKind::Unplug:
        ++mFaultHits;
        reply.outcome = DfuSeReply::Outcome::Unplug;
        return reply;
    case SimulatedFaultKind::PowerCut:
        ++mFaultHits;
        reply.outcome = DfuSeReply::Outcome::PowerCut;
        return reply;
    case SimulatedFaultKind::ErrorStatus:
    case SimulatedFaultKind::BusyTooLong:
        break;
    }
    return std::nullopt;
}

void LDfuSeBootloader::MarkOperation(Operation& operation, std::optional<SimulatedFaultKind> kind, ZT::DfuStatus error)
{
    if (kind == SimulatedFaultKind::ErrorStatus)
        operation.failsWith = error;
    operation.tooLong = kind == SimulatedFaultKind::BusyTooLong;
    if (operation.failsWith || operation.tooLong)
        ++mFaultHits;
}

ZT::DfuStatus LDfuSeBootloader::OutcomeOf(const Operation& operation) const
{
    return operation.failsWith ? *operation.failsWith : Validate(operation);
}

DfuSeReply LDfuSeBootloader::Answer(std::vector<std::uint8_t> dataIn)
{
    DfuSeReply reply;
    reply.dataIn = std::move(dataIn);
    return reply;
}

DfuSeReply LDfuSeBootloader::StatusAnswer(std::uint32_t pollTimeoutMs)
{
    return Answer({static_cast<std::uint8_t>(mStatus), static_cast<std::uint8_t>(pollTimeoutMs & 0xFF),
                   static_cast<std::uint8_t>((pollTimeoutMs >> 8) & 0xFF),
                   static_cast<std::uint8_t>((pollTimeoutMs >> 16) & 0xFF), static_cast<std::uint8_t>(mState), 0});
}

DfuSeReply LDfuSeBootloader::HandleDnload(const DfuSeRequest& request)
{
    if (request.length == 0) {
        // The leave: only after a download, never straight from dfuIDLE.
        if (mState != ZT::DfuState::DfuDnloadIdle)
            return Stall();
        mLeaveFault = mFaults.KindAt(SimulatedFaultPhase::Leave);
        if (auto reply = mLeaveFault ? FaultReply(*mLeaveFault) : std::nullopt)
            return *reply;
        if (mLeaveFault)
            ++mFaultHits; // acts on the status request that completes the leave
        mState = ZT::DfuState::DfuManifestSync;
        return Answer();
    }
    if (mState != ZT::DfuState::DfuIdle && mState != ZT::DfuState::DfuDnloadIdle)
        return Stall();
    if (request.length > kTransferSize || request.dataOut.size() < request.length)
        return Stall();
    const auto payload = request.dataOut.first(request.length);

    Operation operation;
    if (request.value == 0) {
        if (payload.size() != kDfuSeCommandLength)
            return Stall();
        std::optional<SimulatedFaultKind> fault;
        ZT::DfuStatus error = ZT::DfuStatus::ErrUnknown;
        if (payload[0] == ZT::kDfuSeCommandSetAddress) {
            operation.kind = OperationKind::SetAddress;
            fault = mFaults.KindAt(SimulatedFaultPhase::SetAddress, mSetAddressesReceived++);
            error = ZT::DfuStatus::ErrAddress;
        } else if (payload[0] == ZT::kDfuSeCommandErase) {
            operation.kind = OperationKind::Erase;
            operation.eraseIndex = mErasesReceived++;
            fault = mFaults.KindAt(SimulatedFaultPhase::Erase, operation.eraseIndex);
            error = ZT::DfuStatus::ErrErase;
        } else {
            return Stall();
        }
        if (auto reply = fault ? FaultReply(*fault) : std::nullopt)
            return *reply;
        MarkOperation(operation, fault, error);
        operation.address = ReadLittleEndian32(payload.subspan(1));
    } else if (request.value == 1) {
        return Stall();
    } else {
        // A block the fault stops is not counted: the next one is "after N blocks" again.
        const std::uint32_t block = mBlocksReceived;
        const std::optional<SimulatedFaultKind> fault = mFaults.KindAt(SimulatedFaultPhase::DataBlock, block);
        if (auto reply = fault ? FaultReply(*fault) : std::nullopt)
            return *reply;
        MarkOperation(operation, fault, ZT::DfuStatus::ErrWrite);
        operation.kind = OperationKind::Write;
        operation.address = BlockAddress(request.value);
        operation.data.assign(payload.begin(), payload.end());
        operation.blockIndex = block;
        ++mBlocksReceived;
    }
    mPending = std::move(operation);
    mBusyUntilMs.reset();
    mState = ZT::DfuState::DfuDnloadSync;
    return Answer();
}

std::uint64_t LDfuSeBootloader::BlockAddress(std::uint16_t blockNumber) const noexcept
{
    return static_cast<std::uint64_t>(blockNumber - 2) * kTransferSize + mAddressPointer;
}

DfuSeReply LDfuSeBootloader::HandleUpload(const DfuSeRequest& request)
{
    if (mState != ZT::DfuState::DfuIdle && mState != ZT::DfuState::DfuUploadIdle)
        return Stall();
    if (request.length == 0) {
        mState = ZT::DfuState::DfuIdle;
        return Answer();
    }
    if (request.length > kTransferSize)
        return Stall();
    if (request.value == 0) {
        std::vector<std::uint8_t> commands{ZT::kDfuSeCommandGetCommands, ZT::kDfuSeCommandSetAddress,
                                           ZT::kDfuSeCommandErase, ZT::kDfuSeCommandReadUnprotect};
        commands.resize(std::min<std::size_t>(commands.size(), request.length));
        mState = ZT::DfuState::DfuUploadIdle;
        return Answer(std::move(commands));
    }
    if (request.value == 1)
        return Stall();
    const std::uint64_t address = BlockAddress(request.value);
    if (address > std::numeric_limits<std::uint32_t>::max())
        return Stall(ZT::DfuStatus::ErrAddress);
    auto bytes = mFlash.Read(static_cast<std::uint32_t>(address), request.length);
    if (!bytes)
        return Stall(ZT::DfuStatus::ErrAddress);
    mState = ZT::DfuState::DfuUploadIdle;
    return Answer(std::move(*bytes));
}

DfuSeReply LDfuSeBootloader::HandleGetStatus(const DfuSeRequest& request, std::uint64_t nowMs)
{
    if (request.length < kStatusReplyLength)
        return Stall();

    switch (mState) {
    case ZT::DfuState::DfuDnloadSync: {
        const Operation& operation = *mPending;
        if (!mBusyUntilMs &&
            ((operation.kind == OperationKind::Erase && HoldsHere(SimulatedDeviceHold::Point::Erase, operation.eraseIndex)) ||
             (operation.kind == OperationKind::Write && HoldsHere(SimulatedDeviceHold::Point::Block, operation.blockIndex)) ||
             (operation.kind == OperationKind::SetAddress &&
              HoldsHere(SimulatedDeviceHold::Point::SetAddressAfterBlocks, mBlocksReceived))))
            return Held(nowMs);
        const std::uint64_t duration = DurationOf(operation);
        if (!mBusyUntilMs)
            mBusyUntilMs = nowMs + duration;
        const bool busyAtOnce = (operation.kind == OperationKind::Erase && mFaults.eraseBusyAtOnce) || operation.tooLong;
        if (nowMs < *mBusyUntilMs && busyAtOnce) {
            // The erase runs while the host polls: dfuDNBUSY now, the outcome once it is done.
            mState = ZT::DfuState::DfuDnbusy;
            return StatusAnswer(static_cast<std::uint32_t>(std::min<std::uint64_t>(duration, 0xFFFFFF)));
        }
        if (nowMs < *mBusyUntilMs) {
            // The bootloader answers only when the flash is done; the host's request waits.
            DfuSeReply reply;
            reply.outcome = DfuSeReply::Outcome::HoldUntil;
            reply.holdUntilMs = *mBusyUntilMs;
            return reply;
        }
        mOutcome = OutcomeOf(operation);
        if (mOutcome == ZT::DfuStatus::Ok)
            mOutcome = Apply(operation, mFlash, mAddressPointer);
        mForcedBusyReplies = 0;
        if (operation.kind == OperationKind::Write && mFaults.busyBlockIndex == operation.blockIndex &&
            mFaults.busyBlockStatusReplies > 0)
            mForcedBusyReplies = mFaults.busyBlockStatusReplies - 1; // this answer is the first
        mPending.reset();
        mBusyUntilMs.reset();
        mState = ZT::DfuState::DfuDnbusy;
        return StatusAnswer(static_cast<std::uint32_t>(std::min<std::uint64_t>(duration, 0xFFFFFF)));
    }
    case ZT::DfuState::DfuDnbusy:
        if (mPending) { // an erase answered busy at once
            if (nowMs < *mBusyUntilMs)
                return StatusAnswer(static_cast<std::uint32_t>(std::min<std::uint64_t>(*mBusyUntilMs - nowMs, 0xFFFFFF)));
            mOutcome = OutcomeOf(*mPending);
            if (mOutcome == ZT::DfuStatus::Ok)
                mOutcome = Apply(*mPending, mFlash, mAddressPointer);
            mPending.reset();
            mBusyUntilMs.reset();
        }
        if (mForcedBusyReplies > 0) {
            --mForcedBusyReplies;
            return StatusAnswer(static_cast<std::uint32_t>(mBus.DurationMs(mTimings.blockWriteMs)));
        }
        mStatus = mOutcome;
        mState = mOutcome == ZT::DfuStatus::Ok ? ZT::DfuState::DfuDnloadIdle : ZT::DfuState::DfuError;
        return StatusAnswer(0);
    case ZT::DfuState::DfuManifestSync: {
        if (HoldsHere(SimulatedDeviceHold::Point::Leave))
            return Held(nowMs);
        if (mLeaveFault == SimulatedFaultKind::ErrorStatus) {
            // The manifestation fails: the bootloader stays, in dfuERROR.
            mState = ZT::DfuState::DfuError;
            mStatus = ZT::DfuStatus::ErrFirmware;
            return StatusAnswer(0);
        }
        mState = ZT::DfuState::DfuManifest;
        DfuSeReply reply = StatusAnswer(0);
        if (mLeaveFault == SimulatedFaultKind::BusyTooLong) {
            // It stays on the bus in dfuMANIFEST far longer than a host waits, then resets.
            reply.resetAfterReply = true;
            reply.resetDelayMs = mBus.DurationMs(mTimings.busyTooLongMs);
        } else if (mFaults.manifestWaitsForReset)
            mState = ZT::DfuState::DfuManifestWaitReset; // until a USB reset or a power-up
        else
            reply.resetAfterReply = true;
        return reply;
    }
    case ZT::DfuState::AppIdle:
    case ZT::DfuState::AppDetach:
    case ZT::DfuState::DfuIdle:
    case ZT::DfuState::DfuDnloadIdle:
    case ZT::DfuState::DfuManifest:
    case ZT::DfuState::DfuManifestWaitReset:
    case ZT::DfuState::DfuUploadIdle:
    case ZT::DfuState::DfuError:
        return StatusAnswer(0);
    }
    return StatusAnswer(0);
}

DfuSeReply LDfuSeBootloader::HandleClrStatus()
{
    if (mState == ZT::DfuState::DfuError) {
        mState = ZT::DfuState::DfuIdle;
        mStatus = ZT::DfuStatus::Ok;
    } else {
        mState = ZT::DfuState::DfuError;
        mStatus = ZT::DfuStatus::ErrUnknown;
    }
    return Answer();
}

DfuSeReply LDfuSeBootloader::HandleAbort()
{
    switch (mState) {
    case ZT::DfuState::DfuIdle:
    case ZT::DfuState::DfuDnloadSync:
    case ZT::DfuState::DfuDnloadIdle:
    case ZT::DfuState::DfuManifestSync:
    case ZT::DfuState::DfuUploadIdle:
        mPending.reset();
        mBusyUntilMs.reset();
        mState = ZT::DfuState::DfuIdle;
        return Answer();
    case ZT::DfuState::AppIdle:
    case ZT::DfuState::AppDetach:
    case ZT::DfuState::DfuDnbusy:
    case ZT::DfuState::DfuManifest:
    case ZT::DfuState::DfuManifestWaitReset:
    case ZT::DfuState::DfuError:
        return Stall();
    }
    return Stall();
}

bool LDfuSeBootloader::HoldsHere(SimulatedDeviceHold::Point point, std::optional<std::uint32_t> index)
{
    if (mHoldDone || !mFaults.hold || mFaults.hold->At != point || (index && *index != mFaults.hold->Index))
        return false;
    mHoldDone = true;
    return true;
}

DfuSeReply LDfuSeBootloader::Held(std::uint64_t nowMs)
{
    DfuSeReply reply;
    reply.outcome = DfuSeReply::Outcome::HoldUntil;
    reply.holdUntilMs = nowMs + SimulatedDeviceHold::kHoldMs;
    reply.held = true;
    return reply;
}

std::uint64_t LDfuSeBootloader::DurationOf(const Operation& operation) const
{
    if (operation.tooLong)
        return mBus.DurationMs(mTimings.busyTooLongMs);
    switch (operation.kind) {
    case OperationKind::SetAddress:
        return 0;
    case OperationKind::Erase: {
        const auto sector = LSimulatedFlash::SectorIndexOf(static_cast<std::uint32_t>(operation.address));
        if (!sector)
            return 0;
        const std::uint32_t size = LSimulatedFlash::SectorSize(*sector);
        if (size <= 16 * kKiB)
            return mBus.DurationMs(mTimings.erase16KiBMs);
        if (size <= 64 * kKiB)
            return mBus.DurationMs(mTimings.erase64KiBMs);
        return mBus.DurationMs(mTimings.erase128KiBMs);
    }
    case OperationKind::Write: {
        const std::uint64_t nominal =
            (static_cast<std::uint64_t>(operation.data.size()) * mTimings.blockWriteMs + kTransferSize - 1) / kTransferSize;
        return mBus.DurationMs(static_cast<std::uint32_t>(nominal));
    }
    }
    return 0;
}

ZT::DfuStatus LDfuSeBootloader::Validate(const Operation& operation) const
{
    switch (operation.kind) {
    case OperationKind::SetAddress:
        return ZT::DfuStatus::Ok;
    case OperationKind::Erase:
        return LSimulatedFlash::SectorIndexOf(static_cast<std::uint32_t>(operation.address))
                   ? ZT::DfuStatus::Ok
                   : ZT::DfuStatus::ErrTarget;
    case OperationKind::Write:
        if (operation.address > std::numeric_limits<std::uint32_t>::max())
            return ZT::DfuStatus::ErrAddress;
        switch (mFlash.CheckProgram(static_cast<std::uint32_t>(operation.address), operation.data.size())) {
        case LSimulatedFlash::ProgramResult::Ok:
            return ZT::DfuStatus::Ok;
        case LSimulatedFlash::ProgramResult::OutsideFlash:
            return ZT::DfuStatus::ErrAddress;
        case LSimulatedFlash::ProgramResult::NotErased:
            return ZT::DfuStatus::ErrWrite;
        }
        return ZT::DfuStatus::ErrWrite;
    }
    return ZT::DfuStatus::ErrUnknown;
}

ZT::DfuStatus LDfuSeBootloader::Apply(const Operation& operation, LSimulatedFlash& flash,
                                      std::uint32_t& addressPointer)
{
    switch (operation.kind) {
    case OperationKind::SetAddress:
        addressPointer = static_cast<std::uint32_t>(operation.address);
        return ZT::DfuStatus::Ok;
    case OperationKind::Erase: {
        const auto sector = LSimulatedFlash::SectorIndexOf(static_cast<std::uint32_t>(operation.address));
        if (!sector)
            return ZT::DfuStatus::ErrTarget;
        flash.EraseSector(*sector);
        return ZT::DfuStatus::Ok;
    }
    case OperationKind::Write:
        if (operation.address > std::numeric_limits<std::uint32_t>::max())
            return ZT::DfuStatus::ErrAddress;
        switch (flash.Program(static_cast<std::uint32_t>(operation.address), operation.data)) {
        case LSimulatedFlash::ProgramResult::Ok:
            return ZT::DfuStatus::Ok;
        case LSimulatedFlash::ProgramResult::OutsideFlash:
            return ZT::DfuStatus::ErrAddress;
        case LSimulatedFlash::ProgramResult::NotErased:
            return ZT::DfuStatus::ErrWrite;
        }
        return ZT::DfuStatus::ErrWrite;
    }
    return ZT::DfuStatus::ErrUnknown;
}

bool DfuSeSession::IsRestingState(ZT::DfuState state) noexcept
{
    switch (state) {
    case ZT::DfuState::DfuIdle:
    case ZT::DfuState::DfuDnloadIdle:
    case ZT::DfuState::DfuManifestSync:
    case ZT::DfuState::DfuManifestWaitReset:
    case ZT::DfuState::DfuUploadIdle:
    case ZT::DfuState::DfuError:
        return true;
    case ZT::DfuState::AppIdle:
    case ZT::DfuState::AppDetach:
    case ZT::DfuState::DfuDnloadSync:
    case ZT::DfuState::DfuDnbusy:
    case ZT::DfuState::DfuManifest:
        return false;
    }
    return false;
}

DfuSeSession LDfuSeBootloader::Settle(LSimulatedFlash& flash) const
{
    DfuSeSession session{mState, mStatus, mAddressPointer};
    if ((mState == ZT::DfuState::DfuDnloadSync || mState == ZT::DfuState::DfuDnbusy) && mPending) {
        ZT::DfuStatus outcome = OutcomeOf(*mPending);
        if (outcome == ZT::DfuStatus::Ok)
            outcome = Apply(*mPending, flash, session.AddressPointer);
        session.Status = outcome;
        session.State = outcome == ZT::DfuStatus::Ok ? ZT::DfuState::DfuDnloadIdle : ZT::DfuState::DfuError;
    } else if (mState == ZT::DfuState::DfuDnbusy) {
        // Carried out already; only the answer that reports it is missing.
        session.Status = mOutcome;
        session.State = mOutcome == ZT::DfuStatus::Ok ? ZT::DfuState::DfuDnloadIdle : ZT::DfuState::DfuError;
    }
    if (!DfuSeSession::IsRestingState(session.State)) // dfuMANIFEST: the device is resetting already
        session = DfuSeSession{ZT::DfuState::DfuIdle, ZT::DfuStatus::Ok, LSimulatedFlash::kBaseAddress};
    return session;
}

bool LDfuSeBootloader::Resume(const DfuSeSession& session)
{
    if (!DfuSeSession::IsRestingState(session.State))
        return false;
    mState = session.State;
    mStatus = session.Status;
    mAddressPointer = session.AddressPointer;
    mPending.reset();
    mBusyUntilMs.reset();
    mForcedBusyReplies = 0;
    return true;
}
