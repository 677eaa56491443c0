#include "FirmwareUpdater/Panel/Engine/UpdateTarget.h"

namespace {

class CNoUpdateTarget final : public IUpdateTarget {
public:
    ZT::WString GetMidiPortName() const override { return ZT::WString(); }
    std::uint32_t GetDefaultProductId() const override { return 0; }
    // One sector whose lookup fails: the erase phase posts its first progress step, then ends
    // without a request.
    std::uint32_t GetEraseSectorCount() const override { return kNoTargetEraseSectorCount; }
    bool GetEraseSectorAddress(std::uint32_t /*i*/, std::uint32_t& address) const override
    {
        address = 0;
        return false;
    }
};

} // namespace

EraseList CopyEraseList(const IUpdateTarget& target)
{
    EraseList list;
    list.SectorCount = target.GetEraseSectorCount();
    list.ProductId = target.GetDefaultProductId();
    for (std::uint32_t i = 0; i < list.SectorCount; ++i) {
        std::uint32_t address = 0;
        if (!target.GetEraseSectorAddress(i, address))
            break;
        list.Addresses.push_back(address);
    }
    return list;
}

const IUpdateTarget& NoUpdateTarget() noexcept
{
    static const CNoUpdateTarget none;
    return none;
}
