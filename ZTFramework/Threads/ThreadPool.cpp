#include "ZTFramework/Threads/ThreadPool.h"

#include "ZTFramework/Debug/DebugLine.h"

#include <algorithm>

namespace ZT {

LThreadPool::LThreadPool(std::uint32_t threadCount, std::uint32_t reserved)
    : mFreeEvents(std::max<std::uint32_t>(threadCount, 1)),
      mQueueThreader(std::make_unique<RetriggerableThreader>(WString(L"LThreadPool::mQueueThreader"))),
      mQueueDoneEvent(MakeRC<LEvent>(true)), mReserved(reserved)
{
    const std::uint32_t count = mFreeEvents.GetCount();
    mThreaders.reserve(count);
    for (std::uint32_t slot = 0; slot < count; ++slot) {
        mThreaders.push_back(std::make_unique<RetriggerableThreader>());
        mFreeEvents.Get(slot)->Set();
    }
}

LThreadPool::~LThreadPool()
{
    {
        CMutexLock lock(mQueueMutex);
        mQueue.clear();
    }
    // The dispatch, if one runs, finds the queue empty at its next look and ends.
    mQueueThreader.reset();
    // A task already handed to a threader runs to its end: a threader destroyed between its
    // trigger and its wake-up would drop it.
    for (std::uint32_t slot = 0; slot < mThreaders.size(); ++slot) {
        if (mThreaders[slot]->IsBusy() && mFreeEvents.Get(slot)->Wait(kShutdownJoinTimeoutMs) == kWaitTimeout)
            CDebugLine() << "ZT::LThreadPool \"" << ToString().ToUTF8() << "\": a task did not end within "
                         << kShutdownJoinTimeoutMs << " ms";
    }
    mThreaders.clear();
}

ZTRESULT LThreadPool::QueueWork(const RCPtr<LThreadWorker>& worker, const RCPtr<LRefCountedObject>& parameter,
                                int priority)
{
    if (!worker)
        return E_INVALIDARG;
    bool startDispatch = false;
    {
        CMutexLock lock(mQueueMutex);
        mQueue.push_back(MakeRC<LWorkerParams>(worker, parameter, priority));
        if (!mDispatching) {
            mDispatching = true;
            startDispatch = true;
        }
    }
    if (!startDispatch)
        return S_OK; // the running dispatch takes it

    const RCPtr<LThreadWorker> self(this);
    ZTRESULT result = mQueueThreader->Trigger(self, nullptr, mQueueDoneEvent);
    if (Failed(result)) {
        // The previous dispatch has decided to end but its threader has not yet cleared its busy
        // flag; its done event follows at once.
        (void)mQueueDoneEvent->Wait(kInfinite);
        result = mQueueThreader->Trigger(self, nullptr, mQueueDoneEvent);
    }
    if (Failed(result)) {
        CMutexLock lock(mQueueMutex);
        mDispatching = false;
    }
    return result;
}

ZTRESULT LThreadPool::DoWork(const RCPtr<LRefCountedObject>& /*parameter*/)
{
    for (;;) {
        const std::uint32_t slot = mFreeEvents.WaitAny(kInfinite);
        if (slot == kWaitAnyNone)
            return E_FAIL;

        CMutexLock lock(mQueueMutex);
        RetriggerableThreader& threader = *mThreaders[slot];
        if (mQueue.empty()) {
            mFreeEvents.Get(slot)->Set(); // the slot stays free
            mDispatching = false;
            return S_OK;
        }
        if (threader.IsBusy() && !threader.IsThreadFinished())
            continue; // its done event comes when it is free

        const RCPtr<LWorkerParams> item = mQueue.back();
        mQueue.pop_back();
        threader.SetName(item->mWorker->ToString());
        const ZTRESULT result = threader.Trigger(item->mWorker, item->mParameter, mFreeEvents.Get(slot), item->mPriority);
        if (Failed(result)) {
            CDebugLine() << "ZT::LThreadPool: a threader refused a task (" << ResultToText(result)
                         << "); the task is dropped";
            mFreeEvents.Get(slot)->Set();
        }
        if (mQueue.empty()) {
            mDispatching = false;
            return S_OK;
        }
    }
}

WString LThreadPool::ToString() const
{
    CMutexLock lock(mQueueMutex);
    return mName.IsEmpty() ? WString(L"Unnamed ThreadPool") : mName;
}

void LThreadPool::SetName(const WString& name)
{
    CMutexLock lock(mQueueMutex);
    mName = name;
}

std::uint32_t LThreadPool::GetQueuedCount() const
{
    CMutexLock lock(mQueueMutex);
    return static_cast<std::uint32_t>(mQueue.size());
}

} // namespace ZT
