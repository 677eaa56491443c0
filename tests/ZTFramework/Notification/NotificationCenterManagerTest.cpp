#include "ZTFramework/Notification/NotificationCenterManager.h"

#include "ZTFramework/Notification/NotificationWaiter.h"
#include "NotificationTestSupport.h"
#include "tests/Support/Printers.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace NotificationTestSupport;

TEST(NotificationCenterManager, OneCenterPerNameAndNoneForAnEmptyName)
{
    const auto manager = ZT::LNotificationCenterManager::GetInstance();
    ASSERT_TRUE(manager);
    const ZT::WString name(L"manager test");
    const auto center = manager->GetCenter(name);
    ASSERT_TRUE(center);
    EXPECT_EQ(manager->GetCenter(name).Get(), center.Get());
    EXPECT_EQ(manager->GetCenter(ZT::WString(L"manager test")).Get(), center.Get());
    EXPECT_NE(manager->GetCenter(ZT::WString(L"Manager Test")).Get(), center.Get());
    EXPECT_TRUE(center->ToString() == L"LNotificationCenter manager test");
    EXPECT_FALSE(manager->GetCenter(ZT::WString()));
}

TEST(NotificationCenterManager, ProcessAllQueuesRunsTheLatestCenterFirstAndReportsWhatRemains)
{
    const auto manager = ZT::LNotificationCenterManager::GetInstance();
    std::vector<std::string> log;
    const auto early = manager->GetCenter(ZT::WString(L"manager order early"));
    const auto late = manager->GetCenter(ZT::WString(L"manager order late"));
    const auto earlyClient = ZT::MakeRC<LRecorder>("early", &log);
    const auto lateClient = ZT::MakeRC<LRecorder>("late", &log);
    earlyClient->Register(early.Get(), L"NID_MANAGER_ORDER");
    lateClient->Register(late.Get(), L"NID_MANAGER_ORDER");
    const auto idleClient = ZT::MakeRC<LRecorder>("early idle", &log);
    idleClient->Register(early.Get(), L"NID_IDLE");

    ASSERT_RESULT_EQ(early->Post(Make(L"NID_MANAGER_ORDER")), ZT::S_OK);
    ASSERT_RESULT_EQ(late->Post(Make(L"NID_MANAGER_ORDER")), ZT::S_OK);
    lateClient->mOnNotify = [&](ZT::LNotificationDistributor*, const ZT::RCPtr<ZT::LNotification>&) {
        EXPECT_RESULT_EQ(early->Post(Make(L"NID_MANAGER_ORDER")), ZT::S_OK);
    };
    // Each center delivers, then sends its idle notification, before the next one runs; the
    // early center delivers both of its notifications, since the second was posted before it ran.
    EXPECT_FALSE(manager->ProcessAllQueues(true));
    EXPECT_EQ(log, (std::vector<std::string>{"late", "early", "early", "early idle"}));

    lateClient->mOnNotify = [&](ZT::LNotificationDistributor*, const ZT::RCPtr<ZT::LNotification>&) {
        EXPECT_RESULT_EQ(late->Post(Make(L"NID_MANAGER_ORDER")), ZT::S_OK);
    };
    ASSERT_RESULT_EQ(late->Post(Make(L"NID_MANAGER_ORDER")), ZT::S_OK);
    EXPECT_TRUE(manager->ProcessAllQueues(false)) << "a post during its own round waits in the late center";
    lateClient->mOnNotify = nullptr;
    EXPECT_FALSE(manager->ProcessAllQueues(false));
    EXPECT_EQ(log.size(), 6u) << "rounds that are not idle send no idle notification";
    EXPECT_EQ(early->GetIdleNotification()->GetID(), ZT::InternNotificationID(L"NID_IDLE"));
}

// Workers post into the "application" center; the main thread sleeps on the wake hook and
// delivers everything itself, each worker's notifications in the order that worker posted them.
TEST(NotificationCenterManager, PostsFromSeveralWorkersAreDeliveredOnTheMainThreadInPerThreadOrder)
{
    constexpr int kWorkers = 4;
    constexpr int kPerWorker = 500;
    const auto manager = ZT::LNotificationCenterManager::GetInstance();
    const auto application = manager->GetCenter(ZT::WString(L"application"));
    const ZT::NotificationID id = ZT::InternNotificationID(L"NID_MANAGER_WORKER");
    const auto client = ZT::MakeRC<LRecorder>();
    client->Register(application.Get(), ZT::NotificationIDText(id));
    const std::thread::id mainThread = std::this_thread::get_id();
    bool deliveredElsewhere = false;
    client->mOnNotify = [&](ZT::LNotificationDistributor*, const ZT::RCPtr<ZT::LNotification>&) {
        deliveredElsewhere = deliveredElsewhere || std::this_thread::get_id() != mainThread;
    };

    CPoolingScope pooling;
    ZT::CNotificationWaiter waiter;
    std::vector<std::thread> workers;
    for (int w = 0; w < kWorkers; ++w)
        workers.emplace_back([&, w] {
            const auto center = ZT::LNotificationCenterManager::GetInstance()->GetCenter(ZT::WString(L"application"));
            for (int i = 0; i < kPerWorker; ++i)
                ASSERT_RESULT_EQ(center->Post(ZT::CreateNotification(id, new LValue(w * kPerWorker + i))), ZT::S_OK);
        });

    while (client->mValues.size() < static_cast<std::size_t>(kWorkers * kPerWorker)) {
        // Bounded so that a lost wake-up fails the test instead of hanging it.
        ASSERT_TRUE(waiter.WaitForWork(std::chrono::seconds(10))) << "no wake-up after " << client->mValues.size();
        manager->ProcessAllQueues(false);
    }
    for (auto& worker : workers)
        worker.join();
    EXPECT_FALSE(manager->ProcessAllQueues(false));
    EXPECT_FALSE(deliveredElsewhere);
    EXPECT_EQ(client->mValues.size(), static_cast<std::size_t>(kWorkers * kPerWorker));
    std::vector<int> lastSeen(kWorkers, -1);
    for (const int value : client->mValues) {
        const int worker = value / kPerWorker;
        ASSERT_GT(value % kPerWorker, lastSeen[static_cast<std::size_t>(worker)]) << "out of order: " << value;
        lastSeen[static_cast<std::size_t>(worker)] = value % kPerWorker;
    }
}

} // namespace
