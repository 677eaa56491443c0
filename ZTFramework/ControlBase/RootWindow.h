#pragma once
// The toolkit's window as the control tree sees it: it holds the top control, distributes the
// window's own notifications (its menu commands, "NID_IDLE" from its queue each idle round) and
// collects the areas its controls asked to have repainted.
//
// The platform window and its drawing build on this class; the tree only needs the parts here.
//
// Ownership: the window holds its top control; the control points back without a reference.
// When the window's last outside reference goes, ReleaseInternalReferences detaches every client,
// shuts the queue down and lets go of the top control.
//
// Threads: the user-interface thread's, except Post (see LNotificationQueue).

#include "ZTFramework/ControlBase/RectT.h"
#include "ZTFramework/Errors/Result.h"
#include "ZTFramework/Notification/NotificationDistributor.h"
#include "ZTFramework/Notification/NotificationQueue.h"
#include "ZTFramework/ObjectBase/RCPtr.h"

#include "ZTFramework/Utilities/Storage/StringT.h"

#include <utility>
#include <vector>

namespace ZT {

class IWindowServices;
class LControl;

// The payload of "NID_DROP_FILE": the full path of the dropped file.
class LDroppedFile : public virtual LRefCountedObject {
public:
    explicit LDroppedFile(WString path) : mPath(std::move(path)) {}
    [[nodiscard]] const WString& GetPath() const noexcept { return mPath; }

private:
    WString mPath;
};

class LRootWindow : public LNotificationDistributor, public LNotificationQueue {
public:
    LRootWindow();
    ~LRootWindow() override;

    // Makes control (a control without a parent) the window's top control and tells the tree it
    // has a window. E_INVALIDARG for null or a control with a parent; E_FAIL when the window
    // already has one.
    [[nodiscard]] ZTRESULT SetRootControl(const RCPtr<LControl>& control);
    [[nodiscard]] const RCPtr<LControl>& GetRootControl() const noexcept { return mRootControl; }

    // Notes an area (window coordinates) to repaint; empty areas are ignored.
    void InvalidateArea(const Rect& area);
    // The areas noted since the last call, in order.
    [[nodiscard]] std::vector<Rect> TakeInvalidAreas();

    // The platform window's services, or null while the tree has no platform window. The window
    // host sets it and clears it before it goes; the pointer holds no reference.
    void SetWindowServices(IWindowServices* services) noexcept { mWindowServices = services; }
    [[nodiscard]] IWindowServices* GetWindowServices() const noexcept { return mWindowServices; }

    // A file was dropped on the window: sends "NID_DROP_FILE" through the window with an
    // LDroppedFile payload. The result of the send.
    ZTRESULT DropFile(const WString& path);

    ZTRESULT ReleaseInternalReferences() override;

private:
    RCPtr<LControl> mRootControl;
    IWindowServices* mWindowServices = nullptr;
    std::vector<Rect> mInvalidAreas;
};

} // namespace ZT
