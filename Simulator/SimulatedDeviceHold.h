#pragma once
// A point of an update at which a simulated device holds its answer until the process has ended,
// as a device far slower than its host would: a test that ends the process (SIGKILL, a power cut)
// waits for the hold and so ends it at exactly that point, however short the point is in time.
//
// The hold lasts kHoldMs of the simulator's clock, not scaled by the time factor: in real time
// longer than any test waits, in virtual time as long as the test lets the clock run. A hold
// happens once after the device's faults were set (a bootloader's point once per session). When
// it begins the device keeps its state at once (the change hook is called as for a mode change)
// and then tells the hold hook what it holds.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

struct SimulatedDeviceHold {
    // Status requests are held before the operation they carry out; a device that keeps its
    // power finishes that operation (CSimulatorStateFile keeps it settled).
    enum class Point : std::uint8_t {
        UpdateModeMessage,     // the update-mode message is taken, and acted on only after the hold
        BootloaderAppearance,  // after the message the device is off the bus until the hold is over
        FirstRequest,          // the bootloader's first request of its session (the host's idle check)
        Erase,                 // the status request of erase number Index of the session (from 0)
        Block,                 // the status request of data block number Index of the session (from 0)
        SetAddressAfterBlocks, // the status request of a set-address sent after Index data blocks
        Leave,                 // the status request that completes the leave (dfuMANIFEST-SYNC)
        Return,                // after the leave the device is off the bus until the hold is over
    };

    static constexpr std::uint64_t kHoldMs = 3'600'000;

    Point At = Point::UpdateModeMessage;
    std::uint32_t Index = 0; // Erase, Block and SetAddressAfterBlocks only

    bool operator==(const SimulatedDeviceHold&) const = default;

    // "update-mode-message", "bootloader-appearance", "first-request", "erase:<n>", "block:<n>",
    // "set-address-after-blocks:<n>", "leave", "return" (case ignored); nothing for anything else.
    [[nodiscard]] static std::optional<SimulatedDeviceHold> Parse(std::string_view text);
    // What the device holds, for a person: "its answer to the status request of erase 2".
    [[nodiscard]] std::string Describe() const;
};
