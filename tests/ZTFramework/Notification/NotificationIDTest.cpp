#include "ZTFramework/Notification/NotificationID.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

namespace {

using ZT::InternNotificationID;
using ZT::NotificationID;

TEST(NotificationID, EqualTextsShareOneIDThatNamesItAndCaseMatters)
{
    const NotificationID first = InternNotificationID(L"NID_LEFT_CLICK");
    std::wstring sameText = L"NID_LEFT_CLICK"; // different characters, same text
    EXPECT_NE(first, 0u);
    EXPECT_EQ(InternNotificationID(sameText.c_str()), first);
    const NotificationID lower = InternNotificationID(L"nid_left_click");
    EXPECT_NE(lower, 0u);
    EXPECT_NE(lower, first);
    EXPECT_EQ(InternNotificationID(L""), 0u);
    EXPECT_EQ(InternNotificationID(nullptr), 0u);

    // An ID stands for its text and names it; the interned characters are the text itself.
    EXPECT_EQ(InternNotificationID(ZT::NotificationIDText(first)), first);
    EXPECT_TRUE(ZT::GetNotificationName(first) == L"NID_LEFT_CLICK");
    EXPECT_STREQ(ZT::NotificationIDText(first), L"NID_LEFT_CLICK");

    const std::wstring notInterned = L"NID_NEVER_INTERNED";
    EXPECT_TRUE(ZT::GetNotificationName(reinterpret_cast<NotificationID>(notInterned.c_str())).IsEmpty());
    EXPECT_TRUE(ZT::GetNotificationName(0).IsEmpty());
}

TEST(NotificationID, ThreadsInterningTheSameTextsAgreeOnTheIDs)
{
    constexpr int kThreads = 4;
    constexpr int kTexts = 200;
    std::vector<std::vector<NotificationID>> ids(kThreads, std::vector<NotificationID>(kTexts));
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([&ids, t] {
            for (int i = 0; i < kTexts; ++i) {
                // Each thread starts at its own place, odd ones walking backwards.
                const int step = t % 2 ? kTexts - 1 - i : i;
                const int n = (step + t * 53) % kTexts;
                const std::wstring text = L"NID_THREADED_" + std::to_wstring(n);
                ids[t][n] = InternNotificationID(text.c_str());
            }
        });
    for (auto& thread : threads)
        thread.join();
    for (int n = 0; n < kTexts; ++n) {
        for (int t = 1; t < kThreads; ++t)
            ASSERT_EQ(ids[t][n], ids[0][n]) << n;
        EXPECT_EQ(ZT::GetNotificationName(ids[0][n]).ToWide(), L"NID_THREADED_" + std::to_wstring(n));
    }
}

} // namespace
