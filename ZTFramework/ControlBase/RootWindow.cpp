#include "ZTFramework/ControlBase/RootWindow.h"

#include "ZTFramework/ControlBase/Control.h"
#include "ZTFramework/ControlBase/ControlNotificationIDs.h"
#include "ZTFramework/Errors/Exception.h"

#include <utility>

namespace ZT {

LRootWindow::LRootWindow()
{
    ZT_THROW_IF_FAILED(SetOwnDistributor(this), "ZT::LRootWindow::LRootWindow");
}

LRootWindow::~LRootWindow() = default;

ZTRESULT LRootWindow::SetRootControl(const RCPtr<LControl>& control)
{
    if (!control || control->GetParent())
        return E_INVALIDARG;
    if (mRootControl)
        return E_FAIL;
    mRootControl = control;
    control->SetRootWindow(this);
    control->ProcessRootWindowAquired();
    control->Invalidate();
    return S_OK;
}

void LRootWindow::InvalidateArea(const Rect& area)
{
    if (!area.IsEmpty())
        mInvalidAreas.push_back(area);
}

std::vector<Rect> LRootWindow::TakeInvalidAreas()
{
    return std::exchange(mInvalidAreas, {});
}

ZTRESULT LRootWindow::DropFile(const WString& path)
{
    const RCPtr<LNotification> notification =
        CreateNotification(ControlNotificationIDs::kDropFile, MakeRC<LDroppedFile>(path));
    if (!notification)
        return E_FAIL;
    return Send(notification);
}

ZTRESULT LRootWindow::ReleaseInternalReferences()
{
    if (mRootControl)
        mRootControl->ForgetRootWindow();
    (void)DetachAllClients(); // always S_OK
    Shutdown();
    if (RCPtr<LControl> control = std::exchange(mRootControl, nullptr))
        control->SetRootWindow(nullptr);
    return LRefCountedObject::ReleaseInternalReferences();
}

} // namespace ZT
