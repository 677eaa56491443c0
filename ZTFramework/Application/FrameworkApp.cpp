#include "ZTFramework/Application/FrameworkApp.h"

#include "ZTFramework/ControlBase/RootWindow.h"
#include "ZTFramework/Debug/DebugLine.h"
#include "ZTFramework/Notification/Notification.h"
#include "ZTFramework/Notification/NotificationCenterManager.h"

#include <algorithm>

namespace ZT {

LFrameworkApp::LFrameworkApp()
    : mCenter(LNotificationCenterManager::GetInstance()->GetCenter(WString(kApplicationCenterName)))
{
    // Progress notifications stream in from the engine's worker; pooled, they cost no allocation
    // once the pool is warm.
    SetNotificationPooling(true);
}

LFrameworkApp::~LFrameworkApp()
{
    Shutdown();
}

ZTRESULT LFrameworkApp::Startup()
{
    if (mStarted)
        return S_FALSE;
    if (!mHandler)
        mHandler = MakeRC<LNotificationHandler<LFrameworkApp>>(this);
    const ZTRESULT result = mHandler->AddHandler(&LFrameworkApp::OnExitRequest, 0, mCenter.Get(), kExitRequestId);
    if (Failed(result))
        return result;
    (void)BindKey(WString(kExitKey), kExitRequestId); // a binding the application made first stays
    mStarted = true;
    mShutDown = false;
    return S_OK;
}

void LFrameworkApp::Shutdown()
{
    if (mShutDown)
        return;
    mShutDown = true;
    if (mHandler && mCenter) {
        // Shutting down: nothing registered is fine.
        (void)Unregister(mCenter.Get(), InternNotificationID(kExitRequestId));
        (void)mHandler->RemoveHandler(mCenter.Get(), kExitRequestId); // shutting down: nothing registered is fine
    }
    mRootWindows.clear();
    mExitHandler = nullptr;
    mStarted = false;
    SetNotificationPooling(false);
}

void LFrameworkApp::AddRootWindow(LRootWindow* window)
{
    if (window && std::find(mRootWindows.begin(), mRootWindows.end(), window) == mRootWindows.end())
        mRootWindows.push_back(window);
}

void LFrameworkApp::RemoveRootWindow(LRootWindow* window)
{
    std::erase(mRootWindows, window);
}

bool LFrameworkApp::ProcessNotifications(bool idle)
{
    bool more = LNotificationCenterManager::GetInstance()->ProcessAllQueues(idle);
    // A delivery may close a window: walk a copy, last window first.
    const std::vector<LRootWindow*> windows = mRootWindows;
    for (auto it = windows.rbegin(); it != windows.rend(); ++it) {
        if (std::find(mRootWindows.begin(), mRootWindows.end(), *it) == mRootWindows.end())
            continue;
        more = (*it)->ProcessQueue(idle) || more;
    }
    return more;
}

bool LFrameworkApp::BindKey(const WString& keyName, const wchar_t* idText)
{
    if (keyName.GetLength() == 0 || !idText || idText[0] == 0 || mKeyBindings.contains(keyName))
        return false;
    mKeyBindings.emplace(keyName, WString(idText));
    return true;
}

WString LFrameworkApp::FindKeyBinding(const WString& keyName) const
{
    const auto found = mKeyBindings.find(keyName);
    return found == mKeyBindings.end() ? WString() : found->second;
}

bool LFrameworkApp::HandleKey(const WString& keyName)
{
    const WString id = FindKeyBinding(keyName);
    if (id.GetLength() == 0 || !mCenter)
        return false;
    if (const RCPtr<LNotification> notification = CreateNotification(id.c_str(), nullptr))
        (void)mCenter->Send(notification); // the handlers report their own failures
    return true;
}

ZTRESULT LFrameworkApp::RequestExit()
{
    if (!mCenter)
        return E_FAIL;
    const RCPtr<LNotification> notification = CreateNotification(kExitRequestId, nullptr);
    if (!notification)
        return E_OUTOFMEMORY;
    return mCenter->Send(notification);
}

ZTRESULT LFrameworkApp::HandleNotification(LNotificationDistributor* source, const RCPtr<LNotification>& notification)
{
    return mHandler ? mHandler->Dispatch(source, notification) : S_OK;
}

ZTRESULT LFrameworkApp::OnExitRequest(LNotificationDistributor*, const RCPtr<LNotification>&)
{
    if (!CanExit()) {
        ++mRefusedExits;
        DebugLine("Application: exit refused while an update runs");
        return S_FALSE;
    }
    mExitApproved = true;
    if (mExitHandler)
        mExitHandler();
    return S_OK;
}

} // namespace ZT
