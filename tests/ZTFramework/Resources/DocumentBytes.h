#pragma once
// Builds test documents as the loaders receive them: UTF-8 bytes, or UTF-16 little-endian with a
// byte-order mark as our string tables are stored.

#include "ZTFramework/Utilities/Storage/StringT.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace ZT::Testing {

inline std::vector<std::uint8_t> Utf8Bytes(std::string_view text)
{
    return {text.begin(), text.end()};
}

inline std::vector<std::uint8_t> Utf16Bytes(std::string_view utf8)
{
    std::wstring wide;
    ConvertUTF8ToWide(utf8, wide);
    std::vector<std::uint8_t> bytes{0xFF, 0xFE};
    auto unit = [&bytes](std::uint32_t u) {
        bytes.push_back(static_cast<std::uint8_t>(u & 0xFF));
        bytes.push_back(static_cast<std::uint8_t>(u >> 8));
    };
    for (const wchar_t c : wide) {
        const auto code = static_cast<std::uint32_t>(c);
        if (code < 0x10000) {
            unit(code);
        } else {
            unit(0xD800 + ((code - 0x10000) >> 10));
            unit(0xDC00 + ((code - 0x10000) & 0x3FF));
        }
    }
    return bytes;
}

} // namespace ZT::Testing
