#include "ZTFramework/Application/SingleInstance.h"

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>
#include <utility>

namespace ZT {

namespace {

// The address of name in the abstract namespace: a zero byte, then the name, no terminator.
socklen_t MakeAddress(const std::string& name, sockaddr_un& address)
{
    std::memset(&address, 0, sizeof(address));
    address.sun_family = AF_UNIX;
    const std::size_t length = std::min(name.size(), sizeof(address.sun_path) - 1);
    std::memcpy(address.sun_path + 1, name.data(), length);
    return static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + length);
}

std::uint64_t Fnv1a64(const std::string& text)
{
    std::uint64_t hash = 0xCBF29CE484222325ull;
    for (const char c : text) {
        hash ^= static_cast<unsigned char>(c);
        hash *= 0x100000001B3ull;
    }
    return hash;
}

// Milliseconds left until deadline, never negative.
int RemainingMs(std::chrono::steady_clock::time_point deadline)
{
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    return left.count() > 0 ? static_cast<int>(left.count()) : 0;
}

bool WaitFor(int descriptor, short events, std::chrono::steady_clock::time_point deadline)
{
    for (;;) {
        pollfd entry{descriptor, events, 0};
        const int ready = ::poll(&entry, 1, RemainingMs(deadline));
        if (ready > 0)
            return true;
        if (ready == 0 || errno != EINTR)
            return false;
    }
}

} // namespace

CSingleInstance::CSingleInstance(std::string name) : mName(std::move(name)) {}

CSingleInstance::~CSingleInstance()
{
    if (mDescriptor >= 0)
        ::close(mDescriptor);
}

std::string CSingleInstance::SocketName(const std::string& windowClassName)
{
    const char* runtimeDir = std::getenv("XDG_RUNTIME_DIR");
    const std::string session = runtimeDir && *runtimeDir ? std::string("dir:") + runtimeDir
                                                           : "uid:" + std::to_string(::getuid());
    char digits[17];
    std::snprintf(digits, sizeof(digits), "%016llx", static_cast<unsigned long long>(Fnv1a64(session)));
    return windowClassName + "Prevent." + digits;
}

bool CSingleInstance::Claim()
{
    if (mDescriptor >= 0)
        return mFirst;
    mDescriptor = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (mDescriptor < 0) {
        mFirst = true;
        return mFirst;
    }
    sockaddr_un address;
    const socklen_t length = MakeAddress(mName, address);
    if (::bind(mDescriptor, reinterpret_cast<const sockaddr*>(&address), length) == 0) {
        mFirst = true;
        return mFirst;
    }
    // EADDRINUSE: another copy holds the name. Any other failure counts as first as well, so
    // that the program still starts; the socket is of no further use either way.
    mFirst = errno != EADDRINUSE;
    ::close(mDescriptor);
    mDescriptor = -1;
    return mFirst;
}

bool CSingleInstance::StartListening()
{
    if (!mFirst || mDescriptor < 0)
        return false;
    if (mListening)
        return true;
    mListening = ::listen(mDescriptor, 8) == 0;
    return mListening;
}

std::optional<std::string> CSingleInstance::AcceptCommandLine(std::chrono::milliseconds timeout)
{
    if (!mListening)
        return std::nullopt;
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    int connection = -1;
    for (;;) {
        connection = ::accept4(mDescriptor, nullptr, nullptr, SOCK_CLOEXEC);
        if (connection >= 0)
            break;
        if (errno == EINTR)
            continue;
        if ((errno != EAGAIN && errno != EWOULDBLOCK) || !WaitFor(mDescriptor, POLLIN, deadline))
            return std::nullopt;
    }
    std::string text;
    bool ended = false;
    char buffer[4096];
    while (!ended && text.size() < kMaxCommandLineBytes) {
        if (!WaitFor(connection, POLLIN, deadline))
            break;
        const ssize_t count = ::recv(connection, buffer, sizeof(buffer), 0);
        if (count < 0 && errno == EINTR)
            continue;
        if (count <= 0) {
            ended = true;
            break;
        }
        const char* end = static_cast<const char*>(std::memchr(buffer, '\0', static_cast<std::size_t>(count)));
        const std::size_t used = end ? static_cast<std::size_t>(end - buffer) : static_cast<std::size_t>(count);
        text.append(buffer, std::min(used, kMaxCommandLineBytes - text.size()));
        ended = end != nullptr;
    }
    ::close(connection);
    if (text.empty() && !ended)
        return std::nullopt;
    return text;
}

bool CSingleInstance::HandOverCommandLine(const std::string& name, const std::string& commandLine)
{
    const int descriptor = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (descriptor < 0)
        return false;
    sockaddr_un address;
    const socklen_t length = MakeAddress(name, address);
    // Connecting to a bound name that nobody listens on is refused at once.
    if (::connect(descriptor, reinterpret_cast<const sockaddr*>(&address), length) != 0) {
        ::close(descriptor);
        return false;
    }
    if (!commandLine.empty()) {
        // A first copy that stops reading must not keep this one from ending.
        const timeval sendTimeout{1, 0};
        ::setsockopt(descriptor, SOL_SOCKET, SO_SNDTIMEO, &sendTimeout, sizeof(sendTimeout));
        const char* data = commandLine.c_str();
        std::size_t left = commandLine.size() + 1; // with the terminating zero
        while (left > 0) {
            const ssize_t sent = ::send(descriptor, data, left, MSG_NOSIGNAL);
            if (sent < 0 && errno == EINTR)
                continue;
            if (sent <= 0)
                break;
            data += sent;
            left -= static_cast<std::size_t>(sent);
        }
    }
    ::close(descriptor);
    return true;
}

} // namespace ZT
