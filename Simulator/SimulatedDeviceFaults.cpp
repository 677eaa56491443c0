#include "Simulator/SimulatedDeviceFaults.h"
#include "Simulator/SimulatorText.h"

#include <array>
#include <charconv>
#include <string>
#include <utility>

const char* ToString(SimulatedFaultPhase phase) noexcept
{
    switch (phase) {
    case SimulatedFaultPhase::ModeSwitch: return "ModeSwitch";
    case SimulatedFaultPhase::BootloaderSearch: return "BootloaderSearch";
    case SimulatedFaultPhase::IdleCheck: return "IdleCheck";
    case SimulatedFaultPhase::Erase: return "Erase";
    case SimulatedFaultPhase::DataBlock: return "DataBlock";
    case SimulatedFaultPhase::SetAddress: return "SetAddress";
    case SimulatedFaultPhase::Leave: return "Leave";
    case SimulatedFaultPhase::Return: return "Return";
    }
    return "invalid SimulatedFaultPhase";
}

const char* ToString(SimulatedFaultKind kind) noexcept
{
    switch (kind) {
    case SimulatedFaultKind::Stall: return "Stall";
    case SimulatedFaultKind::NoAnswer: return "NoAnswer";
    case SimulatedFaultKind::Unplug: return "Unplug";
    case SimulatedFaultKind::ErrorStatus: return "ErrorStatus";
    case SimulatedFaultKind::BusyTooLong: return "BusyTooLong";
    case SimulatedFaultKind::PowerCut: return "PowerCut";
    }
    return "invalid SimulatedFaultKind";
}

std::optional<SimulatedFaultKind> SimulatedDeviceFaults::KindAt(SimulatedFaultPhase phase, std::uint32_t index) const
{
    if (at && at->phase == phase && at->index == index)
        return at->kind;
    const auto from = [index](const std::optional<std::uint32_t>& first) { return first && index >= *first; };
    switch (phase) {
    case SimulatedFaultPhase::ModeSwitch:
        if (midiSendNeverCompletes)
            return SimulatedFaultKind::NoAnswer;
        if (ignoresUpdateModeRequest)
            return SimulatedFaultKind::Stall;
        break;
    case SimulatedFaultPhase::BootloaderSearch:
        if (bootloaderNeverAppears)
            return SimulatedFaultKind::Unplug;
        if (bootloaderStartsInError)
            return SimulatedFaultKind::ErrorStatus;
        break;
    case SimulatedFaultPhase::Erase:
        if (stallOnErase)
            return SimulatedFaultKind::Stall;
        break;
    case SimulatedFaultPhase::DataBlock:
        if (from(unplugAfterBlocks))
            return SimulatedFaultKind::Unplug;
        if (from(noAnswerAfterBlocks))
            return SimulatedFaultKind::NoAnswer;
        if (from(stallAfterBlocks))
            return SimulatedFaultKind::Stall;
        break;
    case SimulatedFaultPhase::Return:
        if (noReturnAfterLeave)
            return SimulatedFaultKind::Unplug;
        if (slowReturn)
            return SimulatedFaultKind::BusyTooLong;
        break;
    case SimulatedFaultPhase::IdleCheck:
    case SimulatedFaultPhase::SetAddress:
    case SimulatedFaultPhase::Leave:
        break;
    }
    return std::nullopt;
}

std::optional<SimulatedFaultAt> ParseFaultAt(std::string_view text)
{
    static constexpr std::array<std::pair<std::string_view, SimulatedFaultPhase>, 8> kPhases = {{
        {"mode-switch", SimulatedFaultPhase::ModeSwitch},
        {"bootloader-search", SimulatedFaultPhase::BootloaderSearch},
        {"idle-check", SimulatedFaultPhase::IdleCheck},
        {"erase", SimulatedFaultPhase::Erase},
        {"data-block", SimulatedFaultPhase::DataBlock},
        {"set-address", SimulatedFaultPhase::SetAddress},
        {"leave", SimulatedFaultPhase::Leave},
        {"return", SimulatedFaultPhase::Return},
    }};
    static constexpr std::array<std::pair<std::string_view, SimulatedFaultKind>, 6> kKinds = {{
        {"stall", SimulatedFaultKind::Stall},
        {"no-answer", SimulatedFaultKind::NoAnswer},
        {"unplug", SimulatedFaultKind::Unplug},
        {"error-status", SimulatedFaultKind::ErrorStatus},
        {"busy-too-long", SimulatedFaultKind::BusyTooLong},
        {"power-cut", SimulatedFaultKind::PowerCut},
    }};
    const std::string lower = LowerAscii(text);
    const std::size_t first = lower.find('/');
    const std::size_t last = lower.rfind('/');
    if (first == std::string::npos)
        return std::nullopt;
    SimulatedFaultAt point;
    const std::string_view phase = std::string_view(lower).substr(0, first);
    const std::string_view kind = std::string_view(lower).substr(last + 1);
    bool found = false;
    for (const auto& [name, value] : kPhases) {
        if (name == phase) {
            point.phase = value;
            found = true;
        }
    }
    if (!found)
        return std::nullopt;
    found = false;
    for (const auto& [name, value] : kKinds) {
        if (name == kind) {
            point.kind = value;
            found = true;
        }
    }
    if (!found)
        return std::nullopt;
    if (first != last) {
        const std::string_view index = std::string_view(lower).substr(first + 1, last - first - 1);
        const auto [end, error] = std::from_chars(index.data(), index.data() + index.size(), point.index);
        if (index.empty() || error != std::errc() || end != index.data() + index.size())
            return std::nullopt;
    }
    return point;
}
