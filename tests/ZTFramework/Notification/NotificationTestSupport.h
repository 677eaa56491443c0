#pragma once
// Clients and payloads shared by the notification tests.

#include "ZTFramework/Notification/Notification.h"
#include "ZTFramework/Notification/NotificationClient.h"
#include "ZTFramework/Notification/NotificationDistributor.h"
#include "ZTFramework/ObjectBase/RCPtr.h"

#include <atomic>
#include <functional>
#include <string>
#include <vector>

namespace NotificationTestSupport {

// A payload that counts its live instances.
class LValue : public virtual ZT::LRefCountedObject {
public:
    explicit LValue(int value) : mValue(value) { ++sLive; }
    ~LValue() override { --sLive; }
    const int mValue;
    static inline std::atomic<int> sLive = 0;
};

inline int ValueOf(const ZT::RCPtr<ZT::LNotification>& notification)
{
    const ZT::RCPtr<LValue> value = notification->GetPayloadAs<LValue>();
    return value ? value->mValue : -1;
}

// Writes its name into a shared log for each notification, then runs mOnNotify.
class LRecorder : public ZT::LNotificationClient {
public:
    explicit LRecorder(std::string name = {}, std::vector<std::string>* log = nullptr)
        : mName(std::move(name)), mLog(log)
    {
    }
    ~LRecorder() override { ++sDestroyed; }

    ZT::ZTRESULT HandleNotification(ZT::LNotificationDistributor* source,
                                    const ZT::RCPtr<ZT::LNotification>& notification) override
    {
        ++mCalls;
        mValues.push_back(ValueOf(notification));
        if (mLog)
            mLog->push_back(mName);
        if (mOnNotify)
            mOnNotify(source, notification);
        return ZT::S_OK;
    }

    std::string mName;
    std::vector<std::string>* mLog;
    int mCalls = 0;
    std::vector<int> mValues;
    std::function<void(ZT::LNotificationDistributor*, const ZT::RCPtr<ZT::LNotification>&)> mOnNotify;
    static inline std::atomic<int> sDestroyed = 0;
};

// A distributor that counts its destructions.
class LCountedDistributor : public ZT::LNotificationDistributor {
public:
    ~LCountedDistributor() override { ++sDestroyed; }
    static inline std::atomic<int> sDestroyed = 0;
};

// Turns notification pooling on for one scope.
class CPoolingScope {
public:
    CPoolingScope() { ZT::SetNotificationPooling(true); }
    ~CPoolingScope() { ZT::SetNotificationPooling(false); }
    CPoolingScope(const CPoolingScope&) = delete;
    CPoolingScope& operator=(const CPoolingScope&) = delete;
};

inline ZT::RCPtr<ZT::LNotification> Make(const wchar_t* id, int value = -1)
{
    return ZT::CreateNotification(id, value < 0 ? nullptr : ZT::RCPtr<ZT::LRefCountedObject>(new LValue(value)));
}

} // namespace NotificationTestSupport
