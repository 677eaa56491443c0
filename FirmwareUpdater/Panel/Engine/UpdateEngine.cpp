#include "FirmwareUpdater/Panel/Engine/UpdateEngine.h"

#include "FirmwareUpdater/Panel/Engine/DualUpdater.h"
#include "FirmwareUpdater/Panel/Engine/UsbConnection.h"
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
    DeviceDefinitions named = definitions;
    for (std::size_t i = 0; i < named.GetCount(); ++i)
        named[i].MidiPortName = LDualUpdater::GetMidiPortName(static_cast<std::uint32_t>(i));
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
        const bool updatePair = vendorId == record.BootloaderVendorId && productId == record.BootloaderProductId;
        if (!normalPair && !updatePair)
            continue;

        // A device that matches both pairs counts as being in update mode.
        record.InUpdateMode = updatePair;
        const ZT::WString path(device.path.c_str());
        if (updatePair) {
            record.UpdateModePath = path;
        } else {
            record.NormalModePath = path;
            record.Text7 = ZT::WString();
        }
        // Without "REV_" the release stays unknown; the device is still found.
        (void)ReadFirmwareRelease(hardwareId, record.InUpdateMode, record.FirmwareRelease);
        return S_OK;
    }
    return E_FAIL;
}

ZTRESULT LUpdateEngine::SearchBootloader(DeviceDefinitionEx& record)
{
    if (!record.UpdateModePath.IsEmpty())
        return S_FALSE;
    std::vector<ZT::UsbDeviceInfo> devices;
    if (ZT::Failed(ZT::GetUsbBackend()->ListDevices(devices)))
        return E_FAIL;
    for (const ZT::UsbDeviceInfo& device : devices) {
        std::uint32_t vendorId = 0;
        std::uint32_t productId = 0;
        std::string hardwareId;
        ReadIds(device, vendorId, productId, hardwareId);
        if (vendorId == record.BootloaderVendorId && productId == record.BootloaderProductId) {
            record.UpdateModePath = ZT::WString(device.path.c_str());
            return S_OK;
        }
    }
    return E_FAIL;
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
    const DeviceState state = GetDeviceState();
    if (state == DeviceState::DeviceInUpdateMode)
        return S_FALSE;
    if (state != DeviceState::DeviceNotInUpdateMode && state != DeviceState::EnteringUpdateMode)
        return E_FAIL;
    DeviceDefinitionEx record;
    if (!GetSelectedFoundDevice(record))
        return E_FAIL;
    // A file the download would refuse must not cost the device its application.
    if (ZT::Failed(CheckFirmwareFileBeforeTouchingDevice()))
        return E_FAIL;

    SetDeviceState(DeviceState::EnteringUpdateMode);
    mUsbConnection->SetCurrentDevice(record);

    const ZT::RCPtr<ZT::LMidiComm> midi = ZT::LMidiComm::GetInstance();
    ZT::RCPtr<ZT::LMidiRenderPort> port;
    // A port that cannot be found leaves port null, and the send says so.
    (void)midi->GetRenderPort(record.MidiPortName, port);
    const ZTRESULT sent =
        midi->Send(port, kUpdateModeRequest.data(), static_cast<std::uint32_t>(kUpdateModeRequest.size()));
    if (ZT::Failed(sent)) {
        if (IsCancelRequested())
            return EndModeSwitchCancelled();
        return EndModeSwitchFailed(record, sent);
    }

    // The device leaves the bus and its bootloader enumerates a moment later.
    ZT::GetClock().SleepMs(kModeSwitchFirstWaitMs);
    for (std::uint32_t waitedMs = 0; waitedMs < kModeSwitchPollLimitMs; waitedMs += kModeSwitchPollIntervalMs) {
        if (IsCancelRequested())
            return EndModeSwitchCancelled();
        if (ZT::Succeeded(SearchBootloader(record))) {
            record.InUpdateMode = true;
            (void)StoreSelectedFoundDevice(record); // the selection cannot change on this thread meanwhile
            SetDeviceState(DeviceState::DeviceInUpdateMode);
            return S_OK;
        }
        ZT::GetClock().SleepMs(kModeSwitchPollIntervalMs);
    }
    if (IsCancelRequested())
        return EndModeSwitchCancelled();
    return EndModeSwitchFailed(record, E_FAIL);
}

ZTRESULT LUpdateEngine::EndModeSwitchCancelled()
{
    SetUpdateRunState(UpdateRunState::Cancelled);
    SetDeviceState(DeviceState::DeviceCannotBeUpdated);
    return E_ABORT;
}

ZTRESULT LUpdateEngine::EndModeSwitchFailed(DeviceDefinitionEx& record, ZTRESULT result)
{
    record.ErrorReason = DeviceErrorReason::DeviceAccessFailure;
    (void)StoreSelectedFoundDevice(record);
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
        (void)StoreSelectedFoundDevice(record);
        SetDeviceState(DeviceState::DeviceCannotBeUpdated);
        return S_OK;
    }
    (void)StoreSelectedFoundDevice(record);
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
    (void)text.Format(L"LUpdateEngine %s, %u device%s found", ::ToString(GetDeviceState()), found,
                      found == 1 ? "" : "s");
    return text;
}
