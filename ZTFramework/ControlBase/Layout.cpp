#include "ZTFramework/ControlBase/Layout.h"

#include "ZTFramework/ControlBase/Control.h"
#include "ZTFramework/Resources/ControlDescriptor.h"
#include "ZTFramework/Resources/LayoutDescriptor.h"

#include <cmath>

namespace ZT {
namespace {

int Measure(const LLayoutDescriptor::Measure& measure, int extent)
{
    return static_cast<int>(std::lround(measure.mAbs.value_or(0) + measure.mRel.value_or(0.0) * extent));
}

void PlaceChildren(LControl& control)
{
    const Rect& bounds = control.GetBounds();
    for (LControl* child : control.GetChildren()) {
        if (const auto& descriptor = child->GetDescriptor(); descriptor && descriptor->mLayout) {
            const LLayoutDescriptor& layout = *descriptor->mLayout;
            const int left = Measure(layout.mX.mPosition, bounds.GetWidth());
            const int top = Measure(layout.mY.mPosition, bounds.GetHeight());
            child->SetBounds({left, top, left + Measure(layout.mX.mSize, bounds.GetWidth()),
                              top + Measure(layout.mY.mSize, bounds.GetHeight())});
        }
        PlaceChildren(*child);
    }
}

} // namespace

WindowSizeConstraints GetWindowSizeConstraints(const LControlDescriptor& descriptor, SizeT screen)
{
    WindowSizeConstraints constraints;
    if (!descriptor.mLayout)
        return constraints;
    const LLayoutDescriptor& layout = *descriptor.mLayout;
    const int left = Measure(layout.mX.mPosition, screen.mWidth);
    const int top = Measure(layout.mY.mPosition, screen.mHeight);
    const int width = Measure(layout.mX.mSize, screen.mWidth);
    const int height = Measure(layout.mY.mSize, screen.mHeight);
    constraints.mInitial = {left, top, left + width, top + height};
    constraints.mMinimum = {width, height};
    constraints.mMaximum = SizeT{width, height};
    return constraints;
}

void LayoutControlTree(LControl& root, const Rect& client, SizeT, ITextMeasurer*)
{
    root.SetBounds(client);
    PlaceChildren(root);
}

} // namespace ZT
