#include "ZTFramework/Notification/NotificationHandler.h"

#include "ZTFramework/Notification/AutoNotificationDisabler.h"
#include "ZTFramework/Notification/NotificationClient.h"
#include "NotificationTestSupport.h"
#include "tests/Support/Printers.h"

#include <gtest/gtest.h>

#include <regex>
#include <string>
#include <vector>

namespace NotificationHandlerTest {

using namespace NotificationTestSupport;

constexpr const wchar_t* kClick = L"NID_HANDLER_CLICK";
constexpr const wchar_t* kValue = L"NID_HANDLER_VALUE";

// A client that routes notifications to member functions, the way controls do.
class LOwner : public ZT::LNotificationClient {
public:
    LOwner() : mHandler(new ZT::LNotificationHandler<LOwner>(this)) {}

    ZT::ZTRESULT HandleNotification(ZT::LNotificationDistributor* source,
                                    const ZT::RCPtr<ZT::LNotification>& notification) override
    {
        return mHandler->Dispatch(source, notification);
    }
    ZT::ZTRESULT OnFirstClick(ZT::LNotificationDistributor*, const ZT::RCPtr<ZT::LNotification>&)
    {
        mLog.push_back("first click");
        return ZT::ZTRESULT(11);
    }
    ZT::ZTRESULT OnSecondClick(ZT::LNotificationDistributor*, const ZT::RCPtr<ZT::LNotification>&)
    {
        mLog.push_back("second click");
        return ZT::ZTRESULT(22);
    }
    ZT::ZTRESULT OnValue(ZT::LNotificationDistributor*, const ZT::RCPtr<ZT::LNotification>& n)
    {
        mLog.push_back("value " + std::to_string(ValueOf(n)));
        return ZT::S_OK;
    }

    ZT::RCPtr<ZT::LNotificationHandler<LOwner>> mHandler;
    std::vector<std::string> mLog;
};

using Handler = ZT::LNotificationHandler<LOwner>;

TEST(NotificationHandler, DispatchCallsTheFunctionBoundToExactlyThatSourceAndID)
{
    const auto first = ZT::MakeRC<ZT::LNotificationDistributor>();
    const auto second = ZT::MakeRC<ZT::LNotificationDistributor>();
    const auto owner = ZT::MakeRC<LOwner>();
    Handler& handler = *owner->mHandler;
    ASSERT_RESULT_EQ(handler.AddHandler(&LOwner::OnFirstClick, 0, first.Get(), kClick), ZT::S_OK);
    ASSERT_RESULT_EQ(handler.AddHandler(&LOwner::OnSecondClick, 0, second.Get(), kClick), ZT::S_OK);
    ASSERT_RESULT_EQ(handler.AddHandler(&LOwner::OnValue, 0, first.Get(), kValue), ZT::S_OK);

    (void)first->Send(Make(kClick)); // the deliveries are checked
    (void)second->Send(Make(kClick)); // the deliveries are checked
    (void)first->Send(Make(kValue, 4)); // the deliveries are checked
    (void)second->Send(Make(kValue, 5)); // the deliveries are checked; not registered there
    EXPECT_EQ(owner->mLog, (std::vector<std::string>{"first click", "second click", "value 4"}));

    // Dispatch passes the function's result; an unbound pair gives S_OK without a call.
    EXPECT_EQ(handler.Dispatch(second.Get(), Make(kClick)), 22);
    EXPECT_RESULT_EQ(handler.Dispatch(second.Get(), Make(kValue)), ZT::S_OK);
    EXPECT_EQ(owner->mLog.size(), 4u);
}

TEST(NotificationHandler, AddingKeepsAnExistingBindingAndRefusesBadArguments)
{
    const auto source = ZT::MakeRC<ZT::LNotificationDistributor>();
    const auto owner = ZT::MakeRC<LOwner>();
    Handler& handler = *owner->mHandler;
    EXPECT_RESULT_EQ(handler.AddHandler(&LOwner::OnFirstClick, 0, nullptr, kClick), ZT::E_INVALIDARG);
    EXPECT_RESULT_EQ(handler.AddHandler(&LOwner::OnFirstClick, 0, source.Get(), L""), ZT::E_FAIL);
    EXPECT_EQ(handler.GetHandlerCount(), 0u);

    ASSERT_RESULT_EQ(handler.AddHandler(&LOwner::OnFirstClick, 7, source.Get(), kClick), ZT::S_OK);
    ASSERT_RESULT_EQ(handler.AddHandler(&LOwner::OnSecondClick, 8, source.Get(), kClick, ZT::kNotifyLatestPostedOnly),
                     ZT::S_OK);
    Handler::HandlerEntry entry;
    std::uint32_t flags = 0;
    ASSERT_RESULT_EQ(handler.GetHandler(source.Get(), kClick, entry, flags), ZT::S_OK);
    EXPECT_EQ(entry.mFunction, &LOwner::OnFirstClick);
    EXPECT_EQ(entry.mExtra, 7u);
    EXPECT_EQ(flags, ZT::kNotifyLatestPostedOnly) << "the registration itself took the new flags";
    EXPECT_EQ(owner->GetRegistrationCount(), 1);

    EXPECT_TRUE(handler.RemoveHandler(source.Get(), kClick));
    EXPECT_FALSE(handler.RemoveHandler(source.Get(), kClick));
    EXPECT_RESULT_EQ(handler.GetHandler(source.Get(), kClick, entry, flags), ZT::E_FAIL);
}

TEST(NotificationHandler, TheAutoDisablerSilencesOneHandlerForItsScopeAndRestoresItsFlags)
{
    const auto source = ZT::MakeRC<ZT::LNotificationDistributor>();
    const auto owner = ZT::MakeRC<LOwner>();
    ASSERT_RESULT_EQ(owner->mHandler->AddHandler(&LOwner::OnFirstClick, 3, source.Get(), kClick, ZT::kNotifyLatestPostedOnly),
                     ZT::S_OK);
    ASSERT_RESULT_EQ(owner->mHandler->AddHandler(&LOwner::OnValue, 0, source.Get(), kValue), ZT::S_OK);
    {
        ZT::CAutoNotificationDisabler<LOwner> disabler(owner->mHandler, source.Get(), kValue);
        EXPECT_RESULT_EQ(source->Send(Make(kValue, 1)), ZT::S_FALSE);
        EXPECT_EQ(owner->GetRegistrationCount(), 1);
        ZT::CAutoNotificationDisabler<LOwner> clickDisabler(owner->mHandler, source.Get(), kClick);
        EXPECT_EQ(owner->GetRegistrationCount(), 0);
    }
    EXPECT_EQ(owner->GetRegistrationCount(), 2);
    (void)source->Send(Make(kValue, 2)); // the deliveries are checked
    EXPECT_EQ(owner->mLog, (std::vector<std::string>{"value 2"}));
    ZT::LNotificationHandler<LOwner>::HandlerEntry entry;
    std::uint32_t flags = 0;
    ASSERT_RESULT_EQ(owner->mHandler->GetHandler(source.Get(), kClick, entry, flags), ZT::S_OK);
    EXPECT_EQ(flags, ZT::kNotifyLatestPostedOnly);
    EXPECT_EQ(entry.mExtra, 3u);
}

TEST(NotificationHandler, TheAutoDisablerThrowsAFailedResultNamingItsInstance)
{
    const auto source = ZT::MakeRC<ZT::LNotificationDistributor>();
    const auto owner = ZT::MakeRC<LOwner>();
    try {
        ZT::CAutoNotificationDisabler<LOwner> disabler(owner->mHandler, source.Get(), kClick);
        FAIL() << "no exception";
    } catch (const ZT::Exception<ZT::FailedResultException>& e) {
        EXPECT_TRUE(std::regex_match(
            e.what(), std::regex(R"(Failed Result : ZTRESULT = 80004005 : )"
                                 R"(ZT::CAutoNotificationDisabler<class NotificationHandlerTest::LOwner>::)"
                                 R"(CAutoNotificationDisabler : ZTFramework/Notification/AutoNotificationDisabler : )"
                                 R"(Line [0-9]+)")))
            << e.what();
    }
}

} // namespace NotificationHandlerTest
