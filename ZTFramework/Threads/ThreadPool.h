#pragma once
// Spreads queued tasks over a fixed number of RetriggerableThreaders.
//
// QueueWork appends a task and wakes the pool's queue threader ("LThreadPool::mQueueThreader"),
// whose task is the pool itself: its DoWork waits for a free threader, takes the most recently
// queued task (last in, first out), names the threader after the task's worker and triggers it
// with that slot's done event; it returns when the queue is empty. Each slot's done event is set
// while its threader is free, so the dispatch never takes the queue mutex while it waits.
//
// The pool is reference counted and must be held through RCPtr (MakeRC): the queue threader
// holds a reference to it while it dispatches, so a pool whose last outside reference goes while
// tasks are queued lives on until its queue is empty, and is then destroyed on the queue
// threader's thread. The destructor drops the tasks still queued, lets the tasks already handed
// to a threader end (waiting at most 60000 ms for each) and joins the queue threader and every
// threader (see RetriggerableThreader for one that does not end).
//
// Threads: QueueWork and the accessors may be called from any thread. mQueueMutex guards the
// queue, the name and the dispatch flag.

#include "ZTFramework/ObjectBase/RCPtr.h"
#include "ZTFramework/ObjectBase/RefCountedObject.h"
#include "ZTFramework/Threads/EventPool.h"
#include "ZTFramework/Threads/Mutex.h"
#include "ZTFramework/Threads/RetriggerableThreader.h"
#include "ZTFramework/Threads/Thread.h"
#include "ZTFramework/Threads/ThreadWorker.h"
#include "ZTFramework/Utilities/Storage/StringT.h"

#include <cstdint>
#include <memory>
#include <vector>

namespace ZT {

class LThreadPool : public LThreadWorker {
public:
    // One queued task.
    class LWorkerParams : public virtual LRefCountedObject {
    public:
        LWorkerParams(RCPtr<LThreadWorker> worker, RCPtr<LRefCountedObject> parameter, int priority)
            : mWorker(std::move(worker)), mParameter(std::move(parameter)), mPriority(priority)
        {
        }
        RCPtr<LThreadWorker> mWorker;
        RCPtr<LRefCountedObject> mParameter;
        int mPriority;
    };

    // threadCount threaders (at least one); the second argument is kept for the callers that
    // pass one and not used.
    LThreadPool(std::uint32_t threadCount, std::uint32_t reserved);
    ~LThreadPool() override;

    // Queues one task. S_OK, or E_INVALIDARG for a null worker, or E_FAIL when the queue
    // threader could not be woken (the task then stays queued for the next dispatch).
    [[nodiscard]] ZTRESULT QueueWork(const RCPtr<LThreadWorker>& worker, const RCPtr<LRefCountedObject>& parameter,
                                     int priority = kThreadPriorityNormal);
    // The dispatch; runs on the queue threader.
    ZTRESULT DoWork(const RCPtr<LRefCountedObject>& parameter) override;

    // The name, or "Unnamed ThreadPool" while it is empty.
    WString ToString() const override;
    void SetName(const WString& name);
    std::uint32_t GetThreadCount() const noexcept { return static_cast<std::uint32_t>(mThreaders.size()); }
    std::uint32_t GetQueuedCount() const;
    std::uint32_t GetReserved() const noexcept { return mReserved; }

private:
    std::vector<std::unique_ptr<RetriggerableThreader>> mThreaders;
    EventPool mFreeEvents;               // one per threader: set while it is free
    std::unique_ptr<RetriggerableThreader> mQueueThreader;
    RCPtr<LEvent> mQueueDoneEvent;       // set when a dispatch has ended
    mutable Mutex mQueueMutex;
    std::vector<RCPtr<LWorkerParams>> mQueue; // guarded by mQueueMutex
    bool mDispatching = false;                // guarded by mQueueMutex
    WString mName;                            // guarded by mQueueMutex
    const std::uint32_t mReserved;
};

} // namespace ZT
