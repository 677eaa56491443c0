#include "ZTFramework/Usb/Linux/LinuxUsbBackend.h"

#include "ZTFramework/Debug/DebugLine.h"
#include "ZTFramework/Usb/Linux/LinuxUsbDeviceConnection.h"

#include <libusb.h>

#include <cstdio>
#include <fcntl.h>
#include <string_view>
#include <unistd.h>

namespace ZT {

namespace {

constexpr int kInterface = 0;
constexpr std::string_view kDevicePathPrefix = "/dev/bus/usb/";

// The one libusb context of the process, created on first use and never exited: libusb_exit
// would race with devices and handles that other threads still hold at process exit.
libusb_context* ProcessContext()
{
    static libusb_context* const context = [] {
        libusb_context* created = nullptr;
        const int result = libusb_init(&created);
        if (result < 0) {
            CDebugLine() << "USB: libusb could not start (" << libusb_error_name(result)
                         << "); no USB device can be found. Check that /dev/bus/usb exists.";
            return static_cast<libusb_context*>(nullptr);
        }
        return created;
    }();
    return context;
}

// Owns a libusb device list for the length of one scope.
class CDeviceList {
public:
    explicit CDeviceList(libusb_context* context) { mCount = libusb_get_device_list(context, &mDevices); }
    ~CDeviceList()
    {
        if (mDevices)
            libusb_free_device_list(mDevices, 1);
    }
    CDeviceList(const CDeviceList&) = delete;
    CDeviceList& operator=(const CDeviceList&) = delete;

    [[nodiscard]] ssize_t Count() const { return mCount; }
    [[nodiscard]] libusb_device* At(ssize_t index) const { return mDevices[index]; }

private:
    libusb_device** mDevices = nullptr;
    ssize_t mCount = 0;
};

bool ParseThreeDigits(std::string_view text, std::uint8_t& value)
{
    if (text.size() != 3)
        return false;
    unsigned number = 0;
    for (const char c : text) {
        if (c < '0' || c > '9')
            return false;
        number = number * 10 + static_cast<unsigned>(c - '0');
    }
    if (number > 255)
        return false;
    value = static_cast<std::uint8_t>(number);
    return true;
}

// The serial number the kernel read from the device when it enumerated it: the "serial"
// attribute of its sysfs folder, /sys/bus/usb/devices/<bus>-<port>[.<port>...]. Reading it opens
// no device node and needs no write access. Empty when the device has none or it cannot be read.
std::string ReadSysfsSerialNumber(libusb_device* device)
{
    std::uint8_t ports[8];
    const int depth = libusb_get_port_numbers(device, ports, static_cast<int>(sizeof ports));
    if (depth <= 0)
        return {};
    std::string path = "/sys/bus/usb/devices/" + std::to_string(libusb_get_bus_number(device)) + "-";
    for (int i = 0; i < depth; ++i)
        path += (i ? "." : "") + std::to_string(ports[i]);
    path += "/serial";
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return {};
    // A USB string descriptor holds at most 126 characters.
    char text[256];
    const ssize_t got = ::read(fd, text, sizeof text - 1);
    ::close(fd);
    if (got <= 0)
        return {};
    std::string serial(text, static_cast<std::size_t>(got));
    while (!serial.empty() && (serial.back() == '\n' || serial.back() == '\r' || serial.back() == ' '))
        serial.pop_back();
    return serial;
}

} // namespace

UsbError UsbErrorFromLibusb(int libusbError)
{
    switch (libusbError) {
    case LIBUSB_SUCCESS:
        return UsbError::None;
    case LIBUSB_ERROR_IO:
        return UsbError::Io;
    case LIBUSB_ERROR_INVALID_PARAM:
        return UsbError::InvalidParam;
    case LIBUSB_ERROR_ACCESS:
        return UsbError::Access;
    case LIBUSB_ERROR_NO_DEVICE:
        return UsbError::NoDevice;
    case LIBUSB_ERROR_NOT_FOUND:
        return UsbError::NotFound;
    case LIBUSB_ERROR_BUSY:
        return UsbError::Busy;
    case LIBUSB_ERROR_TIMEOUT:
        return UsbError::Timeout;
    case LIBUSB_ERROR_OVERFLOW:
        return UsbError::Overflow;
    case LIBUSB_ERROR_PIPE:
        return UsbError::Pipe;
    case LIBUSB_ERROR_INTERRUPTED:
        return UsbError::Interrupted;
    case LIBUSB_ERROR_NO_MEM:
        return UsbError::NoMemory;
    case LIBUSB_ERROR_NOT_SUPPORTED:
        return UsbError::NotSupported;
    default:
        return UsbError::Other;
    }
}

LLinuxUsbBackend::LLinuxUsbBackend() : mContext(ProcessContext())
{
}

std::string LLinuxUsbBackend::MakeDevicePath(std::uint8_t bus, std::uint8_t address)
{
    char text[32];
    std::snprintf(text, sizeof text, "%s%03u/%03u", kDevicePathPrefix.data(), static_cast<unsigned>(bus),
                  static_cast<unsigned>(address));
    return text;
}

std::optional<LLinuxUsbBackend::BusAddress> LLinuxUsbBackend::ParseDevicePath(const std::string& path)
{
    const std::string_view text(path);
    // "/dev/bus/usb/" "BBB" "/" "DDD"
    if (text.size() != kDevicePathPrefix.size() + 7 || !text.starts_with(kDevicePathPrefix))
        return std::nullopt;
    const std::string_view rest = text.substr(kDevicePathPrefix.size());
    BusAddress result;
    if (!ParseThreeDigits(rest.substr(0, 3), result.bus) || rest[3] != '/' ||
        !ParseThreeDigits(rest.substr(4, 3), result.address))
        return std::nullopt;
    return result;
}

ZTRESULT LLinuxUsbBackend::ListDevices(std::vector<UsbDeviceInfo>& devices)
{
    devices.clear();
    if (!mContext)
        return E_FAIL;
    const CDeviceList list(mContext);
    if (list.Count() < 0) {
        CDebugLine() << "USB: the USB devices cannot be listed ("
                     << libusb_error_name(static_cast<int>(list.Count())) << ").";
        return E_FAIL;
    }
    for (ssize_t i = 0; i < list.Count(); ++i) {
        libusb_device* device = list.At(i);
        libusb_device_descriptor descriptor{};
        // libusb reads the descriptor that the kernel cached at enumeration; nothing is opened.
        if (libusb_get_device_descriptor(device, &descriptor) < 0)
            continue;
        UsbDeviceInfo info;
        info.path = MakeDevicePath(libusb_get_bus_number(device), libusb_get_device_address(device));
        info.vendorId = descriptor.idVendor;
        info.productId = descriptor.idProduct;
        info.releaseNumber = descriptor.bcdDevice;
        // Only bootloaders need telling apart by serial, and only one with a serial string has
        // one to read; other devices are listed from the cached descriptor alone.
        if (descriptor.iSerialNumber != 0 && descriptor.idVendor == kSerialReadVendorId &&
            descriptor.idProduct == kSerialReadProductId)
            info.serialNumber = ReadSysfsSerialNumber(device);
        devices.push_back(std::move(info));
    }
    std::lock_guard lock(mMutex);
    for (const UsbDeviceInfo& info : devices)
        mListedPaths.insert(info.path);
    return S_OK;
}

RCPtr<IUsbDeviceConnection> LLinuxUsbBackend::Open(const std::string& path, UsbError& error)
{
    if (!mContext) {
        error = UsbError::NotSupported;
        return nullptr;
    }
    const std::optional<BusAddress> wanted = ParseDevicePath(path);
    if (!wanted) {
        error = UsbError::NotFound;
        return nullptr;
    }
    const CDeviceList list(mContext);
    if (list.Count() < 0) {
        error = UsbErrorFromLibusb(static_cast<int>(list.Count()));
        return nullptr;
    }
    libusb_device* device = nullptr;
    for (ssize_t i = 0; i < list.Count() && !device; ++i) {
        if (libusb_get_bus_number(list.At(i)) == wanted->bus && libusb_get_device_address(list.At(i)) == wanted->address)
            device = list.At(i);
    }
    if (!device) {
        std::lock_guard lock(mMutex);
        error = mListedPaths.contains(path) ? UsbError::NoDevice : UsbError::NotFound;
        return nullptr;
    }

    libusb_device_handle* handle = nullptr;
    int result = libusb_open(device, &handle);
    if (result < 0) {
        error = UsbErrorFromLibusb(result);
        if (error == UsbError::Access)
            CDebugLine() << "USB: no permission to open " << path << " (Access). Install the udev rules file "
                         << kUdevRulesFile << ", which gives the logged-in user access to the controller: run \""
                         << kUdevInstallCommand
                         << "\" in the updater's source folder, then unplug the device and plug it in again.";
        else
            CDebugLine() << "USB: " << path << " cannot be opened (" << UsbErrorName(error) << ").";
        return nullptr;
    }
    // Not every platform can detach kernel drivers; where it cannot, claiming tells us if one holds
    // the interface.
    static_cast<void>(libusb_set_auto_detach_kernel_driver(handle, 1));
    result = libusb_claim_interface(handle, kInterface);
    if (result < 0) {
        libusb_close(handle);
        error = UsbErrorFromLibusb(result);
        if (error == UsbError::Busy)
            CDebugLine() << "USB: interface 0 of " << path
                         << " is in use by another program (Busy). Close any other program that uses the "
                            "device (a DFU tool, for example) and try again.";
        else
            CDebugLine() << "USB: interface 0 of " << path << " cannot be claimed (" << UsbErrorName(error) << ").";
        return nullptr;
    }
    error = UsbError::None;
    return MakeRC<LLinuxUsbDeviceConnection>(handle, path);
}

} // namespace ZT
