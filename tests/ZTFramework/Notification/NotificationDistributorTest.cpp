#include "ZTFramework/Notification/NotificationDistributor.h"
#include "tests/Support/Printers.h"

#include "NotificationTestSupport.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

namespace {

using namespace NotificationTestSupport;
using Log = std::vector<std::string>;

constexpr const wchar_t* kClick = L"NID_DISTRIBUTOR_CLICK";

// A distributor with clients a, b, c, d registered in that order for kClick.
struct Fixture {
    explicit Fixture(int count = 4)
    {
        for (int i = 0; i < count; ++i) {
            clients.push_back(ZT::MakeRC<LRecorder>(std::string(1, static_cast<char>('a' + i)), &log));
            EXPECT_NE(clients.back()->Register(distributor.Get(), kClick), 0u);
        }
    }
    ZT::RCPtr<ZT::LNotificationDistributor> distributor = ZT::MakeRC<ZT::LNotificationDistributor>();
    Log log;
    std::vector<ZT::RCPtr<LRecorder>> clients;
};

// Clients are called from the latest registered to the first. While one client is being called,
// it unregisters some clients; every client still registered must be called exactly once, and
// removed ones not after their removal.
TEST(NotificationDistributor, UnregisteringDuringDeliverySkipsNobodyAndCallsNobodyTwice)
{
    struct Row {
        const char* caller;     // the client that unregisters
        std::string removed;    // whom it unregisters
        Log expected;
    };
    const Row rows[] = {
        {"c", "c", {"d", "c", "b", "a"}},   // itself
        {"c", "a", {"d", "c", "b"}},        // one registered before it
        {"c", "b", {"d", "c", "a"}},        // the next one in line
        {"c", "ab", {"d", "c"}},            // all before it
        {"c", "cba", {"d", "c"}},           // itself and all before it
        {"c", "d", {"d", "c", "b", "a"}},   // one already called
        {"c", "dcb", {"d", "c", "a"}},      // already called, itself and the next
        {"a", "abcd", {"d", "c", "b", "a"}}, // the last one called removes everyone
        {"d", "d", {"d", "c", "b", "a"}},   // the first one called removes itself
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(std::string(row.caller) + " removes " + row.removed);
        Fixture f;
        LRecorder* caller = f.clients[static_cast<std::size_t>(row.caller[0] - 'a')].Get();
        caller->mOnNotify = [&](ZT::LNotificationDistributor* source, const ZT::RCPtr<ZT::LNotification>& n) {
            for (char name : row.removed)
                EXPECT_RESULT_EQ(f.clients[static_cast<std::size_t>(name - 'a')]->Unregister(source, n->GetID()),
                                 ZT::S_OK);
        };
        EXPECT_RESULT_EQ(f.distributor->Send(Make(kClick)), ZT::S_OK);
        EXPECT_EQ(f.log, row.expected);
        EXPECT_EQ(f.distributor->GetRegistrationCount(), static_cast<std::int32_t>(4 - row.removed.size()));
    }
}

TEST(NotificationDistributor, ClientsRegisteredDuringDeliveryWaitForTheNextSend)
{
    Fixture f(2);
    const auto late = ZT::MakeRC<LRecorder>("late", &f.log);
    f.clients[1]->mOnNotify = [&](ZT::LNotificationDistributor* source, const ZT::RCPtr<ZT::LNotification>&) {
        late->Register(source, kClick);
    };
    (void)f.distributor->Send(Make(kClick)); // the deliveries are checked
    EXPECT_EQ(f.log, (Log{"b", "a"}));
    f.log.clear();
    f.clients[1]->mOnNotify = nullptr;
    (void)f.distributor->Send(Make(kClick)); // the deliveries are checked
    EXPECT_EQ(f.log, (Log{"late", "b", "a"}));
}

TEST(NotificationDistributor, ASendOfTheSameIDFromInsideAHandlerDoesNotCutTheOuterOneShort)
{
    Fixture f(3);
    bool nested = false;
    f.clients[1]->mOnNotify = [&](ZT::LNotificationDistributor* source, const ZT::RCPtr<ZT::LNotification>&) {
        if (nested)
            return;
        nested = true;
        (void)source->Send(Make(kClick)); // the deliveries are checked
    };
    (void)f.distributor->Send(Make(kClick)); // the deliveries are checked
    EXPECT_EQ(f.log, (Log{"c", "b", "c", "b", "a", "a"}));
}

TEST(NotificationDistributor, AnExceptionFromAClientReachesTheSenderAndLeavesTheDistributorUsable)
{
    Fixture f(3);
    f.clients[1]->mOnNotify = [](ZT::LNotificationDistributor*, const ZT::RCPtr<ZT::LNotification>&) {
        throw std::runtime_error("client failed");
    };
    EXPECT_THROW((void)f.distributor->Send(Make(kClick)), std::runtime_error); // the throw is what is checked
    EXPECT_EQ(f.log, (Log{"c", "b"}));
    f.clients[1]->mOnNotify = nullptr;
    f.log.clear();
    // A removal now must not adjust a delivery that no longer runs.
    EXPECT_RESULT_EQ(f.clients[0]->Unregister(f.distributor.Get(), ZT::InternNotificationID(kClick)), ZT::S_OK);
    (void)f.distributor->Send(Make(kClick)); // the deliveries are checked
    EXPECT_EQ(f.log, (Log{"c", "b"}));
}

TEST(NotificationDistributor, RegisteringTwiceReplacesTheFlagsOfTheOneEntry)
{
    Fixture f(1);
    LRecorder& client = *f.clients[0];
    std::uint32_t flags = 99;
    ASSERT_RESULT_EQ(f.distributor->GetClientFlags(&client, kClick, flags), ZT::S_OK);
    EXPECT_EQ(flags, 0u);

    EXPECT_EQ(client.Register(f.distributor.Get(), kClick, ZT::kNotifyLatestPostedOnly), ZT::InternNotificationID(kClick));
    const auto pool = f.distributor->FindPool(ZT::InternNotificationID(kClick));
    EXPECT_EQ(pool->GetClientCount(), 1u);
    EXPECT_EQ(pool->GetFlagsUnion(), ZT::kNotifyLatestPostedOnly);
    EXPECT_EQ(client.GetRegistrationCount(), 1);
    EXPECT_EQ(f.distributor->GetRegistrationCount(), 1);

    // Back to 0: the union is recomputed from the entries.
    client.Register(f.distributor.Get(), kClick, 0);
    EXPECT_EQ(pool->GetFlagsUnion(), 0u);
    EXPECT_RESULT_EQ(f.distributor->GetClientFlags(&client, L"NID_DISTRIBUTOR_OTHER", flags), ZT::E_FAIL);
    EXPECT_RESULT_EQ(f.distributor->GetClientFlags(&client, L"", flags), ZT::E_FAIL);
}

TEST(NotificationDistributor, BadArgumentsAndSendsWithoutClientsGiveResultsNotExceptionsOrCalls)
{
    Fixture f(1);
    EXPECT_RESULT_EQ(f.distributor->Send(Make(L"NID_DISTRIBUTOR_NOBODY")), ZT::S_FALSE);
    EXPECT_RESULT_EQ(f.distributor->Send(nullptr), ZT::E_INVALIDARG);
    LRecorder& client = *f.clients[0];
    const ZT::NotificationID click = ZT::InternNotificationID(kClick);
    EXPECT_RESULT_EQ(f.distributor->AddClient(nullptr, click, 0), ZT::E_INVALIDARG);
    EXPECT_RESULT_EQ(f.distributor->AddClient(&client, 0, 0), ZT::S_FALSE);
    EXPECT_RESULT_EQ(f.distributor->RemoveClient(nullptr, click), ZT::E_INVALIDARG);
    EXPECT_RESULT_EQ(f.distributor->RemoveClient(&client, 0), ZT::E_INVALIDARG);
    EXPECT_RESULT_EQ(f.distributor->RemoveClient(&client, ZT::InternNotificationID(L"NID_DISTRIBUTOR_OTHER")),
                     ZT::S_FALSE);
    EXPECT_EQ(client.Register(nullptr, kClick), 0u);
    EXPECT_EQ(client.Register(f.distributor.Get(), L""), 0u);
    EXPECT_RESULT_EQ(client.Unregister(nullptr, click), ZT::E_INVALIDARG);
    EXPECT_RESULT_EQ(client.Unregister(f.distributor.Get(), 0), ZT::E_INVALIDARG);
    EXPECT_RESULT_EQ(client.Unregister(f.distributor.Get(), ZT::InternNotificationID(L"NID_DISTRIBUTOR_OTHER")),
                     ZT::S_FALSE);
    EXPECT_EQ(client.GetRegistrationCount(), 1);

    const auto stranger = ZT::MakeRC<LRecorder>();
    EXPECT_RESULT_EQ(stranger->Unregister(f.distributor.Get(), click), ZT::S_FALSE) << "holds no registration";

    // A pool emptied by unregistering stays, empty.
    EXPECT_RESULT_EQ(client.Unregister(f.distributor.Get(), click), ZT::S_OK);
    EXPECT_TRUE(f.distributor->FindPool(click));
    EXPECT_RESULT_EQ(f.distributor->Send(Make(kClick)), ZT::S_FALSE);
    EXPECT_TRUE(f.log.empty());
}

TEST(NotificationDistributor, DetachAllClientsUnregistersEveryoneAndTheirCountsFollow)
{
    Fixture f(3);
    const auto other = ZT::MakeRC<ZT::LNotificationDistributor>();
    f.clients[0]->Register(f.distributor.Get(), L"NID_DISTRIBUTOR_SECOND");
    f.clients[0]->Register(other.Get(), kClick);
    EXPECT_EQ(f.distributor->GetRegistrationCount(), 4);
    EXPECT_EQ(f.distributor->GetRefCount(), 5) << "one outside reference and one per registration";

    EXPECT_RESULT_EQ(f.distributor->DetachAllClients(), ZT::S_OK);
    EXPECT_EQ(f.distributor->GetRegistrationCount(), 0);
    EXPECT_EQ(f.distributor->GetRefCount(), 1);
    EXPECT_EQ(f.distributor->GetInternalRefCount(), 0);
    EXPECT_EQ(f.clients[0]->GetRegistrationCount(), 1) << "still registered with the other distributor";
    EXPECT_EQ(f.clients[1]->GetRegistrationCount(), 0);
    EXPECT_EQ(f.clients[1]->GetRefCount(), 1);
    EXPECT_EQ(f.clients[1]->GetInternalRefCount(), 0);
    EXPECT_RESULT_EQ(f.distributor->Send(Make(kClick)), ZT::S_FALSE);
    EXPECT_TRUE(f.clients[0]->mValues.empty());
}

TEST(NotificationDistributor, DeliverAtCallsOneClientAndReportsWhereItIsAfterwards)
{
    Fixture f(3);
    const auto pool = f.distributor->FindPool(ZT::InternNotificationID(kClick));
    f.clients[1]->mOnNotify = [&](ZT::LNotificationDistributor* source, const ZT::RCPtr<ZT::LNotification>& n) {
        (void)f.clients[0]->Unregister(source, n->GetID()); // the sends after it show it
    };
    EXPECT_EQ(pool->DeliverAt(f.distributor.Get(), 1, Make(kClick)), 0);
    EXPECT_EQ(f.log, (Log{"b"}));
    EXPECT_EQ(pool->DeliverAt(f.distributor.Get(), 5, Make(kClick)), 2);
}

} // namespace
