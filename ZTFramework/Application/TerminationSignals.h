#pragma once
// Takes SIGINT, SIGTERM and SIGHUP away from their default action (ending the process at once)
// for a program that must not stop in the middle of a job: the signals are noted, a listener is
// told, and the program decides when to end.
//
// The constructor blocks the three signals in the calling thread and starts one thread that
// takes them from a signalfd. Make the object on the main thread before any other thread starts:
// threads inherit the mask of the thread that creates them, so every later thread has them
// blocked too and none of them can be picked by the kernel for the default action. A signal
// sent to the process then waits until the signal thread reads it; nothing runs inside a signal
// handler, so the listener may do what any thread may do.
//
// The destructor stops the signal thread (joined for at most kJoinTimeoutMs), notes what is still
// pending and restores the mask the constructor found.
//
// Threads: GetFirstSignal and GetCount from any thread. SetListener from any thread but the
// listener's own; the listener runs on the signal thread, one call at a time, guarded by the
// listener mutex of the shared state, which SetListener also takes: once SetListener returns,
// the old listener is not running and is not called again.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace ZT {

class Thread;

class CTerminationSignals {
public:
    // signalNumber: SIGINT, SIGTERM or SIGHUP; count: how many of the three have arrived so far,
    // this one included (1 for the first).
    using Listener = std::function<void(int signalNumber, std::uint32_t count)>;

    // How long the destructor waits for the signal thread, in ms.
    static constexpr std::uint32_t kJoinTimeoutMs = 60000;

    // Blocks the signals and starts the signal thread. When the signalfd or the thread cannot be
    // made, the signals keep their default action and IsActive is false.
    CTerminationSignals();
    ~CTerminationSignals();
    CTerminationSignals(const CTerminationSignals&) = delete;
    CTerminationSignals& operator=(const CTerminationSignals&) = delete;

    [[nodiscard]] bool IsActive() const noexcept { return mActive; }

    // Replaces the listener (an empty one removes it). A signal that arrived while there was no
    // listener is passed to the new one at once, on the calling thread.
    void SetListener(Listener listener);

    // The first of the three signals that arrived, or 0.
    [[nodiscard]] int GetFirstSignal() const noexcept;
    [[nodiscard]] std::uint32_t GetCount() const noexcept;

    // The exit status a shell reports for a process ended by signalNumber: 128 + the number
    // (SIGHUP 129, SIGINT 130, SIGTERM 143).
    [[nodiscard]] static int ExitStatusFor(int signalNumber) noexcept { return 128 + signalNumber; }
    // "SIGINT", "SIGTERM", "SIGHUP"; "signal <n>" for any other number.
    [[nodiscard]] static std::string Name(int signalNumber);

private:
    struct State;

    std::shared_ptr<State> mState;
    std::unique_ptr<Thread> mThread;
    bool mActive = false;
    unsigned mPreviouslyBlocked = 0; // bit i: the i-th of SIGINT, SIGTERM, SIGHUP was blocked before
};

} // namespace ZT
