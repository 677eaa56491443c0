#include "ZTFramework/Settings/XNode.h"

#include "ZTFramework/Errors/Exception.h"

#include <utility>

namespace ZT {

namespace {

char LowerAscii(char c) noexcept
{
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool EqualsIgnoringAsciiCase(std::string_view a, std::string_view b) noexcept
{
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (LowerAscii(a[i]) != LowerAscii(b[i]))
            return false;
    }
    return true;
}

} // namespace

XNode::XNode(NString name) : mName(std::move(name)) {}

XNode::~XNode() = default;

void XNode::SetType(Type type)
{
    if (type == GetType())
        return;
    ClearValue();
    mTypeAndFlags = static_cast<std::uint8_t>(GetFlags() | static_cast<std::uint8_t>(type));
}

void XNode::SetFlag(std::uint8_t flag, bool on) noexcept
{
    flag &= kFlagMask;
    if (on)
        mTypeAndFlags |= flag;
    else
        mTypeAndFlags &= static_cast<std::uint8_t>(~flag);
}

void XNode::ClearDirtyFlags() noexcept
{
    SetFlag(kFlagDirty, false);
    for (const auto& child : mChildren)
        child->ClearDirtyFlags();
}

const NString& XNode::GetText() const noexcept
{
    static const NString kEmpty;
    const Type type = GetType();
    return (type == Type::String || type == Type::Data) ? mText : kEmpty;
}

void XNode::SetString(const NString& text)
{
    SetType(Type::String);
    mText = text;
}

void XNode::SetData(const NString& text)
{
    SetType(Type::Data);
    mText = text;
}

void XNode::SetBoolean(bool value)
{
    SetType(Type::Boolean);
    mBoolean = value;
}

void XNode::SetInteger(std::int32_t value)
{
    SetType(Type::Integer);
    mInteger = value;
}

void XNode::SetReal(float value)
{
    SetType(Type::Real);
    mReal = value;
}

XNode* XNode::GetChild(std::size_t index) const noexcept
{
    return index < mChildren.size() ? mChildren[index].get() : nullptr;
}

XNode* XNode::FindChild(std::string_view name) const noexcept
{
    for (const auto& child : mChildren) {
        if (EqualsIgnoringAsciiCase(child->mName.View(), name))
            return child.get();
    }
    return nullptr;
}

XNode& XNode::AppendChild(const NString& name)
{
    return AppendChild(std::make_unique<XNode>(name));
}

XNode& XNode::AppendChild(std::unique_ptr<XNode> child)
{
    if (!child)
        ZT_THROW_NULL_POINTER("child", "ZT::XNode::AppendChild");
    if (!IsContainer())
        ZT_THROW(Logic, "only dictionaries and arrays have children", "ZT::XNode::AppendChild");
    child->mParent = this;
    mChildren.push_back(std::move(child));
    return *mChildren.back();
}

void XNode::RemoveChild(std::size_t index)
{
    if (index >= mChildren.size())
        ZT_THROW(OutOfRange, "child index past the end", "ZT::XNode::RemoveChild");
    mChildren.erase(mChildren.begin() + static_cast<std::ptrdiff_t>(index));
}

void XNode::TruncateChildren(std::size_t count)
{
    if (count < mChildren.size())
        mChildren.resize(count);
}

void XNode::ClearValue() noexcept
{
    mBoolean = false;
    mInteger = 0;
    mReal = 0.0f;
    mText = NString();
    mChildren.clear();
}

const char* ToString(XNode::Type type)
{
    switch (type) {
    case XNode::Type::None:
        return "None";
    case XNode::Type::String:
        return "String";
    case XNode::Type::Boolean:
        return "Boolean";
    case XNode::Type::Integer:
        return "Integer";
    case XNode::Type::Real:
        return "Real";
    case XNode::Type::Dictionary:
        return "Dictionary";
    case XNode::Type::Array:
        return "Array";
    case XNode::Type::Data:
        return "Data";
    }
    return "?";
}

} // namespace ZT
