#pragma once
// Faults a simulated device can be given, to drive the engine through its failure paths.
//
// Block counts refer to data blocks (DNLOAD with a block number of 2 or more) received during the
// current bootloader session, counted from 0: "after N blocks" is the DNLOAD of the block that
// follows the first N.

#include "Simulator/SimulatedDeviceHold.h"

#include <cstdint>
#include <optional>

struct SimulatedDeviceFaults {
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
    std::optional<std::uint32_t> busyBlockIndex;       // this block stays busy ...
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
