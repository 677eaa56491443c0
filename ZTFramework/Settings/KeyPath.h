#pragma once
// A key path into a settings document: components separated by ".", each a child name and/or
// one or more "[n]" suffixes (n decimal) that select child n of a dictionary or array.
// "Window.Recent[2].Path" names the child "Path" of item 2 of "Recent" in "Window". Empty
// components are skipped, so the empty path (and ".") names the root.
//
// Names are matched ignoring ASCII case and only among the children of dictionaries. Finding
// never changes the document; creating appends what is missing:
//   - a missing named child is appended with that name (type None); a node that is not a
//     dictionary is first turned into one, which discards its old value;
//   - a missing index n appends empty dictionaries until child n exists; a node without
//     children is first turned into an array.
// Creation is checked before anything changes: a path whose new part would reach deeper than
// kMaxDepth below the root, or append up to an index above kMaxCreatedIndex, creates nothing.

#include "ZTFramework/Settings/XNode.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace ZT {

class CKeyPath {
public:
    // Deepest level of a node below the root (the root is level 0). The reader refuses deeper
    // documents too, so writing and freeing a tree never recurses further than this.
    static constexpr std::size_t kMaxDepth = 100;
    // Highest child index a path or an array size may create: settings lists are short, and this
    // keeps a mistyped index from allocating millions of nodes.
    static constexpr std::uint32_t kMaxCreatedIndex = 65535;

    // Null for a malformed path: "[" without "]", a bracket without digits or with anything but
    // decimal digits in it, more than nine digits, text after "]" other than another "[n]", or
    // a "]" without "[".
    [[nodiscard]] static std::optional<CKeyPath> Parse(std::string_view path);

    // The node the path leads to, or null.
    [[nodiscard]] XNode* Find(XNode& root) const;
    // The node the path leads to, created as described above; null when it cannot be created
    // (the document is then unchanged).
    [[nodiscard]] XNode* FindOrCreate(XNode& root) const;

    std::size_t GetStepCount() const noexcept { return mSteps.size(); }

private:
    struct Step {
        bool mIsIndex = false;
        std::string mName;
        std::uint32_t mIndex = 0;
    };

    // The child that step leads to from node, or null when it does not exist yet.
    static XNode* Follow(const XNode& node, const Step& step) noexcept;
    static XNode& Create(XNode& node, const Step& step);

    std::vector<Step> mSteps;
};

} // namespace ZT
