#pragma once
// A thread with an explicit start and a bounded join.
//
// The thread is created "suspended": its std::thread exists from construction on but waits at a
// start gate until Start opens it, or until Join opens it so that a never-started thread can run
// its entry and end. Its entry runs exactly once either way (unless creation failed).
//
// Start flags (guarded by the LightLock of the shared record): 0 not started, 1 started by Start,
// 3 started by Join, 2 creation failed. A thread whose creation failed is reported as finished by
// IsFinished and Join, and Start returns false for it.
//
// Lifetime: everything the running thread touches (its entry, flags, "finished" light) lives in
// a record shared between this object and the thread, so the thread never reaches freed memory,
// whichever of the two ends first. The destructor joins for at most the shutdown join time-out
// (60000 ms). This platform never kills a thread: when that join fails, one line naming the thread
// goes to the debug output and the std::thread is detached, so the process can go on; the thread
// keeps running its entry and ends by itself (or with the process). Whatever the entry uses
// besides the record is the caller's to keep alive.
//
// Threads: Start, IsFinished, Join and the priority calls may come from any thread. Join holds
// the lock for its whole wait, so Start and IsFinished called meanwhile wait for it; the thread
// itself never takes the lock. Join from the thread itself returns false at once (a thread cannot
// see its own end).

#include "ZTFramework/ObjectBase/RCPtr.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace ZT {

// Thread priorities, in the values the callers pass. Other values in between are accepted.
inline constexpr int kThreadPriorityIdle = -15;
inline constexpr int kThreadPriorityLowest = -2;
inline constexpr int kThreadPriorityBelowNormal = -1;
inline constexpr int kThreadPriorityNormal = 0;
inline constexpr int kThreadPriorityAboveNormal = 1;
inline constexpr int kThreadPriorityHighest = 2;
inline constexpr int kThreadPriorityTimeCritical = 15;

// How long destructors wait for a thread to end before they give it up, in ms.
inline constexpr std::uint32_t kShutdownJoinTimeoutMs = 60000;
// The exit code of a thread whose entry threw.
inline constexpr std::uint32_t kThreadExitCodeFailed = 0x80004005;

class Thread {
public:
    using EntryFunction = std::uint32_t (*)(void* argument);

    // Runs entry(argument) on the new thread once it is started.
    Thread(EntryFunction entry, void* argument);
    // Runs entry on the new thread once it is started; entry owns whatever it captures, and that
    // lives as long as the thread needs it.
    explicit Thread(std::function<std::uint32_t()> entry);
    Thread(const Thread&) = delete;
    Thread& operator=(const Thread&) = delete;
    // Joins for at most the shutdown join time-out; see the header comment for a thread that
    // does not end.
    virtual ~Thread();

    // Opens the start gate. False when the thread was already started (by Start or Join) or
    // could not be created.
    [[nodiscard]] bool Start();
    // True once the entry has returned; for a thread that never began, true only when its
    // creation failed. Never blocks except behind a running Join.
    [[nodiscard]] bool IsFinished() const;
    // Waits at most timeoutMs (kInfinite: no limit) for the entry to return; starts a thread that
    // was never started. True when it has returned. Blocks for at most timeoutMs plus the moment
    // the thread takes to begin.
    [[nodiscard]] bool Join(std::uint32_t timeoutMs);

    // Best effort: maps the priority (kThreadPriority...) to the thread's nice value. Lowering
    // always works; raising above normal needs the right to do so and is otherwise left as it
    // is. A priority set before the thread began is applied when it begins.
    void SetPriority(int priority);
    int GetPriority() const;
    // Linux has no dynamic priority boost: the setting is stored and has no effect.
    void SetPriorityBoost(bool enable);
    bool IsPriorityBoostEnabled() const;

    // The entry's result once finished (kThreadExitCodeFailed when it threw), else 0.
    std::uint32_t GetExitCode() const;
    // True when called on this object's own thread.
    bool IsCurrentThread() const;
    // Named in the line written when the thread does not end in time. Call before the thread
    // may be destroyed elsewhere; not guarded.
    void SetName(std::string name) { mName = std::move(name); }
    const std::string& GetName() const noexcept { return mName; }
    // How long the destructor waits (kShutdownJoinTimeoutMs unless changed; tests shorten it).
    void SetShutdownJoinTimeout(std::uint32_t timeoutMs) noexcept { mShutdownJoinTimeoutMs = timeoutMs; }

    // Live Thread objects in the process.
    static std::int32_t GetLiveCount() noexcept;

    // The Linux nice value (-20 to 19) used for a priority.
    static int NiceValueForPriority(int priority) noexcept;

private:
    struct Record;
    static void Run(const std::shared_ptr<Record>& record);
    void Create();

    std::shared_ptr<Record> mRecord;
    std::string mName;
    std::uint32_t mShutdownJoinTimeoutMs = kShutdownJoinTimeoutMs;
};

} // namespace ZT
