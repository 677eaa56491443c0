#include "ZTFramework/Settings/KeyPath.h"

namespace ZT {

std::optional<CKeyPath> CKeyPath::Parse(std::string_view path)
{
    constexpr std::size_t kMaxIndexDigits = 9;
    CKeyPath result;
    std::size_t position = 0;
    while (position <= path.size()) {
        std::size_t end = path.find('.', position);
        if (end == std::string_view::npos)
            end = path.size();
        const std::string_view component = path.substr(position, end - position);
        position = end + 1;

        const std::size_t bracket = component.find('[');
        const std::string_view name = component.substr(0, bracket);
        if (name.find(']') != std::string_view::npos)
            return std::nullopt;
        if (!name.empty())
            result.mSteps.push_back(Step{false, std::string(name), 0});

        std::string_view rest = bracket == std::string_view::npos ? std::string_view() : component.substr(bracket);
        while (!rest.empty()) {
            if (rest.front() != '[')
                return std::nullopt;
            const std::size_t close = rest.find(']');
            if (close == std::string_view::npos)
                return std::nullopt;
            const std::string_view digits = rest.substr(1, close - 1);
            if (digits.empty() || digits.size() > kMaxIndexDigits)
                return std::nullopt;
            std::uint32_t index = 0;
            for (const char c : digits) {
                if (c < '0' || c > '9')
                    return std::nullopt;
                index = index * 10 + static_cast<std::uint32_t>(c - '0');
            }
            result.mSteps.push_back(Step{true, {}, index});
            rest.remove_prefix(close + 1);
        }
    }
    return result;
}

XNode* CKeyPath::Follow(const XNode& node, const Step& step) noexcept
{
    if (!step.mIsIndex)
        return node.GetType() == XNode::Type::Dictionary ? node.FindChild(step.mName) : nullptr;
    return node.IsContainer() ? node.GetChild(step.mIndex) : nullptr;
}

XNode& CKeyPath::Create(XNode& node, const Step& step)
{
    if (!step.mIsIndex) {
        node.SetType(XNode::Type::Dictionary);
        return node.AppendChild(NString(step.mName.c_str(), static_cast<std::int32_t>(step.mName.size())));
    }
    if (node.GetChildCount() == 0)
        node.SetType(XNode::Type::Array);
    while (node.GetChildCount() <= step.mIndex)
        node.AppendChild(NString()).SetType(XNode::Type::Dictionary);
    return *node.GetChild(step.mIndex);
}

XNode* CKeyPath::Find(XNode& root) const
{
    XNode* node = &root;
    for (const Step& step : mSteps) {
        node = Follow(*node, step);
        if (!node)
            return nullptr;
    }
    return node;
}

XNode* CKeyPath::FindOrCreate(XNode& root) const
{
    // Walk what exists, then check the part still to be made before changing anything.
    XNode* node = &root;
    std::size_t step = 0;
    for (; step < mSteps.size(); ++step) {
        XNode* next = Follow(*node, mSteps[step]);
        if (!next)
            break;
        node = next;
    }
    if (step == mSteps.size())
        return node;
    if (mSteps.size() > kMaxDepth)
        return nullptr;
    for (std::size_t i = step; i < mSteps.size(); ++i) {
        if (mSteps[i].mIsIndex && mSteps[i].mIndex > kMaxCreatedIndex)
            return nullptr;
    }
    for (; step < mSteps.size(); ++step) {
        XNode* next = Follow(*node, mSteps[step]);
        node = next ? next : &Create(*node, mSteps[step]);
    }
    return node;
}

} // namespace ZT
