#include "FirmwareUpdater/Panel/Engine/BootloaderReturn.h"

#include "FirmwareUpdater/Panel/Engine/BootloaderRoleRecord.h"
#include "FirmwareUpdater/Panel/Engine/UsbConnection.h"
#include "ZTFramework/Debug/DebugLine.h"
#include "ZTFramework/Time/Clock.h"
#include "ZTFramework/Usb/UsbBackend.h"

#include <array>
#include <vector>

namespace {

// Status requests while the bootloader takes the address, 10 ms or its own poll time apart.
constexpr int kStatusPollLimit = 50;
constexpr std::uint32_t kStatusPollMs = 10;

const ProductDevice& OtherDevice(const ProductDevice& target)
{
    return target.DeviceKind == ProductDevice::Kind::Controller ? kWheelDisplayDevice : kControllerDevice;
}

} // namespace

OwnBootloaderSearch FindOwnBootloader(const ProductDevice& target)
{
    std::vector<ZT::UsbDeviceInfo> devices;
    if (ZT::Failed(ZT::GetUsbBackend()->ListDevices(devices)))
        return {};
    const CBootloaderRoleRecord record = CBootloaderRoleRecord::Load();
    OwnBootloaderSearch search;
    int candidates = 0;
    for (const ZT::UsbDeviceInfo& device : devices) {
        if (device.vendorId == target.VendorId && device.productId == target.ProductId)
            return {OwnBootloaderSearch::Where::Application, device.path};
        if (device.vendorId != target.BootloaderVendorId || device.productId != target.BootloaderProductId)
            continue;
        const std::optional<ProductDevice::Kind> kind = record.FindKind(device.serialNumber);
        if (kind && *kind == OtherDevice(target).DeviceKind)
            continue;
        search.Path = device.path;
        ++candidates;
    }
    if (candidates != 1)
        return {};
    search.Found = OwnBootloaderSearch::Where::Bootloader;
    return search;
}

ZT::ZTRESULT ReturnToApplication(const std::string& path, std::uint32_t applicationStart)
{
    UsbConnection usb;
    if (!usb.Open(ZT::WString(path.c_str()))) {
        ZT::CDebugLine() << "Update mode: the bootloader at " << path << " cannot be opened ("
                         << ZT::UsbErrorName(usb.GetLastError()) << "); it stays in update mode";
        return ZT::E_FAIL;
    }
    std::array<std::uint8_t, 5> command{ZT::kDfuSeCommandSetAddress};
    for (int i = 0; i < 4; ++i)
        command[1 + i] = static_cast<std::uint8_t>(applicationStart >> (8 * i));
    UsbConnection::StatusReply status;
    bool pointed = usb.Download(command.data(), static_cast<std::uint16_t>(command.size()), 0) == ZT::UsbError::None;
    for (int poll = 0; pointed && poll < kStatusPollLimit; ++poll) {
        if (usb.GetStatus(status) != ZT::UsbError::None || status.State == ZT::DfuState::DfuError) {
            pointed = false;
            break;
        }
        if (status.State == ZT::DfuState::DfuDnloadIdle)
            break;
        ZT::GetClock().SleepMs(status.PollTimeout > 0 ? status.PollTimeout : kStatusPollMs);
    }
    if (!pointed || status.State != ZT::DfuState::DfuDnloadIdle) {
        ZT::CDebugLine() << "Update mode: the bootloader at " << path << " did not take the address pointer; it stays "
                            "in update mode";
        usb.Close();
        return ZT::E_FAIL;
    }
    const bool left = usb.Leave() == ZT::UsbError::None;
    (void)usb.GetStatus(status); // the bootloader restarts into the application on this request
    usb.Close();
    return left ? ZT::S_OK : ZT::E_FAIL;
}
