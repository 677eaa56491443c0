#include "ZTFramework/Threads/Thread.h"

#include "ZTFramework/Debug/DebugLine.h"
#include "ZTFramework/Threads/LightLock.h"
#include "ZTFramework/Threads/TrafficLight.h"
#include "ZTFramework/Threads/Wrapper.h"

#include <algorithm>
#include <condition_variable>
#include <exception>
#include <mutex>
#include <sys/resource.h>
#include <system_error>
#include <thread>
#include <unistd.h>

namespace ZT {

namespace {

// Values of Record::mFlags.
constexpr std::uint32_t kNotStarted = 0;
constexpr std::uint32_t kStartedByStart = 1;
constexpr std::uint32_t kCreationFailed = 2;
constexpr std::uint32_t kStartedByJoin = 3;

std::atomic<std::int32_t> gLiveThreads{0};

using FinishedLight = LWrapper<TrafficLight, LRefCountedObject>;

} // namespace

// Shared by the Thread object and its running thread; freed by whichever lets go last.
struct Thread::Record {
    std::thread mHandle;                   // touched only by the owning Thread object
    std::thread::id mThreadId;             // set before the gate opens
    std::function<std::uint32_t()> mEntry; // run once by the thread
    LightLock mStateLock;
    std::uint32_t mFlags = kNotStarted;    // guarded by mStateLock; read by the thread after the gate
    std::atomic<std::uint8_t> mRunning{0}; // set by the thread before the entry
    RCPtr<FinishedLight> mFinished;        // set by the thread after the entry
    std::atomic<std::uint32_t> mExitCode{0};

    // The start gate, and the "has begun" signal for Join.
    std::mutex mGateMutex;
    std::condition_variable mGateCondition;
    bool mGateOpen = false; // guarded by mGateMutex

    // Priority: applied by the thread when it begins, or at once when it runs.
    mutable std::mutex mPriorityMutex;
    int mPriority = kThreadPriorityNormal; // guarded by mPriorityMutex
    pid_t mKernelId = 0;                   // guarded by mPriorityMutex
    bool mPriorityBoost = true;            // guarded by mPriorityMutex

    void OpenGate()
    {
        {
            std::lock_guard lock(mGateMutex);
            mGateOpen = true;
        }
        mGateCondition.notify_all();
    }
    void WaitUntilRunning()
    {
        std::unique_lock lock(mGateMutex);
        mGateCondition.wait(lock, [this] { return mRunning.load() != 0; });
    }
};

int Thread::NiceValueForPriority(int priority) noexcept
{
    if (priority <= kThreadPriorityIdle)
        return 19;
    if (priority >= kThreadPriorityTimeCritical)
        return -20;
    return std::clamp(-5 * priority, -10, 10);
}

namespace {

void ApplyNice(pid_t kernelId, int priority)
{
    // Best effort: raising priority needs a privilege we may not have.
    (void)setpriority(PRIO_PROCESS, static_cast<id_t>(kernelId), Thread::NiceValueForPriority(priority));
}

} // namespace

Thread::Thread(EntryFunction entry, void* argument) : mRecord(std::make_shared<Record>())
{
    if (entry)
        mRecord->mEntry = [entry, argument] { return entry(argument); };
    Create();
}

Thread::Thread(std::function<std::uint32_t()> entry) : mRecord(std::make_shared<Record>())
{
    mRecord->mEntry = std::move(entry);
    Create();
}

void Thread::Create()
{
    gLiveThreads.fetch_add(1);
    mRecord->mFinished = new FinishedLight();
    try {
        mRecord->mHandle = std::thread(&Thread::Run, mRecord);
        mRecord->mThreadId = mRecord->mHandle.get_id();
    } catch (const std::system_error&) {
        std::lock_guard lock(mRecord->mStateLock);
        mRecord->mFlags = kCreationFailed;
    }
}

void Thread::Run(const std::shared_ptr<Record>& record)
{
    {
        std::unique_lock lock(record->mGateMutex);
        record->mGateCondition.wait(lock, [&] { return record->mGateOpen; });
    }
    {
        std::lock_guard lock(record->mPriorityMutex);
        record->mKernelId = gettid();
        if (record->mPriority != kThreadPriorityNormal)
            ApplyNice(record->mKernelId, record->mPriority);
    }

    RCPtr<FinishedLight> finished = record->mFinished;
    finished->Reset();
    {
        std::lock_guard lock(record->mGateMutex);
        record->mRunning.store(1);
    }
    record->mGateCondition.notify_all();

    std::uint32_t exitCode = 0;
    if (record->mFlags != kCreationFailed && record->mEntry) {
        try {
            exitCode = record->mEntry();
        } catch (const std::exception& error) {
            CDebugLine() << "ZT::Thread: the thread's entry ended with an exception: " << error.what();
            exitCode = kThreadExitCodeFailed;
        } catch (...) {
            DebugLine("ZT::Thread: the thread's entry ended with an unknown exception");
            exitCode = kThreadExitCodeFailed;
        }
    }
    {
        // The kernel may hand this id to another thread once this one ends.
        std::lock_guard lock(record->mPriorityMutex);
        record->mKernelId = 0;
    }
    record->mExitCode.store(exitCode);
    finished->Set();
}

Thread::~Thread()
{
    const bool onOwnThread = IsCurrentThread();
    const bool ended = !onOwnThread && Join(mShutdownJoinTimeoutMs);
    if (mRecord->mHandle.joinable()) {
        if (ended) {
            mRecord->mHandle.join();
        } else {
            if (!onOwnThread) {
                CDebugLine() << "ZT::Thread" << (mName.empty() ? std::string() : " \"" + mName + "\"")
                             << ": the thread did not end within " << mShutdownJoinTimeoutMs
                             << " ms; it is left running, detached";
            }
            mRecord->mHandle.detach();
        }
    }
    gLiveThreads.fetch_sub(1);
}

bool Thread::Start()
{
    std::lock_guard lock(mRecord->mStateLock);
    if (mRecord->mFlags != kNotStarted)
        return false;
    mRecord->mFlags = kStartedByStart;
    mRecord->OpenGate();
    return true;
}

bool Thread::IsFinished() const
{
    std::lock_guard lock(mRecord->mStateLock);
    if (mRecord->mRunning.load() != 0)
        return mRecord->mFinished->Wait(0) == kWaitObject0;
    return mRecord->mFlags == kCreationFailed;
}

bool Thread::Join(std::uint32_t timeoutMs)
{
    if (IsFinished())
        return true;
    if (IsCurrentThread())
        return false;
    std::lock_guard lock(mRecord->mStateLock);
    if (mRecord->mFlags == kNotStarted) {
        mRecord->mFlags = kStartedByJoin;
        mRecord->OpenGate();
    }
    mRecord->WaitUntilRunning();
    return mRecord->mFinished->Wait(timeoutMs) == kWaitObject0;
}

void Thread::SetPriority(int priority)
{
    std::lock_guard lock(mRecord->mPriorityMutex);
    mRecord->mPriority = priority;
    if (mRecord->mKernelId != 0)
        ApplyNice(mRecord->mKernelId, priority);
}

int Thread::GetPriority() const
{
    std::lock_guard lock(mRecord->mPriorityMutex);
    return mRecord->mPriority;
}

void Thread::SetPriorityBoost(bool enable)
{
    std::lock_guard lock(mRecord->mPriorityMutex);
    mRecord->mPriorityBoost = enable;
}

bool Thread::IsPriorityBoostEnabled() const
{
    std::lock_guard lock(mRecord->mPriorityMutex);
    return mRecord->mPriorityBoost;
}

std::uint32_t Thread::GetExitCode() const
{
    return mRecord->mExitCode.load();
}

bool Thread::IsCurrentThread() const
{
    return mRecord->mThreadId != std::thread::id() && mRecord->mThreadId == std::this_thread::get_id();
}

std::int32_t Thread::GetLiveCount() noexcept
{
    return gLiveThreads.load();
}

} // namespace ZT
