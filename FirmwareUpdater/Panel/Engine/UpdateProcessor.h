#pragma once
// Turns the process's command line into engine settings and, when asked to, runs the whole
// update without a window.
//
// The application creates one processor at start-up and hands it the raw command line. What
// Initialize returns decides the rest of the run: ZT::ZTRESULT_EXIT_APPLICATION ends it at once
// (query mode, and the silent branches of automatic mode), any other result lets the window
// show. The processor owns the main engine; the window reaches the engine only through it.
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

class IUpdateProcessorHost;
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
    // How long silent mode waits for the update it started, in ms.
    static constexpr std::uint32_t kSilentWaitMs = 600000;

    // The exit statuses of query mode.
    static constexpr std::int32_t kStatusNoUsableDevice = 1;
    static constexpr std::int32_t kStatusInUpdateModeNotNeeded = 2;
    static constexpr std::int32_t kStatusInUpdateModeNeeded = 3;
    static constexpr std::int32_t kStatusNormalModeNotNeeded = 4;
    static constexpr std::int32_t kStatusNormalModeNeeded = 5;

    // Creates the engine (an LUpdateEngine on the process's USB and MIDI backends).
    LUpdateProcessor();
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

    // The run without a window that waits in silent mode, or null. The host must outlive its
    // use by Initialize.
    void SetHost(IUpdateProcessorHost* host) noexcept { mHost = host; }

    // The process's exit status: 0 at start, set only by query mode. Any thread.
    [[nodiscard]] static std::int32_t GetExitStatus() noexcept;
    // For the start of a run (and between tests).
    static void SetExitStatus(std::int32_t status) noexcept;

    // The device definition the options give (a definition with all four IDs 0 when nothing
    // fills them); defaultProductId is the dual updater's default product ID.
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

private:
    [[nodiscard]] bool HasOption(const wchar_t* name) const;
    void SelectFirmwareFile();
    void DefineDevice();
    [[nodiscard]] ZT::ZTRESULT RunAutomaticMode(ZT::ZTRESULT engineResult);

    ZT::WString mCommandLine;
    const ZT::RCPtr<LUpdateEngine> mEngine;
    bool mAlwaysUpdate = false;
    IUpdateProcessorHost* mHost = nullptr;
};
