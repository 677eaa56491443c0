#pragma once
// Places a control tree from its descriptors' layout (LLayoutDescriptor): positions and sizes
// relative to other controls plus pixels, placement anchors, docking, minimum and maximum sizes.
//
// What the attributes mean, per axis (X: left and width, Y: top and height), all in pixels of
// the parent's coordinates:
//
//   reference   Each measure ("...ToControl") is taken against a reference span (an origin and
//               an extent on that axis):
//                 "Parent" (also when the skin names none): origin 0, the parent's extent;
//                 "Client", "Active Window": the window's client area (the rectangle given to
//                   LayoutControlTree), its origin expressed in the parent's coordinates;
//                 "Screen": the screen's extent, with the client area's origin (a control does
//                   not know where its window sits on the screen);
//                 "Self": for a position, origin 0 and the control's own size on that axis; for
//                   a size, minimum or maximum, the control's size on the other axis (so
//                   YSizeToControl="Self" YSizeRel="0.5" makes a control half as tall as wide);
//                 "Children": origin 0 and the extent the control's visible children need
//                   (their far edges, placed as if the control had no extent on that axis);
//                 a sibling's name: the sibling's position and size on that axis.
//               A name that is none of these, or a reference that leads back to itself (a
//               cycle), is written to the debug output once per pass and taken as "Parent".
//   position    origin + Rel * extent + Abs: where the control's anchor point sits.
//   anchor      PlacementAnchor a (default 0): the control's point at a times its size sits at
//               the position, so 0 puts the left or top edge there, 0.5 the centre, 1 the right
//               or bottom edge.
//   size        Rel * extent + Abs (0 when neither is given), then limited by the maximum and
//               then by the minimum (so the minimum wins when they cross), and never below 0.
//               Min and max measures count only when they give Rel or Abs.
//   text        A control with TextOverflowYType "Expand" takes as its height the height its
//               caption needs wrapped to its width (ITextMeasurer), before min and max apply.
//   docking     Siblings are placed in ascending LayoutOrder (those without one after, in
//               creation order). The parent's span on each axis starts free; a visible control
//               docked on an axis ("XIsDocked") takes its place from the free span, ignoring its
//               position: with an anchor below 0.5 at the free span's start, otherwise at its
//               end. A docked control without a size fills what is left of the span; one with a
//               size takes that size (at most what is left). A hidden docked control takes no
//               room. The other axis is placed as usual.
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
// When only one axis has a maximum, the other axis's maximum is kUnbounded.
struct WindowSizeConstraints {
    static constexpr int kUnbounded = 1 << 24;
    Rect mInitial;
    SizeT mMinimum;
    std::optional<SizeT> mMaximum;
    [[nodiscard]] bool IsFixed() const noexcept { return mMaximum && *mMaximum == mMinimum; }
};

// What the top control's descriptor asks of the window, on a screen of the given size. The
// top control's "Parent" is the screen; "Children" is the extent of its children's pixel
// positions and sizes.
[[nodiscard]] WindowSizeConstraints GetWindowSizeConstraints(const LControlDescriptor& descriptor, SizeT screen);

// Gives root the client area and places every control below it. measurer may be null (text
// then never changes a size).
void LayoutControlTree(LControl& root, const Rect& client, SizeT screen, ITextMeasurer* measurer);

// The place a control takes in a parent of the given size before the first layout pass, when
// its siblings are not known yet: sibling references count as "Parent" (without a report),
// nothing is docked, and text does not change its size.
[[nodiscard]] Rect GetInitialBounds(const LControlDescriptor& descriptor, SizeT parentSize);

} // namespace ZT
