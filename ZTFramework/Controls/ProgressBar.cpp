#include "ZTFramework/Controls/ProgressBar.h"

#include <algorithm>
#include <cmath>

namespace ZT {

namespace {

constexpr const wchar_t* kPercentCompleteLabel = L"percentCompleteLabel";
constexpr const wchar_t* kTimeRemainingLabel = L"timeRemainingLabel";

// "5 seconds" with 12 -> "12 seconds": the leading digits of the sample give way to the number.
WString ReplaceLeadingNumber(const WString& sample, long long number)
{
    std::int32_t digits = 0;
    while (digits < sample.GetLength() && sample.GetBuffer()[digits] >= L'0' && sample.GetBuffer()[digits] <= L'9')
        ++digits;
    return WString::FromNumber(number) + (digits > 0 ? sample.Mid(digits) : WString(L" ") + sample);
}

} // namespace

ZTRESULT LProgressBar::Initialize()
{
    const ZTRESULT result = LControl::Initialize();
    if (Failed(result))
        return result;
    if (const RCPtr<LControl> time = FindChildByName(WString(kTimeRemainingLabel)))
        mTimeSample = time->GetText();
    UpdateLabels();
    return S_OK;
}

ZTRESULT LProgressBar::SetRange(double minimum, double maximum)
{
    if (!(minimum < maximum))
        return E_INVALIDARG;
    mMinimum = minimum;
    mMaximum = maximum;
    SetValue(mValue);
    return S_OK;
}

void LProgressBar::SetValue(double value)
{
    value = std::isnan(value) ? mMinimum : std::clamp(value, mMinimum, mMaximum);
    if (value == mValue)
        return;
    mValue = value;
    Invalidate();
    UpdateLabels();
}

void LProgressBar::SetSecondsRemaining(double seconds)
{
    mSecondsRemaining = std::isnan(seconds) ? 0.0 : std::max(0.0, seconds);
    UpdateLabels();
}

void LProgressBar::SetTimeUnknown(bool unknown)
{
    mTimeUnknown = unknown;
    UpdateLabels();
}

void LProgressBar::UpdateLabels()
{
    if (const RCPtr<LControl> percent = FindChildByName(WString(kPercentCompleteLabel)))
        percent->SetText(WString::FromNumber(std::lround(GetFraction() * 100.0)));
    const RCPtr<LControl> time = FindChildByName(WString(kTimeRemainingLabel));
    if (!time)
        return;
    (void)time->SetVisible(!mTimeUnknown); // returns the visibility just set
    if (!mTimeUnknown)
        time->SetText(ReplaceLeadingNumber(mTimeSample, std::llround(std::min(mSecondsRemaining, 1e9))));
}

} // namespace ZT
