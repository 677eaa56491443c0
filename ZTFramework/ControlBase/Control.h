#pragma once
// The control: one node of the user-interface tree.
//
// Every control is at once a notification distributor (others register with it for the clicks
// and condition changes it sends) and a client (it registers with others, its root window's
// idle notification among them). It has a name (the skin's "Name"), a class name, a parent (a
// plain back pointer; the parent holds the child), its children in creation order, a caption,
// a place in its parent, and its conditions: a mask of focus, hover, capture, drag, enabled and
// visible whose changes are sent as notifications.
//
// Drawing, layout and input handling belong to the window and renderer; a control here keeps
// the state they read and asks its root window to repaint the area it covers when that state
// changes what is seen.
//
// Lifetime: a parent holds its children by counted references; registrations (this control's
// with others, others' with this control) are internal references that ReleaseInternalReferences
// drops when the last outside reference goes, so a control never unregisters by hand.
//
// Threads: the user-interface thread's. Not guarded.

#include "ZTFramework/ControlBase/Conditions.h"
#include "ZTFramework/ControlBase/MouseEvent.h"
#include "ZTFramework/ControlBase/RectT.h"
#include "ZTFramework/ControlBase/TaggableObject.h"
#include "ZTFramework/ControlBase/UITarget.h"
#include "ZTFramework/Errors/Result.h"
#include "ZTFramework/Notification/NotificationCenter.h"
#include "ZTFramework/Notification/NotificationClient.h"
#include "ZTFramework/Notification/NotificationDistributor.h"
#include "ZTFramework/Notification/NotificationHandler.h"
#include "ZTFramework/Notification/NotificationID.h"
#include "ZTFramework/ObjectBase/RCPtr.h"
#include "ZTFramework/Utilities/Storage/RCPtrArray.h"
#include "ZTFramework/Utilities/Storage/StringT.h"

#include <cstddef>
#include <cstdint>

namespace ZT {

class LControlDescriptor;
class LControlFactory;
class LRootWindow;

class LControl : public virtual LNotificationClient,
                 public virtual LNotificationDistributor,
                 public virtual LTaggableObject,
                 public virtual UITarget {
public:
    // A control's children in creation order.
    class ChildControlList {
    public:
        [[nodiscard]] std::size_t GetCount() const noexcept { return mControls.GetCount(); }
        [[nodiscard]] bool IsEmpty() const noexcept { return mControls.IsEmpty(); }
        // The child at index; an index at or past the count throws a runtime error.
        [[nodiscard]] RCPtr<LControl> GetAt(std::size_t index) const;
        // The same without taking a reference.
        LControl* operator[](std::size_t index) const;
        LControl* const* begin() const noexcept { return mControls.begin(); }
        LControl* const* end() const noexcept { return mControls.end(); }

    private:
        friend class LControl;
        RCPtrArray<LControl> mControls;
    };

    LControl();
    LControl(const LControl&) = delete;
    LControl& operator=(const LControl&) = delete;
    ~LControl() override;

    // Takes the descriptor's name, class, visibility and place inside parent (which may be null
    // for a top control). The factory calls this before the control joins its parent.
    virtual void ApplyDescriptor(const LControlDescriptor& descriptor, const LControl* parent);
    // Takes the "application" notification center and sets up the control's own handlers. The
    // factory calls it once the control's children exist. Derived controls call this first and
    // stop on a negative result.
    [[nodiscard]] virtual ZTRESULT Initialize();
    // The control now has a root window (through its parents): registers what needs the window
    // (the idle notification), then tells the children.
    virtual void ProcessRootWindowAquired();

    [[nodiscard]] const WString& GetName() const noexcept { return mName; }
    void SetName(const WString& name) { mName = name; }
    // The class the control was created as ("Framework.Button").
    [[nodiscard]] const WString& GetClassName() const noexcept { return mClassName; }
    [[nodiscard]] const RCPtr<LControlDescriptor>& GetDescriptor() const noexcept { return mDescriptor; }
    [[nodiscard]] const WString& GetLookListName() const noexcept { return mLookListName; }
    [[nodiscard]] const RCPtr<LControlFactory>& GetControlFactory() const noexcept { return mFactory; }
    void SetControlFactory(const RCPtr<LControlFactory>& factory);

    // Tree.
    [[nodiscard]] LControl* GetParent() const noexcept { return mParent; }
    // The window of the top control above this one, or null.
    [[nodiscard]] LRootWindow* GetRootWindow() const noexcept;
    [[nodiscard]] const ChildControlList& GetChildren() const noexcept { return mChildren; }
    // Appends child (which must have no parent) and becomes its parent. E_INVALIDARG for null,
    // self or a child that already has a parent.
    [[nodiscard]] ZTRESULT AddChild(const RCPtr<LControl>& child);
    // E_INVALIDARG when child is not a child of this control.
    ZTRESULT RemoveChild(LControl* child);
    // The direct child with exactly this name (case-sensitive), searched from the last child to
    // the first; null when none has it. Grandchildren are not searched.
    [[nodiscard]] RCPtr<LControl> FindChildByName(const WString& name) const;

    // Caption: the text the control shows (a label's text, a button's caption).
    [[nodiscard]] const WString& GetText() const noexcept { return mText; }
    virtual void SetText(const WString& text);

    // Place in the parent, in pixels.
    [[nodiscard]] const Rect& GetBounds() const noexcept { return mBounds; }
    void SetBounds(const Rect& bounds);
    // The area the control covers in its root window's coordinates.
    [[nodiscard]] Rect GetAreaInWindow() const noexcept;

    // Shows or hides the control and returns its resulting visibility (IsVisible).
    bool SetVisible(bool visible);
    // The control's own visible flag.
    [[nodiscard]] bool GetVisibleFlag() const noexcept { return mVisible; }
    // Whether the control can be seen: its flag is set, it has an area, and so do its parents.
    [[nodiscard]] bool IsVisible() const noexcept;
    void SetEnabled(bool enabled);
    [[nodiscard]] bool IsEnabled() const noexcept { return mEnabled; }
    [[nodiscard]] std::uint32_t GetConditions() const noexcept { return mConditions; }

    // Called by the mouse handling when a click happened: runs the control's own hook, then
    // sends the click notification with the event through the control. E_INVALIDARG for a null
    // event; otherwise S_OK whatever the clients returned.
    ZTRESULT LeftClick(const RCPtr<LMouseEvent>& event);
    ZTRESULT MiddleClick(const RCPtr<LMouseEvent>& event);
    ZTRESULT RightClick(const RCPtr<LMouseEvent>& event);
    // Mouse events over the control: "NID_MOUSE_DOWN", "NID_MOUSE_UP", "NID_MOUSE_MOVE".
    ZTRESULT MouseDown(const RCPtr<LMouseEvent>& event);
    ZTRESULT MouseUp(const RCPtr<LMouseEvent>& event);
    ZTRESULT MouseMove(const RCPtr<LMouseEvent>& event);

    // Reasons the control needs the idle notification ("NID_IDLE" of its root window, which
    // calls ProcessIdle). The first reason registers with the root window (now, or when one is
    // acquired); removing the last unregisters. RemoveIdleNeed gives E_FAIL when there is no
    // reason left to remove or the registration could not be removed.
    ZTRESULT AddIdleNeed();
    ZTRESULT RemoveIdleNeed();
    [[nodiscard]] int GetIdleNeedCount() const noexcept { return mIdleNeeds; }

    // The "application" center, taken by Initialize.
    [[nodiscard]] const RCPtr<LNotificationCenter>& GetApplicationCenter() const noexcept { return mApplicationCenter; }

    // Dispatches to the control's own handlers (the idle notification). Derived controls with
    // handlers of their own dispatch to those as well.
    ZTRESULT HandleNotification(LNotificationDistributor* source, const RCPtr<LNotification>& notification) override;
    // Detaches the clients registered with this control and drops this control's registrations.
    ZTRESULT ReleaseInternalReferences() override;
    // "LControl <class> <name>".
    WString ToString() const override;

protected:
    // Hooks run by the click operations before the notification goes out.
    virtual void OnLeftClick(const LMouseEvent& event);
    virtual void OnMiddleClick(const LMouseEvent& event);
    virtual void OnRightClick(const LMouseEvent& event);
    // The periodic step while the control needs it (see AddIdleNeed). S_OK by default.
    virtual ZTRESULT ProcessIdle();

    // For the input handling: sets or clears focus, hover, capture and drag bits and sends what
    // changed.
    void SetInputConditions(std::uint32_t bits, bool on);
    // Builds the mask from the control's state; sends the notifications when it changed.
    void RecomputeConditions();
    // Asks the root window to repaint the area the control covers.
    void Invalidate() const;
    ZTRESULT SendNotification(const wchar_t* id, const RCPtr<LRefCountedObject>& payload);
    // Sends a window command (a menu item's) through the root window, where the window's
    // commands are handled, or through this control while it has no window. E_FAIL when the
    // notification cannot be made; otherwise the result of the send.
    ZTRESULT SendCommand(NotificationID command);

private:
    friend class LRootWindow;
    // The window's mouse and keyboard handling sets the input conditions and repaints.
    friend class CWindowInput;
    void SetRootWindow(LRootWindow* window) noexcept { mRootWindow = window; }
    // The tree is leaving its window (the window goes, or the control leaves the tree): drops the
    // registrations made with the window, here and below, keeping the idle needs for a next one.
    void ForgetRootWindow();
    [[nodiscard]] std::uint32_t BuildConditions() const noexcept;
    ZTRESULT Click(const wchar_t* id, void (LControl::*hook)(const LMouseEvent&), const RCPtr<LMouseEvent>& event);
    ZTRESULT RegisterIdle();
    ZTRESULT OnIdleNotification(LNotificationDistributor* source, const RCPtr<LNotification>& notification);

    WString mName;
    WString mClassName;
    WString mLookListName;
    WString mText;
    RCPtr<LControlDescriptor> mDescriptor;
    RCPtr<LControlFactory> mFactory;
    LControl* mParent = nullptr;          // holds this control through its child list
    LRootWindow* mRootWindow = nullptr;   // set on a top control by its window, which holds it
    ChildControlList mChildren;
    Rect mBounds;
    bool mVisible = true;
    bool mEnabled = true;
    std::uint32_t mInputConditions = 0;
    std::uint32_t mConditions = 0;
    std::uint32_t mPreviousConditions = 0;
    RCPtr<LNotificationCenter> mApplicationCenter;
    RCPtr<LNotificationHandler<LControl>> mControlHandler;
    int mIdleNeeds = 0;
    LRootWindow* mIdleSource = nullptr;   // the window registered with for "NID_IDLE"
};

} // namespace ZT
