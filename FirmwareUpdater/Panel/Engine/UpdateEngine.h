#pragma once
// The engine that reaches the product's devices: USB discovery, the switch into update mode and
// the check after an update here, the DfuSe download in UpdateEngineDownload.cpp.
//
// A device is identified only by the two vendor/product pairs of its definition: found with its
// normal-mode pair it runs its application firmware, found with its update-mode pair it runs
// its DFU bootloader. Nothing is read from the device to decide this. A device in normal mode
// reports its firmware version as the USB release number of its hardware ID
// ("USB\VID_2C1A&PID_8010&REV_0031" is version {0,0,3,1} "00.31").
//
// The switch into update mode sends the device's MIDI port the system-exclusive message
// F0 00 01 7A 01 10 72 00 00 F7, waits 1000 ms, then looks for the bootloader every 500 ms until
// 10000 ms of those waits have passed: the searches run at 1.0 s, 1.5 s, ... 10.5 s after the
// message. Every wait goes through ZT::GetClock().
//
// Only the device meant gets the message, and only its bootloader is then written: the MIDI port
// must carry exactly the device's name (ZT::LMidiComm), and a bootloader is taken only when it
// was not on the bus just before the message (by path and serial number) while the device in
// normal mode has left its path. A bootloader present all along, a device that stays, or two
// new bootloaders at once end the switch as a failure without any DFU request. The serial of the
// bootloader taken is remembered for its device (CBootloaderRoleRecord), so that a later run
// can tell the two bootloaders apart. A definition that names a bootloader serial number matches
// only a bootloader with that serial.
//
// Threads: as LUpdateEngineInterface. The found-device list is rebuilt by ScanDevices on the
// user-interface thread and its records are updated by the mode switch (that thread, or the
// worker when StartUpdateModeSwitch handed it over) and by RefreshDevice and the download (the
// worker); mFoundDevicesMutex guards it and is held only to
// copy a record in or out, never while USB or MIDI is used. The USB connection is used by one
// thread at a time: the mode switch names its device, the download opens it.

#include "FirmwareUpdater/Panel/Engine/UpdateEngineInterface.h"
#include "ZTFramework/Errors/Result.h"
#include "ZTFramework/Usb/UsbDeviceInfo.h"
#include "ZTFramework/Utilities/Storage/ArrayUtils.h"
#include "ZTFramework/Utilities/Storage/StringT.h"

#include <array>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

class UsbConnection;
struct EraseList;

class LUpdateEngine : public LUpdateEngineInterface {
public:
    // A device found by a scan: its definition, and what the scan and the update learned of it.
    // Copying a record copies every field.
    class DeviceDefinitionEx : public DeviceDefinition {
    public:
        DeviceDefinitionEx() = default;
        // A record made from a definition: empty texts, zero release, not in update mode, no
        // error reason.
        explicit DeviceDefinitionEx(const DeviceDefinition& definition) : DeviceDefinition(definition) {}
        DeviceDefinitionEx(const DeviceDefinitionEx&) = default;
        DeviceDefinitionEx& operator=(const DeviceDefinitionEx&) = default;
        virtual ~DeviceDefinitionEx() = default;

        // The release the device reported in normal mode, one hexadecimal digit per part; zero
        // with an empty text when none was read (always so in update mode).
        FirmwareVersion FirmwareRelease;
        // Found with its update-mode pair.
        bool InUpdateMode = false;
        // Set by the mode switch, the refresh after an update and the download.
        DeviceErrorReason ErrorReason = DeviceErrorReason::NoReason;
        // Carried with the record and not used by the engine.
        ZT::WString Text6;
        // Carried with the record; emptied whenever the device is found in normal mode.
        ZT::WString Text7;
        // The device node of the device in normal mode, as the USB backend lists it.
        ZT::WString NormalModePath;
        // The device node of its bootloader; the download opens this one. Emptied whenever the
        // device is found in normal mode, so that a path of an earlier session is never reused.
        ZT::WString UpdateModePath;
        // The USB serial number that bootloader reports; empty as UpdateModePath is, or when it
        // reports none.
        std::string UpdateModeSerialNumber;
    };
    using FoundDevices = ZT::Array<DeviceDefinitionEx>;

    // The MIDI message that makes a device in normal mode restart in its bootloader.
    static constexpr std::array<std::uint8_t, 10> kUpdateModeRequest{0xF0, 0x00, 0x01, 0x7A, 0x01,
                                                                      0x10, 0x72, 0x00, 0x00, 0xF7};
    // The mode switch's waits, in ms of ZT::GetClock().
    static constexpr std::uint32_t kModeSwitchFirstWaitMs = 1000;
    static constexpr std::uint32_t kModeSwitchPollIntervalMs = 500;
    static constexpr std::uint32_t kModeSwitchPollLimitMs = 10000;

    // Creates the USB connection; posts nothing.
    LUpdateEngine();
    ~LUpdateEngine() override;

    // The base's initialisation, and the USB connection closed unless a download is using it.
    [[nodiscard]] ZT::ZTRESULT Initialize(const ZT::WString& parameter) override;
    // Gives the first definition the update target's MIDI port name and every other an empty
    // one, then as the base.
    [[nodiscard]] ZT::ZTRESULT SetDeviceDefinitions(const DeviceDefinitions& definitions) override;

    // Lists the present USB devices once and, for each definition in order, records the first
    // device that matches either of its pairs. S_OK whether or not anything was found; E_FAIL
    // with an empty list when the devices cannot be listed.
    [[nodiscard]] ZT::ZTRESULT ScanDevices() override;
    [[nodiscard]] ZT::ZTRESULT GetFoundDevices(DeviceDefinitions& devices) const override;
    [[nodiscard]] std::uint32_t GetFoundDeviceCount() const override;
    [[nodiscard]] ZT::ZTRESULT GetDeviceVersion(std::uint32_t index, FirmwareVersion& version) const override;
    // False past the found devices.
    [[nodiscard]] bool IsDeviceInUpdateMode(std::uint32_t index) const override;
    // The USB serial numbers of every present device with this vendor/product pair, in the
    // backend's order (an empty text for one that reports none). E_FAIL with none when the
    // devices cannot be listed. Used by the dual updater to tell bootloaders apart.
    [[nodiscard]] static ZT::ZTRESULT ListSerialNumbers(std::uint32_t vendorId, std::uint32_t productId,
                                                        std::vector<std::string>& serials);
    // Below the count: the record's reason, S_OK. Past it: DriverTooOld (1) and S_OK while the
    // state is DeviceCannotBeUpdated, otherwise 0 and E_FAIL.
    [[nodiscard]] ZT::ZTRESULT GetDeviceErrorCode(std::uint32_t index, std::uint32_t& reason) const override;

    // The switch into update mode (see the header comment), on the calling thread (the worker's
    // when StartUpdateModeSwitch started it):
    //   - S_FALSE at once in DeviceInUpdateMode; E_FAIL, changing nothing, in any state other
    //     than DeviceNotInUpdateMode and EnteringUpdateMode, or without a selected device;
    //   - otherwise EnteringUpdateMode, then S_OK and DeviceInUpdateMode once a bootloader that
    //     was not there before the message is found and the device has left (header comment);
    //   - the send's failure (E_INVALIDARG when no port carries the device's name or it cannot be
    //     opened, E_FAIL when the message did not go out), or E_FAIL when the bus cannot be listed
    //     before the message (nothing is sent), the device was not there, no new bootloader
    //     appeared, the device did not leave, or two new bootloaders appeared: the record's
    //     reason DeviceAccessFailure and DeviceCannotBeUpdated, and one debug line says which;
    //   - E_ABORT after CancelUpdate (checked before each search and after a failed send): run
    //     state Cancelled and DeviceCannotBeUpdated.
    // Blocks up to 11 s, and up to 10 s more while the MIDI completion is waited for.
    [[nodiscard]] ZT::ZTRESULT EnterUpdateMode() override;
    // Finds the selected device again (after an update; worker thread) and sets
    // DeviceInUpdateMode or DeviceNotInUpdateMode from the pair it is found with, or the reason
    // DeviceAccessFailure and DeviceCannotBeUpdated when it is gone. S_OK; E_FAIL in
    // DevicesAvailableNoneSelected and below, or without a valid selection.
    [[nodiscard]] ZT::ZTRESULT RefreshDevice() override;
    // In EnteringUpdateMode and Updating: sets the cancel flag that the running step polls, S_OK.
    // E_FAIL in every other state, leaving the flag as it is. Never blocks; any thread.
    [[nodiscard]] ZT::ZTRESULT CancelUpdate() override;

    // The DfuSe download; defined in UpdateEngineDownload.cpp.
    [[nodiscard]] ZT::ZTRESULT PerformUpdate() override;

    // A copy of the found-device record at index; false past the end.
    [[nodiscard]] bool GetFoundDevice(std::uint32_t index, DeviceDefinitionEx& record) const;

    // The four hexadecimal digits that follow tag ("VID_", "PID_", "REV_") in a hardware ID. The
    // tag is looked for in upper case; the digits may be either case, any other character counts
    // 0 and still takes its place, and so does a character missing at the end. 0 without the tag.
    [[nodiscard]] static std::uint16_t ReadHardwareIdNumber(std::string_view hardwareId, std::string_view tag);
    // The release a device reports through its hardware ID: in update mode none (zero, empty
    // text) and S_FALSE; otherwise the digits after "REV_" as FirmwareVersion::FromReleaseNumber
    // makes them and S_OK, or the unknown version and E_FAIL without "REV_".
    [[nodiscard]] static ZT::ZTRESULT ReadFirmwareRelease(std::string_view hardwareId, bool inUpdateMode,
                                                          FirmwareVersion& release);

    // "LUpdateEngine DeviceInUpdateMode, 1 device found".
    ZT::WString ToString() const override;

protected:
    // For the download.
    // A copy of the record at the selected index; false without a valid selection.
    [[nodiscard]] bool GetSelectedFoundDevice(DeviceDefinitionEx& record) const;
    // Writes record back at the selected index; false without a valid selection.
    bool StoreSelectedFoundDevice(const DeviceDefinitionEx& record);
    void SetSelectedDeviceErrorReason(DeviceErrorReason reason) override;
    // The engine's one USB connection, made with the engine.
    [[nodiscard]] UsbConnection& GetUsbConnection() noexcept { return *mUsbConnection; }
    // Also at hand for the download, from the base: GetDeviceState / SetDeviceState,
    // SetUpdateRunState, IsCancelRequested, GetFirmwareFileState, GetFirmwareFilePath and
    // PostUpdateProgress.

private:
    // Asked by EnterUpdateMode before its MIDI message and by PerformUpdate before it opens the
    // USB connection; defined in UpdateEngineDownload.cpp. S_OK when the firmware file can be
    // written as the download writes it through sectors (CFirmwareFileCheck), or when no file is
    // chosen. Otherwise one debug line with the reason, run state Failed, the record's reason
    // FileAccessFailure, DeviceCannotBeUpdated, and E_FAIL. With bytes (the whole file, as the
    // download read it) those are checked instead of the file on disk.
    [[nodiscard]] ZT::ZTRESULT CheckFirmwareFileBeforeTouchingDevice(const EraseList& sectors,
                                                                     const std::vector<std::uint8_t>* bytes = nullptr);
    // How a device that the download found manifesting an earlier run's image came back.
    enum class ManifestEnd {
        InApplication, // its image started: run state Failed, DeviceNotInUpdateMode, no reason
        InBootloader,  // the image does not start: record holds the bootloader's new path
        Gone,          // not back within kDeviceReturnLimitMs
    };
    // Defined in UpdateEngineDownload.cpp: resets the device the USB connection holds open, then
    // looks for record's device every kDeviceReturnPollIntervalMs until it is back, stores what
    // it found as the selected record, and says so on the debug output. Blocks up to 10 s.
    [[nodiscard]] ManifestEnd ResetManifestingDevice(DeviceDefinitionEx& record);
    // Looks for the record's device among devices (a fresh listing when null): the first whose
    // pair is the record's normal-mode or update-mode pair. On a match updates the record's
    // flag, path and release and returns S_OK; E_FAIL when nothing matches or the listing fails.
    [[nodiscard]] static ZT::ZTRESULT SearchDevice(DeviceDefinitionEx& record,
                                                   const std::vector<ZT::UsbDeviceInfo>* devices);
    // What a look for the bootloader after the message found.
    enum class BootloaderSearch {
        Found,       // one new bootloader, and the device has left: its path and serial are stored
        NotYet,      // no new bootloader yet, or the device is still there, or the listing failed
        Ambiguous,   // more than one new bootloader: none can be told to be ours
    };
    // Looks, in a fresh listing, for a bootloader of the record's update-mode pair (and serial,
    // when the definition names one) that is not among before, the listing taken just before
    // the message, while no device of the normal-mode pair is left at the record's normal-mode
    // path.
    [[nodiscard]] static BootloaderSearch SearchBootloader(DeviceDefinitionEx& record,
                                                           const std::vector<ZT::UsbDeviceInfo>& before,
                                                           std::string& why);
    // The ends of a mode switch that found no bootloader.
    [[nodiscard]] ZT::ZTRESULT EndModeSwitchCancelled();
    // why: what the failure record (GetLastFailure) says went wrong.
    [[nodiscard]] ZT::ZTRESULT EndModeSwitchFailed(DeviceDefinitionEx& record, ZT::ZTRESULT result,
                                                   const std::string& why);
    // The failure record of a firmware file refused or unreadable: why, and the selected device.
    void RecordFileFailure(const std::string& why);

    mutable std::mutex mFoundDevicesMutex;
    FoundDevices mFoundDevices; // guarded by mFoundDevicesMutex
    const std::unique_ptr<UsbConnection> mUsbConnection;
};
