#include "ZTFramework/Notification/Notification.h"

#include "NotificationTestSupport.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

namespace {

using namespace NotificationTestSupport;

TEST(Notification, WithoutPoolingTheLastReleaseDestroysItAndItsPayload)
{
    const int live = LValue::sLive;
    ASSERT_FALSE(ZT::IsNotificationPoolingOn());
    {
        const ZT::RCPtr<ZT::LNotification> notification = Make(L"NID_PLAIN", 5);
        ASSERT_TRUE(notification);
        EXPECT_EQ(notification->GetID(), ZT::InternNotificationID(L"NID_PLAIN"));
        EXPECT_EQ(ValueOf(notification), 5);
        EXPECT_FALSE(notification->IsPending());
        EXPECT_TRUE(notification->ToString() == L"LNotification NID_PLAIN");
    }
    EXPECT_EQ(LValue::sLive, live);
    EXPECT_EQ(ZT::GetNotificationPoolSize(), 0u);
    EXPECT_FALSE(ZT::CreateNotification(L""));
    EXPECT_FALSE(ZT::CreateNotification(static_cast<const wchar_t*>(nullptr)));
}

TEST(Notification, WithPoolingTheObjectComesBackWithoutItsPayloadAndIsReused)
{
    const int live = LValue::sLive;
    CPoolingScope pooling;
    const ZT::LNotification* first = nullptr;
    {
        const ZT::RCPtr<ZT::LNotification> notification = Make(L"NID_POOLED_A", 1);
        first = notification.Get();
    }
    EXPECT_EQ(LValue::sLive, live) << "the payload is dropped when the notification is pooled";
    EXPECT_EQ(ZT::GetNotificationPoolSize(), 1u);

    const ZT::RCPtr<ZT::LNotification> again = Make(L"NID_POOLED_B", 2);
    EXPECT_EQ(again.Get(), first);
    EXPECT_EQ(again->GetID(), ZT::InternNotificationID(L"NID_POOLED_B"));
    EXPECT_EQ(ValueOf(again), 2);
    EXPECT_EQ(again->GetRefCount(), 1);
    EXPECT_EQ(ZT::GetNotificationPoolSize(), 0u);
    // An empty ID text gives no notification and leaves the pool alone.
    EXPECT_FALSE(ZT::CreateNotification(L""));
}

TEST(Notification, ACopySharesThePayloadAndIsNotPending)
{
    const int live = LValue::sLive;
    const ZT::RCPtr<ZT::LNotification> original = Make(L"NID_COPY", 3);
    const ZT::RCPtr<ZT::LNotification> copy(dynamic_cast<ZT::LNotification*>(original->CreateCopy()));
    ASSERT_TRUE(copy);
    EXPECT_NE(copy.Get(), original.Get());
    EXPECT_EQ(copy->GetID(), original->GetID());
    EXPECT_EQ(copy->GetPayload().Get(), original->GetPayload().Get());
    EXPECT_EQ(LValue::sLive, live + 1);
}

// A thread that makes a stream of notifications keeps the few it needs at hand; they return to
// the shared pool when it ends, or are destroyed when pooling went off meanwhile.
TEST(Notification, AThreadsNotificationsReturnToThePoolWhenItEndsOrGoWhenPoolingIsOff)
{
    {
        CPoolingScope pooling;
        std::thread worker([] {
            std::vector<ZT::RCPtr<ZT::LNotification>> held;
            for (int i = 0; i < 5; ++i)
                held.push_back(Make(L"NID_POOLED_THREAD"));
            held.clear(); // released here: kept by this thread, not in the shared pool
            EXPECT_EQ(ZT::GetNotificationPoolSize(), 5u);
            const ZT::RCPtr<ZT::LNotification> reused = Make(L"NID_POOLED_THREAD", 4);
            EXPECT_EQ(ValueOf(reused), 4);
            EXPECT_EQ(reused->GetRefCount(), 1);
        });
        worker.join();
        EXPECT_EQ(ZT::GetNotificationPoolSize(), 5u) << "given back when the thread ended";
    }
    EXPECT_EQ(ZT::GetNotificationPoolSize(), 0u);

    // Pooling turned off while a thread holds some: they are destroyed when it ends.
    const int live = LValue::sLive;
    std::atomic<int> stage{0};
    ZT::SetNotificationPooling(true);
    std::thread worker([&] {
        {
            std::vector<ZT::RCPtr<ZT::LNotification>> held;
            for (int i = 0; i < 3; ++i)
                held.push_back(Make(L"NID_POOLED_THREAD", i));
        }
        stage = 1;
        stage.wait(1);
    });
    while (stage.load() != 2) {
        if (stage.load() == 1) {
            ZT::SetNotificationPooling(false);
            stage = 2;
            stage.notify_one();
        }
    }
    worker.join();
    EXPECT_EQ(ZT::GetNotificationPoolSize(), 0u);
    EXPECT_EQ(LValue::sLive, live) << "their payloads went when they were released";
}

} // namespace
