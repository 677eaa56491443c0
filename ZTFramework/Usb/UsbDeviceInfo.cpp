#include "ZTFramework/Usb/UsbDeviceInfo.h"

namespace ZT {

namespace {

void AppendHex4(std::string& text, std::uint16_t value)
{
    static constexpr char kDigits[] = "0123456789ABCDEF";
    for (int shift = 12; shift >= 0; shift -= 4)
        text.push_back(kDigits[(value >> shift) & 0xF]);
}

} // namespace

std::string MakeHardwareId(const UsbDeviceInfo& device)
{
    std::string id = "USB\\VID_";
    AppendHex4(id, device.vendorId);
    id += "&PID_";
    AppendHex4(id, device.productId);
    id += "&REV_";
    AppendHex4(id, device.releaseNumber);
    return id;
}

} // namespace ZT
