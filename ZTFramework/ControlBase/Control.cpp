#include "ZTFramework/ControlBase/Control.h"

#include "ZTFramework/ControlBase/ControlFactory.h"
#include "ZTFramework/ControlBase/ControlNotificationIDs.h"
#include "ZTFramework/ControlBase/Layout.h"
#include "ZTFramework/ControlBase/RootWindow.h"
#include "ZTFramework/Errors/Exception.h"
#include "ZTFramework/Notification/Notification.h"
#include "ZTFramework/Notification/NotificationCenterManager.h"
#include "ZTFramework/Resources/ControlDescriptor.h"
#include "ZTFramework/Resources/SkinDescriptor.h"

#include <utility>

namespace ZT {

namespace {

// The condition notifications in the order they are sent, with the bits each covers.
struct ConditionNotification {
    std::uint32_t mBits;
    const wchar_t* mId;
};
constexpr ConditionNotification kConditionNotifications[] = {
    {LConditions::kHasFocus, ControlNotificationIDs::kHasFocusConditionChange},
    {LConditions::kContainsFocus, ControlNotificationIDs::kContainsFocusConditionChange},
    {LConditions::kHover, ControlNotificationIDs::kHoverConditionChange},
    {LConditions::kCapture, ControlNotificationIDs::kCaptureConditionChange},
    {LConditions::kLeftDrag, ControlNotificationIDs::kLeftDragConditionChange},
    {LConditions::kMiddleDrag, ControlNotificationIDs::kMiddleDragConditionChange},
    {LConditions::kRightDrag, ControlNotificationIDs::kRightDragConditionChange},
    {LConditions::kEnabled, ControlNotificationIDs::kEnabledConditionChange},
    {LConditions::kVisible, ControlNotificationIDs::kVisibilityConditionChange},
};

constexpr std::uint32_t kInputConditions = LConditions::kHasFocus | LConditions::kContainsFocus |
                                           LConditions::kHover | LConditions::kCapture | LConditions::kLeftDrag |
                                           LConditions::kMiddleDrag | LConditions::kRightDrag;

} // namespace

RCPtr<LControl> LControl::ChildControlList::GetAt(std::size_t index) const
{
    if (index >= mControls.GetCount())
        ZT_THROW(Runtime, "", "ZT::LControl::ChildControlList::GetAt");
    return mControls.GetAt(index);
}

LControl* LControl::ChildControlList::operator[](std::size_t index) const
{
    if (index >= mControls.GetCount())
        ZT_THROW(Runtime, "", "ZT::LControl::ChildControlList::GetAt");
    return mControls[index];
}

LControl::LControl() : mConditions(BuildConditions()), mPreviousConditions(mConditions) {}

LControl::~LControl() = default;

void LControl::SetControlFactory(const RCPtr<LControlFactory>& factory)
{
    mFactory = factory;
}

void LControl::ApplyDescriptor(const LControlDescriptor& descriptor, const LControl* parent)
{
    mDescriptor = const_cast<LControlDescriptor*>(&descriptor);
    mName = descriptor.mName;
    mClassName = descriptor.mClassName;
    mVisible = descriptor.mIsVisible;
    if (descriptor.mSkin)
        mLookListName = descriptor.mSkin->mLookListName;
    // A first place only: the layout pass places the control again among its siblings.
    const SizeT parentSize = parent ? SizeT{parent->mBounds.GetWidth(), parent->mBounds.GetHeight()} : SizeT{};
    mBounds = GetInitialBounds(descriptor, parentSize);
    // The skin's state is the starting state: nothing was shown yet, so nothing is sent.
    mConditions = BuildConditions();
    mPreviousConditions = mConditions;
}

ZTRESULT LControl::Initialize()
{
    mApplicationCenter = LNotificationCenterManager::GetInstance()->GetCenter(WString(L"application"));
    if (!mApplicationCenter)
        return E_FAIL;
    if (!mControlHandler)
        mControlHandler = MakeRC<LNotificationHandler<LControl>>(this);
    return S_OK;
}

void LControl::ProcessRootWindowAquired()
{
    if (mIdleNeeds > 0 && !mIdleSource)
        (void)RegisterIdle(); // a refused registration leaves the control without idle calls
    for (LControl* child : mChildren)
        child->ProcessRootWindowAquired();
}

LRootWindow* LControl::GetRootWindow() const noexcept
{
    const LControl* top = this;
    while (top->mParent)
        top = top->mParent;
    return top->mRootWindow;
}

ZTRESULT LControl::AddChild(const RCPtr<LControl>& child)
{
    if (!child || child.Get() == this || child->mParent)
        return E_INVALIDARG;
    mChildren.mControls.Append(child);
    child->mParent = this;
    if (GetRootWindow()) {
        child->ProcessRootWindowAquired();
        child->Invalidate();
    }
    return S_OK;
}

ZTRESULT LControl::RemoveChild(LControl* child)
{
    const std::ptrdiff_t index = child ? mChildren.mControls.Find(child) : -1;
    if (index < 0)
        return E_INVALIDARG;
    child->Invalidate();
    child->ForgetRootWindow();
    // Keeps the child alive until its parent pointer is cleared.
    const RCPtr<LControl> keep(child);
    mChildren.mControls.RemoveItem(static_cast<std::size_t>(index));
    child->mParent = nullptr;
    return S_OK;
}

RCPtr<LControl> LControl::FindChildByName(const WString& name) const
{
    for (std::size_t i = mChildren.GetCount(); i-- > 0;) {
        LControl* child = mChildren.mControls[i];
        if (child->mName.SharesBufferWith(name) || child->mName == name)
            return child;
    }
    return nullptr;
}

void LControl::SetText(const WString& text)
{
    if (text == mText)
        return;
    mText = text;
    Invalidate();
}

void LControl::SetBounds(const Rect& bounds)
{
    if (bounds == mBounds)
        return;
    Invalidate();
    mBounds = bounds;
    Invalidate();
}

Rect LControl::GetAreaInWindow() const noexcept
{
    Rect area = mBounds;
    for (const LControl* parent = mParent; parent; parent = parent->mParent)
        area = area.Offset(parent->mBounds.mLeft, parent->mBounds.mTop);
    return area;
}

bool LControl::SetVisible(bool visible)
{
    if (visible != mVisible) {
        if (!visible) {
            Invalidate();
            mVisible = false;
        } else {
            mVisible = true;
            Invalidate();
        }
        RecomputeConditions();
    }
    return IsVisible();
}

bool LControl::IsVisible() const noexcept
{
    return mVisible && mBounds.GetWidth() > 0 && mBounds.GetHeight() > 0 && (!mParent || mParent->IsVisible());
}

void LControl::SetEnabled(bool enabled)
{
    if (enabled == mEnabled)
        return;
    mEnabled = enabled;
    Invalidate();
    RecomputeConditions();
}

ZTRESULT LControl::LeftClick(const RCPtr<LMouseEvent>& event)
{
    return Click(ControlNotificationIDs::kLeftClick, &LControl::OnLeftClick, event);
}

ZTRESULT LControl::MiddleClick(const RCPtr<LMouseEvent>& event)
{
    return Click(ControlNotificationIDs::kMiddleClick, &LControl::OnMiddleClick, event);
}

ZTRESULT LControl::RightClick(const RCPtr<LMouseEvent>& event)
{
    return Click(ControlNotificationIDs::kRightClick, &LControl::OnRightClick, event);
}

ZTRESULT LControl::Click(const wchar_t* id, void (LControl::*hook)(const LMouseEvent&), const RCPtr<LMouseEvent>& event)
{
    if (!event)
        return E_INVALIDARG;
    // A client may drop the last outside reference to this control while it handles the click.
    const RCPtr<LControl> keepAlive(this);
    (this->*hook)(*event);
    (void)SendNotification(id, event); // the clients report their own failures
    return S_OK;
}

ZTRESULT LControl::MouseDown(const RCPtr<LMouseEvent>& event)
{
    if (!event)
        return E_INVALIDARG;
    return SendNotification(ControlNotificationIDs::kMouseDown, event);
}

ZTRESULT LControl::MouseUp(const RCPtr<LMouseEvent>& event)
{
    if (!event)
        return E_INVALIDARG;
    return SendNotification(ControlNotificationIDs::kMouseUp, event);
}

ZTRESULT LControl::MouseMove(const RCPtr<LMouseEvent>& event)
{
    if (!event)
        return E_INVALIDARG;
    return SendNotification(ControlNotificationIDs::kMouseMove, event);
}

void LControl::OnLeftClick(const LMouseEvent&) {}
void LControl::OnMiddleClick(const LMouseEvent&) {}
void LControl::OnRightClick(const LMouseEvent&) {}

ZTRESULT LControl::ProcessIdle()
{
    return S_OK;
}

ZTRESULT LControl::AddIdleNeed()
{
    if (++mIdleNeeds > 1 || mIdleSource)
        return S_OK;
    // Without a root window yet, ProcessRootWindowAquired registers.
    return GetRootWindow() ? RegisterIdle() : S_OK;
}

ZTRESULT LControl::RemoveIdleNeed()
{
    if (mIdleNeeds < 1)
        return E_FAIL;
    if (--mIdleNeeds > 0 || !mIdleSource)
        return S_OK;
    LRootWindow* source = std::exchange(mIdleSource, nullptr);
    const bool handlerRemoved = mControlHandler && mControlHandler->RemoveHandler(source, ControlNotificationIDs::kIdle);
    const ZTRESULT unregistered = Unregister(source, InternNotificationID(ControlNotificationIDs::kIdle));
    return handlerRemoved && unregistered == S_OK ? S_OK : E_FAIL;
}

void LControl::ForgetRootWindow()
{
    if (LRootWindow* source = std::exchange(mIdleSource, nullptr)) {
        if (mControlHandler)
            // Forgetting: nothing registered is fine.
            (void)mControlHandler->RemoveHandler(source, ControlNotificationIDs::kIdle);
        // Forgetting: nothing registered is fine.
        (void)Unregister(source, InternNotificationID(ControlNotificationIDs::kIdle));
    }
    for (LControl* child : mChildren)
        child->ForgetRootWindow();
}

ZTRESULT LControl::RegisterIdle()
{
    LRootWindow* window = GetRootWindow();
    if (!window)
        return E_FAIL;
    if (!mControlHandler)
        mControlHandler = MakeRC<LNotificationHandler<LControl>>(this);
    const ZTRESULT result =
        mControlHandler->AddHandler(&LControl::OnIdleNotification, 0, window, ControlNotificationIDs::kIdle);
    if (Succeeded(result))
        mIdleSource = window;
    return result;
}

ZTRESULT LControl::OnIdleNotification(LNotificationDistributor*, const RCPtr<LNotification>&)
{
    return ProcessIdle();
}

ZTRESULT LControl::HandleNotification(LNotificationDistributor* source, const RCPtr<LNotification>& notification)
{
    if (!mControlHandler)
        return S_OK;
    return mControlHandler->Dispatch(source, notification);
}

ZTRESULT LControl::ReleaseInternalReferences()
{
    (void)DetachAllClients(); // always S_OK
    mIdleSource = nullptr;
    return LNotificationClient::ReleaseInternalReferences();
}

WString LControl::ToString() const
{
    return WString(L"LControl ") + mClassName + WString(L" ") + mName;
}

void LControl::SetInputConditions(std::uint32_t bits, bool on)
{
    bits &= kInputConditions;
    mInputConditions = on ? (mInputConditions | bits) : (mInputConditions & ~bits);
    RecomputeConditions();
}

std::uint32_t LControl::BuildConditions() const noexcept
{
    std::uint32_t conditions = mInputConditions;
    if (mEnabled)
        conditions |= LConditions::kEnabled;
    if (mVisible)
        conditions |= LConditions::kVisible;
    return conditions;
}

void LControl::RecomputeConditions()
{
    const std::uint32_t conditions = BuildConditions();
    if (conditions == mConditions)
        return;
    mPreviousConditions = mConditions;
    mConditions = conditions;
    const RCPtr<LRefCountedObject> payload(new LConditions(mPreviousConditions, mConditions));
    const RCPtr<LControl> keepAlive(this);
    (void)SendNotification(ControlNotificationIDs::kConditionChange, payload); // the clients report their own failures
    for (const ConditionNotification& condition : kConditionNotifications) {
        if (((mPreviousConditions ^ conditions) & condition.mBits) != 0)
            (void)SendNotification(condition.mId, payload); // the clients report their own failures
    }
}

void LControl::Invalidate() const
{
    if (LRootWindow* window = GetRootWindow())
        window->InvalidateArea(GetAreaInWindow());
}

ZTRESULT LControl::SendCommand(NotificationID command)
{
    const RCPtr<LNotification> notification = CreateNotification(command);
    if (!notification)
        return E_FAIL;
    if (LRootWindow* window = GetRootWindow())
        return window->Send(notification);
    return Send(notification);
}

ZTRESULT LControl::SendNotification(const wchar_t* id, const RCPtr<LRefCountedObject>& payload)
{
    const RCPtr<LNotification> notification = CreateNotification(id, payload);
    if (!notification)
        return E_FAIL;
    return Send(notification);
}

} // namespace ZT
