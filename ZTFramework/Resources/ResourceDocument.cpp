#include "ZTFramework/Resources/ResourceDocument.h"

#include "ZTFramework/Resources/BuiltInResources.h"

#include <cerrno>
#include <cstring>
#include <fstream>
#include <new>
#include <sys/stat.h>

namespace ZT {

std::string CResourceDocument::PathAt(std::string_view location, std::string_view resourceName,
                                      std::string_view fileName)
{
    if (location == kBuiltInLocation)
        return std::string(kBuiltInLocation) + std::string(resourceName);
    std::string path(location);
    if (!path.empty() && path.back() != '/')
        path += '/';
    path += fileName;
    return path;
}

ZTRESULT CResourceDocument::Read(std::string_view path)
{
    mPath = path;
    mFailureReason.clear();
    mStorage.clear();
    mBytes = {};
    if (!IsBuiltInPath(path))
        return ReadFile();
    const auto resource = CBuiltInResources::Find(path);
    if (!resource)
        return S_FALSE;
    if (resource->size() > kMaxSize)
        return Refuse("it is larger than " + std::to_string(kMaxSize) + " bytes");
    mBytes = *resource;
    return S_OK;
}

ZTRESULT CResourceDocument::ReadFile()
{
    struct stat status {};
    if (::stat(mPath.c_str(), &status) != 0) {
        if (errno == ENOENT || errno == ENOTDIR)
            return S_FALSE;
        return Refuse(std::strerror(errno));
    }
    if (!S_ISREG(status.st_mode))
        return Refuse("it is not a regular file");
    if (static_cast<std::uint64_t>(status.st_size) > kMaxSize)
        return Refuse("it is larger than " + std::to_string(kMaxSize) + " bytes");

    std::ifstream file(mPath, std::ios::binary);
    if (!file)
        return Refuse("it cannot be opened");
    try {
        // One byte more than allowed tells a file that grew since stat from one that did not.
        mStorage.resize(static_cast<std::size_t>(status.st_size) + 1);
    } catch (const std::bad_alloc&) {
        mStorage = {};
        return E_OUTOFMEMORY;
    }
    file.read(reinterpret_cast<char*>(mStorage.data()), static_cast<std::streamsize>(mStorage.size()));
    const auto got = static_cast<std::size_t>(file.gcount());
    if (file.bad())
        return Refuse("reading it failed");
    if (got > kMaxSize)
        return Refuse("it is larger than " + std::to_string(kMaxSize) + " bytes");
    mStorage.resize(got);
    mBytes = mStorage;
    return S_OK;
}

ZTRESULT CResourceDocument::Refuse(std::string reason)
{
    mFailureReason = std::move(reason);
    mStorage = {};
    mBytes = {};
    return E_FAIL;
}

} // namespace ZT
