#pragma once
// Which of the product's two devices each bootloader is, kept between runs.
//
// Both devices run the same microcontroller bootloader (0483:DF11), so in update mode nothing on
// the bus tells the controller from the wheel display; only the USB serial number that the
// bootloader derives from the chip's unique ID is stable. When a device enters update mode (or a
// a download starts on a bootloader) its serial is remembered here for that device; a query
// never writes it. Once it names a serial for a device, a lone bootloader beside the other
// device in normal mode is taken as that device only when the record agrees. A later run that finds bootloaders with no device in normal
// mode to tell them apart reads the record; a serial it does not hold is never guessed.
//
// The file is "bootloader-serials" in the user's state folder ($XDG_STATE_HOME/Halvard/
// XR4000 NOVA Firmware Updater), one line per device:
//
//     controller 2058345D3100
//     wheel-display 2058345D5000
//
// with lines starting "#" ignored. A serial is 1 to 126 printable ASCII characters without
// blanks (what a USB string descriptor can hold). A file that breaks any rule, names a device
// twice or gives both devices one serial is damaged: it is ignored as a whole, with a line on
// the debug output, and the next write replaces it. Writes go to a new file beside it (created
// with O_EXCL | O_NOFOLLOW, synced) that is then renamed over it, so a run killed meanwhile
// leaves the old record or the new one, never half of either.
//
// Threads: the folder is set at start-up; Load and Remember run on the user-interface thread
// (the probe, which only loads, and the mode switch) or on the engine's worker as a download
// starts, while no probe or switch runs: never on two threads at once.

#include "FirmwareUpdater/Panel/Engine/ProductDevice.h"

#include <array>
#include <optional>
#include <string>
#include <string_view>

class CBootloaderRoleRecord {
public:
    using Kind = ProductDevice::Kind;

    static constexpr const char* kFileName = "bootloader-serials";
    // Larger files are damaged: two lines of at most 126 characters fit many times over.
    static constexpr std::size_t kMaxFileSize = 4096;
    static constexpr std::size_t kMaxSerialLength = 126;

    // The folder of the process's record (the state folder, set by the program at start-up).
    // Empty, the default: no record is kept; Load gives an empty record and Remember writes
    // nothing. Any thread, but set before the first scan.
    static void SetFolder(const std::string& folder);
    [[nodiscard]] static std::string GetFolder();
    // The record's file in the folder; empty without a folder.
    [[nodiscard]] static std::string GetFilePath();

    // The process's record as its file holds it now: empty when there is no folder or no file,
    // and when the file is damaged or cannot be read (one debug line says which).
    [[nodiscard]] static CBootloaderRoleRecord Load();
    // Records serial for kind in the process's file, taking it away from the other device, and
    // writes the file when that changes it. An empty serial or one that breaks the rule is not
    // recorded (one debug line). False when the file could not be written (one debug line).
    static bool Remember(Kind kind, const std::string& serial);

    // The record a file's text gives; nullopt with reason set when the text is damaged.
    [[nodiscard]] static std::optional<CBootloaderRoleRecord> Parse(std::string_view text, std::string& reason);
    // The file's text for this record.
    [[nodiscard]] std::string Format() const;

    // True for 1 to 126 printable ASCII characters without blanks.
    [[nodiscard]] static bool IsStorableSerial(std::string_view serial);

    // The serial recorded for kind; empty when none is.
    [[nodiscard]] const std::string& GetSerial(Kind kind) const;
    // The device serial is recorded for; nullopt for an empty serial or one not recorded.
    [[nodiscard]] std::optional<Kind> FindKind(const std::string& serial) const;
    // Records serial for kind and clears it from the other device. False, changing nothing, for
    // a serial IsStorableSerial refuses.
    bool SetSerial(Kind kind, const std::string& serial);

    // Writes Format() to path through a new file beside it and a rename (see the header
    // comment). False with message set when anything fails; the old file is then untouched.
    [[nodiscard]] bool SaveTo(const std::string& path, std::string& message) const;

    [[nodiscard]] bool operator==(const CBootloaderRoleRecord&) const = default;

private:
    // By ProductDevice::Kind: controller, wheel display.
    std::array<std::string, 2> mSerials;
};
