#include "ZTFramework/Application/SingleInstance.h"

#include "ZTFramework/Debug/DebugLine.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>
#include <utility>

namespace ZT {

namespace {

constexpr const char* kLockEnding = ".lock";
constexpr const char* kSocketEnding = ".socket";

// The address of the socket file of name; false when the path does not fit.
bool MakeAddress(const std::string& name, sockaddr_un& address, socklen_t& length)
{
    const std::string path = name + kSocketEnding;
    std::memset(&address, 0, sizeof(address));
    address.sun_family = AF_UNIX;
    if (path.size() >= sizeof(address.sun_path))
        return false;
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + path.size() + 1);
    return true;
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

// Empty when path is a real folder (no symbolic link) that only this user can reach; else why not.
std::string WhyNotPrivate(const std::string& path)
{
    struct stat status{};
    if (::lstat(path.c_str(), &status) != 0)
        return std::strerror(errno);
    if (!S_ISDIR(status.st_mode))
        return "it is not a folder";
    if (status.st_uid != ::geteuid())
        return "it belongs to user " + std::to_string(status.st_uid);
    if ((status.st_mode & 077) != 0) {
        char mode[8];
        std::snprintf(mode, sizeof mode, "%04o", static_cast<unsigned>(status.st_mode & 07777));
        return std::string("others may reach it (mode ") + mode + ")";
    }
    return {};
}

// The other end's user of a connected socket; nothing when the system does not say.
std::optional<uid_t> PeerUser(int descriptor)
{
    ucred credentials{};
    socklen_t size = sizeof(credentials);
    if (::getsockopt(descriptor, SOL_SOCKET, SO_PEERCRED, &credentials, &size) != 0 || size != sizeof(credentials))
        return std::nullopt;
    return credentials.uid;
}

} // namespace

CSingleInstance::CSingleInstance(std::string name) : mName(std::move(name)) {}

CSingleInstance::~CSingleInstance()
{
    if (mDescriptor >= 0) {
        ::close(mDescriptor);
        // Only the holder of the lock bound the socket file; the next first copy would replace it
        // anyway.
        if (mFirst)
            (void)::unlink((mName + kSocketEnding).c_str()); // best effort: the next first copy replaces it
    }
    if (mLock >= 0)
        ::close(mLock);
}

std::string CSingleInstance::SocketName(const std::string& windowClassName)
{
    const std::string base = windowClassName + "Prevent";
    const char* runtimeDir = std::getenv("XDG_RUNTIME_DIR");
    if (runtimeDir && runtimeDir[0] == '/') {
        const std::string why = WhyNotPrivate(runtimeDir);
        if (why.empty())
            return std::string(runtimeDir) + "/" + base;
        CDebugLine() << "Single instance: $XDG_RUNTIME_DIR " << runtimeDir << " is not used (" << why << ")";
    }
    const char* temporary = std::getenv("TMPDIR");
    const std::string parent = temporary && temporary[0] == '/' ? temporary : "/tmp";
    const std::string folder = parent + "/" + windowClassName + "-" + std::to_string(::geteuid());
    if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) {
        CDebugLine() << "Single instance: " << folder << " cannot be made (" << std::strerror(errno)
                     << "); every copy opens its window";
        return {};
    }
    if (const std::string why = WhyNotPrivate(folder); !why.empty()) {
        CDebugLine() << "Single instance: " << folder << " is ignored (" << why << "); every copy opens its window";
        return {};
    }
    // The folder has the class's name already; a short file name keeps the socket's path within
    // the system's limit (107 bytes).
    return folder + "/Prevent";
}

bool CSingleInstance::Claim()
{
    if (mLock >= 0 || mName.empty()) {
        mFirst = mFirst || mName.empty();
        return mFirst;
    }
    mLock = ::open((mName + kLockEnding).c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (mLock < 0) {
        // A broken check never keeps the program from starting.
        mFirst = true;
        return mFirst;
    }
    if (::flock(mLock, LOCK_EX | LOCK_NB) != 0) {
        mFirst = errno != EWOULDBLOCK;
        if (!mFirst) {
            ::close(mLock);
            mLock = -1;
        }
        return mFirst;
    }
    mFirst = true;
    // The socket of a copy that died is stale: this copy's replaces it.
    sockaddr_un address;
    socklen_t length = 0;
    if (!MakeAddress(mName, address, length)) {
        CDebugLine() << "Single instance: " << mName << kSocketEnding << " is too long a path for a socket; "
                     << "second copies will open windows of their own";
        return mFirst;
    }
    (void)::unlink(address.sun_path); // a stale socket file, or none
    mDescriptor = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (mDescriptor >= 0 && ::bind(mDescriptor, reinterpret_cast<const sockaddr*>(&address), length) != 0) {
        ::close(mDescriptor);
        mDescriptor = -1;
    }
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
    if (const std::optional<uid_t> peer = PeerUser(connection); peer != ::geteuid()) {
        CDebugLine() << "Single instance: ignored a hand-over from "
                     << (peer ? "user " + std::to_string(*peer) : std::string("an unknown user"));
        ::close(connection);
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
    sockaddr_un address;
    socklen_t length = 0;
    if (name.empty() || !MakeAddress(name, address, length))
        return false;
    const int descriptor = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (descriptor < 0)
        return false;
    // Connecting to a socket that nobody listens on is refused at once.
    if (::connect(descriptor, reinterpret_cast<const sockaddr*>(&address), length) != 0) {
        ::close(descriptor);
        return false;
    }
    if (const std::optional<uid_t> peer = PeerUser(descriptor); peer != ::geteuid()) {
        CDebugLine() << "Single instance: " << address.sun_path << " is held by "
                     << (peer ? "user " + std::to_string(*peer) : std::string("an unknown user"))
                     << "; it is ignored and this copy opens its window";
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
