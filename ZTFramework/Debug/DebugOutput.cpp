#include "ZTFramework/Debug/DebugOutput.h"

#include <iostream>
#include <syslog.h>
#include <unistd.h>

namespace ZT {

DebugOutput& DebugOutput::Instance()
{
    // Never destroyed: detached threads and static destructors may still write at exit.
    static DebugOutput* const instance = new DebugOutput();
    return *instance;
}

DebugOutput::DebugOutput() = default;

void DebugOutput::SetTarget(const char* host, int port)
{
    std::lock_guard lock(mMutex);
    if (host)
        mHost = host;
    mPort = port;
}

std::string DebugOutput::GetTargetHost() const
{
    std::lock_guard lock(mMutex);
    return mHost;
}

int DebugOutput::GetTargetPort() const
{
    std::lock_guard lock(mMutex);
    return mPort;
}

void DebugOutput::OpenConsole()
{
    std::lock_guard lock(mMutex);
    mNarrowLog.store(&std::cerr, std::memory_order_release);
    mWideLog.store(&mWideConsoleStream, std::memory_order_release);
    mConsoleOpen.store(true, std::memory_order_release);
}

bool DebugOutput::IsConsoleOpen() const
{
    return mConsoleOpen.load(std::memory_order_acquire);
}

void DebugOutput::SetLogStreams(std::ostream& narrow, std::wostream& wide)
{
    std::lock_guard lock(mMutex);
    mNarrowLog.store(&narrow, std::memory_order_release);
    mWideLog.store(&wide, std::memory_order_release);
}

void DebugOutput::UseDebugStreams()
{
    std::lock_guard lock(mMutex);
    mNarrowLog.store(&mNarrowStream, std::memory_order_release);
    mWideLog.store(&mWideStream, std::memory_order_release);
    mConsoleOpen.store(false, std::memory_order_release);
}

void DebugOutput::SetSystemLogWriter(SystemLogWriter writer)
{
    std::lock_guard lock(mMutex);
    mSystemLogWriter = std::move(writer);
}

void DebugOutput::Deliver(std::string_view text)
{
    std::lock_guard lock(mMutex);
    if (mPort < 1) {
        if (text.empty())
            return;
        if (mSystemLogWriter) {
            mSystemLogWriter(text);
            return;
        }
        if (!SystemLogListens())
            return;
        const std::string terminated(text);
        syslog(LOG_DEBUG, "%s", terminated.c_str());
        return;
    }
    mSender.Send(mHost.empty() ? nullptr : mHost.c_str(), mPort, text);
}

bool DebugOutput::SystemLogListens()
{
    // Called with mMutex held. Where no system log listens (containers, minimal machines), glibc
    // tries to connect to its socket again for every line, three system calls for a line that
    // nobody receives. A missing socket is looked for again after a while, so that a log started
    // later is still used.
    constexpr auto kLookAgainAfter = std::chrono::seconds(10);
    const auto now = std::chrono::steady_clock::now();
    if (!mSystemLogListening && (mSystemLogLookedAt == std::chrono::steady_clock::time_point{} ||
                                 now - mSystemLogLookedAt >= kLookAgainAfter)) {
        mSystemLogListening = ::access(kSystemLogSocket, F_OK) == 0;
        mSystemLogLookedAt = now;
    }
    return mSystemLogListening;
}

} // namespace ZT
