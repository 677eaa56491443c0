#pragma once
// Faults a simulated device can be given, to drive the engine through its failure paths.
//
// Block counts refer to data blocks (DNLOAD with a block number of 2 or more) received during the
// current bootloader session, counted from 0: "after N blocks" is the DNLOAD of the block that
// follows the first N.

#include "Simulator/SimulatedDeviceHold.h"

#include <cstdint>
#include <optional>
#include <string_view>

// Where in an update a fault point hits: the request (or the event) of that step.
enum class SimulatedFaultPhase : std::uint8_t {
    ModeSwitch,       // the update-mode message on the device's MIDI port
    BootloaderSearch, // the bootloader appearing after that message
    IdleCheck,        // the first status request of a bootloader session
    Erase,            // erase command number index of the session (from 0)
    DataBlock,        // data-block DNLOAD number index of the session, in the order received (from 0)
    SetAddress,       // set-address command number index of the session (from 0)
    Leave,            // the zero-length DNLOAD that asks the bootloader to leave
    Return,           // the restart after the leave
};

// What the device does there.
enum class SimulatedFaultKind : std::uint8_t {
    Stall,       // stalls the request: dfuERROR / errSTALLEDPKT. The message: taken and ignored
    NoAnswer,    // answers nothing from then on, until it is powered up again (every request meets
                 // the control-transfer time-out). The message: its send never completes
    Unplug,      // leaves the bus instead of answering, until Plug
    ErrorStatus, // the operation the request starts fails: its status reply says dfuERROR with the
                 // step's error (errERASE, errWRITE, errADDRESS, errFIRMWARE for the leave, and
                 // errUNKNOWN at the idle check, where the bootloader starts in dfuERROR)
    BusyTooLong, // the operation keeps the bootloader in dfuDNBUSY (the leave: in dfuMANIFEST, on the
                 // bus) for busyTooLongMs, past any host's patience, then ends well. The bootloader
                 // and the return: on the bus only after slowReturnMs
    PowerCut,    // the device loses power as the request arrives: off the bus, then after returnMs it
                 // powers up and boots by its image's first word. Nothing of the request is done
};

[[nodiscard]] const char* ToString(SimulatedFaultPhase phase) noexcept;
[[nodiscard]] const char* ToString(SimulatedFaultKind kind) noexcept;

// One fault at one step of an update. index counts the phase's requests within a bootloader
// session (Erase, DataBlock, SetAddress) and is 0 elsewhere.
struct SimulatedFaultAt {
    SimulatedFaultPhase phase = SimulatedFaultPhase::ModeSwitch;
    SimulatedFaultKind kind = SimulatedFaultKind::Stall;
    std::uint32_t index = 0;

    bool operator==(const SimulatedFaultAt&) const = default;
};

// The point as the simulator's command line writes it, "<phase>[/<index>]/<kind>", case ignored:
// phases mode-switch, bootloader-search, idle-check, erase, data-block, set-address, leave,
// return; kinds stall, no-answer, unplug, error-status, busy-too-long, power-cut
// ("erase/1/error-status", "leave/power-cut"). Nothing for anything else.
[[nodiscard]] std::optional<SimulatedFaultAt> ParseFaultAt(std::string_view text);

struct SimulatedDeviceFaults {
    // The general point: this fault, each time its step comes in a session.
    std::optional<SimulatedFaultAt> at;
    // The fault that hits a step (request number index of its phase in this session), from the
    // point above or from the named faults below; nothing when the step goes well.
    [[nodiscard]] std::optional<SimulatedFaultKind> KindAt(SimulatedFaultPhase phase, std::uint32_t index = 0) const;

    // Normal mode.
    bool noMidiPort = false;               // the application shows no MIDI output port
    bool ignoresUpdateModeRequest = false; // the message arrives but the device stays as it is
    bool midiSendNeverCompletes = false;   // sends on its port end in the 10 s completion time-out
    bool bootloaderNeverAppears = false;   // after the message the device leaves the bus for good

    // Update mode.
    bool bootloaderStartsInError = false;              // enumerates in dfuERROR (10), errUNKNOWN
    bool stallOnErase = false;                         // every erase command is stalled
    std::optional<std::uint32_t> stallAfterBlocks;     // later block DNLOADs are stalled
    std::optional<std::uint32_t> noAnswerAfterBlocks;  // from then on nothing is answered
    std::optional<std::uint32_t> unplugAfterBlocks;    // the device leaves the bus instead of answering
    std::optional<std::uint32_t> busyBlockIndex;       // this block stays busy ... (not a BusyTooLong:
                                                       // it counts replies, so a host may outwait it)
    std::uint32_t busyBlockStatusReplies = 21;         // ... for this many status replies
    bool noReturnAfterLeave = false;                   // after the leave request it never comes back
    bool slowReturn = false;                           // it comes back after slowReturnMs, not returnMs

    // Update mode, continued.
    // The first status request after an erase command is answered at once with dfuDNBUSY and the
    // erase's time as poll time-out, not held back until the erase is done.
    bool eraseBusyAtOnce = false;
    // The status request that completes the leave is answered with dfuMANIFEST, and then the
    // bootloader waits in dfuMANIFEST-WAIT-RESET for a USB reset instead of resetting itself.
    bool manifestWaitsForReset = false;

    // Power-up. The boot code starts whatever application has a plausible initial stack pointer
    // in its first word (a half-written image then runs, crashes, and the device never enumerates
    // until a power-up finds that word erased) and stays in its bootloader otherwise.
    // With this option it also checks the image's length and checksum (its version record) and
    // starts only a whole image.
    bool checksImage = false;
    // In normal mode the device enumerates with the IDs and MIDI port of the device its running
    // image names, not its own: a wheel display that runs the controller's image shows itself as
    // a controller.
    bool identityFromImage = false;

    // A point at which the device holds its answer until the process has ended
    // (SimulatedDeviceHold.h): what a test waits for before it ends the process there.
    std::optional<SimulatedDeviceHold> hold;
};
