#pragma once
// Places a control tree from its descriptors' layout (LLayoutDescriptor): positions and sizes
// relative to other controls plus pixels, placement anchors, docking, minimum and maximum sizes.
//
// Threads: the user-interface thread's.

#include "ZTFramework/ControlBase/RectT.h"

#include <optional>

namespace ZT {

class LControl;
class LControlDescriptor;

// Measures text for controls whose size follows their text (wrapping labels); the painter
// implements it. Heights and widths in logical pixels.
class ITextMeasurer {
public:
    // The height the control's caption needs when wrapped to width.
    virtual int MeasureTextHeight(const LControl& control, int width) = 0;

protected:
    ~ITextMeasurer() = default;
};

struct SizeT {
    int mWidth = 0;
    int mHeight = 0;
    constexpr bool operator==(const SizeT&) const noexcept = default;
};

// The window a top control asks for: its first place and size and the limits of its size
// (mMaximum unset when it may grow without bound). A fixed window has mMinimum == *mMaximum.
struct WindowSizeConstraints {
    Rect mInitial;
    SizeT mMinimum;
    std::optional<SizeT> mMaximum;
    [[nodiscard]] bool IsFixed() const noexcept { return mMaximum && *mMaximum == mMinimum; }
};

// What the top control's descriptor asks of the window, on a screen of the given size.
[[nodiscard]] WindowSizeConstraints GetWindowSizeConstraints(const LControlDescriptor& descriptor, SizeT screen);

// Gives root the client area and places every control below it. measurer may be null (text
// then never changes a size).
void LayoutControlTree(LControl& root, const Rect& client, SizeT screen, ITextMeasurer* measurer);

} // namespace ZT
