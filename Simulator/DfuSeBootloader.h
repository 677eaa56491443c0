#pragma once
// The DFU 1.1 state machine of an STM32F4-style DfuSe bootloader, over the device's flash.
//
// Requests go to interface 0. DNLOAD with block number 0 carries a DfuSe command (0x21 set the
// address pointer, 0x41 erase the sector that holds an address); DNLOAD with block number n >= 2
// writes its data at ((n - 2) x 2048) + address pointer; a DNLOAD of length 0 in dfuDNLOAD-IDLE
// starts the leave, which the next GETSTATUS completes (the device then resets). UPLOAD reads
// back in the same way (block 0 lists the supported commands). The first GETSTATUS after a DNLOAD
// carries the operation out and answers only when the flash is done, at the flash's pace (the
// request is held back: an erase of 128 KiB holds it 2 s), with dfuDNBUSY and the operation's
// time as poll time-out; the next GETSTATUS gives the outcome, dfuDNLOAD-IDLE or dfuERROR with its
// status. The busyBlockIndex fault adds dfuDNBUSY answers before the outcome; the fault point
// (SimulatedDeviceFaults::at) hits the idle check, an erase, a set-address command, a data block or
// the leave with the kinds of SimulatedFaultKind. A request the current state
// does not allow is stalled and leaves the machine in dfuERROR with errSTALLEDPKT. CLRSTATUS
// outside dfuERROR leaves it in dfuERROR with errUNKNOWN, as ST's device library does.
//
// Time is passed in: the machine itself never waits. Not thread-safe: the owning device guards it
// and its flash with its lock.

#include "ZTFramework/Usb/Dfu.h"
#include "Simulator/SimulatedDeviceFaults.h"
#include "Simulator/SimulatedDeviceTimings.h"

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

class LSimulatedBus;
class LSimulatedFlash;

struct DfuSeRequest {
    std::uint8_t requestType = 0;
    std::uint8_t request = 0;
    std::uint16_t value = 0;
    std::uint16_t index = 0;
    std::uint16_t length = 0;
    std::span<const std::uint8_t> dataOut; // host-to-device payload (length bytes)
};

// What the bootloader keeps in RAM between requests: what a state file restores when the host
// went away in the middle of a session (only a power-up brings dfuIDLE back).
struct DfuSeSession {
    ZT::DfuState State = ZT::DfuState::DfuIdle;
    ZT::DfuStatus Status = ZT::DfuStatus::Ok;
    std::uint32_t AddressPointer = 0x08000000;

    bool operator==(const DfuSeSession&) const = default;

    // Whether a session may rest in state: one that waits for the host, with no operation under
    // way (dfuIDLE, dfuDNLOAD-IDLE, dfuMANIFEST-SYNC, dfuMANIFEST-WAIT-RESET, dfuUPLOAD-IDLE,
    // dfuERROR). A run killed between its leave request and the status request that completes it
    // leaves dfuMANIFEST-SYNC.
    [[nodiscard]] static bool IsRestingState(ZT::DfuState state) noexcept;
};

struct DfuSeReply {
    enum class Outcome {
        Answered, // the request completed; dataIn holds the answer of a device-to-host request
        Stalled,  // the device stalled the request
        NoAnswer, // the device does not answer (the host's transfer times out)
        HoldUntil,// answer the same request again once the clock has reached holdUntilMs
        Unplug,   // the device leaves the bus instead of answering
        PowerCut, // the device loses power instead of answering, and powers up again later
    };
    Outcome outcome = Outcome::Answered;
    std::vector<std::uint8_t> dataIn;
    std::uint64_t holdUntilMs = 0;
    bool resetAfterReply = false; // the leave is complete: the device resets after this answer ...
    std::uint64_t resetDelayMs = 0; // ... at once, or after this long on the bus (in dfuMANIFEST)
    bool held = false;            // HoldUntil for the hold fault (SimulatedDeviceHold), not for the flash
};

class LDfuSeBootloader {
public:
    static constexpr std::uint16_t kTransferSize = 2048;

    // faults and timings belong to the owning device and may change between requests; bus
    // scales the timings to the simulation's clock. faultHits counts, for the device, each time
    // a fault acts.
    LDfuSeBootloader(LSimulatedFlash& flash, const SimulatedDeviceFaults& faults,
                     const SimulatedDeviceTimings& timings, const LSimulatedBus& bus, std::uint32_t& faultHits);

    [[nodiscard]] DfuSeReply Handle(const DfuSeRequest& request, std::uint64_t nowMs);

    [[nodiscard]] ZT::DfuState GetState() const noexcept { return mState; }
    [[nodiscard]] ZT::DfuStatus GetStatus() const noexcept { return mStatus; }
    [[nodiscard]] std::uint32_t GetAddressPointer() const noexcept { return mAddressPointer; }
    // Data blocks received in this session.
    [[nodiscard]] std::uint32_t GetBlocksReceived() const noexcept { return mBlocksReceived; }

    // The session as it will rest once the operation under way (if any) is done, with that
    // operation carried out on flash, a copy of the device's: the hardware finishes an erase or a
    // write it has received even when its host has gone.
    [[nodiscard]] DfuSeSession Settle(LSimulatedFlash& flash) const;
    // Continues a session that rested in session.State. False, changing nothing, for a state that
    // is not a resting one.
    [[nodiscard]] bool Resume(const DfuSeSession& session);

private:
    enum class OperationKind { SetAddress, Erase, Write };
    struct Operation {
        OperationKind kind = OperationKind::SetAddress;
        std::uint64_t address = 0;       // wide enough for a block number far past the flash
        std::vector<std::uint8_t> data;  // Write only
        std::uint32_t blockIndex = 0;    // Write only: counted from 0 in this session
        std::optional<ZT::DfuStatus> failsWith; // ErrorStatus fault: the outcome, whatever the flash says
        bool tooLong = false;            // BusyTooLong fault: takes busyTooLongMs, busy all along
        std::uint32_t eraseIndex = 0;    // Erase only: counted from 0 in this session
    };

    DfuSeReply Stall(ZT::DfuStatus status = ZT::DfuStatus::ErrStalledPkt);
    // The reply for a fault kind that acts on the request itself (stall, no answer, unplug, power
    // cut); nothing for the kinds that act on the operation the request starts.
    std::optional<DfuSeReply> FaultReply(SimulatedFaultKind kind);
    // Marks operation with the fault kind that acts on it (error status, busy too long).
    void MarkOperation(Operation& operation, std::optional<SimulatedFaultKind> kind, ZT::DfuStatus error);
    // The outcome operation will have: its fault's status, or what the flash allows.
    [[nodiscard]] ZT::DfuStatus OutcomeOf(const Operation& operation) const;
    // Where data block `blockNumber` (2 and up) of a download or upload starts: blocks are the
    // transfer size apart from the address pointer, whatever their length (a host may move less
    // in its last block).
    [[nodiscard]] std::uint64_t BlockAddress(std::uint16_t blockNumber) const noexcept;
    DfuSeReply Answer(std::vector<std::uint8_t> dataIn = {});
    DfuSeReply StatusAnswer(std::uint32_t pollTimeoutMs);

    DfuSeReply HandleDnload(const DfuSeRequest& request);
    DfuSeReply HandleUpload(const DfuSeRequest& request);
    DfuSeReply HandleGetStatus(const DfuSeRequest& request, std::uint64_t nowMs);
    DfuSeReply HandleClrStatus();
    DfuSeReply HandleAbort();
    // The hold fault: whether the request now handled is its point (once per session); the
    // reply that holds it.
    [[nodiscard]] bool HoldsHere(SimulatedDeviceHold::Point point, std::optional<std::uint32_t> index = std::nullopt);
    [[nodiscard]] static DfuSeReply Held(std::uint64_t nowMs);

    std::uint64_t DurationOf(const Operation& operation) const;
    // The outcome an operation will have, decided when it starts.
    ZT::DfuStatus Validate(const Operation& operation) const;
    // Carries the operation out on flash; the status it ends with. addressPointer is the one the
    // set-address command changes.
    static ZT::DfuStatus Apply(const Operation& operation, LSimulatedFlash& flash, std::uint32_t& addressPointer);

    LSimulatedFlash& mFlash;
    const SimulatedDeviceFaults& mFaults;
    const SimulatedDeviceTimings& mTimings;
    const LSimulatedBus& mBus;
    std::uint32_t& mFaultHits;

    ZT::DfuState mState;
    ZT::DfuStatus mStatus;
    std::uint32_t mAddressPointer;
    std::uint32_t mBlocksReceived = 0;
    std::uint32_t mErasesReceived = 0;      // erase commands received in this session
    std::uint32_t mSetAddressesReceived = 0; // set-address commands received in this session
    bool mStatusAsked = false;          // a status request came in this session (the first is the idle check)
    std::optional<SimulatedFaultKind> mLeaveFault; // ErrorStatus or BusyTooLong for the leave under way
    bool mHung = false;                 // stopped answering (a NoAnswer fault) until a power-up
    std::optional<Operation> mPending;  // received by DNLOAD, carried out by the next GETSTATUS
    std::optional<std::uint64_t> mBusyUntilMs; // set when that GETSTATUS started the operation
    ZT::DfuStatus mOutcome = ZT::DfuStatus::Ok; // in dfuDNBUSY: what the operation ended with
    std::uint32_t mForcedBusyReplies = 0; // busyBlockIndex fault: dfuDNBUSY answers still owed
    std::uint64_t mRequestsHandled = 0; // requests of any kind in this session
    bool mHoldDone = false;             // the hold fault's hold has happened in this session
};
