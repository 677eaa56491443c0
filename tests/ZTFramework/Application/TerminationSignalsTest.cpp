// The termination signals taken on a thread of their own: real signals sent to this test process.
// Each test runs in a process of its own (the tests are discovered one by one), so no thread
// started by an earlier test can have the signals unblocked; were one to take a signal with its
// default action, the whole test process would end, which the test runner reports as a crash.

#include "ZTFramework/Application/TerminationSignals.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <csignal>
#include <mutex>
#include <pthread.h>
#include <thread>
#include <unistd.h>
#include <utility>
#include <vector>

namespace {

using ZT::CTerminationSignals;
using Received = std::pair<int, std::uint32_t>; // signal, count

// What the listener was given, with a bounded wait for the next call.
class ListenerRecord {
public:
    CTerminationSignals::Listener Listener()
    {
        return [this](int signalNumber, std::uint32_t count) {
            std::lock_guard lock(mMutex);
            mReceived.emplace_back(signalNumber, count);
            mChanged.notify_all();
        };
    }
    // The calls so far once there are at least n of them, or after 10 s whatever there is.
    std::vector<Received> WaitFor(std::size_t n)
    {
        std::unique_lock lock(mMutex);
        mChanged.wait_for(lock, std::chrono::seconds(10), [&] { return mReceived.size() >= n; });
        return mReceived;
    }

private:
    std::mutex mMutex;
    std::condition_variable mChanged;
    std::vector<Received> mReceived;
};

bool IsBlocked(int signalNumber)
{
    sigset_t mask;
    (void)::pthread_sigmask(SIG_BLOCK, nullptr, &mask);
    return sigismember(&mask, signalNumber) == 1;
}

TEST(TerminationSignals, SignalsToTheProcessReachTheListenerInsteadOfEndingIt)
{
    ListenerRecord record;
    CTerminationSignals signals;
    ASSERT_TRUE(signals.IsActive());
    EXPECT_TRUE(IsBlocked(SIGTERM) && IsBlocked(SIGINT) && IsBlocked(SIGHUP)) << "the creating thread must block them";
    signals.SetListener(record.Listener());

    ASSERT_EQ(::kill(::getpid(), SIGTERM), 0);
    EXPECT_EQ(record.WaitFor(1), std::vector<Received>({{SIGTERM, 1}}));
    // A second signal is counted and passed on; the first one stays the one the exit status uses.
    ASSERT_EQ(::kill(::getpid(), SIGINT), 0);
    EXPECT_EQ(record.WaitFor(2), std::vector<Received>({{SIGTERM, 1}, {SIGINT, 2}}));
    EXPECT_EQ(signals.GetFirstSignal(), SIGTERM);
    EXPECT_EQ(signals.GetCount(), 2u);
}

TEST(TerminationSignals, ASignalWithoutAListenerIsPassedToTheNextOne)
{
    CTerminationSignals signals;
    ASSERT_TRUE(signals.IsActive());
    ASSERT_EQ(::kill(::getpid(), SIGHUP), 0);
    // The signal thread notes it on its own time; nothing else tells when, so look for a while.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (signals.GetCount() == 0 && std::chrono::steady_clock::now() < deadline)
        std::this_thread::yield();
    ASSERT_EQ(signals.GetFirstSignal(), SIGHUP) << "SIGHUP was not noted";

    std::vector<Received> received;
    signals.SetListener([&](int signalNumber, std::uint32_t count) { received.emplace_back(signalNumber, count); });
    EXPECT_EQ(received, std::vector<Received>({{SIGHUP, 1}})) << "the new listener was not told at once";
    signals.SetListener({});
    signals.SetListener([&](int signalNumber, std::uint32_t count) { received.emplace_back(signalNumber, count); });
    EXPECT_EQ(received.size(), 1u) << "a signal already passed on was passed on again";
}

TEST(TerminationSignals, TheMaskIsRestoredAndNothingIsLeftPending)
{
    ASSERT_FALSE(IsBlocked(SIGTERM)) << "the test process must start with SIGTERM unblocked";
    {
        CTerminationSignals signals;
        ASSERT_TRUE(signals.IsActive());
    }
    EXPECT_FALSE(IsBlocked(SIGTERM)) << "the mask the object found was not restored";

    // Blocked by the test itself from here on, so that a signal left pending is seen here rather
    // than ending the process.
    sigset_t term;
    sigemptyset(&term);
    sigaddset(&term, SIGTERM);
    ASSERT_EQ(::pthread_sigmask(SIG_BLOCK, &term, nullptr), 0);
    {
        CTerminationSignals signals;
        ASSERT_EQ(::kill(::getpid(), SIGTERM), 0);
    }
    EXPECT_TRUE(IsBlocked(SIGTERM)) << "a signal blocked before must stay blocked";
    sigset_t pending;
    sigemptyset(&pending);
    ASSERT_EQ(::sigpending(&pending), 0);
    EXPECT_NE(sigismember(&pending, SIGTERM), 1) << "SIGTERM was left pending";
    const timespec none{0, 0};
    (void)::sigtimedwait(&term, nullptr, &none);
    ASSERT_EQ(::pthread_sigmask(SIG_UNBLOCK, &term, nullptr), 0);
}

} // namespace
