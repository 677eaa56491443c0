#include "ZTFramework/Notification/NotificationClient.h"

#include "ZTFramework/Notification/NotificationCenter.h"
#include "NotificationTestSupport.h"
#include "tests/Support/Printers.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

namespace {

using namespace NotificationTestSupport;

constexpr const wchar_t* kA = L"NID_CLIENT_A";
constexpr const wchar_t* kB = L"NID_CLIENT_B";

TEST(NotificationClient, ReleasingTheLastOutsideReferenceUnregistersAndDestroysIt)
{
    const int clientsBefore = LRecorder::sDestroyed;
    const auto first = ZT::MakeRC<ZT::LNotificationDistributor>();
    const auto second = ZT::MakeRC<ZT::LNotificationDistributor>();
    {
        auto client = ZT::MakeRC<LRecorder>();
        client->Register(first.Get(), kA);
        client->Register(first.Get(), kB);
        client->Register(second.Get(), kA);
        EXPECT_EQ(client->GetRegistrationCount(), 3);
        EXPECT_EQ(client->GetRefCount(), 4);
        EXPECT_EQ(client->GetInternalRefCount(), 3);
        EXPECT_EQ(first->GetRegistrationCount(), 2);
    }
    EXPECT_EQ(LRecorder::sDestroyed, clientsBefore + 1);
    EXPECT_EQ(first->GetRegistrationCount(), 0);
    EXPECT_EQ(second->GetRegistrationCount(), 0);
    EXPECT_EQ(first->GetRefCount(), 1);
    EXPECT_EQ(first->GetInternalRefCount(), 0);
    EXPECT_FALSE(first->IsClientRegistered(nullptr));
    EXPECT_RESULT_EQ(first->Send(Make(kA)), ZT::S_FALSE);
}

// A distributor kept alive only by registrations goes with the last of them, whether its client
// goes or unregisters.
TEST(NotificationClient, ADistributorKeptAliveOnlyByRegistrationsGoesWithTheLastOne)
{
    const int distributorsBefore = LCountedDistributor::sDestroyed;
    const int clientsBefore = LRecorder::sDestroyed;
    auto going = ZT::MakeRC<LRecorder>();
    const auto staying = ZT::MakeRC<LRecorder>();
    ZT::LNotificationDistributor* raw = nullptr;
    {
        auto distributor = ZT::MakeRC<LCountedDistributor>();
        raw = distributor.Get();
        going->Register(raw, kA);
        going->Register(raw, kB);
        staying->Register(raw, kA);
    }
    going.Reset();
    EXPECT_EQ(LRecorder::sDestroyed, clientsBefore + 1);
    EXPECT_EQ(LCountedDistributor::sDestroyed, distributorsBefore) << "a registration still holds it";
    EXPECT_RESULT_EQ(staying->Unregister(raw, ZT::InternNotificationID(kA)), ZT::S_OK);
    EXPECT_EQ(LCountedDistributor::sDestroyed, distributorsBefore + 1);
    EXPECT_EQ(staying->GetRegistrationCount(), 0);
    EXPECT_EQ(staying->GetRefCount(), 1);
    EXPECT_EQ(staying->GetInternalRefCount(), 0);
}

TEST(NotificationClient, AClientThatDropsItsOwnLastReferenceWhileBeingCalledSurvivesTheCall)
{
    const int clientsBefore = LRecorder::sDestroyed;
    const auto distributor = ZT::MakeRC<ZT::LNotificationDistributor>();
    auto client = ZT::MakeRC<LRecorder>();
    client->Register(distributor.Get(), kA);
    int callsAfterDrop = -1;
    client->mOnNotify = [&](ZT::LNotificationDistributor*, const ZT::RCPtr<ZT::LNotification>&) {
        LRecorder* self = client.Get();
        client.Reset(); // unregisters; the delivery's own reference keeps us until we return
        callsAfterDrop = self->mCalls;
    };
    (void)distributor->Send(Make(kA)); // the deliveries are checked
    EXPECT_EQ(callsAfterDrop, 1);
    EXPECT_EQ(LRecorder::sDestroyed, clientsBefore + 1);
    EXPECT_EQ(distributor->GetRegistrationCount(), 0);
}

TEST(NotificationClient, ACenterDroppedWithClientsReleasesTheClientsItKeptAlive)
{
    const int clientsBefore = LRecorder::sDestroyed;
    auto center = ZT::MakeRC<ZT::LNotificationCenter>(ZT::WString(L"client test"));
    {
        auto client = ZT::MakeRC<LRecorder>();
        client->Register(center.Get(), kA);
        ASSERT_RESULT_EQ(center->Post(Make(kA)), ZT::S_OK);
    }
    EXPECT_EQ(LRecorder::sDestroyed, clientsBefore + 1) << "the client's own last reference broke its cycle";

    auto kept = ZT::MakeRC<LRecorder>();
    kept->Register(center.Get(), kA);
    center.Reset();
    EXPECT_EQ(kept->GetRegistrationCount(), 0) << "the center detached it on the way out";
    EXPECT_EQ(kept->GetRefCount(), 1);
    EXPECT_EQ(kept->GetInternalRefCount(), 0);
}

TEST(NotificationClient, LastReferencesDroppedOnManyThreadsDestroyEachClientOnce)
{
    constexpr int kClients = 64;
    const int clientsBefore = LRecorder::sDestroyed;
    const auto distributor = ZT::MakeRC<ZT::LNotificationDistributor>();
    std::vector<ZT::RCPtr<LRecorder>> clients;
    for (int i = 0; i < kClients; ++i) {
        clients.push_back(ZT::MakeRC<LRecorder>());
        clients.back()->Register(distributor.Get(), i % 2 ? kA : kB);
    }
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&clients, t] {
            for (int i = t; i < kClients; i += 4)
                clients[static_cast<std::size_t>(i)].Reset();
        });
    for (auto& thread : threads)
        thread.join();
    EXPECT_EQ(LRecorder::sDestroyed, clientsBefore + kClients);
    EXPECT_EQ(distributor->GetRegistrationCount(), 0);
    EXPECT_EQ(distributor->GetRefCount(), 1);
}

} // namespace
