#include "ZTFramework/Threads/ThreadPool.h"

#include "ZTFramework/Threads/Holder.h"

#include <gtest/gtest.h>

#include <mutex>
#include <set>
#include <thread>
#include <vector>

namespace ZT {
namespace {

// Records the order and the threads its tasks ran on; the first task can be held at a gate.
class LRecordingWorker : public LThreadWorker {
public:
    explicit LRecordingWorker(int expectedTasks) : mExpected(expectedTasks) {}

    ZTRESULT DoWork(const RCPtr<LRefCountedObject>& parameter) override
    {
        const RCPtr<LHolder<int>> holder = parameter;
        if (!holder)
            return E_INVALIDARG;
        if (holder->Get() == 0) {
            mGateReached.Set();
            (void)mGate.Wait(kInfinite);
        }
        std::lock_guard lock(mMutex);
        mOrder.push_back(holder->Get());
        mThreads.insert(std::this_thread::get_id());
        if (static_cast<int>(mOrder.size()) == mExpected)
            mAllDone.Set();
        return S_OK;
    }

    std::mutex mMutex;
    std::vector<int> mOrder;            // guarded by mMutex
    std::set<std::thread::id> mThreads; // guarded by mMutex
    Event mGate{false};
    Event mGateReached{false};
    Event mAllDone{false};
    const int mExpected;
};

TEST(ThreadPool, TakesTheMostRecentlyQueuedTaskFirst)
{
    const auto pool = MakeRC<LThreadPool>(1, 0);
    const auto worker = MakeRC<LRecordingWorker>(4);
    EXPECT_EQ(pool->QueueWork(nullptr, nullptr), E_INVALIDARG);
    EXPECT_EQ(pool->GetQueuedCount(), 0u);
    ASSERT_EQ(pool->QueueWork(worker, MakeRC<LHolder<int>>(0)), S_OK);
    ASSERT_EQ(worker->mGateReached.Wait(kInfinite), kWaitObject0);
    for (int task = 1; task <= 3; ++task)
        ASSERT_EQ(pool->QueueWork(worker, MakeRC<LHolder<int>>(task)), S_OK);
    worker->mGate.Set();
    ASSERT_EQ(worker->mAllDone.Wait(kInfinite), kWaitObject0);

    std::lock_guard lock(worker->mMutex);
    EXPECT_EQ(worker->mOrder, (std::vector<int>{0, 3, 2, 1}));
}

TEST(ThreadPool, PoolReleasedWithTasksInFlightRunsThemAllOnItsThreadersThenGoesAway)
{
    const std::int32_t liveBefore = Thread::GetLiveCount();
    const auto worker = MakeRC<LRecordingWorker>(6);
    {
        const auto pool = MakeRC<LThreadPool>(2, 0);
        ASSERT_EQ(pool->QueueWork(worker, MakeRC<LHolder<int>>(0)), S_OK);
        ASSERT_EQ(worker->mGateReached.Wait(kInfinite), kWaitObject0);
        for (int task = 1; task <= 5; ++task)
            ASSERT_EQ(pool->QueueWork(worker, MakeRC<LHolder<int>>(task)), S_OK);
        worker->mGate.Set();
        // The last reference goes here or, while a dispatch still holds the pool, on the queue
        // threader's own thread.
    }
    ASSERT_EQ(worker->mAllDone.Wait(kInfinite), kWaitObject0);
    while (Thread::GetLiveCount() != liveBefore)
        std::this_thread::yield();

    std::lock_guard lock(worker->mMutex);
    EXPECT_EQ(std::set<int>(worker->mOrder.begin(), worker->mOrder.end()).size(), 6u);
    EXPECT_LE(worker->mThreads.size(), 2u);
    EXPECT_EQ(worker->mThreads.count(std::this_thread::get_id()), 0u);
}

} // namespace
} // namespace ZT
