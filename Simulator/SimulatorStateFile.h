#pragma once
// Keeps simulated devices between runs of the program, so that a query, a silent update and a
// second query can run as three processes and see the same devices, as an installer runs them.
//
// What is kept of each device: its kind, its flash (the 2048-byte pages that are not erased)
// and whether it sits in its bootloader. A new run is a fresh power-up: a device that sat in its
// bootloader is found there again; any other device starts from its flash, in normal mode when
// the flash holds an intact version record (so an interrupted update leaves it in its
// bootloader). Faults are not kept; each run names its own.
//
// The file is binary, little-endian:
//   "XRSIMST1"                       8 bytes
//   device count                     u32 (at most kMaxDevices)
//   per device: kind u8 (0 controller, 1 wheel display), in bootloader u8, page count u32,
//               per page: address u32, kPageSize bytes
//   CRC-32 of everything before it   u32 (the version record's CRC)
// It is written to a temporary file beside it and renamed over it, so a reader never sees half
// a file. A file that is damaged in any way is refused as a whole.
//
// Threads: the functions touch nothing shared but the simulator, which guards itself.

#include "Simulator/DeviceSimulator.h"
#include "Simulator/SimulatedDeviceKind.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

class CSimulatorStateFile {
public:
    static constexpr std::uint32_t kPageSize = 2048;
    static constexpr std::uint32_t kMaxDevices = 16;

    struct Page {
        std::uint32_t Address = 0;
        std::vector<std::uint8_t> Bytes; // kPageSize bytes

        bool operator==(const Page&) const = default;
    };

    struct Device {
        SimulatedDeviceKind Kind = SimulatedDeviceKind::Controller;
        bool InBootloader = false;
        std::vector<Page> Pages; // ascending addresses, each page not entirely erased

        bool operator==(const Device&) const = default;
    };

    // The simulator's devices as they are now, in the order they were added.
    [[nodiscard]] static std::vector<Device> Capture(LDeviceSimulator& simulator);

    // Adds the devices to the simulator as they power up (see above) and returns them, in order.
    static std::vector<ZT::RCPtr<LSimulatedDevice>> Restore(LDeviceSimulator& simulator,
                                                             const std::vector<Device>& devices);

    [[nodiscard]] static std::vector<std::uint8_t> Encode(const std::vector<Device>& devices);
    // Nothing, with error set, for bytes that are not an intact state file.
    [[nodiscard]] static std::optional<std::vector<Device>> Decode(const std::vector<std::uint8_t>& bytes,
                                                                   std::string& error);

    // False, with error set, when the file cannot be written.
    [[nodiscard]] static bool Write(const std::string& path, const std::vector<Device>& devices, std::string& error);
    // Nothing, with error set, when the file is missing, unreadable or damaged.
    [[nodiscard]] static std::optional<std::vector<Device>> Read(const std::string& path, std::string& error);
};
