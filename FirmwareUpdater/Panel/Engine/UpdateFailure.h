#pragma once
// Where and why one device's update broke, filled where it broke (the switch into update mode,
// the download's failure paths, the wait for the device's return) and carried up with the
// completion notification to whoever shows it: the command line's summary, the window's failure
// text, the system log. One line says it all (Format):
//
//     writing block 6 (0x08003000): data request: Pipe, dfuERROR/errSTALLEDPKT
//
// A plain value: copied across threads, never shared.

#include "ZTFramework/Usb/Dfu.h"
#include "ZTFramework/Usb/UsbError.h"

#include <cstdint>
#include <optional>
#include <string>

class CUpdateFailure {
public:
    enum class Phase : std::uint32_t {
        None = 0,      // nothing failed
        File = 1,      // reading or checking the firmware file
        Switch = 2,    // the switch into update mode
        IdleCheck = 3, // bringing the bootloader to dfuIDLE
        Erase = 4,     // erasing a sector
        Write = 5,     // writing a block (with its set-address command)
        Leave = 6,     // pointing at the image's start and leaving DFU mode
        Return = 7,    // waiting for the device to come back in normal mode
    };
    // What Index counts.
    enum class Unit : std::uint32_t { None = 0, Sector = 1, Block = 2 };

    // The device: "Controller" or "Wheel display" (empty when not known), its USB IDs in the
    // mode it was in, and its bootloader's serial number when it had been seen.
    std::string Role;
    std::uint16_t VendorId = 0;
    std::uint16_t ProductId = 0;
    std::string BootloaderSerial;

    Phase Where = Phase::None;
    Unit Counted = Unit::None;
    std::uint32_t Index = 0;
    std::optional<std::uint32_t> Address;
    // The request or check that failed, in words ("data request", "not found within 10 s").
    std::string Detail;
    // The bootloader's last status reply, when one was read.
    std::optional<ZT::DfuState> State;
    std::optional<ZT::DfuStatus> Status;
    ZT::UsbError Usb = ZT::UsbError::None;
    // errno of a failed system call, or 0.
    int SystemError = 0;

    [[nodiscard]] bool IsFailure() const noexcept { return Where != Phase::None; }
    // Sets where the work stands, forgetting what an earlier step learnt.
    void At(Phase phase, Unit unit = Unit::None, std::uint32_t index = 0,
            std::optional<std::uint32_t> address = std::nullopt);

    // The one line, without the device: "<phase>[ <unit> <n>][ (<address>)]: <detail>: <USB
    // error>, <state>/<status>", each part only when known. Empty when nothing failed.
    [[nodiscard]] std::string Format() const;
    // "Wheel display 0483:DF11 serial 3A7CE2CA": the parts that are known.
    [[nodiscard]] std::string FormatDevice() const;
};

// "writing", "erasing", ...: the phase as the line begins.
[[nodiscard]] const char* ToString(CUpdateFailure::Phase phase) noexcept;
