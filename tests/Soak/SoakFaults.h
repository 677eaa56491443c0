#pragma once
// The fault a soak cycle gives one device for its first attempt, drawn from the soak's seeded
// generator. The draw uses the generator's raw output only (no distribution of the standard
// library, whose results differ between implementations), so one seed gives one series of faults
// with every compiler.

#include "Simulator/SimulatedDeviceFaults.h"

#include <array>
#include <cstdint>
#include <random>
#include <string>

struct SoakFault {
    std::string kind = "none";
    std::uint32_t deviceIndex = 0; // 0 the controller, 1 the wheel display
    SimulatedDeviceFaults faults;

    [[nodiscard]] bool Injects() const { return kind != "none"; }
};

// Faults that cut a download take a block number below the smaller image's block count (the
// controller's 48 blocks of 2048 bytes), so that they always strike.
inline SoakFault DrawSoakFault(std::mt19937& random)
{
    static constexpr std::array<const char*, 18> kKinds = {
        "none",          "none",          "none",        "no-midi-port",  "midi-ignored",  "midi-never-completes",
        "no-bootloader", "error-start",   "erase-stall", "stall",         "no-answer",     "unplug",
        "busy-block",    "no-return",     "slow-return", "erase-busy",    "manifest-reset", "none",
    };
    constexpr std::uint32_t kBlocks = 48;
    SoakFault fault;
    fault.kind = kKinds[random() % kKinds.size()];
    fault.deviceIndex = random() % 2;
    const std::uint32_t block = random() % kBlocks;
    SimulatedDeviceFaults& f = fault.faults;
    const std::string& k = fault.kind;
    if (k == "no-midi-port")
        f.noMidiPort = true;
    else if (k == "midi-ignored")
        f.ignoresUpdateModeRequest = true;
    else if (k == "midi-never-completes")
        f.midiSendNeverCompletes = true;
    else if (k == "no-bootloader")
        f.bootloaderNeverAppears = true;
    else if (k == "error-start")
        f.bootloaderStartsInError = true;
    else if (k == "erase-stall")
        f.stallOnErase = true;
    else if (k == "stall")
        f.stallAfterBlocks = block;
    else if (k == "no-answer")
        f.noAnswerAfterBlocks = block;
    else if (k == "unplug")
        f.unplugAfterBlocks = block;
    else if (k == "busy-block")
        f.busyBlockIndex = block;
    else if (k == "no-return")
        f.noReturnAfterLeave = true;
    else if (k == "slow-return")
        f.slowReturn = true;
    else if (k == "erase-busy")
        f.eraseBusyAtOnce = true;
    else if (k == "manifest-reset")
        f.manifestWaitsForReset = true;
    return fault;
}
