#pragma once
// Keeps the process's notification centers, made by name on first request, and runs their
// queues in the user-interface thread's idle step.
//
// One manager exists per process, made on first use and kept until exit.
//
// Threads: GetCenter may be called on any thread (workers look up the "application" center to
// post into it); ProcessAllQueues belongs to the user-interface thread. mMutex guards the list
// of centers, which only grows, and is never held while a queue delivers.

#include "ZTFramework/Notification/NotificationCenter.h"
#include "ZTFramework/ObjectBase/RCPtr.h"
#include "ZTFramework/ObjectBase/RefCountedObject.h"
#include "ZTFramework/Threads/Mutex.h"
#include "ZTFramework/Utilities/Storage/RCPtrArray.h"
#include "ZTFramework/Utilities/Storage/StringT.h"

#include <cstddef>

namespace ZT {

class LNotificationCenterManager : public virtual LRefCountedObject {
public:
    // The process's manager.
    static RCPtr<LNotificationCenterManager> GetInstance();

    LNotificationCenterManager() = default;
    LNotificationCenterManager(const LNotificationCenterManager&) = delete;
    LNotificationCenterManager& operator=(const LNotificationCenterManager&) = delete;

    // The center with this name, made on first request; null for an empty name.
    [[nodiscard]] RCPtr<LNotificationCenter> GetCenter(const WString& name);
    // Runs every center's queue, the last made first: delivers what was posted, then (when
    // idle) sends the idle notification. True when any queue still holds notifications.
    bool ProcessAllQueues(bool idle);
    [[nodiscard]] std::size_t GetCenterCount() const;

private:
    RCPtr<LNotificationCenter> CenterAt(std::size_t index) const;

    mutable Mutex mMutex;
    RCPtrArray<LNotificationCenter> mCenters;
};

} // namespace ZT
