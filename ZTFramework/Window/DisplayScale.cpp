#include "ZTFramework/Window/DisplayScale.h"

#include <algorithm>
#include <charconv>
#include <cstring>

namespace ZT {

int DisplayScale::FromEnvironment(const char* gdkScale) noexcept
{
    if (!gdkScale || !*gdkScale)
        return 1;
    int value = 0;
    const char* end = gdkScale + std::strlen(gdkScale);
    const auto [last, error] = std::from_chars(gdkScale, end, value);
    if (error == std::errc::result_out_of_range && *gdkScale != '-')
        return kMaxScale;
    if (error != std::errc() || last != end || value < 1)
        return 1;
    return std::min(value, kMaxScale);
}

DisplayScale DisplayScale::ForNewWindow(int environmentScale) noexcept
{
    const int factor = std::clamp(environmentScale, 1, kMaxScale);
    return DisplayScale{factor, factor, factor};
}

DisplayScale DisplayScale::ForWindow(int windowWidth, int drawableWidth, int environmentScale) noexcept
{
    if (windowWidth > 0 && drawableWidth > windowWidth) {
        // The platform scales: positions are logical already; the window was made logical size.
        const int scale = std::clamp((drawableWidth + windowWidth / 2) / windowWidth, 1, kMaxScale);
        return DisplayScale{scale, 1, 1};
    }
    return ForNewWindow(environmentScale);
}

} // namespace ZT
