#include "ZTFramework/Utilities/Storage/ZTFile.h"

#include "ZTFramework/Errors/Exception.h"
#include "ZTFramework/Utilities/Storage/StringT.h"

#include <cerrno>
#include <fcntl.h>
#include <limits>
#include <string>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>
#include <utility>

namespace ZT {

namespace {

std::string SystemReason(const char* what, int error)
{
    return std::string(what) + " failed: " + std::generic_category().message(error);
}

} // namespace

File::File(File&& other) noexcept : mDescriptor(std::exchange(other.mDescriptor, -1)) {}

File& File::operator=(File&& other) noexcept
{
    if (this != &other) {
        Close();
        mDescriptor = std::exchange(other.mDescriptor, -1);
    }
    return *this;
}

File::~File()
{
    Close();
}

ZTRESULT File::Open(const WString& path, OpenMode mode)
{
    Close();
    if (path.IsEmpty())
        return E_INVALIDARG;

    int flags = O_CLOEXEC;
    switch (mode) {
    case OpenMode::ReadBinaryShared:
        // O_NONBLOCK keeps open() from waiting for a writer when the path names a pipe; the
        // descriptor is refused below unless it is a regular file, for which the flag has no
        // effect on reads.
        flags |= O_RDONLY | O_NONBLOCK;
        break;
    }

    const std::string systemPath = path.ToUTF8();
    int descriptor = -1;
    do {
        descriptor = ::open(systemPath.c_str(), flags);
    } while (descriptor < 0 && errno == EINTR);
    if (descriptor < 0)
        return E_FAIL;

    struct stat status {};
    if (::fstat(descriptor, &status) != 0 || !S_ISREG(status.st_mode)) {
        ::close(descriptor);
        return E_FAIL;
    }
    mDescriptor = descriptor;
    return S_OK;
}

void File::Close() noexcept
{
    if (mDescriptor < 0)
        return;
    // A read-only descriptor has no unwritten data, so a failing close loses nothing.
    ::close(std::exchange(mDescriptor, -1));
}

void File::Seek(std::uint64_t offset)
{
    if (mDescriptor < 0)
        ZT_THROW(Logic, "file is not open", "ZT::File::Seek");
    if (offset > static_cast<std::uint64_t>(std::numeric_limits<off_t>::max()))
        ZT_THROW(OutOfRange, "offset past the largest file position", "ZT::File::Seek");
    if (::lseek(mDescriptor, static_cast<off_t>(offset), SEEK_SET) < 0)
        ZT_THROW(Runtime, SystemReason("lseek", errno), "ZT::File::Seek");
}

std::size_t File::Read(void* buffer, std::size_t count)
{
    if (mDescriptor < 0)
        ZT_THROW(Logic, "file is not open", "ZT::File::Read");
    auto* bytes = static_cast<unsigned char*>(buffer);
    std::size_t total = 0;
    // read() may return fewer bytes than asked before the end of the file (signals, large
    // counts), so keep reading until the count is complete or the end is reached.
    while (total < count) {
        const ssize_t got = ::read(mDescriptor, bytes + total, count - total);
        if (got < 0) {
            if (errno == EINTR)
                continue;
            ZT_THROW(Runtime, SystemReason("read", errno), "ZT::File::Read");
        }
        if (got == 0)
            break;
        total += static_cast<std::size_t>(got);
    }
    return total;
}

std::uint64_t File::GetLength() const
{
    if (mDescriptor < 0)
        ZT_THROW(Logic, "file is not open", "ZT::File::GetLength");
    struct stat status {};
    if (::fstat(mDescriptor, &status) != 0)
        ZT_THROW(Runtime, SystemReason("fstat", errno), "ZT::File::GetLength");
    return static_cast<std::uint64_t>(status.st_size);
}

} // namespace ZT
