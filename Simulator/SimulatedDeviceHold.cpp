#include "Simulator/SimulatedDeviceHold.h"
#include "Simulator/SimulatorText.h"

#include <charconv>

std::optional<SimulatedDeviceHold> SimulatedDeviceHold::Parse(std::string_view text)
{
    const std::string lower = LowerAscii(text);
    using P = Point;
    if (lower == "update-mode-message")
        return SimulatedDeviceHold{P::UpdateModeMessage, 0};
    if (lower == "bootloader-appearance")
        return SimulatedDeviceHold{P::BootloaderAppearance, 0};
    if (lower == "first-request")
        return SimulatedDeviceHold{P::FirstRequest, 0};
    if (lower == "leave")
        return SimulatedDeviceHold{P::Leave, 0};
    if (lower == "return")
        return SimulatedDeviceHold{P::Return, 0};
    for (const auto& [prefix, point] : {std::pair{std::string_view("erase:"), P::Erase},
                                        std::pair{std::string_view("block:"), P::Block},
                                        std::pair{std::string_view("set-address-after-blocks:"), P::SetAddressAfterBlocks}}) {
        if (lower.rfind(prefix, 0) != 0)
            continue;
        const std::string_view digits = std::string_view(lower).substr(prefix.size());
        std::uint32_t index = 0;
        const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), index);
        if (digits.empty() || error != std::errc() || end != digits.data() + digits.size())
            return std::nullopt;
        return SimulatedDeviceHold{point, index};
    }
    return std::nullopt;
}

std::string SimulatedDeviceHold::Describe() const
{
    switch (At) {
    case Point::UpdateModeMessage:
        return "the update-mode message, not acted on yet";
    case Point::BootloaderAppearance:
        return "its bootloader's appearance after the update-mode message";
    case Point::FirstRequest:
        return "its bootloader's answer to the first request of the session";
    case Point::Erase:
        return "its answer to the status request of erase " + std::to_string(Index);
    case Point::Block:
        return "its answer to the status request of data block " + std::to_string(Index);
    case Point::SetAddressAfterBlocks:
        return "its answer to the status request of the set-address command after " + std::to_string(Index) +
               " data blocks";
    case Point::Leave:
        return "its answer to the status request that completes the leave";
    case Point::Return:
        return "its return after the leave";
    }
    return "an unknown point";
}
