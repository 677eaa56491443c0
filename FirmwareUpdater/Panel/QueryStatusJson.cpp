#include "FirmwareUpdater/Panel/QueryStatusJson.h"

#include "FirmwareUpdater/Panel/Engine/ProductDevice.h"

#include <cstdio>
#include <sys/stat.h>

namespace {

bool IsRegularFile(const std::string& path)
{
    struct stat status {};
    return ::stat(path.c_str(), &status) == 0 && S_ISREG(status.st_mode);
}

CQueryStatusJson::Device Describe(const ProductDevice& product, const char* role, bool found, bool needsUpdate,
                                  const FirmwareVersion& version, const std::string& serial, bool inUpdateMode,
                                  const std::string& programFolder)
{
    CQueryStatusJson::Device device;
    device.Role = role;
    if (found) {
        device.Mode = "normal";
        device.Version = version.Text.ToUTF8();
    } else if (inUpdateMode) {
        device.Mode = "update";
        device.BootloaderSerial = serial;
    } else {
        device.Mode = "absent";
    }
    device.File = ZT::WString(product.FirmwareFileName).ToUTF8();
    device.FilePresent = IsRegularFile(programFolder + "/" + device.File);
    device.FileVersion = product.GetFirmwareVersion().Text.ToUTF8();
    device.UpdateNeeded = needsUpdate;
    return device;
}

std::string StringOrNull(const std::string& text)
{
    return text.empty() ? std::string("null") : CQueryStatusJson::Quote(text);
}

const char* Boolean(bool value)
{
    return value ? "true" : "false";
}

} // namespace

std::vector<CQueryStatusJson::Device> CQueryStatusJson::FromProbe(const LDualUpdater::ProbeResult& probe,
                                                                  const std::string& programFolder)
{
    const bool controllerInUpdateMode = !probe.ControllerBootloaderSerial.empty();
    const bool displayInUpdateMode = !probe.DisplayBootloaderSerial.empty() || probe.DisplayInUpdateMode;
    return {
        Describe(kControllerDevice, "controller", probe.ControllerFound, probe.ControllerNeedsUpdate,
                 probe.ControllerVersion, probe.ControllerBootloaderSerial, controllerInUpdateMode, programFolder),
        Describe(kWheelDisplayDevice, "wheel_display", probe.DisplayFound, probe.DisplayNeedsUpdate, probe.DisplayVersion,
                 probe.DisplayBootloaderSerial, displayInUpdateMode, programFolder),
    };
}

std::string CQueryStatusJson::Format(const std::vector<Device>& devices, int exitStatus, std::string_view meaning)
{
    std::string text = "{\"exit_status\":" + std::to_string(exitStatus) + ",\"meaning\":" + Quote(meaning) + ",\"devices\":[";
    for (std::size_t i = 0; i < devices.size(); ++i) {
        const Device& device = devices[i];
        if (i > 0)
            text += ',';
        text += "{\"role\":" + Quote(device.Role);
        text += ",\"found\":" + std::string(Boolean(device.Mode != "absent"));
        text += ",\"mode\":" + Quote(device.Mode);
        text += ",\"version\":" + StringOrNull(device.Version);
        text += ",\"bootloader_serial\":" + StringOrNull(device.BootloaderSerial);
        text += ",\"file\":" + Quote(device.File);
        text += ",\"file_present\":" + std::string(Boolean(device.FilePresent));
        text += ",\"file_version\":" + StringOrNull(device.FileVersion);
        text += ",\"update_needed\":" + std::string(Boolean(device.UpdateNeeded));
        text += '}';
    }
    text += "]}\n";
    return text;
}

std::string CQueryStatusJson::Quote(std::string_view text)
{
    std::string quoted = "\"";
    for (const char c : text) {
        switch (c) {
        case '"':
            quoted += "\\\"";
            break;
        case '\\':
            quoted += "\\\\";
            break;
        case '\n':
            quoted += "\\n";
            break;
        case '\r':
            quoted += "\\r";
            break;
        case '\t':
            quoted += "\\t";
            break;
        default:
            if (static_cast<unsigned char>(c) < 0x20) {
                char escaped[8];
                std::snprintf(escaped, sizeof escaped, "\\u%04x", static_cast<unsigned>(static_cast<unsigned char>(c)));
                quoted += escaped;
            } else {
                quoted += c;
            }
        }
    }
    quoted += '"';
    return quoted;
}
