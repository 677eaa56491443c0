#include "Simulator/SimulatedDeviceFaults.h"

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
