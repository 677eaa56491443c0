#pragma once
// A UDP socket bound on 127.0.0.1 at a free port, for tests that receive debug datagrams. A
// receive gives up after five seconds so a missing datagram fails the test instead of hanging it.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <optional>
#include <string>

namespace ZT::Testing {

class CUdpListener {
public:
    CUdpListener()
    {
        mSocket = socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        address.sin_port = 0;
        if (mSocket < 0 || bind(mSocket, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0)
            return;
        socklen_t length = sizeof address;
        if (getsockname(mSocket, reinterpret_cast<sockaddr*>(&address), &length) == 0)
            mPort = ntohs(address.sin_port);
        timeval timeout{5, 0};
        setsockopt(mSocket, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
    }
    ~CUdpListener()
    {
        if (mSocket >= 0)
            close(mSocket);
    }
    CUdpListener(const CUdpListener&) = delete;
    CUdpListener& operator=(const CUdpListener&) = delete;

    // 0 when the socket could not be bound.
    int Port() const { return mPort; }

    // The next datagram, or nothing after five seconds.
    std::optional<std::string> Receive()
    {
        char buffer[65536];
        const ssize_t received = recv(mSocket, buffer, sizeof buffer, 0);
        if (received < 0)
            return std::nullopt;
        return std::string(buffer, static_cast<std::size_t>(received));
    }

    // Whether the next three datagrams are the banner a process opens with, naming address.
    bool ReceiveBanner(const std::string& address)
    {
        return Receive() == "*** APPLICATION Launched on " && Receive() == address && Receive() == "***\n";
    }

private:
    int mSocket = -1;
    int mPort = 0;
};

} // namespace ZT::Testing
