#include "FirmwareUpdater/Panel/Engine/CommandLineOption.h"

#include <cwctype>

namespace CommandLineOption {

bool Get(const ZT::WString& commandLine, const ZT::WString& name, ZT::WString& value)
{
    value = ZT::WString();
    if (name.GetLength() < 2 || name.GetBuffer()[0] != L'-')
        return false;

    // Upper-case character by character so positions in the copy are positions in the original.
    std::wstring upper(commandLine.View());
    for (wchar_t& c : upper)
        c = static_cast<wchar_t>(std::towupper(static_cast<wint_t>(c)));
    const auto found = upper.find(name.View());
    if (found == std::wstring::npos)
        return false;

    const std::wstring_view line = commandLine.View();
    const std::size_t p = found + static_cast<std::size_t>(name.GetLength());
    const bool takesValue = name.View().back() == L'=';
    if (!takesValue)
        return p == line.size() || line[p] == L' ';

    if (p == line.size())
        return true; // written last with nothing after "=": present, empty
    if (line[p] == L' ')
        return false;
    if (line[p] == L'"') {
        const auto closing = line.find(L'"', p + 1);
        const auto end = closing == std::wstring_view::npos ? line.size() : closing;
        value = ZT::WString(line.substr(p + 1, end - p - 1));
        return true;
    }
    const auto blank = line.find(L' ', p);
    const auto end = blank == std::wstring_view::npos ? line.size() : blank;
    value = ZT::WString(line.substr(p, end - p));
    return true;
}

std::int32_t ToInteger(const ZT::WString& text)
{
    const std::wstring_view s = text.View();
    std::size_t i = 0;
    while (i < s.size() && std::iswspace(static_cast<wint_t>(s[i])))
        ++i;
    bool negative = false;
    if (i < s.size() && (s[i] == L'+' || s[i] == L'-')) {
        negative = s[i] == L'-';
        ++i;
    }
    std::uint32_t magnitude = 0;
    for (; i < s.size() && s[i] >= L'0' && s[i] <= L'9'; ++i)
        magnitude = magnitude * 10u + static_cast<std::uint32_t>(s[i] - L'0');
    const std::uint32_t bits = negative ? 0u - magnitude : magnitude;
    return static_cast<std::int32_t>(bits);
}

} // namespace CommandLineOption
