#include "ZTFramework/Threads/RetriggerableThreader.h"

#include "ZTFramework/Debug/DebugLine.h"

#include <atomic>
#include <exception>
#include <mutex>

namespace ZT {

namespace {

std::atomic<std::int64_t> gTaskCount{0};

} // namespace

// Everything the loop touches; shared with the thread so that a thread left running after the
// threader is gone still has it.
struct RetriggerableThreader::LoopState {
    Event mTrigger{true};
    std::atomic<bool> mBusy{false};
    std::atomic<bool> mStop{false};
    std::atomic<ZTRESULT> mLastResult{S_OK};

    std::mutex mMutex;
    RCPtr<LEvent> mDoneEvent;               // guarded by mMutex
    RCPtr<LThreadWorker> mWorker;           // guarded by mMutex
    RCPtr<LRefCountedObject> mParameter;    // guarded by mMutex
    WString mName;                          // guarded by mMutex
};

RetriggerableThreader::RetriggerableThreader(const WString& name) : mState(std::make_shared<LoopState>())
{
    mState->mName = name;
}

bool RetriggerableThreader::EnsureThread()
{
    if (!mThread) {
        mThread = std::make_unique<Thread>([state = mState] { return Loop(state); });
        mThread->SetPriorityBoost(false);
        (void)mThread->Start(); // a thread that could not be made is finished below
    }
    return !mThread->IsFinished();
}

RetriggerableThreader::~RetriggerableThreader()
{
    mState->mStop.store(true);
    mState->mTrigger.Set();

    const std::string name = ToString().ToUTF8();
    if (mThread) {
        mThread->SetName("RetriggerableThreader \"" + name + "\"");
        mThread->SetShutdownJoinTimeout(mShutdownJoinTimeoutMs);
    }
    // From inside its own task the threader cannot wait for itself; the loop sees mStop and ends
    // once the task returns.
    if (mThread && !mThread->IsCurrentThread() && !mThread->Join(mShutdownJoinTimeoutMs)) {
        CDebugLine() << "ZT::RetriggerableThreader \"" << name << "\": its task did not end within "
                     << mShutdownJoinTimeoutMs << " ms; the thread is left to finish it, detached";
    }

    std::lock_guard lock(mState->mMutex);
    mState->mName = WString();
    mState->mParameter = nullptr;
    mState->mWorker = nullptr;
    mState->mDoneEvent = nullptr;
}

ZTRESULT RetriggerableThreader::Trigger(const RCPtr<LThreadWorker>& worker, const RCPtr<LRefCountedObject>& parameter,
                                        const RCPtr<LEvent>& doneEvent, int priority)
{
    LoopState& state = *mState;
    if (state.mStop.load())
        return E_FAIL;
    // A thread that died (its entry ended) will never clear the busy flag itself, nor run the
    // task and set the caller's done event; one that cannot be made neither.
    if (IsThreadFinished()) {
        state.mBusy.store(false);
        return E_FAIL;
    }
    if (!EnsureThread())
        return E_FAIL;
    {
        // Under the mutex the loop cannot be between clearing the flag of the last task and
        // setting that task's done event, which may be this task's event too.
        std::lock_guard lock(state.mMutex);
        if (state.mBusy.load())
            return E_FAIL;
        state.mWorker = worker;
        state.mParameter = parameter;
        state.mDoneEvent = doneEvent;
        if (doneEvent)
            doneEvent->Reset();
        state.mBusy.store(true);
    }
    mThread->SetPriority(priority);
    return state.mTrigger.Set() ? S_OK : E_FAIL;
}

std::uint32_t RetriggerableThreader::Loop(const std::shared_ptr<LoopState>& statePointer)
{
    LoopState& state = *statePointer;
    do {
        (void)state.mTrigger.Wait(kInfinite); // no timeout: returns only when triggered

        RCPtr<LThreadWorker> worker;
        RCPtr<LRefCountedObject> parameter;
        {
            std::lock_guard lock(state.mMutex);
            worker = std::move(state.mWorker);
            parameter = std::move(state.mParameter);
        }
        if (!state.mStop.load() && worker) {
            gTaskCount.fetch_add(1);
            ZTRESULT result = E_FAIL;
            try {
                result = worker->DoWork(parameter);
            } catch (const std::exception& error) {
                CDebugLine() << "ZT::RetriggerableThreader: DoWork ended with an exception: " << error.what();
            } catch (...) {
                DebugLine("ZT::RetriggerableThreader: DoWork ended with an unknown exception");
            }
            state.mLastResult.store(result);
        }
        // The task's references go before the caller hears of its end.
        parameter = nullptr;
        worker = nullptr;

        RCPtr<LEvent> doneEvent;
        {
            // Clearing the flag and setting the event under the mutex keeps a Trigger that comes
            // in between (it may reuse the event) from finding its event set by this task.
            std::lock_guard lock(state.mMutex);
            doneEvent = std::move(state.mDoneEvent);
            state.mBusy.store(false);
            if (doneEvent)
                doneEvent->Set();
        }
        doneEvent = nullptr;
    } while (!state.mStop.load());
    return 0;
}

bool RetriggerableThreader::IsBusy() const
{
    return mState->mBusy.load();
}

ZTRESULT RetriggerableThreader::GetLastResult() const
{
    return mState->mLastResult.load();
}

WString RetriggerableThreader::ToString() const
{
    std::lock_guard lock(mState->mMutex);
    return mState->mName;
}

void RetriggerableThreader::SetName(const WString& name)
{
    std::lock_guard lock(mState->mMutex);
    mState->mName = name;
}

void RetriggerableThreader::SetShutdownJoinTimeout(std::uint32_t timeoutMs)
{
    mShutdownJoinTimeoutMs = timeoutMs;
}

std::int64_t RetriggerableThreader::GetTaskCount() noexcept
{
    return gTaskCount.load();
}

} // namespace ZT
