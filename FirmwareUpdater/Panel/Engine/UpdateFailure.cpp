#include "FirmwareUpdater/Panel/Engine/UpdateFailure.h"

#include <cstdio>
#include <cstring>

namespace {

std::string Hex(std::uint32_t value, int digits)
{
    char text[16];
    std::snprintf(text, sizeof text, "%0*X", digits, static_cast<unsigned>(value));
    return text;
}

} // namespace

void CUpdateFailure::At(Phase phase, Unit unit, std::uint32_t index, std::optional<std::uint32_t> address)
{
    Where = phase;
    Counted = unit;
    Index = index;
    Address = address;
    Detail.clear();
    State.reset();
    Status.reset();
    Usb = ZT::UsbError::None;
    SystemError = 0;
}

std::string CUpdateFailure::Format() const
{
    if (!IsFailure())
        return {};
    std::string line = ToString(Where);
    if (Counted != Unit::None)
        line += std::string(Counted == Unit::Sector ? " sector " : " block ") + std::to_string(Index);
    if (Address)
        line += " (0x" + Hex(*Address, 8) + ")";
    std::string cause;
    const auto add = [&cause](const std::string& part, const char* separator) {
        if (part.empty())
            return;
        cause += (cause.empty() ? "" : separator) + part;
    };
    add(Detail, ": ");
    if (Usb != ZT::UsbError::None)
        add(ZT::UsbErrorName(Usb), ": ");
    if (SystemError != 0)
        add(std::strerror(SystemError), ": ");
    if (State || Status) {
        std::string dfu = State ? ZT::ToString(*State) : "?";
        if (Status)
            dfu += std::string("/") + ZT::ToString(*Status);
        add(dfu, ", ");
    }
    return cause.empty() ? line : line + ": " + cause;
}

std::string CUpdateFailure::FormatDevice() const
{
    std::string text = Role;
    if (VendorId != 0 || ProductId != 0)
        text += (text.empty() ? "" : " ") + Hex(VendorId, 4) + ":" + Hex(ProductId, 4);
    if (!BootloaderSerial.empty())
        text += (text.empty() ? "serial " : " serial ") + BootloaderSerial;
    return text;
}

const char* ToString(CUpdateFailure::Phase phase) noexcept
{
    switch (phase) {
    case CUpdateFailure::Phase::None: return "no failure";
    case CUpdateFailure::Phase::File: return "reading the firmware file";
    case CUpdateFailure::Phase::Switch: return "switching to update mode";
    case CUpdateFailure::Phase::IdleCheck: return "bringing the bootloader to dfuIDLE";
    case CUpdateFailure::Phase::Erase: return "erasing";
    case CUpdateFailure::Phase::Write: return "writing";
    case CUpdateFailure::Phase::Leave: return "leaving update mode";
    case CUpdateFailure::Phase::Return: return "waiting for the device to return";
    }
    return "invalid CUpdateFailure::Phase";
}
