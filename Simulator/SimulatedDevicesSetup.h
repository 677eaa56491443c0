#pragma once
// The simulated devices a run asks for on its command line, and the simulator made from them.
//
// The value of "-SIMULATE_DEVICES=" is a comma-separated list:
//
//   <controller>,<wheel display>[,<item>...]
//
// The first two items say what is plugged in: a version written as the device shows it
// ("00.30" for release 0x0030: up to two digits, a dot, up to two digits), "dfu" for a device
// that sits in its bootloader with an empty flash, or "-" for a device that is not plugged in.
// A missing or empty item takes the default, controller "00.30" and wheel display "00.49", so
// "-SIMULATE_DEVICES" alone shows the whole two-device update. The further items are:
//
//   state=<file>          keep the devices (their flash, and where they stood: in normal mode,
//                         in their bootloader with its DFU state, unplugged) in file between
//                         runs; a file that exists wins over the two versions. The file is
//                         written during the run whenever a device changes its mode, and at
//                         most every kStateSaveIntervalMs when a bootloader changes its DFU
//                         state, so a run that is killed leaves it as the hardware would be left
//   time-factor=<x>       every delay of the devices times x (default 1, real time; 0 < x <= 100)
//   enumeration-fails     listing the bus fails
//   [controller:|display:]<fault>
//                         a fault of the controller, of the wheel display, or of both when no
//                         device is named: no-midi-port, ignores-update-mode-request,
//                         midi-send-never-completes, bootloader-never-appears,
//                         bootloader-starts-in-error, stall-on-erase, stall-after-blocks=<n>,
//                         no-answer-after-blocks=<n>, unplug-after-blocks=<n>, busy-block=<n>,
//                         busy-replies=<n>, no-return-after-leave, slow-return,
//                         erase-busy-at-once, image-check (the boot code starts only a whole
//                         image, not whatever has a stack pointer in its first word),
//                         identity-from-image (normal mode shows the IDs the image names),
//                         manifest-waits-for-reset (after the leave the bootloader waits in
//                         dfuMANIFEST-WAIT-RESET for a USB reset),
//                         at=<phase>[/<index>]/<kind> (the fault point, ParseFaultAt:
//                         "at=erase/1/power-cut"), hold=<point> (the device
//                         holds its answer there until the process ends: update-mode-message,
//                         bootloader-appearance, first-request, erase:<n>, block:<n>,
//                         set-address-after-blocks:<n>, leave, return; SimulatedDeviceHold.h)
//
// Names are case-insensitive. Items that are not understood are collected in Unrecognised
// and otherwise ignored, as unknown command-line options are.

#include "Simulator/DeviceSimulator.h"
#include "Simulator/SimulatedDeviceFaults.h"
#include "Simulator/SimulatedDeviceKind.h"
#include "ZTFramework/ObjectBase/RCPtr.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

struct SimulatedDevicesSetup {
    struct Device {
        bool Present = true;
        // Nothing: the device sits in its bootloader with an empty flash.
        std::optional<std::uint16_t> ReleaseNumber;
        SimulatedDeviceFaults Faults;
    };

    static constexpr std::uint16_t kDefaultControllerRelease = 0x0030;
    static constexpr std::uint16_t kDefaultDisplayRelease = 0x0049;
    static constexpr double kMaxTimeFactor = 100.0;
    // On the simulator's clock: the least time between two saves for DFU state changes alone.
    static constexpr std::uint64_t kStateSaveIntervalMs = 250;

    Device Controller{true, kDefaultControllerRelease, {}};
    Device Display{true, kDefaultDisplayRelease, {}};
    bool EnumerationFails = false;
    double TimeFactor = 1.0;
    std::string StateFile; // empty: the devices are not kept
    std::vector<std::string> Unrecognised;

    // Reads the option's value (UTF-8). Never fails: what it cannot read goes to Unrecognised.
    [[nodiscard]] static SimulatedDevicesSetup Parse(std::string_view value);

    // "00.30" -> 0x0030. Nothing for text that is not up to two digits, a dot and up to two
    // digits.
    [[nodiscard]] static std::optional<std::uint16_t> ParseVersion(std::string_view text);

    // A simulator on real time scaled by TimeFactor, with the devices of the state file when it
    // can be read, else those of this setup, faults applied either way, with the state saver
    // installed (InstallStateSaver). Not installed as the process's backends yet.
    // stateMessage receives one line about the state file for the debug output (empty when
    // there is none).
    [[nodiscard]] ZT::RCPtr<LDeviceSimulator> CreateSimulator(std::string& stateMessage) const;

    // Makes the simulator write its devices to StateFile as they change (see state= above);
    // nothing without a state file. A save that fails changes nothing at the path; the run's
    // last SaveState reports the reason.
    void InstallStateSaver(LDeviceSimulator& simulator) const;

    // Writes the simulator's devices to StateFile (nothing without one) and stops the saves
    // during the run. False, with a message, when the file cannot or may not be written.
    [[nodiscard]] bool SaveState(LDeviceSimulator& simulator, std::string& message) const;
};
