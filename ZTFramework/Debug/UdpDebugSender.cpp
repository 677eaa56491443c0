#include "ZTFramework/Debug/UdpDebugSender.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstdint>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace ZT {

namespace {

// The first IPv4 address of a host name as dotted text, or empty when it does not resolve.
std::string ResolveIPv4(const char* host)
{
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_DGRAM;
    addrinfo* found = nullptr;
    if (getaddrinfo(host, nullptr, &hints, &found) != 0 || !found)
        return {};
    std::string text;
    for (const addrinfo* entry = found; entry; entry = entry->ai_next) {
        if (entry->ai_family != AF_INET || !entry->ai_addr)
            continue;
        char buffer[INET_ADDRSTRLEN] = {};
        const auto* address = reinterpret_cast<const sockaddr_in*>(entry->ai_addr);
        if (inet_ntop(AF_INET, &address->sin_addr, buffer, sizeof buffer))
            text = buffer;
        break;
    }
    freeaddrinfo(found);
    return text;
}

std::string LocalHostName()
{
    // Host names of up to 64 characters, as the sender has always taken them.
    char name[65] = {};
    if (gethostname(name, sizeof name - 1) != 0)
        return {};
    return name;
}

} // namespace

UdpDebugSender::~UdpDebugSender()
{
    if (mSocket >= 0)
        close(mSocket);
}

void UdpDebugSender::Send(const char* host, int port, std::string_view text)
{
    std::lock_guard lock(mMutex);
    if (mSocket < 0)
        CreateSocketLocked(host, port);
    SendDatagramLocked(text);
}

void UdpDebugSender::CreateSocketLocked(const char* host, int port)
{
    std::string address;
    if (host)
        address = ResolveIPv4(host);
    if (address.empty()) {
        const std::string localName = LocalHostName();
        if (!localName.empty())
            address = ResolveIPv4(localName.c_str());
    }
    if (address.empty())
        address = "127.0.0.1";

    mDestination = sockaddr_in{};
    mDestination.sin_family = AF_INET;
    mDestination.sin_port = htons(static_cast<std::uint16_t>(port));
    if (inet_pton(AF_INET, address.c_str(), &mDestination.sin_addr) != 1)
        mDestination.sin_addr.s_addr = htonl(INADDR_NONE);
    mAddressText = address;

    mSocket = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, IPPROTO_UDP);
    if (mSocket < 0)
        return;
    SendDatagramLocked("*** APPLICATION Launched on ");
    SendDatagramLocked(mAddressText);
    SendDatagramLocked("***\n");
}

void UdpDebugSender::SendDatagramLocked(std::string_view text) const
{
    const std::size_t end = text.find('\0');
    if (end != std::string_view::npos)
        text = text.substr(0, end);
    if (mSocket < 0 || text.empty())
        return;
    // A failed send (no listener, no route) is dropped: debug text must never disturb the
    // program that writes it.
    const ssize_t sent = sendto(mSocket, text.data(), text.size(), MSG_NOSIGNAL,
                                reinterpret_cast<const sockaddr*>(&mDestination), sizeof mDestination);
    if (sent < 0)
        errno = 0;
}

bool UdpDebugSender::HasSocket() const
{
    std::lock_guard lock(mMutex);
    return mSocket >= 0;
}

std::string UdpDebugSender::GetAddressText() const
{
    std::lock_guard lock(mMutex);
    return mAddressText;
}

} // namespace ZT
