#pragma once
// Faults a simulated device can be given, to drive the engine through its failure paths.
//
// Block counts refer to data blocks (DNLOAD with a block number of 2 or more) received during the
// current bootloader session, counted from 0: "after N blocks" is the DNLOAD of the block that
// follows the first N.

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

    // Power-up.
    // The bootloader does not check the image: whatever the flash holds past an erased first word
    // is started, so a half-written image runs, crashes and the device never enumerates (until a
    // power-up without this fault finds its bootloader again).
    bool noImageCheck = false;
};
