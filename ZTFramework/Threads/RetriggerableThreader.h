#pragma once
// One long-lived worker thread that runs one task at a time.
//
// Trigger hands a task (a worker, its parameter, the caller's done event) to the thread and
// returns at once; a task is never queued behind another: while one runs, Trigger fails. When
// DoWork has returned, the thread drops its references to the parameter and the worker, clears
// the busy flag and only then sets the done event, so a caller woken by the event may rely on
// every effect of DoWork and may trigger the next task at once.
//
// DoWork that throws: the exception is written to the debug output and the task ends with
// E_FAIL as its result; the thread goes on.
//
// The thread is made by the first Trigger, so an owner that never hands over a task (a query
// that only reads the devices' versions) never starts one.
//
// Destruction stops the loop and joins the thread for at most the shutdown join time-out
// (60000 ms). A task that is still running then is not killed (this platform never kills a
// thread): one line naming the threader goes to the debug output, the thread is detached and
// finishes its task by itself; the caller's done event is then not set. Everything the thread
// touches is shared with it and reference counted, so a detached thread never reaches freed
// memory. Destroying a threader from inside its own task does not wait; the loop ends after the
// task.
//
// Threads: Trigger, IsThreadFinished and the destructor are called by the owner's thread; the other accessors from any
// thread. The task members are guarded by the state's mutex; the busy, stop and result flags
// are atomic.

#include "ZTFramework/Errors/Result.h"
#include "ZTFramework/ObjectBase/RCPtr.h"
#include "ZTFramework/ObjectBase/RefCountedObject.h"
#include "ZTFramework/Threads/Event.h"
#include "ZTFramework/Threads/Thread.h"
#include "ZTFramework/Threads/ThreadWorker.h"
#include "ZTFramework/Utilities/Storage/StringT.h"

#include <cstdint>
#include <memory>

namespace ZT {

class RetriggerableThreader : public IStringable {
public:
    explicit RetriggerableThreader(const WString& name = WString());
    RetriggerableThreader(const RetriggerableThreader&) = delete;
    RetriggerableThreader& operator=(const RetriggerableThreader&) = delete;
    ~RetriggerableThreader() override;

    // S_OK when the task was handed over. E_FAIL, with nothing stored, while a task runs, while
    // the threader is stopping, or when its thread could not be created. The done event (may be null) is reset here and set when the task has
    // ended. priority is a kThreadPriority... value for the thread (best effort).
    [[nodiscard]] ZTRESULT Trigger(const RCPtr<LThreadWorker>& worker, const RCPtr<LRefCountedObject>& parameter,
                                   const RCPtr<LEvent>& doneEvent, int priority = kThreadPriorityNormal);

    // A task has been handed over and not finished.
    bool IsBusy() const;
    // The thread was made and has ended (false before the first Trigger).
    bool IsThreadFinished() const { return mThread && mThread->IsFinished(); }
    // The result of the last DoWork (S_OK before the first).
    ZTRESULT GetLastResult() const;

    // The text form is the name.
    WString ToString() const override;
    void SetName(const WString& name);

    // How long the destructor waits for the thread, in ms (kShutdownJoinTimeoutMs unless a test
    // shortens it); also used for the thread's own final join.
    void SetShutdownJoinTimeout(std::uint32_t timeoutMs);

    // Tasks run by all threaders of the process.
    static std::int64_t GetTaskCount() noexcept;

private:
    struct LoopState;
    static std::uint32_t Loop(const std::shared_ptr<LoopState>& state);
    // Makes and starts the thread unless it exists; false when it could not be made.
    bool EnsureThread();

    std::shared_ptr<LoopState> mState;
    std::unique_ptr<Thread> mThread;   // made by the first Trigger
    std::uint32_t mShutdownJoinTimeoutMs = kShutdownJoinTimeoutMs;
};

} // namespace ZT
