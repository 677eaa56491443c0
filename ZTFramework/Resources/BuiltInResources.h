#pragma once
// The documents and images built into the program: the resources found under the location "::".
//
// The build turns the application's XML documents and images into byte arrays (see
// tools/EmbedResources.cmake) and each generated file registers its entries here while the
// program starts (static initialisation), so every program and test that links a resource
// library finds them by name without a call of its own.
//
// Names are resource names as the loader builds them from a path: "::Skins.xml" and
// "APP_SKINS" style names are looked up case-insensitively, so "UpdaterBackground_png" finds
// "UPDATERBACKGROUND_PNG".
//
// Threads: entries are registered during static initialisation, before main; afterwards the
// registry is only read. Registration and look-up take a mutex, so late registrations (tests)
// are safe too.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace ZT {

// One built-in resource: its name and bytes. The bytes live as long as the program.
struct BuiltInResource {
    const char* mName;
    const std::uint8_t* mData;
    std::size_t mSize;
};

class CBuiltInResources {
public:
    // Adds entries; a later entry with the name of an earlier one replaces it.
    static void Register(std::span<const BuiltInResource> resources);
    // Removes the entry with this name (tests use it to stand for a program without it).
    static void Unregister(std::string_view name);

    // The bytes of the resource, or nothing when no resource has that name.
    [[nodiscard]] static std::optional<std::span<const std::uint8_t>> Find(std::string_view name);

    // The resource name for a built-in path: drops a leading "::", replaces every "." and blank
    // by "_" and upper-cases ASCII letters: "::UpdaterBackground.png" -> "UPDATERBACKGROUND_PNG".
    [[nodiscard]] static std::string ResourceNameFromPath(std::string_view path);
};

} // namespace ZT
