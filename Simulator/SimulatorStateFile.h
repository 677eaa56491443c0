#pragma once
// Keeps simulated devices between runs of the program, so that a query, a silent update and a
// second query can run as three processes and see the same devices, as an installer runs them.
//
// What is kept of each device: its kind, its flash (the 2048-byte pages that are not erased),
// how it stood at the end of the run and, in its bootloader, the bootloader's session (DFU state,
// status, address pointer). A new run finds each device as hardware would be found:
//   Running      (normal mode, or restarting after a leave): powers up from its flash, so its
//                bootloader checks the image again;
//   Bootloader   still in its bootloader, in the same session: a run that ended or was killed in
//                the middle of a download leaves dfuDNLOAD-IDLE or dfuERROR (with its status);
//                an operation the bootloader had received is finished on the kept flash;
//   PoweredOff   unplugged or power-cycled: plugged in again, it powers up from its flash (only
//                this brings a bootloader back to dfuIDLE);
//   RunningBrokenImage  runs a broken image and stays off the bus.
// Faults are not kept; each run names its own.
//
// The file is binary, little-endian:
//   "XRSIMST2"                       8 bytes
//   device count                     u32 (at most kMaxDevices)
//   per device: kind u8 (0 controller, 1 wheel display), power u8 (the Power values above),
//               DFU state u8 (a resting state), DFU status u8, address pointer u32,
//               page count u32, per page: address u32, kPageSize bytes
//   CRC-32 of everything before it   u32 (the version record's CRC)
// A file that is damaged in any way, or of the earlier format "XRSIMST1", is refused as a whole.
//
// Write never writes through what is not a regular file the user may write by its permission
// bits (a symbolic link, FIFO, device node, folder, or a read-only file are refused and left as
// they are): it writes a new file beside it, created exclusively without following links, syncs
// it, gives it the old file's permission bits and renames it over the old one, so a reader never
// sees half a file. Read opens without blocking and refuses anything but a regular file.
//
// Threads: the functions touch nothing shared but the simulator, which guards itself.

#include "Simulator/DeviceSimulator.h"
#include "Simulator/DfuSeBootloader.h"
#include "Simulator/SimulatedDeviceFaults.h"
#include "Simulator/SimulatedDeviceKind.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

class CSimulatorStateFile {
public:
    static constexpr std::uint32_t kPageSize = 2048;
    static constexpr std::uint32_t kMaxDevices = 16;

    enum class Power : std::uint8_t { Running = 0, Bootloader = 1, PoweredOff = 2, RunningBrokenImage = 3 };

    struct Page {
        std::uint32_t Address = 0;
        std::vector<std::uint8_t> Bytes; // kPageSize bytes

        bool operator==(const Page&) const = default;
    };

    struct Device {
        SimulatedDeviceKind Kind = SimulatedDeviceKind::Controller;
        Power State = Power::Running;
        DfuSeSession Bootloader; // meaningful with Power::Bootloader
        std::vector<Page> Pages; // ascending addresses, each page not entirely erased

        bool operator==(const Device&) const = default;
    };

    // The simulator's devices as they are now, in the order they were added.
    [[nodiscard]] static std::vector<Device> Capture(LDeviceSimulator& simulator);

    // Adds the devices to the simulator as they are found (see above), each with the faults of its
    // kind set before it powers up, and returns them, in order.
    static std::vector<ZT::RCPtr<LSimulatedDevice>> Restore(LDeviceSimulator& simulator,
                                                            const std::vector<Device>& devices,
                                                            const SimulatedDeviceFaults& controllerFaults = {},
                                                            const SimulatedDeviceFaults& displayFaults = {});

    // The devices as a power cut leaves them: each loses power (its bootloader's session with
    // it) and keeps its flash, so when powered again its boot code goes by the image's first
    // word: erased, the bootloader in dfuIDLE; a plausible stack pointer, the image starts (and a
    // half image crashes). An operation a bootloader had received is in the flash already: the
    // file keeps devices settled (Capture).
    static void CutPower(std::vector<Device>& devices);

    [[nodiscard]] static std::vector<std::uint8_t> Encode(const std::vector<Device>& devices);
    // Nothing, with error set, for bytes that are not an intact state file.
    [[nodiscard]] static std::optional<std::vector<Device>> Decode(const std::vector<std::uint8_t>& bytes,
                                                                   std::string& error);

    // False, with error set and nothing at path changed, when the file cannot or may not be written.
    [[nodiscard]] static bool Write(const std::string& path, const std::vector<Device>& devices, std::string& error);
    // Nothing, with error set, when the file is missing, not a regular file, unreadable or damaged.
    [[nodiscard]] static std::optional<std::vector<Device>> Read(const std::string& path, std::string& error);
};
