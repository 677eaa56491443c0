#pragma once
// What the engine needs to know of the device it updates: the MIDI port that reaches it in normal
// mode, its default product ID, and the flash sectors a download may erase.
//
// The dual updater implements it for the product's two devices and the update processor hands
// it to the main engine (LUpdateEngineInterface::SetUpdateTarget). The answers change only when
// the dual updater chooses another target, which it does on the user-interface thread while the
// engine is not busy. The engine asks on the user-interface thread, except that a download reads
// the erase list once, on the worker thread, at its start (CopyEraseList), and works from that
// copy.
//
// An engine without a target uses NoUpdateTarget(): no port, product ID 0, and an erase list of
// kNoTargetEraseSectorCount sector whose address cannot be looked up, so that nothing is ever
// erased (and a firmware file check finds no sector to erase).

#include "ZTFramework/Utilities/Storage/StringT.h"

#include <cstdint>
#include <vector>

class IUpdateTarget {
public:
    virtual ~IUpdateTarget() = default;

    // The MIDI port name of the device in normal mode; empty when there is no target.
    [[nodiscard]] virtual ZT::WString GetMidiPortName() const = 0;
    // The device's USB product ID in normal mode; 0 when there is no target.
    [[nodiscard]] virtual std::uint32_t GetDefaultProductId() const = 0;
    // The number of flash sectors a download may erase.
    [[nodiscard]] virtual std::uint32_t GetEraseSectorCount() const = 0;
    // The start address of sector i, in address order; false with address 0 when i is not below
    // the count or the sector cannot be looked up.
    [[nodiscard]] virtual bool GetEraseSectorAddress(std::uint32_t i, std::uint32_t& address) const = 0;
};

// The erase list as a download walks it, taken once so that the download never asks the target
// again while it runs.
struct EraseList {
    // GetEraseSectorCount: the download's progress over the erase phase counts in these steps.
    std::uint32_t SectorCount = 0;
    // The addresses of sectors 0, 1, ... up to the first that cannot be looked up.
    std::vector<std::uint32_t> Addresses;
    // GetDefaultProductId, taken with the list: whose image the download expects (0: nobody's).
    std::uint32_t ProductId = 0;
};

[[nodiscard]] EraseList CopyEraseList(const IUpdateTarget& target);

inline constexpr std::uint32_t kNoTargetEraseSectorCount = 1;
// The target of an engine that has none (see the header comment). Any thread.
[[nodiscard]] const IUpdateTarget& NoUpdateTarget() noexcept;
