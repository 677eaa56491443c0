#pragma once
// Turns the process's command line into engine settings and, when asked to, runs the whole
// update without a window.
//
// The application creates one processor at start-up and hands it the raw command line. What
// Initialize returns decides the rest of the run: ZT::ZTRESULT_EXIT_APPLICATION ends it at once
// (query mode, and the silent branches of automatic mode), any other result lets the window
// show. The processor owns the main engine; the window reaches the engine only through it. The
// processor hands the engine the update target and the scan preparer it is made with (the dual
// updater's, in the program).
//
// Options are a dash and an upper-case name, matched case-insensitively; names ending in "="
// take the value written directly after them (see CommandLineOption.h for every rule):
//
//   -ABSOLUTE_FIRMWARE_FILE_PATH=<path>   the firmware file; wins over the next one
//   -FIRMWARE_IMAGE_NAME=<name>           a file of that name in the program's folder
//   -DEVICE_VID=<n>                       vendor ID of the device, only with -DEVICE_PID=
//   -DEVICE_PID=<n>                       product ID of the device
//   -DEVICE_BOOTLOADER_PID=<n>            product ID of the device in update mode
//   -ALWAYS_UPDATE                        update even when the device is as new as the file
//   -RETURN_UPDATE_MODE_STATUS            query mode: exit status 1 to 5, no window
//   -SILENT_IF_UPDATE_NOT_NEEDED          no window when no update is wanted
//   -START_UPDATE_AUTOMATICALLY           start the update, then show the window
//   -SILENT                               start the update, wait for it, no window
//
// Numbers are decimal, read as the C runtime's wide atoi reads them. Anything else on the
// command line is ignored without a message.
//
// Threads: everything runs on the user-interface thread. In silent mode that thread blocks for
// up to kSilentWaitMs while the engine's worker writes the firmware.

#include "FirmwareUpdater/Panel/Engine/UpdateEngineInterface.h"
#include "ZTFramework/Errors/Result.h"
#include "ZTFramework/ObjectBase/RCPtr.h"
#include "ZTFramework/ObjectBase/RefCountedObject.h"
#include "ZTFramework/Utilities/Storage/StringT.h"

#include <cstdint>
#include <optional>
#include <span>
#include <string>

class IScanPreparer;
class IUpdateProcessorHost;
class IUpdateTarget;
class LUpdateEngine;

class LUpdateProcessor : public virtual ZT::LRefCountedObject {
public:
    using DeviceState = LUpdateEngineInterface::DeviceState;
    using DeviceDefinition = LUpdateEngineInterface::DeviceDefinition;

    // Identifiers used when the command line names no device.
    static constexpr std::uint32_t kDefaultVendorId = 0x2C1A;
    static constexpr std::uint32_t kDefaultBootloaderVendorId = 0x0483;
    static constexpr std::uint32_t kDefaultBootloaderProductId = 0xDF11;
    // The controller's image, in the program's folder.
    static constexpr const wchar_t* kDefaultFirmwareFileName = L"qx31_tp_update_00_31_120936.dfu";
    // How long silent mode waits for the update it started, in ms. The time counts from the
    // moment automatic mode decides to update, so the switch into update mode is inside it.
    static constexpr std::uint32_t kSilentWaitMs = 600000;

    // Silent mode never starts a download that its deadline would cut: before the switch into
    // update mode and again before the download, what is left of the wait must cover this
    // estimate of the whole job. Worst cases, not typical ones: the erase time of each flash
    // sector the element covers (by sector size), a time per block (the download request, the
    // programming and the status polls), the wait for the device to return in normal mode, and
    // a margin. The switch into update mode is added while it is still to come.
    static constexpr std::uint32_t kEraseMs16KiB = 500;
    static constexpr std::uint32_t kEraseMs64KiB = 1100;
    static constexpr std::uint32_t kEraseMs128KiB = 2000;
    static constexpr std::uint32_t kEstimateBlockBytes = 2048; // the download's transfer size
    static constexpr std::uint32_t kEstimateBlockMs = 100;
    static constexpr std::uint32_t kEstimateReturnMs = 10000;     // the command-line run's wait for the device
    static constexpr std::uint32_t kEstimateModeSwitchMs = 11000; // 1 s, then up to 10 s of searches
    static constexpr std::uint32_t kEstimateMarginMs = 5000;

    // The exit statuses of query mode.
    static constexpr std::int32_t kStatusNoUsableDevice = 1;
    static constexpr std::int32_t kStatusInUpdateModeNotNeeded = 2;
    static constexpr std::int32_t kStatusInUpdateModeNeeded = 3;
    static constexpr std::int32_t kStatusNormalModeNotNeeded = 4;
    static constexpr std::int32_t kStatusNormalModeNeeded = 5;

    // Creates the engine (an LUpdateEngine on the process's USB and MIDI backends) and gives it
    // target and preparer, which must outlive the processor.
    LUpdateProcessor(const IUpdateTarget& target, IScanPreparer& preparer);
    ~LUpdateProcessor() override;
    LUpdateProcessor(const LUpdateProcessor&) = delete;
    LUpdateProcessor& operator=(const LUpdateProcessor&) = delete;

    // Reads the command line and acts on it; see the header comment. The first call stores the
    // command line (later calls and Reinitialize use the stored one) and reads -ALWAYS_UPDATE.
    // Returns the engine's Initialize result (0, or another non-negative result) to go on with
    // the window, or ZT::ZTRESULT_EXIT_APPLICATION to quit at once. Throws
    // ZT::Exception<ZT::FailedResultException> when the engine's own Initialize fails. Blocks
    // for the scan, for the switch into update mode (up to about 11 s) and in silent mode for
    // up to kSilentWaitMs more.
    [[nodiscard]] ZT::ZTRESULT Initialize(const ZT::WString& commandLine);
    // Initialize again with the stored command line ("TRY AGAIN"). Its result is that of
    // Initialize; the window ignores it.
    ZT::ZTRESULT Reinitialize();

    [[nodiscard]] bool IsAlwaysUpdate() const noexcept { return mAlwaysUpdate; }
    // Sets the flag; true when it already had that value.
    bool SetAlwaysUpdate(bool alwaysUpdate) noexcept;
    // True unless the engine's device state is Updating: the window's exit check.
    [[nodiscard]] bool IsNotUpdating() const;
    [[nodiscard]] ZT::RCPtr<LUpdateEngineInterface> GetEngine() const;
    [[nodiscard]] const ZT::WString& GetCommandLine() const noexcept { return mCommandLine; }

    // The option lookup every option goes through (CommandLineOption::Get).
    [[nodiscard]] static bool GetCommandLineOption(const ZT::WString& commandLine, const ZT::WString& name,
                                                   ZT::WString& value);

    // The run that starts automatic mode's update and waits for it in silent mode (the
    // command-line run, through the update sequence), or null. The host must outlive its use by
    // Initialize.
    void SetHost(IUpdateProcessorHost* host) noexcept { mHost = host; }

    // The process's exit status: 0 at start, set only by query mode. Any thread.
    [[nodiscard]] static std::int32_t GetExitStatus() noexcept;
    // For the start of a run (and between tests).
    static void SetExitStatus(std::int32_t status) noexcept;

    // The device definition the options give (a definition with all four IDs 0 when nothing
    // fills them); defaultProductId is the update target's default product ID.
    [[nodiscard]] static DeviceDefinition DeviceDefinitionFromOptions(const ZT::WString& commandLine,
                                                                      std::uint32_t defaultProductId);
    // The firmware file the options choose in programFolder.
    [[nodiscard]] static ZT::WString FirmwareFileFromOptions(const ZT::WString& commandLine,
                                                             const ZT::WString& programFolder);
    // The query-mode status for a device state (needed: the engine's IsUpdateNeeded); 0 for the
    // states that leave it unchanged.
    [[nodiscard]] static std::int32_t QueryStatus(DeviceState state, bool updateNeeded) noexcept;

    // "LUpdateProcessor DeviceNotInUpdateMode".
    ZT::WString ToString() const override;

    // ---- Silent mode's deadline

    // Replaces kSilentWaitMs for this processor (tests shorten it; the time is ZT::GetClock()'s).
    void SetSilentWaitMs(std::uint32_t ms) noexcept { mSilentWaitMs = ms; }
    // The size of the flash sector that starts at address, in the microcontroller's layout: four
    // of 16 KiB from 0x08000000, one of 64 KiB at 0x08010000, 128 KiB from 0x08020000 on (and,
    // to stay on the safe side, for any address outside that range).
    [[nodiscard]] static std::uint32_t FlashSectorBytes(std::uint32_t address) noexcept;
    // The estimate (see kEraseMs16KiB) for an element of elementSize bytes at elementAddress,
    // erased through eraseSectors (start addresses; those the element does not reach cost
    // nothing), without the switch into update mode.
    [[nodiscard]] static std::uint64_t EstimateDownloadMs(std::uint32_t elementAddress, std::uint32_t elementSize,
                                                          std::span<const std::uint32_t> eraseSectors) noexcept;
    // The estimate for the engine's firmware file and its update target's erase list,
    // with the switch into update mode when modeSwitchFirst; nothing when the file cannot be
    // read (the download then refuses it before it touches the device).
    [[nodiscard]] static std::optional<std::uint64_t> EstimateFor(const LUpdateEngineInterface& engine,
                                                                  bool modeSwitchFirst);
    // Why the engine's next download must not start with msLeft of silent mode's wait left
    // ("12 s of the silent run's time are left; the download may take up to 23 s"), or empty.
    [[nodiscard]] static std::string WhyNoTimeForDownload(const LUpdateEngineInterface& engine, std::uint64_t msLeft,
                                                          bool modeSwitchFirst);

private:
    [[nodiscard]] bool HasOption(const wchar_t* name) const;
    void SelectFirmwareFile();
    void DefineDevice();
    [[nodiscard]] ZT::ZTRESULT RunAutomaticMode(ZT::ZTRESULT engineResult);
    // The switch into update mode when needed, then the download; false when the download was
    // not started. deadlineMs: silent mode's end on ZT::GetClock(), none without -SILENT.
    [[nodiscard]] bool StartAutomaticUpdate(std::optional<std::uint64_t> deadlineMs);
    // Why the next step must not start (the deadline), or empty: the host-less path only; with a
    // host the update sequence owns that rule.
    [[nodiscard]] std::string WhyNotStart(std::optional<std::uint64_t> deadlineMs, bool modeSwitchFirst) const;

    ZT::WString mCommandLine;
    const ZT::RCPtr<LUpdateEngine> mEngine;
    bool mAlwaysUpdate = false;
    IUpdateProcessorHost* mHost = nullptr;
    std::uint32_t mSilentWaitMs = kSilentWaitMs;
};
