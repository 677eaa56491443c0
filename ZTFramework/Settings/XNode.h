#pragma once
// One value of a settings document: a typed node of a property-list tree.
//
// A node has a name (UTF-8, empty for array items and the root), a type, four flag bits, a value
// and a parent. Dictionaries and arrays own their children in order; the other types hold one
// scalar. Changing a node's type discards its old value, children included.
//
// Not guarded: a document is used by one thread at a time.

#include "ZTFramework/Utilities/Storage/StringT.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string_view>
#include <vector>

namespace ZT {

class XNode {
public:
    // The numbers are the ones the type bits have always held.
    enum class Type : std::uint8_t {
        None = 0,
        String = 1,
        Boolean = 2,
        Integer = 3,
        Real = 4,
        Dictionary = 5,
        Array = 6,
        Data = 7,
    };

    static constexpr std::uint8_t kFlagDirty = 0x10;
    // Volatile nodes and their subtrees are never written to a file.
    static constexpr std::uint8_t kFlagVolatile = 0x20;
    static constexpr std::uint8_t kFlagVisible = 0x40;
    static constexpr std::uint8_t kFlagLocked = 0x80;
    static constexpr std::uint8_t kFlagMask = 0xF0;

    XNode() = default;
    explicit XNode(NString name);
    XNode(const XNode&) = delete;
    XNode& operator=(const XNode&) = delete;
    ~XNode();

    const NString& GetName() const noexcept { return mName; }
    void SetName(const NString& name) { mName = name; }

    Type GetType() const noexcept { return static_cast<Type>(mTypeAndFlags & 0x0F); }
    // A different type discards the old value (text, number, children).
    void SetType(Type type);
    bool IsContainer() const noexcept { return GetType() == Type::Dictionary || GetType() == Type::Array; }

    std::uint8_t GetFlags() const noexcept { return mTypeAndFlags & kFlagMask; }
    bool HasFlag(std::uint8_t flag) const noexcept { return (mTypeAndFlags & flag) != 0; }
    void SetFlag(std::uint8_t flag, bool on) noexcept;
    // Clears the dirty flag of this node and of its whole subtree.
    void ClearDirtyFlags() noexcept;

    XNode* GetParent() const noexcept { return mParent; }

    // Scalar values. Each setter makes the node of that type first; each getter returns the
    // value only for its own type (the empty text, false or 0 for any other).
    const NString& GetText() const noexcept; // string and data nodes
    void SetString(const NString& text);
    void SetData(const NString& text);
    bool GetBoolean() const noexcept { return GetType() == Type::Boolean && mBoolean; }
    void SetBoolean(bool value);
    std::int32_t GetInteger() const noexcept { return GetType() == Type::Integer ? mInteger : 0; }
    void SetInteger(std::int32_t value);
    float GetReal() const noexcept { return GetType() == Type::Real ? mReal : 0.0f; }
    void SetReal(float value);

    // Children of dictionaries and arrays (other types have none).
    std::size_t GetChildCount() const noexcept { return mChildren.size(); }
    XNode* GetChild(std::size_t index) const noexcept;
    // The first child whose name equals name, ignoring ASCII case; null when there is none.
    XNode* FindChild(std::string_view name) const noexcept;
    // Appends a child of type None. The node must be a dictionary or an array.
    XNode& AppendChild(const NString& name);
    // Takes over a child made elsewhere (the reader builds nodes before it knows their parent).
    XNode& AppendChild(std::unique_ptr<XNode> child);
    void RemoveChild(std::size_t index);
    // Removes the children from index count on.
    void TruncateChildren(std::size_t count);

private:
    void ClearValue() noexcept;

    NString mName;
    std::uint8_t mTypeAndFlags = 0;
    bool mBoolean = false;
    std::int32_t mInteger = 0;
    float mReal = 0.0f;
    NString mText;
    std::vector<std::unique_ptr<XNode>> mChildren;
    XNode* mParent = nullptr;
};

const char* ToString(XNode::Type type);

} // namespace ZT
