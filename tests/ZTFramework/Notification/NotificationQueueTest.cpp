#include "ZTFramework/Notification/NotificationQueue.h"

#include "ZTFramework/Notification/NotificationCenter.h"
#include "ZTFramework/Notification/NotificationDistributor.h"
#include "ZTFramework/Notification/NotificationWakeHook.h"
#include "NotificationTestSupport.h"
#include "tests/Support/Printers.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <vector>

namespace {

using namespace NotificationTestSupport;

constexpr const wchar_t* kProgress = L"NID_QUEUE_PROGRESS";

// A center with one recording client for kProgress.
struct Fixture {
    Fixture() { client->Register(center.Get(), kProgress); }
    ZT::RCPtr<ZT::LNotificationCenter> center = ZT::MakeRC<ZT::LNotificationCenter>(ZT::WString(L"queue test"));
    ZT::RCPtr<LRecorder> client = ZT::MakeRC<LRecorder>();
};

TEST(NotificationQueue, ANotificationCanBeInOneQueueOnlyOnceAtATime)
{
    Fixture f;
    const auto other = ZT::MakeRC<ZT::LNotificationCenter>(ZT::WString(L"queue test other"));
    const ZT::RCPtr<ZT::LNotification> notification = Make(kProgress, 1);
    EXPECT_RESULT_EQ(f.center->Post(notification), ZT::S_OK);
    EXPECT_RESULT_EQ(f.center->Post(notification), ZT::E_INVALIDARG);
    EXPECT_RESULT_EQ(other->Post(notification), ZT::E_INVALIDARG);
    EXPECT_RESULT_EQ(f.center->Post(nullptr), ZT::E_INVALIDARG);
    f.center->ProcessQueue(false);
    // Delivered, it may be posted again.
    EXPECT_RESULT_EQ(f.center->Post(notification), ZT::S_OK);
    f.center->ProcessQueue(false);
    EXPECT_EQ(f.client->mValues, (std::vector<int>{1, 1}));
}

TEST(NotificationQueue, ALatestPostedOnlyClientGetsOnlyTheLastOfSeveralPosts)
{
    Fixture f;
    const auto latest = ZT::MakeRC<LRecorder>();
    latest->Register(f.center.Get(), kProgress, ZT::kNotifyLatestPostedOnly);
    for (int i = 1; i <= 3; ++i)
        ASSERT_RESULT_EQ(f.center->Post(Make(kProgress, i)), ZT::S_OK);
    f.center->ProcessQueue(false);
    EXPECT_EQ(f.client->mValues, (std::vector<int>{1, 2, 3}));
    EXPECT_EQ(latest->mValues, (std::vector<int>{3}));

    // A direct send never reaches it.
    (void)f.center->Send(Make(kProgress, 4)); // the deliveries are checked
    EXPECT_EQ(latest->mValues, (std::vector<int>{3}));
    EXPECT_EQ(f.client->mValues, (std::vector<int>{1, 2, 3, 4}));
}

TEST(NotificationQueue, ProcessingFromInsideADeliveryDeliversNothingAndTellsWhetherItemsRemain)
{
    Fixture f;
    std::vector<bool> nestedResults;
    f.client->mOnNotify = [&](ZT::LNotificationDistributor*, const ZT::RCPtr<ZT::LNotification>& n) {
        const std::size_t before = f.client->mValues.size();
        nestedResults.push_back(f.center->ProcessQueue(false));
        EXPECT_EQ(f.client->mValues.size(), before);
        if (ValueOf(n) == 1) {
            EXPECT_RESULT_EQ(f.center->Post(Make(kProgress, 3)), ZT::S_OK);
        }
    };
    ASSERT_RESULT_EQ(f.center->Post(Make(kProgress, 1)), ZT::S_OK);
    ASSERT_RESULT_EQ(f.center->Post(Make(kProgress, 2)), ZT::S_OK);
    EXPECT_TRUE(f.center->ProcessQueue(false)) << "the post made during the round waits";
    EXPECT_EQ(nestedResults, (std::vector<bool>{true, true}));
    EXPECT_EQ(f.client->mValues, (std::vector<int>{1, 2}));
    EXPECT_FALSE(f.center->ProcessQueue(false));
    EXPECT_EQ(f.client->mValues, (std::vector<int>{1, 2, 3}));
}

TEST(NotificationQueue, AClientThatThrowsLeavesTheRestWaitingAndNothingStuckPending)
{
    Fixture f;
    f.client->mOnNotify = [](ZT::LNotificationDistributor*, const ZT::RCPtr<ZT::LNotification>& n) {
        if (ValueOf(n) == 1)
            throw std::runtime_error("client failed");
    };
    const auto first = Make(kProgress, 1);
    ASSERT_RESULT_EQ(f.center->Post(first), ZT::S_OK);
    ASSERT_RESULT_EQ(f.center->Post(Make(kProgress, 2)), ZT::S_OK);
    EXPECT_THROW(f.center->ProcessQueue(false), std::runtime_error);
    EXPECT_FALSE(first->IsPending());
    EXPECT_EQ(f.center->GetCount(), 1u);
    EXPECT_FALSE(f.center->ProcessQueue(false)) << "not left marked as processing";
    EXPECT_EQ(f.client->mValues, (std::vector<int>{1, 2}));
}

TEST(NotificationQueue, AClientFlushingOrShuttingDownFromItsHandlerDiscardsTheRestOfTheRound)
{
    for (const bool shutDown : {false, true}) {
        SCOPED_TRACE(shutDown ? "shutdown" : "flush");
        Fixture f;
        std::vector<ZT::RCPtr<ZT::LNotification>> posted;
        for (int i = 1; i <= 3; ++i) {
            posted.push_back(Make(kProgress, i));
            ASSERT_RESULT_EQ(f.center->Post(posted.back()), ZT::S_OK);
        }
        f.client->mOnNotify = [&](ZT::LNotificationDistributor*, const ZT::RCPtr<ZT::LNotification>&) {
            EXPECT_EQ(f.center->GetCount(), 2u) << "the rest of the round still counts as waiting";
            if (shutDown)
                f.center->Shutdown();
            else
                EXPECT_FALSE(f.center->Flush());
        };
        EXPECT_FALSE(f.center->ProcessQueue(false));
        EXPECT_EQ(f.client->mValues, (std::vector<int>{1}));
        for (const auto& notification : posted)
            EXPECT_FALSE(notification->IsPending());
    }
}

TEST(NotificationQueue, FlushAndShutdownDiscardWithoutDeliveringAndAfterShutdownPostsFail)
{
    Fixture f;
    const auto waiting = Make(kProgress, 1);
    ASSERT_RESULT_EQ(f.center->Post(waiting), ZT::S_OK);
    ASSERT_RESULT_EQ(f.center->Post(Make(kProgress, 2)), ZT::S_OK);
    EXPECT_FALSE(f.center->Flush());
    EXPECT_FALSE(waiting->IsPending());
    f.center->ProcessQueue(false);
    EXPECT_RESULT_EQ(f.center->Post(waiting), ZT::S_OK) << "a flushed notification may be posted again";
    f.center->Shutdown();
    EXPECT_FALSE(waiting->IsPending());
    EXPECT_RESULT_EQ(f.center->Post(Make(kProgress, 2)), ZT::E_FAIL);
    EXPECT_FALSE(f.center->GetPostingReceiver());
    EXPECT_RESULT_EQ(f.center->SetDistributor(f.center.Get()), ZT::E_FAIL);
    f.center->Shutdown(); // twice is harmless
    EXPECT_FALSE(f.center->ProcessQueue(true));
    EXPECT_TRUE(f.client->mValues.empty());
}

TEST(NotificationQueue, APlainQueueDeliversThroughTheDistributorItIsGiven)
{
    const auto queue = ZT::MakeRC<ZT::LNotificationQueue>();
    const auto distributor = ZT::MakeRC<ZT::LNotificationDistributor>();
    const auto client = ZT::MakeRC<LRecorder>();
    client->Register(distributor.Get(), kProgress);
    EXPECT_RESULT_EQ(queue->Post(Make(kProgress, 1)), ZT::E_FAIL) << "no distributor yet";
    EXPECT_RESULT_EQ(queue->SetDistributor(nullptr), ZT::S_OK);
    EXPECT_RESULT_EQ(queue->SetDistributor(distributor.Get()), ZT::S_OK);
    EXPECT_RESULT_EQ(queue->SetDistributor(distributor.Get()), ZT::E_FAIL);
    EXPECT_RESULT_EQ(queue->Post(Make(kProgress, 2)), ZT::S_OK);
    queue->ProcessQueue(false);
    EXPECT_EQ(client->mValues, (std::vector<int>{2}));
}

TEST(NotificationQueue, ThePostingReceiverTurnsASendIntoADeferredDelivery)
{
    Fixture f;
    const auto control = ZT::MakeRC<ZT::LNotificationDistributor>();
    const auto receiver = f.center->GetPostingReceiver();
    ASSERT_RESULT_EQ(control->AddClient(receiver.Get(), ZT::InternNotificationID(kProgress), 0), ZT::S_OK);
    EXPECT_RESULT_EQ(control->Send(Make(kProgress, 7)), ZT::S_OK);
    EXPECT_TRUE(f.client->mValues.empty());
    EXPECT_EQ(f.center->GetCount(), 1u);
    f.center->ProcessQueue(false);
    EXPECT_EQ(f.client->mValues, (std::vector<int>{7}));
    EXPECT_RESULT_EQ(receiver->Unregister(control.Get(), ZT::InternNotificationID(kProgress)), ZT::E_FAIL);
    EXPECT_RESULT_EQ(control->RemoveClient(receiver.Get(), ZT::InternNotificationID(kProgress)), ZT::S_OK);
}

// A notification posted with its only reference travels as its contents; one that somebody
// else still holds travels as itself. Both kinds keep one order, a client that keeps what it
// was handed keeps it unchanged, and payloads are let go once delivered.
TEST(NotificationQueue, HandedOverAndSharedPostsKeepOneOrderAndWhatAClientKeepsStaysAsItWas)
{
    const int live = LValue::sLive;
    Fixture f;
    std::vector<ZT::RCPtr<ZT::LNotification>> kept;
    f.client->mOnNotify = [&](ZT::LNotificationDistributor*, const ZT::RCPtr<ZT::LNotification>& n) {
        EXPECT_TRUE(n->IsPending()) << "pending until delivered, like a posted object";
        EXPECT_RESULT_EQ(f.center->Post(n), ZT::E_INVALIDARG);
        if (ValueOf(n) % 3 == 0)
            kept.push_back(n);
    };
    std::vector<ZT::RCPtr<ZT::LNotification>> shared;
    for (int i = 0; i < 12; ++i) {
        if (i % 4 == 1) {
            shared.push_back(Make(kProgress, i));
            ASSERT_RESULT_EQ(f.center->Post(shared.back()), ZT::S_OK);
            EXPECT_TRUE(shared.back()->IsPending());
        } else {
            ASSERT_RESULT_EQ(f.center->Post(Make(kProgress, i)), ZT::S_OK);
        }
    }
    EXPECT_EQ(LValue::sLive, live + 12) << "the queue holds every payload until delivery";
    EXPECT_EQ(f.center->GetCount(), 12u);
    EXPECT_TRUE(f.client->mValues.empty()) << "posting delivers nothing by itself";
    EXPECT_FALSE(f.center->ProcessQueue(false));
    EXPECT_EQ(f.client->mValues, (std::vector<int>{0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11}));
    ASSERT_EQ(kept.size(), 4u);
    for (std::size_t k = 0; k < kept.size(); ++k) {
        EXPECT_EQ(ValueOf(kept[k]), static_cast<int>(3 * k)) << "a later delivery changed a kept notification";
        EXPECT_EQ(kept[k]->GetID(), ZT::InternNotificationID(kProgress));
        EXPECT_FALSE(kept[k]->IsPending());
    }
    for (std::size_t k = 1; k < kept.size(); ++k)
        EXPECT_NE(kept[k].Get(), kept[k - 1].Get());
    for (const auto& n : shared)
        EXPECT_FALSE(n->IsPending());
    kept.clear();
    shared.clear();
    EXPECT_EQ(LValue::sLive, live) << "payloads are released after delivery";
    // A kept notification may be posted again, as itself.
    const ZT::RCPtr<ZT::LNotification> again = Make(kProgress, 30);
    ASSERT_RESULT_EQ(f.center->Post(again), ZT::S_OK);
    f.center->ProcessQueue(false);
    EXPECT_EQ(f.client->mValues.back(), 30);
}

// The wake hook hears of a stream once per round: from the post that finds the queue empty. A
// loop nested in a delivery may use that wake up without being able to deliver; the round then
// wakes again at its end, so what waits is not left for the next post.
TEST(NotificationQueue, TheWakeHookIsCalledWhenWorkArrivesAndAgainForWhatANestedLoopCouldNotDeliver)
{
    Fixture f;
    int wakes = 0;
    const auto previous = ZT::SetNotificationWakeHook([&] { ++wakes; });
    for (int i = 0; i < 3; ++i)
        ASSERT_RESULT_EQ(f.center->Post(Make(kProgress, i)), ZT::S_OK);
    EXPECT_EQ(wakes, 1) << "posts that join waiting notifications do not wake again";

    // Posted during a round: the post wakes, the round's end does not add another.
    f.client->mOnNotify = [&](ZT::LNotificationDistributor*, const ZT::RCPtr<ZT::LNotification>& n) {
        if (ValueOf(n) == 1) {
            ASSERT_RESULT_EQ(f.center->Post(Make(kProgress, 10)), ZT::S_OK);
        }
    };
    wakes = 0;
    EXPECT_TRUE(f.center->ProcessQueue(false));
    EXPECT_EQ(wakes, 1);

    // A nested loop takes the wake of what is posted during the round and cannot deliver it.
    f.client->mOnNotify = [&](ZT::LNotificationDistributor*, const ZT::RCPtr<ZT::LNotification>& n) {
        if (ValueOf(n) == 10) {
            ASSERT_RESULT_EQ(f.center->Post(Make(kProgress, 11)), ZT::S_OK);
            wakes = 0;
            EXPECT_TRUE(f.center->ProcessQueue(false)) << "nested: nothing delivered, 11 waits";
        }
    };
    EXPECT_TRUE(f.center->ProcessQueue(false));
    EXPECT_EQ(wakes, 1) << "the round owed the nested loop's wake";
    f.client->mOnNotify = nullptr;
    wakes = 0;
    EXPECT_FALSE(f.center->ProcessQueue(false));
    EXPECT_EQ(wakes, 0) << "a round that leaves nothing waiting wakes nobody";
    EXPECT_EQ(f.client->mValues, (std::vector<int>{0, 1, 2, 10, 11}));
    (void)ZT::SetNotificationWakeHook(previous);
}

} // namespace
