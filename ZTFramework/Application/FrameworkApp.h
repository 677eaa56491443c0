#pragma once
// The framework's application object: what every program with a window runs on the
// user-interface thread around its own parts.
//
// - Construction takes the "application" notification center and turns notification pooling on;
//   Shutdown turns it off again (which empties the pool).
// - Startup registers for the exit request ("NID_APP_EXIT_REQ") with the application center and
//   binds the key "Alt+VKEY_F4" to it unless that key already has a binding.
// - ProcessNotifications is the idle step: every center's queue, then each root window's own
//   queue, last window first.
// - An exit request is refused while the exit check (SetExitCheck; none: always allowed) says
//   no; otherwise the exit handler runs (the window host ends its loop there).
//
// Key names are the settings files' ("Alt+VKEY_F4", "Ctrl+Shift+VKEY_A"): modifiers in the order
// Ctrl, Shift, Alt, each followed by "+", then the key.
//
// Threads: the user-interface thread's, all of it; the queues are posted to from any thread.

#include "ZTFramework/Errors/Result.h"
#include "ZTFramework/Notification/NotificationCenter.h"
#include "ZTFramework/Notification/NotificationClient.h"
#include "ZTFramework/Notification/NotificationHandler.h"
#include "ZTFramework/ObjectBase/RCPtr.h"
#include "ZTFramework/Utilities/Storage/StringT.h"

#include <functional>
#include <map>
#include <vector>

namespace ZT {

class LRootWindow;

class LFrameworkApp : public LNotificationClient {
public:
    static constexpr const wchar_t* kApplicationCenterName = L"application";
    static constexpr const wchar_t* kExitRequestId = L"NID_APP_EXIT_REQ";
    static constexpr const wchar_t* kExitKey = L"Alt+VKEY_F4";

    LFrameworkApp();
    ~LFrameworkApp() override;
    LFrameworkApp(const LFrameworkApp&) = delete;
    LFrameworkApp& operator=(const LFrameworkApp&) = delete;

    // Registers for the exit request and binds its key. A refused registration gives its result.
    [[nodiscard]] ZTRESULT Startup();
    // Drops the registrations and the root windows and turns pooling off. Idempotent.
    void Shutdown();

    [[nodiscard]] const RCPtr<LNotificationCenter>& GetApplicationCenter() const noexcept { return mCenter; }

    // The windows whose queues the idle step processes. The pointer holds no reference: the
    // window host removes its window before it goes.
    void AddRootWindow(LRootWindow* window);
    void RemoveRootWindow(LRootWindow* window);
    // One idle step (see the header comment). True when notifications still wait.
    bool ProcessNotifications(bool idle);

    // Binds keyName to the notification idText. False (nothing changes) when the key already has
    // a binding or either text is empty.
    bool BindKey(const WString& keyName, const wchar_t* idText);
    // The notification bound to keyName, or an empty text.
    [[nodiscard]] WString FindKeyBinding(const WString& keyName) const;
    // Sends the notification bound to keyName through the application center. False when the key
    // has no binding.
    bool HandleKey(const WString& keyName);

    // Sends the exit request through the application center, as the EXIT button and the menu do.
    ZTRESULT RequestExit();
    // What decides whether the program may end now (false while an update runs).
    void SetExitCheck(std::function<bool()> check) { mExitCheck = std::move(check); }
    // What an approved exit does.
    void SetExitHandler(std::function<void()> handler) { mExitHandler = std::move(handler); }
    [[nodiscard]] bool CanExit() const { return !mExitCheck || mExitCheck(); }
    // Exit requests refused and approved so far (for the log line and the tests).
    [[nodiscard]] unsigned GetRefusedExitCount() const noexcept { return mRefusedExits; }
    [[nodiscard]] bool IsExitApproved() const noexcept { return mExitApproved; }

    ZTRESULT HandleNotification(LNotificationDistributor* source, const RCPtr<LNotification>& notification) override;

private:
    ZTRESULT OnExitRequest(LNotificationDistributor* source, const RCPtr<LNotification>& notification);

    RCPtr<LNotificationCenter> mCenter;
    RCPtr<LNotificationHandler<LFrameworkApp>> mHandler;
    std::vector<LRootWindow*> mRootWindows;
    std::map<WString, WString> mKeyBindings;
    std::function<bool()> mExitCheck;
    std::function<void()> mExitHandler;
    unsigned mRefusedExits = 0;
    bool mExitApproved = false;
    bool mStarted = false;
    bool mShutDown = false;
};

} // namespace ZT
