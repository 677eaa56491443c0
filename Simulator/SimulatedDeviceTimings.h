#pragma once
// How long a simulated device takes for what it does, in milliseconds of the simulator's clock
// (before the simulator's time factor is applied).

#include <cstdint>

struct SimulatedDeviceTimings {
    std::uint32_t bootloaderAppearMs = 1500; // from the update-mode message to the bootloader on the bus
    std::uint32_t returnMs = 1200;           // from the leave request to the device back on the bus
    std::uint32_t slowReturnMs = 12000;      // the same with the slowReturn fault: past a 10 s wait
    std::uint32_t erase16KiBMs = 250;        // sector erase times
    std::uint32_t erase64KiBMs = 1100;
    std::uint32_t erase128KiBMs = 2000;
    std::uint32_t blockWriteMs = 20;         // programming 2048 bytes; shorter blocks take less
    std::uint32_t busyTooLongMs = 15000;     // an operation with the BusyTooLong fault: past a 10 s wait
};
