#include "FirmwareUpdater/Panel/Engine/WaitForDeviceToReturn.h"

#include "FirmwareUpdater/Panel/Engine/UpdateEngineInterface.h"
#include "ZTFramework/Time/Clock.h"

ZT::ZTRESULT WaitForDeviceToReturn(LUpdateEngineInterface& engine)
{
    for (std::uint32_t waitedMs = 0; waitedMs < kDeviceReturnLimitMs; waitedMs += kDeviceReturnPollIntervalMs) {
        ZT::GetClock().SleepMs(kDeviceReturnPollIntervalMs);
        const ZT::ZTRESULT refreshed = engine.RefreshDevice();
        if (ZT::Failed(refreshed))
            return refreshed;
        if (engine.GetDeviceState() == LUpdateEngineInterface::DeviceState::DeviceNotInUpdateMode)
            return ZT::S_OK;
    }
    return ZT::E_FAIL;
}
