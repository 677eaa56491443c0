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

#include <vector>

namespace ZT {

class LControl;

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

    ZTRESULT ReleaseInternalReferences() override;

private:
    RCPtr<LControl> mRootControl;
    std::vector<Rect> mInvalidAreas;
};

} // namespace ZT
