#pragma once
// The payload of "NID_FIRMWARE_UPDATE_PROGRESS", posted by the update worker before each erase
// step and each block. Immutable, as it crosses from the worker to the user-interface thread.
//
// The update worker always sends stage 0, seconds remaining kSecondsRemainingUnknown, time
// unknown true and flag 2 false; the fraction rises from 0.0 toward kEraseShare while erasing and
// from kEraseShare toward 1.0 while writing. Completion is its own notification, never a progress of 1.0.

#include "ZTFramework/ObjectBase/RefCountedObject.h"
#include "ZTFramework/Utilities/Storage/StringT.h"

#include <cstdint>
#include <utility>

namespace ZT {

class LFirmwareUpdateProgressNotificationData : public virtual LRefCountedObject {
public:
    static constexpr std::uint32_t kSecondsRemainingUnknown = 0xFFFFFFFFu;
    // The part of the fraction the erase phase fills; the write phase fills the rest. Whoever
    // tells the two phases apart by the fraction compares it with this.
    static constexpr double kEraseShare = 0.5;

    LFirmwareUpdateProgressNotificationData(std::uint32_t stage, double fractionComplete,
                                            std::uint32_t secondsRemaining, bool timeUnknown, bool flag2,
                                            WString message)
        : mStage(stage), mFractionComplete(fractionComplete), mSecondsRemaining(secondsRemaining),
          mTimeUnknown(timeUnknown), mFlag2(flag2), mMessage(std::move(message))
    {
    }

    // Carried but read by nobody.
    [[nodiscard]] std::uint32_t GetStage() const noexcept { return mStage; }
    // 0.0 to 1.0; drives the progress bar.
    [[nodiscard]] double GetFractionComplete() const noexcept { return mFractionComplete; }
    // Shown only when the time is known.
    [[nodiscard]] std::uint32_t GetSecondsRemaining() const noexcept { return mSecondsRemaining; }
    [[nodiscard]] bool GetTimeUnknown() const noexcept { return mTimeUnknown; }
    // Carried but read by nobody.
    [[nodiscard]] bool GetFlag2() const noexcept { return mFlag2; }
    // The application's status text while the update runs.
    [[nodiscard]] const WString& GetMessage() const noexcept { return mMessage; }

    // "NID_FIRMWARE_UPDATE_PROGRESS 0.5312".
    WString ToString() const override;
    LRefCountedObject* CreateCopy() const override;

private:
    std::uint32_t mStage;
    double mFractionComplete;
    std::uint32_t mSecondsRemaining;
    bool mTimeUnknown;
    bool mFlag2;
    WString mMessage;
};

} // namespace ZT
