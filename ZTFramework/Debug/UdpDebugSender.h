#pragma once
// Sends debug text as UDP datagrams (IPv4) to a listener.
//
// The first call resolves the destination and creates the socket; from then on host and port
// arguments are ignored and every text goes to that one destination. Right after creating the
// socket it announces the process with three datagrams: "*** APPLICATION Launched on ", the
// destination's address text, and "***\n". Each later non-empty text is one datagram. Nothing is
// ever reported: resolution falls back (given host, else this machine's host name, else
// "127.0.0.1") and send errors are dropped. While the socket cannot be created, every call tries
// again and sends nothing.
//
// Threads: Send may be called from any thread; one mutex orders the calls, so the banner always
// goes out first and datagrams of one call are never interleaved with another's. A send never
// blocks for long (a datagram to a loopback or unreachable port is dropped, not queued).

#include <netinet/in.h>

#include <mutex>
#include <string>
#include <string_view>

namespace ZT {

class UdpDebugSender {
public:
    UdpDebugSender() = default;
    UdpDebugSender(const UdpDebugSender&) = delete;
    UdpDebugSender& operator=(const UdpDebugSender&) = delete;
    // Closes the socket. The process-wide sender of DebugOutput is never destroyed, so its
    // socket lives until the process ends.
    ~UdpDebugSender();

    // host may be null; port is taken modulo 65536 as the destination port. Text past its first
    // NUL is not sent.
    void Send(const char* host, int port, std::string_view text);

    bool HasSocket() const;
    // The destination's address ("127.0.0.1"); empty before the first Send.
    std::string GetAddressText() const;

private:
    void CreateSocketLocked(const char* host, int port);
    void SendDatagramLocked(std::string_view text) const;

    mutable std::mutex mMutex;
    int mSocket = -1;            // guarded by mMutex
    std::string mAddressText;    // guarded by mMutex
    sockaddr_in mDestination{};  // guarded by mMutex
};

} // namespace ZT
