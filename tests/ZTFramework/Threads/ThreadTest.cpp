#include "ZTFramework/Threads/Thread.h"

#include "ZTFramework/Threads/Event.h"
#include "tests/ZTFramework/Threads/DebugCapture.h"

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <stdexcept>
#include <sys/resource.h>

namespace ZT {
namespace {

// Shared between a test and its thread.
struct Gate {
    Event mBegan{false};
    Event mRelease{false};
    std::atomic<int> mRuns{0};
};

std::function<std::uint32_t()> GatedEntry(const std::shared_ptr<Gate>& gate, std::uint32_t result)
{
    return [gate, result] {
        gate->mRuns.fetch_add(1);
        gate->mBegan.Set();
        (void)gate->mRelease.Wait(kInfinite);
        return result;
    };
}

TEST(Thread, DoesNotRunBeforeStartAndRunsOnceAfter)
{
    auto gate = std::make_shared<Gate>();
    Thread thread(GatedEntry(gate, 7));
    EXPECT_FALSE(thread.IsFinished());
    EXPECT_EQ(gate->mBegan.Wait(20), kWaitTimeout) << "a new thread waits for Start";

    EXPECT_TRUE(thread.Start());
    EXPECT_FALSE(thread.Start()) << "a thread starts once";
    ASSERT_EQ(gate->mBegan.Wait(kInfinite), kWaitObject0);
    EXPECT_FALSE(thread.IsFinished());
    gate->mRelease.Set();
    EXPECT_TRUE(thread.Join(kInfinite));
    EXPECT_TRUE(thread.IsFinished());
    EXPECT_EQ(thread.GetExitCode(), 7u);
    EXPECT_EQ(gate->mRuns.load(), 1);
}

TEST(Thread, JoinWithZeroOnANeverStartedThreadStartsItAndReportsFalseUntilItEnds)
{
    auto gate = std::make_shared<Gate>();
    Thread thread(GatedEntry(gate, 3));
    EXPECT_FALSE(thread.Join(0));
    EXPECT_EQ(gate->mBegan.Wait(kInfinite), kWaitObject0) << "Join resumes the thread";
    EXPECT_FALSE(thread.Join(0));
    EXPECT_FALSE(thread.Start()) << "a thread started by Join is started";
    gate->mRelease.Set();
    EXPECT_TRUE(thread.Join(kInfinite));
    EXPECT_TRUE(thread.Join(0));
    EXPECT_EQ(thread.GetExitCode(), 3u);
    EXPECT_EQ(gate->mRuns.load(), 1);
}

std::uint32_t CountingEntry(void* argument)
{
    static_cast<std::atomic<int>*>(argument)->fetch_add(1);
    return 11;
}

TEST(Thread, DestroyingANeverStartedThreadLetsItRunItsEntry)
{
    std::atomic<int> runs{0};
    const std::int32_t liveBefore = Thread::GetLiveCount();
    {
        Thread thread(&CountingEntry, &runs);
        EXPECT_EQ(Thread::GetLiveCount(), liveBefore + 1);
    }
    EXPECT_EQ(runs.load(), 1);
    EXPECT_EQ(Thread::GetLiveCount(), liveBefore);
}

TEST(Thread, EntryThatThrowsEndsTheThreadWithAFailureCodeAndALine)
{
    Testing::CDebugCapture capture;
    Thread thread([]() -> std::uint32_t { throw std::runtime_error("disk on fire"); });
    ASSERT_TRUE(thread.Start());
    EXPECT_TRUE(thread.Join(kInfinite));
    EXPECT_EQ(thread.GetExitCode(), kThreadExitCodeFailed);
    EXPECT_NE(capture.Text().find("disk on fire"), std::string::npos) << capture.Text();
}

TEST(Thread, LowerPriorityAppliesToThatThreadOnly)
{
    // Checked before the thread exists: a thread never started waits for its start until its
    // destructor's time-out.
    const int niceOfTest = getpriority(PRIO_PROCESS, 0);
    if (niceOfTest >= Thread::NiceValueForPriority(kThreadPriorityLowest))
        GTEST_SKIP() << "the tests run at nice " << niceOfTest << ", no higher than the lowest priority's";
    auto gate = std::make_shared<Gate>();
    std::atomic<int> niceInThread{-100};
    Event measure(true);
    Event measured(true);
    Thread thread([&]() -> std::uint32_t {
        (void)measure.Wait(kInfinite);
        niceInThread = getpriority(PRIO_PROCESS, 0);
        measured.Set();
        return 0;
    });
    thread.SetPriority(kThreadPriorityLowest); // before it begins: applied when it does
    ASSERT_TRUE(thread.Start());
    measure.Set();
    ASSERT_EQ(measured.Wait(kInfinite), kWaitObject0);
    EXPECT_TRUE(thread.Join(kInfinite));
    EXPECT_EQ(niceInThread.load(), Thread::NiceValueForPriority(kThreadPriorityLowest));
    EXPECT_GT(niceInThread.load(), niceOfTest);
    EXPECT_EQ(getpriority(PRIO_PROCESS, 0), niceOfTest);
}

} // namespace
} // namespace ZT
