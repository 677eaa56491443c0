#include "ZTFramework/Window/WindowInput.h"

#include "ZTFramework/ControlBase/Conditions.h"
#include "ZTFramework/ControlBase/Control.h"
#include "ZTFramework/Controls/Button.h"
#include "ZTFramework/Controls/MainMenu.h"
#include "ZTFramework/Controls/PopupMenu.h"

#include <utility>
#include <vector>

namespace ZT {

namespace {

bool Contains(const Rect& area, int x, int y) noexcept
{
    return x >= area.mLeft && x < area.mRight && y >= area.mTop && y < area.mBottom;
}

std::uint32_t DragBits(LMouseEvent::Button button) noexcept
{
    switch (button) {
    case LMouseEvent::Button::Left:
        return LConditions::kLeftDrag;
    case LMouseEvent::Button::Middle:
        return LConditions::kMiddleDrag;
    case LMouseEvent::Button::Right:
        return LConditions::kRightDrag;
    default:
        return 0;
    }
}

LControl* DeepestAt(LControl& control, int x, int y)
{
    if (!control.IsVisible() || !Contains(control.GetAreaInWindow(), x, y))
        return nullptr;
    const LControl::ChildControlList& children = control.GetChildren();
    for (std::size_t i = children.GetCount(); i-- > 0;) {
        if (LControl* hit = DeepestAt(*children[i], x, y))
            return hit;
    }
    return &control;
}

void CollectFocusable(LControl& control, std::vector<LControl*>& out, bool (*canTake)(const LControl&))
{
    if (!control.IsVisible())
        return;
    if (canTake(control))
        out.push_back(&control);
    for (LControl* child : control.GetChildren())
        CollectFocusable(*child, out, canTake);
}

} // namespace

CWindowInput::CWindowInput(RCPtr<LControl> root) : mRoot(std::move(root)) {}

bool CWindowInput::CloseMenusOutside(const LControl* hit)
{
    if (!mRoot || dynamic_cast<const LMainMenu*>(hit))
        return false;
    std::vector<RCPtr<LPopupMenu>> open;
    for (LControl* child : mRoot->GetChildren()) {
        if (auto* popup = dynamic_cast<LPopupMenu*>(child))
            open.emplace_back(popup);
    }
    bool closed = false;
    for (const RCPtr<LPopupMenu>& popup : open) {
        bool inside = false;
        for (const LControl* control = hit; control && !inside; control = control->GetParent())
            inside = control == popup.Get();
        if (!inside) {
            popup->Close();
            closed = true;
        }
    }
    return closed;
}

CWindowInput::~CWindowInput() = default;

bool CWindowInput::IsInTree(const LControl* control) const noexcept
{
    const LControl* top = control;
    while (top && top->GetParent())
        top = top->GetParent();
    return top && top == mRoot.Get();
}

bool CWindowInput::CanTakeFocus(const LControl& control)
{
    return dynamic_cast<const LButton*>(&control) != nullptr && control.IsVisible() && control.IsEnabled();
}

void CWindowInput::SetCondition(LControl& control, std::uint32_t bits, bool on)
{
    const std::uint32_t before = control.GetConditions();
    control.SetInputConditions(bits, on);
    if (control.GetConditions() != before)
        control.Invalidate();
}

LControl* CWindowInput::HitTest(int x, int y) const
{
    return mRoot ? DeepestAt(*mRoot, x, y) : nullptr;
}

RCPtr<LMouseEvent> CWindowInput::EventFor(const LControl& control, LMouseEvent::Button button, int x, int y,
                                          std::uint32_t modifiers) const
{
    const Rect area = control.GetAreaInWindow();
    return MakeRC<LMouseEvent>(button, x - area.mLeft, y - area.mTop, modifiers);
}

void CWindowInput::SetHover(LControl* control)
{
    if (control == mHover.Get())
        return;
    RCPtr<LControl> previous = std::exchange(mHover, RCPtr<LControl>(control));
    if (previous && IsInTree(previous.Get()))
        SetCondition(*previous, LConditions::kHover, false);
    if (control)
        SetCondition(*control, LConditions::kHover, true);
}

void CWindowInput::SetFocus(LControl* control)
{
    if (control == mFocus.Get())
        return;
    RCPtr<LControl> previous = std::exchange(mFocus, RCPtr<LControl>(control));
    if (previous && IsInTree(previous.Get())) {
        SetCondition(*previous, LConditions::kHasFocus, false);
        for (LControl* parent = previous->GetParent(); parent; parent = parent->GetParent())
            SetCondition(*parent, LConditions::kContainsFocus, false);
    }
    if (control) {
        for (LControl* parent = control->GetParent(); parent; parent = parent->GetParent())
            SetCondition(*parent, LConditions::kContainsFocus, true);
        SetCondition(*control, LConditions::kHasFocus, true);
    }
}

void CWindowInput::MouseMove(int x, int y, std::uint32_t modifiers)
{
    mLastX = x;
    mLastY = y;
    if (mCapture && !IsInTree(mCapture.Get()))
        mCapture = nullptr;
    LControl* const hit = HitTest(x, y);
    LControl* target = hit && hit->IsEnabled() ? hit : nullptr;
    if (mCapture)
        target = (hit == mCapture.Get()) ? hit : nullptr;
    SetHover(target);
    LControl* const receiver = mCapture ? mCapture.Get() : target;
    if (receiver) {
        const RCPtr<LControl> keepAlive(receiver);
        // The control handles its own failures.
        (void)receiver->MouseMove(EventFor(*receiver, LMouseEvent::Button::None, x, y, modifiers));
    }
}

void CWindowInput::MouseDown(LMouseEvent::Button button, int x, int y, std::uint32_t modifiers)
{
    MouseMove(x, y, modifiers);
    if (mCapture || button == LMouseEvent::Button::None)
        return; // one button at a time: a second button while one is held is ignored
    LControl* const hit = HitTest(x, y);
    // A press outside an open popup menu closes it and does nothing else (the menu bar opens
    // and closes its own menus).
    if (CloseMenusOutside(hit))
        return;
    if (!hit || !hit->IsEnabled())
        return;
    mCapture = RCPtr<LControl>(hit);
    mCaptureButton = button;
    const RCPtr<LControl> keepAlive(hit);
    SetCondition(*hit, LConditions::kCapture | DragBits(button), true);
    (void)hit->MouseDown(EventFor(*hit, button, x, y, modifiers)); // the control handles its own failures
}

void CWindowInput::MouseUp(LMouseEvent::Button button, int x, int y, std::uint32_t modifiers)
{
    if (!mCapture || button != mCaptureButton) {
        MouseMove(x, y, modifiers);
        return;
    }
    const RCPtr<LControl> pressed = std::exchange(mCapture, nullptr);
    mCaptureButton = LMouseEvent::Button::None;
    if (!IsInTree(pressed.Get())) {
        MouseMove(x, y, modifiers);
        return;
    }
    SetCondition(*pressed, LConditions::kCapture | DragBits(button), false);
    (void)pressed->MouseUp(EventFor(*pressed, button, x, y, modifiers)); // the control handles its own failures
    // A click: released over the control that was pressed, which may still take it.
    if (IsInTree(pressed.Get()) && HitTest(x, y) == pressed.Get() && pressed->IsEnabled()) {
        const RCPtr<LMouseEvent> event = EventFor(*pressed, button, x, y, modifiers);
        switch (button) {
        case LMouseEvent::Button::Left:
            (void)pressed->LeftClick(event); // the control handles its own failures
            break;
        case LMouseEvent::Button::Middle:
            (void)pressed->MiddleClick(event); // the control handles its own failures
            break;
        case LMouseEvent::Button::Right:
            (void)pressed->RightClick(event); // the control handles its own failures
            break;
        default:
            break;
        }
    }
    // The click may have changed the tree; the hover follows what is under the mouse now.
    MouseMove(x, y, modifiers);
}

void CWindowInput::MouseLeave()
{
    mLastX = mLastY = -1;
    SetHover(nullptr);
}

bool CWindowInput::KeyDown(Key key, bool shift)
{
    if (!mRoot)
        return false;
    if (mFocus && (!IsInTree(mFocus.Get()) || !CanTakeFocus(*mFocus)))
        SetFocus(nullptr);
    if (key == Key::Tab) {
        std::vector<LControl*> order;
        CollectFocusable(*mRoot, order, &CWindowInput::CanTakeFocus);
        if (order.empty())
            return false;
        std::size_t next = shift ? order.size() - 1 : 0;
        for (std::size_t i = 0; mFocus && i < order.size(); ++i) {
            if (order[i] == mFocus.Get()) {
                next = shift ? (i + order.size() - 1) % order.size() : (i + 1) % order.size();
                break;
            }
        }
        SetFocus(order[next]);
        return true;
    }
    if (!mFocus)
        return false;
    // Enter and Space: the focused button is clicked as if with the left button at its centre.
    const RCPtr<LControl> focus = mFocus;
    const Rect area = focus->GetAreaInWindow();
    // The control handles its own failures.
    (void)focus->LeftClick(MakeRC<LMouseEvent>(LMouseEvent::Button::Left, area.GetWidth() / 2, area.GetHeight() / 2,
                                               shift ? LMouseEvent::kShift : 0u));
    return true;
}

void CWindowInput::Reset()
{
    SetHover(nullptr);
    if (mCapture && IsInTree(mCapture.Get()))
        SetCondition(*mCapture, LConditions::kCapture | DragBits(mCaptureButton), false);
    mCapture = nullptr;
    mCaptureButton = LMouseEvent::Button::None;
    SetFocus(nullptr);
}

} // namespace ZT
