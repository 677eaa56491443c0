#include "ZTFramework/Threads/RetriggerableThreader.h"

#include "ZTFramework/Threads/Holder.h"
#include "tests/Support/Printers.h"
#include "tests/ZTFramework/Threads/DebugCapture.h"

#include <gtest/gtest.h>

#include <atomic>
#include <stdexcept>
#include <thread>

namespace ZT {
namespace {

// A worker whose DoWork signals that it began, waits to be released, and returns a set result.
class LGatedWorker : public LThreadWorker {
public:
    explicit LGatedWorker(ZTRESULT result = S_OK, bool gated = true) : mResult(result)
    {
        if (!gated)
            mRelease.Set();
    }
    ZTRESULT DoWork(const RCPtr<LRefCountedObject>& parameter) override
    {
        mRuns.fetch_add(1);
        RCPtr<LHolder<int>> holder = parameter;
        if (holder)
            mLastValue = holder->Get();
        mRunThread = std::this_thread::get_id();
        mBegan.Set();
        (void)mRelease.Wait(kInfinite);
        mEnded.Set();
        return mResult;
    }

    Event mBegan{false};
    Event mRelease{false};
    Event mEnded{false};
    std::atomic<int> mRuns{0};
    std::atomic<int> mLastValue{-1};
    std::thread::id mRunThread;
    const ZTRESULT mResult;
};

class LThrowingWorker : public LThreadWorker {
public:
    ZTRESULT DoWork(const RCPtr<LRefCountedObject>&) override { throw std::logic_error("bad block table"); }
};

TEST(RetriggerableThreader, SecondTriggerFailsWhileTheFirstRunsAndSucceedsAfterItsDoneEvent)
{
    RetriggerableThreader threader(WString(L"engine worker"));
    const auto first = MakeRC<LGatedWorker>();
    const auto second = MakeRC<LGatedWorker>(S_OK, false);
    const auto done = MakeRC<LEvent>();
    const auto otherDone = MakeRC<LEvent>();

    ASSERT_RESULT_EQ(threader.Trigger(first, MakeRC<LHolder<int>>(1), done), S_OK);
    ASSERT_EQ(first->mBegan.Wait(kInfinite), kWaitObject0);
    EXPECT_TRUE(threader.IsBusy());
    EXPECT_RESULT_EQ(threader.Trigger(second, MakeRC<LHolder<int>>(2), otherDone), E_FAIL);

    first->mRelease.Set();
    ASSERT_EQ(done->Wait(kInfinite), kWaitObject0);
    EXPECT_FALSE(threader.IsBusy());
    EXPECT_EQ(otherDone->Wait(0), kWaitTimeout) << "the refused task stored nothing";

    ASSERT_RESULT_EQ(threader.Trigger(second, MakeRC<LHolder<int>>(3), otherDone), S_OK);
    ASSERT_EQ(otherDone->Wait(kInfinite), kWaitObject0);
    EXPECT_EQ(first->mRuns.load(), 1);
    EXPECT_EQ(second->mRuns.load(), 1);
    EXPECT_EQ(second->mLastValue.load(), 3) << "the refused trigger's parameter must not run";
    EXPECT_EQ(done->Wait(0), kWaitTimeout) << "the first done event is signalled once";
}

TEST(RetriggerableThreader, TasksRunOnTheThreadersOneThreadAndTheirReferencesGoBeforeTheDoneEvent)
{
    RetriggerableThreader threader;
    const auto done = MakeRC<LEvent>();
    const auto first = MakeRC<LGatedWorker>(S_OK, false);
    const auto second = MakeRC<LGatedWorker>(S_OK, false);
    const auto parameter = MakeRC<LHolder<int>>(5);
    const std::int64_t tasksBefore = RetriggerableThreader::GetTaskCount();
    ASSERT_RESULT_EQ(threader.Trigger(first, parameter, done), S_OK);
    ASSERT_EQ(done->Wait(kInfinite), kWaitObject0);
    EXPECT_EQ(parameter->GetRefCount(), 1);
    EXPECT_EQ(first->GetRefCount(), 1);
    ASSERT_RESULT_EQ(threader.Trigger(second, nullptr, done), S_OK);
    ASSERT_EQ(done->Wait(kInfinite), kWaitObject0);
    EXPECT_EQ(first->mRunThread, second->mRunThread);
    EXPECT_NE(first->mRunThread, std::this_thread::get_id());
    EXPECT_GE(RetriggerableThreader::GetTaskCount(), tasksBefore + 2);
}

TEST(RetriggerableThreader, DoWorkThatThrowsOrFailsStillSetsTheDoneEventAndTheThreadGoesOn)
{
    Testing::CDebugCapture capture;
    RetriggerableThreader threader;
    const auto done = MakeRC<LEvent>();
    ASSERT_RESULT_EQ(threader.Trigger(MakeRC<LThrowingWorker>(), nullptr, done), S_OK);
    ASSERT_EQ(done->Wait(kInfinite), kWaitObject0);
    EXPECT_RESULT_EQ(threader.GetLastResult(), E_FAIL);
    EXPECT_NE(capture.Text().find("bad block table"), std::string::npos) << capture.Text();

    ASSERT_RESULT_EQ(threader.Trigger(MakeRC<LGatedWorker>(E_ABORT, false), nullptr, done), S_OK);
    ASSERT_EQ(done->Wait(kInfinite), kWaitObject0);
    EXPECT_RESULT_EQ(threader.GetLastResult(), E_ABORT);
}

TEST(RetriggerableThreader, MakesItsThreadAtTheFirstTaskAndJoinsItQuietly)
{
    Testing::CDebugCapture capture;
    const std::int32_t liveBefore = Thread::GetLiveCount();
    const std::int64_t tasksBefore = RetriggerableThreader::GetTaskCount();
    {
        RetriggerableThreader threader(WString(L"never used"));
        EXPECT_EQ(Thread::GetLiveCount(), liveBefore) << "a threader without a task has no thread";
        EXPECT_FALSE(threader.IsThreadFinished());
    }
    {
        RetriggerableThreader threader(WString(L"idle after one task"));
        const auto done = MakeRC<LEvent>();
        ASSERT_RESULT_EQ(threader.Trigger(MakeRC<LGatedWorker>(S_OK, false), nullptr, done), S_OK);
        EXPECT_EQ(Thread::GetLiveCount(), liveBefore + 1) << "the first task makes the thread";
        ASSERT_EQ(done->Wait(kInfinite), kWaitObject0);
        ASSERT_RESULT_EQ(threader.Trigger(MakeRC<LGatedWorker>(S_OK, false), nullptr, done), S_OK);
        ASSERT_EQ(done->Wait(kInfinite), kWaitObject0);
        EXPECT_EQ(Thread::GetLiveCount(), liveBefore + 1) << "later tasks run on the same thread";
    }
    EXPECT_EQ(Thread::GetLiveCount(), liveBefore);
    EXPECT_EQ(RetriggerableThreader::GetTaskCount(), tasksBefore + 2) << "waking to stop runs no task";
    EXPECT_EQ(capture.Text(), "") << "an idle threader ends at once, well within its join";
}

TEST(RetriggerableThreader, ThreaderWhoseTaskDoesNotEndIsReportedAndItsThreadFinishesSafely)
{
    Testing::CDebugCapture capture;
    const auto worker = MakeRC<LGatedWorker>();
    const auto done = MakeRC<LEvent>();
    {
        RetriggerableThreader threader(WString(L"stuck download"));
        threader.SetShutdownJoinTimeout(0);
        ASSERT_RESULT_EQ(threader.Trigger(worker, MakeRC<LHolder<int>>(9), done), S_OK);
        ASSERT_EQ(worker->mBegan.Wait(kInfinite), kWaitObject0);
    }
    const std::string text = capture.Text();
    EXPECT_NE(text.find("\"stuck download\""), std::string::npos) << text;
    EXPECT_NE(text.find("did not end"), std::string::npos) << text;
    EXPECT_NE(text.find("it is left running, detached"), std::string::npos) << "the thread's own line: " << text;

    // The detached loop finishes its task on shared state; the sanitizers check that it never
    // reaches the destroyed threader.
    worker->mRelease.Set();
    ASSERT_EQ(worker->mEnded.Wait(kInfinite), kWaitObject0);
    EXPECT_EQ(done->Wait(0), kWaitTimeout) << "a threader given up on no longer signals its caller";
}

} // namespace
} // namespace ZT
