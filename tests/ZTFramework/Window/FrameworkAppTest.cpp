#include "ZTFramework/Application/FrameworkApp.h"

#include "ZTFramework/ControlBase/ControlNotificationIDs.h"
#include "ZTFramework/ControlBase/RootWindow.h"
#include "ZTFramework/Notification/Notification.h"
#include "tests/Support/Printers.h"
#include "tests/ZTFramework/Window/WindowTestSupport.h"

#include <gtest/gtest.h>

namespace {

using ZT::LFrameworkApp;
using ZT::WString;
using WindowTest::Lines;

TEST(FrameworkApp, ExitRequestsAreRefusedWhileTheCheckSaysNoAndAltF4IsOne)
{
    auto app = ZT::MakeRC<LFrameworkApp>();
    EXPECT_TRUE(ZT::IsNotificationPoolingOn()) << "the application turns pooling on when it is made";
    ASSERT_RESULT_EQ(app->Startup(), ZT::S_OK);
    EXPECT_EQ(app->FindKeyBinding(WString(L"Alt+VKEY_F4")).ToUTF8(), "NID_APP_EXIT_REQ");

    bool updating = true;
    int ended = 0;
    app->SetExitCheck([&updating] { return !updating; });
    app->SetExitHandler([&ended] { ++ended; });

    // Alt+F4, Escape's path (RequestExit) and another source sending into the center alike.
    EXPECT_TRUE(app->HandleKey(WString(L"Alt+VKEY_F4")));
    (void)app->RequestExit();
    (void)app->GetApplicationCenter()->Send(ZT::CreateNotification(LFrameworkApp::kExitRequestId, nullptr));
    EXPECT_EQ(ended, 0) << "an exit request went through while an update runs";
    EXPECT_EQ(app->GetRefusedExitCount(), 3u);
    EXPECT_FALSE(app->IsExitApproved());

    updating = false;
    EXPECT_TRUE(app->HandleKey(WString(L"Alt+VKEY_F4")));
    EXPECT_EQ(ended, 1);
    EXPECT_TRUE(app->IsExitApproved());
    EXPECT_FALSE(app->HandleKey(WString(L"VKEY_F4"))) << "F4 without Alt has no binding";

    app->Shutdown();
    EXPECT_FALSE(ZT::IsNotificationPoolingOn()) << "shutdown turns pooling off";
    (void)app->RequestExit();
    EXPECT_EQ(ended, 1) << "after shutdown the application no longer listens";
}

TEST(FrameworkApp, AKeyThatHasABindingKeepsIt)
{
    auto app = ZT::MakeRC<LFrameworkApp>();
    ASSERT_TRUE(app->BindKey(WString(L"Alt+VKEY_F4"), L"NID_SOMETHING_ELSE"));
    ASSERT_RESULT_EQ(app->Startup(), ZT::S_OK);
    EXPECT_EQ(app->FindKeyBinding(WString(L"Alt+VKEY_F4")).ToUTF8(), "NID_SOMETHING_ELSE");
    EXPECT_FALSE(app->BindKey(WString(L"Alt+VKEY_F4"), L"NID_THIRD"));
    EXPECT_FALSE(app->BindKey(WString(), L"NID_THIRD")) << "an empty key name";
    app->Shutdown();
}

TEST(FrameworkApp, TheIdleStepDeliversCentersFirstThenEachWindowLastFirst)
{
    auto app = ZT::MakeRC<LFrameworkApp>();
    ASSERT_RESULT_EQ(app->Startup(), ZT::S_OK);
    auto first = ZT::MakeRC<ZT::LRootWindow>();
    auto second = ZT::MakeRC<ZT::LRootWindow>();
    app->AddRootWindow(first.Get());
    app->AddRootWindow(second.Get());
    app->AddRootWindow(first.Get()); // twice: still processed once

    auto recorder = ZT::MakeRC<WindowTest::Recorder>();
    recorder->NameSource(app->GetApplicationCenter().Get(), "center");
    recorder->NameSource(first.Get(), "first");
    recorder->NameSource(second.Get(), "second");
    recorder->Listen(app->GetApplicationCenter().Get(), {L"NID_WINDOW_TEST_POSTED"});
    recorder->Listen(first.Get(), {ZT::ControlNotificationIDs::kIdle, L"NID_WINDOW_TEST_POSTED"});
    recorder->Listen(second.Get(), {ZT::ControlNotificationIDs::kIdle});

    ASSERT_RESULT_EQ(first->Post(ZT::CreateNotification(L"NID_WINDOW_TEST_POSTED", nullptr)), ZT::S_OK);
    ASSERT_RESULT_EQ(app->GetApplicationCenter()->Post(ZT::CreateNotification(L"NID_WINDOW_TEST_POSTED", nullptr)), ZT::S_OK);
    EXPECT_FALSE(app->ProcessNotifications(true)) << "nothing should be left waiting";
    EXPECT_EQ(recorder->Take(), Lines({"NID_WINDOW_TEST_POSTED center", "NID_IDLE second", "NID_WINDOW_TEST_POSTED first",
                                       "NID_IDLE first"}));

    app->RemoveRootWindow(second.Get());
    (void)app->ProcessNotifications(false);
    EXPECT_TRUE(recorder->Take().empty()) << "an idle step that is not idle sends no NID_IDLE";
    (void)app->ProcessNotifications(true);
    EXPECT_EQ(recorder->Take(), Lines({"NID_IDLE first"})) << "a removed window's queue is processed no more";
    app->Shutdown();
}

} // namespace
