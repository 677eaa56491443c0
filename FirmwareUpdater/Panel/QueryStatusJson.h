#pragma once
// The query's answer as one JSON object (-RETURN_UPDATE_MODE_STATUS --json), for fleet scripts and
// support:
//   {"exit_status":5,"meaning":"an update is needed","devices":[
//     {"role":"controller","found":true,"mode":"normal","version":"00.30","bootloader_serial":null,
//      "file":"qx31_tp_update_00_31_120936.dfu","file_present":true,"file_version":"00.31",
//      "update_needed":true}, {"role":"wheel_display",...}]}
// "mode" is "normal", "update" (its bootloader) or "absent"; "version" is null where the device
// does not report one (in update mode, or absent) and "bootloader_serial" null outside update mode.
// "update_needed" says that the device is older than the product's firmware ("file_version");
// the exit status also weighs whether that file is there ("file_present"): without it a run has
// nothing to write.

#include "FirmwareUpdater/Panel/Engine/DualUpdater.h"

#include <string>
#include <string_view>
#include <vector>

class CQueryStatusJson {
public:
    struct Device {
        std::string Role; // "controller", "wheel_display"
        std::string Mode; // "normal", "update", "absent"
        std::string Version;
        std::string BootloaderSerial;
        std::string File;
        bool FilePresent = false;
        std::string FileVersion;
        bool UpdateNeeded = false;
    };

    // Both devices as the dual updater's last probe saw them; each device's file is looked for in
    // programFolder.
    [[nodiscard]] static std::vector<Device> FromProbe(const LDualUpdater::ProbeResult& probe,
                                                       const std::string& programFolder);

    // The object, UTF-8, on one line with a final "\n".
    [[nodiscard]] static std::string Format(const std::vector<Device>& devices, int exitStatus,
                                            std::string_view meaning);

    // text as a JSON string with its quotes: '"', '\\' and control characters escaped, other
    // bytes as they are (the input is UTF-8).
    [[nodiscard]] static std::string Quote(std::string_view text);
};
