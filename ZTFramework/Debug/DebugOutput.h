#pragma once
// The process-wide debug output.
//
// It owns a narrow and a wide debug stream. Text written to them leaves the process when the
// stream is flushed: to the system log at debug priority (syslog, LOG_DEBUG; nothing shows unless
// someone reads the log) while the target port is below 1, else as one UDP datagram to the
// target (see UdpDebugSender for the launch banner that precedes the first one). Wide text is
// sent as UTF-8.
//
// The current log streams (Narrow(), Wide()) are the debug streams until OpenConsole routes them
// to the process's standard error: std::cerr for narrow text, and for wide text a stream that
// writes UTF-8 to stderr on each flush (stderr keeps one byte orientation, so std::wcerr would
// lose text next to std::cerr). There is no console window to allocate on this platform.
//
// The object is created on first use and never destroyed, so threads that outlive main() may
// still write to it.
//
// Threads: the target, the console switch and the log-stream pointers are set during start-up,
// before worker threads exist, but reading them from any thread is safe. One re-entrant mutex
// (GetMutex) guards the target, the flushes and the sender; DebugLine and CDebugLine hold it for
// a whole line, which is how code on worker threads must write. Writing to Narrow()/Wide()
// directly is for the user-interface thread, or under GetMutex(). The mutex is the standard
// library's, not ZT::Mutex: the threads library writes its own lines here, so it stands on this
// one and not the other way round.

#include "ZTFramework/Debug/DebugStreamBuffer.h"
#include "ZTFramework/Debug/UdpDebugSender.h"
#include <atomic>
#include <chrono>
#include <functional>
#include <mutex>
#include <ostream>
#include <string>
#include <string_view>

namespace ZT {

class DebugOutput {
public:
    // Receives each flushed text meant for the system log (UTF-8, without a line end added).
    using SystemLogWriter = std::function<void(std::string_view text)>;

    static DebugOutput& Instance();
    // The current log streams.
    static std::ostream& Narrow() { return *Instance().mNarrowLog.load(std::memory_order_acquire); }
    static std::wostream& Wide() { return *Instance().mWideLog.load(std::memory_order_acquire); }

    DebugOutput(const DebugOutput&) = delete;
    DebugOutput& operator=(const DebugOutput&) = delete;

    // Stores the target. A null host leaves the stored host as it is; a port below 1 sends
    // flushed text to the system log. The UDP destination is fixed by the first datagram the
    // process sends; later changes of host or port only switch between UDP and the system log.
    void SetTarget(const char* host, int port);
    std::string GetTargetHost() const;
    int GetTargetPort() const;

    // Routes both log streams to the process's standard error.
    void OpenConsole();
    bool IsConsoleOpen() const;

    std::ostream& NarrowDebugStream() noexcept { return mNarrowStream; }
    std::wostream& WideDebugStream() noexcept { return mWideStream; }

    // Makes other streams the current log streams (a host program's own log, or a test's
    // capture); UseDebugStreams goes back to the debug streams. The streams must outlive their
    // use; they are written under GetMutex().
    void SetLogStreams(std::ostream& narrow, std::wostream& wide);
    void UseDebugStreams();

    // Replaces what stands in for the system log; an empty writer restores syslog.
    void SetSystemLogWriter(SystemLogWriter writer);

    // Held while a line is written and flushed; re-entrant.
    std::recursive_mutex& GetMutex() noexcept { return mMutex; }

    // Sends one flushed text (UTF-8) to the system log or, with a target port of 1 or more, to
    // the UDP listener. Called by the debug buffers' flush; takes the mutex itself.
    void Deliver(std::string_view text);

    UdpDebugSender& GetSender() noexcept { return mSender; }

private:
    // The socket glibc's syslog writes to.
    static constexpr const char* kSystemLogSocket = "/dev/log";

    DebugOutput();
    ~DebugOutput() = default;
    [[nodiscard]] bool SystemLogListens();

    mutable std::recursive_mutex mMutex;
    DebugStreamBufferT<char> mNarrowBuffer{DebugSink::DebugOutput};
    DebugStreamBufferT<wchar_t> mWideBuffer{DebugSink::DebugOutput};
    DebugStreamBufferT<wchar_t> mWideConsoleBuffer{DebugSink::StandardError};
    std::ostream mNarrowStream{&mNarrowBuffer};
    std::wostream mWideStream{&mWideBuffer};
    std::wostream mWideConsoleStream{&mWideConsoleBuffer};
    std::atomic<std::ostream*> mNarrowLog{&mNarrowStream};
    std::atomic<std::wostream*> mWideLog{&mWideStream};
    std::atomic<bool> mConsoleOpen{false};
    std::string mHost;              // guarded by mMutex
    int mPort = -1;                 // guarded by mMutex
    SystemLogWriter mSystemLogWriter; // guarded by mMutex; empty: syslog
    // Whether the system log's socket exists, and when that was last looked at; guarded by mMutex.
    bool mSystemLogListening = false;
    std::chrono::steady_clock::time_point mSystemLogLookedAt{};
    UdpDebugSender mSender;
};

} // namespace ZT
