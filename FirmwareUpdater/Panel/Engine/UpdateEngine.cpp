#include "FirmwareUpdater/Panel/Engine/UpdateEngine.h"

#include "FirmwareUpdater/Panel/Engine/BootloaderRoleRecord.h"
#include "FirmwareUpdater/Panel/Engine/ProductDevice.h"
#include "FirmwareUpdater/Panel/Engine/UpdateTarget.h"
#include "FirmwareUpdater/Panel/Engine/UsbConnection.h"
#include "ZTFramework/Debug/DebugLine.h"
#include "ZTFramework/Midi/MidiComm.h"
#include "ZTFramework/Midi/MidiRenderPort.h"
#include "ZTFramework/Time/Clock.h"
#include "ZTFramework/Usb/UsbBackend.h"

#include <cctype>
#include <string>
#include <utility>

using ZT::E_ABORT;
using ZT::E_FAIL;
using ZT::S_FALSE;
using ZT::S_OK;
using ZT::ZTRESULT;

namespace {

int HexDigitValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return 0;
}

// The vendor and product ID that a listed device's hardware ID carries.
void ReadIds(const ZT::UsbDeviceInfo& device, std::uint32_t& vendorId, std::uint32_t& productId, std::string& hardwareId)
{
    hardwareId = ZT::MakeHardwareId(device);
    vendorId = LUpdateEngine::ReadHardwareIdNumber(hardwareId, "VID_");
    productId = LUpdateEngine::ReadHardwareIdNumber(hardwareId, "PID_");
}

// Whether a listed device is the record's bootloader by its IDs and, when the definition names
// one, its serial number.
bool IsRecordsBootloader(const LUpdateEngine::DeviceDefinitionEx& record, std::uint32_t vendorId,
                         std::uint32_t productId, const ZT::UsbDeviceInfo& device)
{
    if (vendorId != record.BootloaderVendorId || productId != record.BootloaderProductId)
        return false;
    return record.BootloaderSerialNumber.empty() || device.serialNumber == record.BootloaderSerialNumber;
}

} // namespace

LUpdateEngine::LUpdateEngine() : mUsbConnection(std::make_unique<UsbConnection>())
{
}

// Out of line: UsbConnection is complete only here.
LUpdateEngine::~LUpdateEngine() = default;

ZTRESULT LUpdateEngine::Initialize(const ZT::WString& parameter)
{
    const ZTRESULT result = LUpdateEngineInterface::Initialize(parameter);
    // The worker owns the connection while it downloads.
    if (GetDeviceState() != DeviceState::Updating)
        mUsbConnection->Close();
    return result;
}

ZTRESULT LUpdateEngine::SetDeviceDefinitions(const DeviceDefinitions& definitions)
{
    // The target is one device: only the first definition can be reached through its port.
    DeviceDefinitions named = definitions;
    for (std::size_t i = 0; i < named.GetCount(); ++i)
        named[i].MidiPortName = i == 0 ? GetUpdateTarget().GetMidiPortName() : ZT::WString();
    return LUpdateEngineInterface::SetDeviceDefinitions(named);
}

// ---- Hardware IDs -------------------------------------------------------------------------------

std::uint16_t LUpdateEngine::ReadHardwareIdNumber(std::string_view hardwareId, std::string_view tag)
{
    std::string upper(hardwareId);
    for (char& c : upper)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    const std::size_t at = upper.find(tag);
    if (at == std::string::npos)
        return 0;
    std::uint16_t value = 0;
    for (std::size_t i = at + tag.size(); i < at + tag.size() + 4; ++i) {
        const int digit = i < hardwareId.size() ? HexDigitValue(hardwareId[i]) : 0;
        value = static_cast<std::uint16_t>((value << 4) | digit);
    }
    return value;
}

ZTRESULT LUpdateEngine::ReadFirmwareRelease(std::string_view hardwareId, bool inUpdateMode, FirmwareVersion& release)
{
    // A bootloader does not tell which application it would start.
    if (inUpdateMode) {
        release = FirmwareVersion();
        return S_FALSE;
    }
    std::string upper(hardwareId);
    for (char& c : upper)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    const bool tagged = upper.find("REV_") != std::string::npos;
    release = FirmwareVersion::FromReleaseNumber(ReadHardwareIdNumber(hardwareId, "REV_"));
    return tagged ? S_OK : E_FAIL;
}

// ---- Discovery ----------------------------------------------------------------------------------

ZTRESULT LUpdateEngine::SearchDevice(DeviceDefinitionEx& record, const std::vector<ZT::UsbDeviceInfo>* devices)
{
    record.FirmwareRelease.Text = ZT::WString();
    std::vector<ZT::UsbDeviceInfo> listed;
    if (!devices) {
        if (ZT::Failed(ZT::GetUsbBackend()->ListDevices(listed)))
            return E_FAIL;
        devices = &listed;
    }

    for (const ZT::UsbDeviceInfo& device : *devices) {
        std::uint32_t vendorId = 0;
        std::uint32_t productId = 0;
        std::string hardwareId;
        ReadIds(device, vendorId, productId, hardwareId);
        const bool normalPair = vendorId == record.VendorId && productId == record.ProductId;
        const bool updatePair = IsRecordsBootloader(record, vendorId, productId, device);
        if (!normalPair && !updatePair)
            continue;

        // A device that matches both pairs counts as being in update mode.
        record.InUpdateMode = updatePair;
        const ZT::WString path(device.path.c_str());
        if (updatePair) {
            record.UpdateModePath = path;
            record.UpdateModeSerialNumber = device.serialNumber;
        } else {
            record.NormalModePath = path;
            record.Text7 = ZT::WString();
            // A bootloader of an earlier session is gone now; its path may be another device's.
            record.UpdateModePath = ZT::WString();
            record.UpdateModeSerialNumber.clear();
        }
        // Without "REV_" the release stays unknown; the device is still found.
        (void)ReadFirmwareRelease(hardwareId, record.InUpdateMode, record.FirmwareRelease);
        return S_OK;
    }
    return E_FAIL;
}

LUpdateEngine::BootloaderSearch LUpdateEngine::SearchBootloader(DeviceDefinitionEx& record,
                                                                const std::vector<ZT::UsbDeviceInfo>& before,
                                                                std::string& why)
{
    std::vector<ZT::UsbDeviceInfo> devices;
    if (ZT::Failed(ZT::GetUsbBackend()->ListDevices(devices))) {
        why = "the USB devices cannot be listed";
        return BootloaderSearch::NotYet;
    }
    const auto wasThereBefore = [&before](const ZT::UsbDeviceInfo& device) {
        for (const ZT::UsbDeviceInfo& earlier : before) {
            if (earlier.path == device.path && earlier.serialNumber == device.serialNumber &&
                earlier.vendorId == device.vendorId && earlier.productId == device.productId)
                return true;
        }
        return false;
    };
    const std::string normalPath = record.NormalModePath.ToUTF8();
    bool deviceStillThere = false;
    std::vector<const ZT::UsbDeviceInfo*> appeared;
    for (const ZT::UsbDeviceInfo& device : devices) {
        std::uint32_t vendorId = 0;
        std::uint32_t productId = 0;
        std::string hardwareId;
        ReadIds(device, vendorId, productId, hardwareId);
        if (vendorId == record.VendorId && productId == record.ProductId && device.path == normalPath)
            deviceStillThere = true;
        else if (IsRecordsBootloader(record, vendorId, productId, device) && !wasThereBefore(device))
            appeared.push_back(&device);
    }
    if (appeared.size() > 1) {
        why = "two bootloaders appeared at once (" + appeared[0]->path + " and " + appeared[1]->path +
              "), so neither can be told to be this device";
        return BootloaderSearch::Ambiguous;
    }
    if (deviceStillThere) {
        why = "the device is still in normal mode at " + normalPath;
        return BootloaderSearch::NotYet;
    }
    if (appeared.empty()) {
        why = "no new bootloader appeared";
        return BootloaderSearch::NotYet;
    }
    record.UpdateModePath = ZT::WString(appeared[0]->path.c_str());
    record.UpdateModeSerialNumber = appeared[0]->serialNumber;
    return BootloaderSearch::Found;
}

ZTRESULT LUpdateEngine::ListSerialNumbers(std::uint32_t vendorId, std::uint32_t productId,
                                          std::vector<std::string>& serials)
{
    serials.clear();
    std::vector<ZT::UsbDeviceInfo> devices;
    if (ZT::Failed(ZT::GetUsbBackend()->ListDevices(devices)))
        return E_FAIL;
    for (const ZT::UsbDeviceInfo& device : devices) {
        std::uint32_t listedVendor = 0;
        std::uint32_t listedProduct = 0;
        std::string hardwareId;
        ReadIds(device, listedVendor, listedProduct, hardwareId);
        if (listedVendor == vendorId && listedProduct == productId)
            serials.push_back(device.serialNumber);
    }
    return S_OK;
}

ZTRESULT LUpdateEngine::ScanDevices()
{
    {
        std::lock_guard lock(mFoundDevicesMutex);
        mFoundDevices.RemoveAll();
    }
    std::vector<ZT::UsbDeviceInfo> devices;
    if (ZT::Failed(ZT::GetUsbBackend()->ListDevices(devices)))
        return E_FAIL;

    FoundDevices found;
    for (const DeviceDefinition& definition : GetDeviceDefinitions()) {
        DeviceDefinitionEx record(definition);
        if (ZT::Succeeded(SearchDevice(record, &devices)))
            found.Append(std::move(record));
    }
    std::lock_guard lock(mFoundDevicesMutex);
    mFoundDevices = std::move(found);
    return S_OK;
}

ZTRESULT LUpdateEngine::GetFoundDevices(DeviceDefinitions& devices) const
{
    devices.RemoveAll();
    std::lock_guard lock(mFoundDevicesMutex);
    for (const DeviceDefinitionEx& record : mFoundDevices)
        devices.Append(static_cast<const DeviceDefinition&>(record));
    return S_OK;
}

std::uint32_t LUpdateEngine::GetFoundDeviceCount() const
{
    std::lock_guard lock(mFoundDevicesMutex);
    return static_cast<std::uint32_t>(mFoundDevices.GetCount());
}

bool LUpdateEngine::GetFoundDevice(std::uint32_t index, DeviceDefinitionEx& record) const
{
    std::lock_guard lock(mFoundDevicesMutex);
    if (index >= mFoundDevices.GetCount())
        return false;
    record = mFoundDevices[index];
    return true;
}

ZTRESULT LUpdateEngine::GetDeviceVersion(std::uint32_t index, FirmwareVersion& version) const
{
    std::lock_guard lock(mFoundDevicesMutex);
    if (index >= mFoundDevices.GetCount())
        return E_FAIL;
    version = mFoundDevices[index].FirmwareRelease;
    return S_OK;
}

bool LUpdateEngine::IsDeviceInUpdateMode(std::uint32_t index) const
{
    std::lock_guard lock(mFoundDevicesMutex);
    return index < mFoundDevices.GetCount() && mFoundDevices[index].InUpdateMode;
}

ZTRESULT LUpdateEngine::GetDeviceErrorCode(std::uint32_t index, std::uint32_t& reason) const
{
    {
        std::lock_guard lock(mFoundDevicesMutex);
        if (index < mFoundDevices.GetCount()) {
            reason = static_cast<std::uint32_t>(mFoundDevices[index].ErrorReason);
            return S_OK;
        }
    }
    if (GetDeviceState() == DeviceState::DeviceCannotBeUpdated) {
        reason = static_cast<std::uint32_t>(DeviceErrorReason::DriverTooOld);
        return S_OK;
    }
    reason = 0;
    return E_FAIL;
}

bool LUpdateEngine::GetSelectedFoundDevice(DeviceDefinitionEx& record) const
{
    const std::int32_t selected = GetSelectedDeviceIndex();
    return selected >= 0 && GetFoundDevice(static_cast<std::uint32_t>(selected), record);
}

bool LUpdateEngine::StoreSelectedFoundDevice(const DeviceDefinitionEx& record)
{
    const std::int32_t selected = GetSelectedDeviceIndex();
    std::lock_guard lock(mFoundDevicesMutex);
    if (selected < 0 || static_cast<std::size_t>(selected) >= mFoundDevices.GetCount())
        return false;
    mFoundDevices[static_cast<std::size_t>(selected)] = record;
    return true;
}

void LUpdateEngine::SetSelectedDeviceErrorReason(DeviceErrorReason reason)
{
    const std::int32_t selected = GetSelectedDeviceIndex();
    std::lock_guard lock(mFoundDevicesMutex);
    if (selected < 0 || static_cast<std::size_t>(selected) >= mFoundDevices.GetCount())
        return;
    mFoundDevices[static_cast<std::size_t>(selected)].ErrorReason = reason;
}

// ---- Update mode --------------------------------------------------------------------------------

ZTRESULT LUpdateEngine::EnterUpdateMode()
{
    SetLastFailure({}); // also when called on this thread, not as the worker's task
    const DeviceState state = GetDeviceState();
    if (state == DeviceState::DeviceInUpdateMode)
        return S_FALSE;
    if (state != DeviceState::DeviceNotInUpdateMode && state != DeviceState::EnteringUpdateMode)
        return E_FAIL;
    DeviceDefinitionEx record;
    if (!GetSelectedFoundDevice(record))
        return E_FAIL;
    // A file the download would refuse must not cost the device its application.
    if (ZT::Failed(CheckFirmwareFileBeforeTouchingDevice(CopyEraseList(GetUpdateTarget()))))
        return E_FAIL;

    SetDeviceState(DeviceState::EnteringUpdateMode);
    mUsbConnection->SetCurrentDevice(record);

    // What is on the bus just before the message: a bootloader listed here is not the one the
    // message makes appear, and the device must be here to leave.
    std::vector<ZT::UsbDeviceInfo> before;
    if (ZT::Failed(ZT::GetUsbBackend()->ListDevices(before))) {
        ZT::DebugLine("Update mode: the USB devices cannot be listed; no message sent.");
        return EndModeSwitchFailed(record, E_FAIL, "the USB devices cannot be listed");
    }
    const std::string normalPath = record.NormalModePath.ToUTF8();
    bool devicePresent = false;
    for (const ZT::UsbDeviceInfo& device : before) {
        std::uint32_t vendorId = 0;
        std::uint32_t productId = 0;
        std::string hardwareId;
        ReadIds(device, vendorId, productId, hardwareId);
        devicePresent = devicePresent ||
                        (vendorId == record.VendorId && productId == record.ProductId && device.path == normalPath);
    }
    if (!devicePresent) {
        ZT::CDebugLine() << "Update mode: the device is no longer at " << (normalPath.empty() ? "(no path)" : normalPath)
                         << "; no message sent. Scan again.";
        return EndModeSwitchFailed(record, E_FAIL, "the device is no longer where it was found");
    }
    // Only a bootloader found after this message is this device's.
    record.UpdateModePath = ZT::WString();
    record.UpdateModeSerialNumber.clear();

    const ZT::RCPtr<ZT::LMidiComm> midi = ZT::LMidiComm::GetInstance();
    ZT::RCPtr<ZT::LMidiRenderPort> port;
    // A port that cannot be found leaves port null, and the send says so.
    if (ZT::Failed(midi->GetRenderPort(record.MidiPortName, port)))
        ZT::CDebugLine() << "Update mode: no MIDI port named \"" << record.MidiPortName.ToUTF8()
                         << "\" can be opened; no message sent (a port whose name only contains it is another device's).";
    const ZTRESULT sent =
        midi->Send(port, kUpdateModeRequest.data(), static_cast<std::uint32_t>(kUpdateModeRequest.size()));
    if (ZT::Failed(sent)) {
        if (IsCancelRequested())
            return EndModeSwitchCancelled();
        return EndModeSwitchFailed(record, sent,
                                   std::string("the update-mode message was not sent (") + ZT::ResultToText(sent) + ")");
    }

    // The device leaves the bus and its bootloader enumerates a moment later.
    ZT::GetClock().SleepMs(kModeSwitchFirstWaitMs);
    std::string why;
    for (std::uint32_t waitedMs = 0; waitedMs < kModeSwitchPollLimitMs; waitedMs += kModeSwitchPollIntervalMs) {
        if (IsCancelRequested())
            return EndModeSwitchCancelled();
        const BootloaderSearch search = SearchBootloader(record, before, why);
        if (search == BootloaderSearch::Ambiguous)
            break;
        if (search == BootloaderSearch::Found) {
            record.InUpdateMode = true;
            (void)StoreSelectedFoundDevice(record); // nobody selects while the switch runs
            if (const ProductDevice* device = ProductDevice::FindByNormalModeIds(record.VendorId, record.ProductId))
                // A record that cannot be written is logged by Remember.
                (void)CBootloaderRoleRecord::Remember(device->DeviceKind, record.UpdateModeSerialNumber);
            SetDeviceState(DeviceState::DeviceInUpdateMode);
            return S_OK;
        }
        ZT::GetClock().SleepMs(kModeSwitchPollIntervalMs);
    }
    if (IsCancelRequested())
        return EndModeSwitchCancelled();
    ZT::CDebugLine() << "Update mode: not switched: " << why << "; nothing is written.";
    return EndModeSwitchFailed(record, E_FAIL, why);
}

ZTRESULT LUpdateEngine::EndModeSwitchCancelled()
{
    SetUpdateRunState(UpdateRunState::Cancelled);
    SetDeviceState(DeviceState::DeviceCannotBeUpdated);
    return E_ABORT;
}

ZTRESULT LUpdateEngine::EndModeSwitchFailed(DeviceDefinitionEx& record, ZTRESULT result, const std::string& why)
{
    CUpdateFailure failure;
    failure.At(CUpdateFailure::Phase::Switch);
    failure.Detail = why;
    failure.VendorId = static_cast<std::uint16_t>(record.VendorId);
    failure.ProductId = static_cast<std::uint16_t>(record.ProductId);
    SetLastFailure(std::move(failure));
    record.ErrorReason = DeviceErrorReason::DeviceAccessFailure;
    (void)StoreSelectedFoundDevice(record); // nobody selects while the switch runs
    SetDeviceState(DeviceState::DeviceCannotBeUpdated);
    return result;
}

ZTRESULT LUpdateEngine::RefreshDevice()
{
    if (GetDeviceState() <= DeviceState::DevicesAvailableNoneSelected)
        return E_FAIL;
    DeviceDefinitionEx record;
    if (!GetSelectedFoundDevice(record))
        return E_FAIL;

    if (ZT::Failed(SearchDevice(record, nullptr))) {
        record.ErrorReason = DeviceErrorReason::DeviceAccessFailure;
        (void)StoreSelectedFoundDevice(record); // the record was read from the selection above
        SetDeviceState(DeviceState::DeviceCannotBeUpdated);
        return S_OK;
    }
    (void)StoreSelectedFoundDevice(record); // the record was read from the selection above
    SetDeviceState(record.InUpdateMode ? DeviceState::DeviceInUpdateMode : DeviceState::DeviceNotInUpdateMode);
    return S_OK;
}

ZTRESULT LUpdateEngine::CancelUpdate()
{
    const DeviceState state = GetDeviceState();
    if (state != DeviceState::EnteringUpdateMode && state != DeviceState::Updating)
        return E_FAIL;
    SetCancelRequested(true);
    return S_OK;
}

ZT::WString LUpdateEngine::ToString() const
{
    ZT::WString text;
    const std::uint32_t found = GetFoundDeviceCount();
    // Debug text: a failed format leaves it empty.
    (void)text.Format(L"LUpdateEngine %s, %u device%s found", ::ToString(GetDeviceState()), found,
                      found == 1 ? "" : "s");
    return text;
}
