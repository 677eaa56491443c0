#pragma once
// The records and enumerations that the engine, the dual updater, the command-line processor and
// the main control exchange. Their numeric values are a contract: the main control maps them to
// string-table labels and the dual updater compares them, so a value never changes meaning.
// LUpdateEngineInterface carries each under its own name as well (LUpdateEngineInterface::
// DeviceState is DeviceState), which is how most code names them.
//
// Plain values: any thread may copy them; none is shared without its owner's lock.

#include "ZTFramework/Utilities/Storage/ArrayUtils.h"
#include "ZTFramework/Utilities/Storage/StringT.h"

#include <cstdint>
#include <string>
#include <utility>

// A device the engine can update. An ID of 0 means the device has no such mode: a definition
// with both bootloader IDs 0 matches devices in normal mode only.
struct DeviceDefinition {
    std::uint32_t VendorId = 0;            // USB vendor ID in normal (application) mode
    std::uint32_t ProductId = 0;           // USB product ID in normal mode
    std::uint32_t BootloaderVendorId = 0;  // USB vendor ID while the DFU bootloader runs
    std::uint32_t BootloaderProductId = 0; // USB product ID while the DFU bootloader runs
    ZT::WString Text1;                     // carried with the record; empty in this program
    ZT::WString Text2;                     // as Text1
    ZT::WString MidiPortName;              // the port through which a device in normal mode is reached
    ZT::WString Text4;                     // as Text1
    ZT::WString Text5;                     // as Text1
    // When not empty, only a bootloader that reports this USB serial number is this device
    // in update mode: both of the product's bootloaders share one vendor/product pair.
    std::string BootloaderSerialNumber;
};
using DeviceDefinitions = ZT::Array<DeviceDefinition>;

// A firmware version: of a firmware file, or as a device in normal mode reports it. A zeroed
// record with an empty text stands for an unknown version.
struct FirmwareVersion {
    FirmwareVersion() = default;
    FirmwareVersion(std::uint32_t part1, std::uint32_t part2, std::uint32_t part3, std::uint32_t part4,
                    ZT::WString text = ZT::WString())
        : Part1(part1), Part2(part2), Part3(part3), Part4(part4), Text(std::move(text))
    {
    }

    std::uint32_t Part1 = 0; // most significant
    std::uint32_t Part2 = 0;
    std::uint32_t Part3 = 0;
    std::uint32_t Part4 = 0; // least significant
    ZT::WString Text;        // as shown to the user; takes no part in comparisons

    // True when the first part that differs, from Part1 down, is larger here. Equal versions
    // are not newer; so {0,1,0,0} is newer than {0,0,9,9}.
    [[nodiscard]] bool IsNewerThan(const FirmwareVersion& other) const noexcept;
    // True when all four parts are equal, whatever the texts say.
    [[nodiscard]] bool HasSameNumberAs(const FirmwareVersion& other) const noexcept;

    // A device in normal mode reports its firmware as its USB device release number: the four
    // hexadecimal digits, most significant first, become Part1..Part4. The text is the decimal
    // form of the first two digits, a dot and the last two (0x0031 gives "00.31", 0x1A05 gives
    // "110.05"); a release of 0 gives the unknown version.
    [[nodiscard]] static FirmwareVersion FromReleaseNumber(std::uint16_t release);
    // The inverse: each part's low four bits as one hexadecimal digit of the release number.
    [[nodiscard]] std::uint16_t ToReleaseNumber() const noexcept;
};

// The engine's main state. Scanning, EnteringUpdateMode and Updating are the busy states in
// which scanning, selecting and setting definitions are refused.
enum class DeviceState : std::uint32_t {
    NoDeviceDefined = 0,              // no device definitions set yet (initial)
    NoDeviceFound = 1,                // a scan found no matching device
    Scanning = 2,                     // a scan is running
    DevicesAvailableNoneSelected = 3, // several devices found, or a selection was out of range
    DeviceCannotBeUpdated = 4,        // the selected device has an error (see DeviceErrorReason)
    DeviceNotInUpdateMode = 5,        // the selected device runs its application firmware
    EnteringUpdateMode = 6,           // the device is being switched into its bootloader
    DeviceInUpdateMode = 7,           // the selected device runs its DFU bootloader
    Updating = 8,                     // a firmware download runs on the worker thread
};

// An update may start from FileFoundVersionUnknown or FileFoundVersionKnown; the file's
// version can be read only in FileFoundVersionKnown.
enum class FirmwareFileState : std::uint32_t {
    NoFileDefined = 0,           // no firmware file set (initial)
    FileInvalid = 1,             // the file is missing or could not be used
    FileFoundVersionUnknown = 2, // the file exists, its version is not known
    FileFoundVersionKnown = 3,   // the file exists and its version is set
};

// Why the selected device cannot be updated; kept per found device.
enum class DeviceErrorReason : std::uint32_t {
    NoReason = 0,
    DriverTooOld = 1,        // reported for a query without a valid selection, never stored
    SystemFailure = 2,       // never stored
    FileAccessFailure = 3,   // the firmware file could not be opened or read during an update
    DeviceAccessFailure = 4, // the device stopped answering
};

// The outcome of the last update run. Values from Failed on mean the run has finished.
enum class UpdateRunState : std::int32_t {
    Idle = 0,      // initial; also after a finished outcome was read with reset
    Running = 1,   // the update worker has started
    Failed = 2,    // the device went to DeviceCannotBeUpdated
    Cancelled = 3, // a cancel request was honoured; the device stays in update mode
    Succeeded = 4, // the whole image was written and the device told to leave update mode
};

// The work the engine hands to its worker thread, wrapped in a ZT::LHolder.
enum class ThreadWorkerTask : std::uint32_t {
    EnterUpdateModeTask = 0, // the engine's enter-update-mode step
    UpdateFirmwareTask = 1,  // the update step, followed by the completion notification
};

// The busy states: while a scan, a mode switch or a download runs, the engine refuses to scan,
// select or take new definitions, and the dual updater neither probes nor changes the target.
[[nodiscard]] constexpr bool IsBusyState(DeviceState state) noexcept
{
    return state == DeviceState::Scanning || state == DeviceState::EnteringUpdateMode || state == DeviceState::Updating;
}

// The enumerator's name ("DeviceInUpdateMode"), for log lines; "invalid DeviceState" (and so on)
// for a value outside the enumeration, as one read from a u32 field may be. Inside a class that
// inherits IStringable::ToString, call them as ::ToString(value).
[[nodiscard]] const char* ToString(DeviceState state) noexcept;
[[nodiscard]] const char* ToString(FirmwareFileState state) noexcept;
[[nodiscard]] const char* ToString(DeviceErrorReason reason) noexcept;
[[nodiscard]] const char* ToString(UpdateRunState state) noexcept;
[[nodiscard]] const char* ToString(ThreadWorkerTask task) noexcept;
