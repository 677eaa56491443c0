#pragma once
// A progress bar: a value within a range, and optionally the seconds left.
//
// It keeps its own labels, when the skin gives it children with these names, in step with its
// state: "percentCompleteLabel" shows the whole percent done, "timeRemainingLabel" the seconds
// left (its skin text is a sample such as "5 seconds": the number in it is replaced, so the
// unit stays in the user's language) and is hidden while the time is unknown.

#include "ZTFramework/ControlBase/Control.h"

namespace ZT {

class LProgressBar : public LControl {
public:
    static RCPtr<LControl> Create() { return MakeRC<LProgressBar>(); }

    // The range the value moves in; 0 to 1 unless set. E_INVALIDARG unless minimum < maximum.
    [[nodiscard]] ZTRESULT SetRange(double minimum, double maximum);
    [[nodiscard]] double GetMinimum() const noexcept { return mMinimum; }
    [[nodiscard]] double GetMaximum() const noexcept { return mMaximum; }
    // Sets the value, held within the range.
    void SetValue(double value);
    [[nodiscard]] double GetValue() const noexcept { return mValue; }
    // The value as a fraction of the range (0 to 1).
    [[nodiscard]] double GetFraction() const noexcept { return (mValue - mMinimum) / (mMaximum - mMinimum); }

    void SetSecondsRemaining(double seconds);
    [[nodiscard]] double GetSecondsRemaining() const noexcept { return mSecondsRemaining; }
    void SetTimeUnknown(bool unknown);
    [[nodiscard]] bool IsTimeUnknown() const noexcept { return mTimeUnknown; }

    [[nodiscard]] ZTRESULT Initialize() override;

private:
    void UpdateLabels();

    double mMinimum = 0.0;
    double mMaximum = 1.0;
    double mValue = 0.0;
    double mSecondsRemaining = 0.0;
    bool mTimeUnknown = true;
    WString mTimeSample;   // the time label's skin text, e.g. "5 seconds"
};

} // namespace ZT
