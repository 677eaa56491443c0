#include "ZTFramework/Resources/BuiltInResources.h"

#include <map>
#include <mutex>

namespace ZT {

namespace {

struct Registry {
    std::mutex mMutex;
    std::map<std::string, std::span<const std::uint8_t>, std::less<>> mEntries;
};

// Created on first use, so registrations from other files' static initialisers find it ready.
Registry& TheRegistry()
{
    static Registry registry;
    return registry;
}

} // namespace

void CBuiltInResources::Register(std::span<const BuiltInResource> resources)
{
    Registry& registry = TheRegistry();
    const std::lock_guard lock(registry.mMutex);
    for (const BuiltInResource& resource : resources)
        registry.mEntries[ResourceNameFromPath(resource.mName)] = {resource.mData, resource.mSize};
}

void CBuiltInResources::Unregister(std::string_view name)
{
    Registry& registry = TheRegistry();
    const std::lock_guard lock(registry.mMutex);
    registry.mEntries.erase(ResourceNameFromPath(name));
}

std::optional<std::span<const std::uint8_t>> CBuiltInResources::Find(std::string_view name)
{
    Registry& registry = TheRegistry();
    const std::string key = ResourceNameFromPath(name);
    const std::lock_guard lock(registry.mMutex);
    const auto found = registry.mEntries.find(key);
    if (found == registry.mEntries.end())
        return std::nullopt;
    return found->second;
}

std::string CBuiltInResources::ResourceNameFromPath(std::string_view path)
{
    if (path.starts_with("::"))
        path.remove_prefix(2);
    std::string name(path);
    for (char& c : name) {
        if (c == '.' || c == ' ')
            c = '_';
        else if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
    }
    return name;
}

} // namespace ZT
