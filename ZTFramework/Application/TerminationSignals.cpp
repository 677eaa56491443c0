#include "ZTFramework/Application/TerminationSignals.h"

#include "ZTFramework/Debug/DebugLine.h"
#include "ZTFramework/Threads/Thread.h"

#include <atomic>
#include <cerrno>
#include <iterator>
#include <csignal>
#include <mutex>
#include <poll.h>
#include <pthread.h>
#include <sys/eventfd.h>
#include <sys/signalfd.h>
#include <unistd.h>

namespace ZT {

namespace {

constexpr int kTerminationSignals[] = {SIGINT, SIGTERM, SIGHUP};

sigset_t TerminationSignalSet()
{
    sigset_t set;
    sigemptyset(&set);
    for (const int signalNumber : kTerminationSignals)
        sigaddset(&set, signalNumber);
    return set;
}

// Unblocks those of the three signals that were not blocked before (bit i for
// kTerminationSignals[i]).
void RestoreMask(unsigned previouslyBlocked)
{
    sigset_t set;
    sigemptyset(&set);
    for (unsigned i = 0; i < std::size(kTerminationSignals); ++i) {
        if ((previouslyBlocked & (1u << i)) == 0)
            sigaddset(&set, kTerminationSignals[i]);
    }
    (void)::pthread_sigmask(SIG_UNBLOCK, &set, nullptr); // cannot fail with SIG_UNBLOCK and a valid set
}

} // namespace

// Shared with the signal thread, so that a thread that outlives its join still has it.
struct CTerminationSignals::State {
    int SignalFd = -1;
    int StopFd = -1; // an eventfd: written once by the destructor to end the loop
    std::atomic<int> FirstSignal{0};
    std::atomic<std::uint32_t> Count{0};

    std::mutex ListenerMutex;
    Listener CurrentListener;  // guarded by ListenerMutex
    bool Undelivered = false;  // guarded by ListenerMutex: a signal came while there was no listener

    ~State()
    {
        if (SignalFd >= 0)
            ::close(SignalFd);
        if (StopFd >= 0)
            ::close(StopFd);
    }

    // Notes one signal and tells the listener. Signal thread, or the destructor after the join.
    void Take(int signalNumber)
    {
        int none = 0;
        (void)FirstSignal.compare_exchange_strong(none, signalNumber); // only the first signal is kept
        const std::uint32_t count = Count.fetch_add(1) + 1;
        std::lock_guard lock(ListenerMutex);
        if (!CurrentListener) {
            Undelivered = true;
            return;
        }
        CurrentListener(signalNumber, count);
    }

    // Reads what the signalfd holds now; false when it holds nothing more (or failed).
    bool ReadOne()
    {
        signalfd_siginfo info{};
        const ssize_t got = ::read(SignalFd, &info, sizeof(info));
        if (got != static_cast<ssize_t>(sizeof(info)))
            return false;
        Take(static_cast<int>(info.ssi_signo));
        return true;
    }

    std::uint32_t Loop()
    {
        pollfd fds[2] = {{SignalFd, POLLIN, 0}, {StopFd, POLLIN, 0}};
        for (;;) {
            const int ready = ::poll(fds, 2, -1);
            if (ready < 0) {
                if (errno == EINTR)
                    continue;
                CDebugLine() << "ZT::CTerminationSignals: poll failed (errno " << errno
                             << "); termination signals are no longer taken";
                return 1;
            }
            if (fds[1].revents != 0)
                return 0;
            if (fds[0].revents != 0) {
                while (ReadOne()) {
                }
            }
        }
    }
};

CTerminationSignals::CTerminationSignals() : mState(std::make_shared<State>())
{
    const sigset_t set = TerminationSignalSet();
    sigset_t previous;
    if (::pthread_sigmask(SIG_BLOCK, &set, &previous) != 0)
        return;
    for (unsigned i = 0; i < std::size(kTerminationSignals); ++i) {
        if (sigismember(&previous, kTerminationSignals[i]) == 1)
            mPreviouslyBlocked |= 1u << i;
    }
    mState->SignalFd = ::signalfd(-1, &set, SFD_NONBLOCK | SFD_CLOEXEC);
    mState->StopFd = ::eventfd(0, EFD_CLOEXEC);
    if (mState->SignalFd >= 0 && mState->StopFd >= 0) {
        mThread = std::make_unique<Thread>([state = mState] { return state->Loop(); });
        mThread->SetName("ZT::CTerminationSignals");
        mThread->SetShutdownJoinTimeout(kJoinTimeoutMs);
        mActive = mThread->Start();
    }
    if (!mActive) {
        // Without the thread nobody would ever take them: the default action is the lesser harm.
        mThread.reset();
        RestoreMask(mPreviouslyBlocked);
        DebugLine("ZT::CTerminationSignals: cannot take termination signals; they keep their default action");
    }
}

CTerminationSignals::~CTerminationSignals()
{
    SetListener(Listener());
    if (!mActive)
        return;
    const std::uint64_t one = 1;
    // One count never fills the eventfd; a stuck thread is reported below.
    (void)!::write(mState->StopFd, &one, sizeof(one));
    if (!mThread->Join(kJoinTimeoutMs)) {
        CDebugLine() << "ZT::CTerminationSignals: the signal thread did not end within " << kJoinTimeoutMs
                     << " ms; it is left running";
        mThread->SetShutdownJoinTimeout(0); // waited for once already
        return; // the mask stays: the thread may still read the signalfd
    }
    mThread.reset();
    // What arrived after the thread ended is noted here rather than left pending: unblocking a
    // pending SIGTERM would end the process with it.
    while (mState->ReadOne()) {
    }
    RestoreMask(mPreviouslyBlocked);
}

void CTerminationSignals::SetListener(Listener listener)
{
    std::lock_guard lock(mState->ListenerMutex);
    mState->CurrentListener = std::move(listener);
    if (mState->CurrentListener && mState->Undelivered) {
        mState->Undelivered = false;
        mState->CurrentListener(mState->FirstSignal.load(), mState->Count.load());
    }
}

int CTerminationSignals::GetFirstSignal() const noexcept
{
    return mState->FirstSignal.load();
}

std::uint32_t CTerminationSignals::GetCount() const noexcept
{
    return mState->Count.load();
}

std::string CTerminationSignals::Name(int signalNumber)
{
    switch (signalNumber) {
    case SIGINT:
        return "SIGINT";
    case SIGTERM:
        return "SIGTERM";
    case SIGHUP:
        return "SIGHUP";
    default:
        return "signal " + std::to_string(signalNumber);
    }
}

} // namespace ZT
