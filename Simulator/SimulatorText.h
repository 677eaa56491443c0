#pragma once
// Text helpers of the simulator's option parsers: items are matched with ASCII case ignored.

#include <cctype>
#include <string>
#include <string_view>

inline std::string LowerAscii(std::string_view text)
{
    std::string lower(text);
    for (char& c : lower)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return lower;
}
