#pragma once
// Helpers shared by the settings tests: a scratch folder, whole-file reads and writes, a deep
// comparison of documents, and the independent property-list check.

#include "ZTFramework/Settings/XNode.h"
#include "tests/ZTFramework/Utilities/Storage/TempFolder.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

namespace SettingsTest {

using TempFolder = ZT::Testing::TempFolder;

inline std::string ReadFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

inline void WriteFile(const std::string& path, const std::string& bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << bytes;
}

// Compares two documents node by node: names, types, values and the flags that are written.
inline ::testing::AssertionResult SameTree(const ZT::XNode& a, const ZT::XNode& b, const std::string& where = "/")
{
    using ZT::XNode;
    if (a.GetName().View() != b.GetName().View())
        return ::testing::AssertionFailure() << where << ": name " << a.GetName().c_str() << " vs " << b.GetName().c_str();
    if (a.GetType() != b.GetType())
        return ::testing::AssertionFailure() << where << ": type " << ZT::ToString(a.GetType()) << " vs "
                                             << ZT::ToString(b.GetType());
    constexpr std::uint8_t kWrittenFlags = XNode::kFlagVisible | XNode::kFlagLocked;
    if ((a.GetFlags() & kWrittenFlags) != (b.GetFlags() & kWrittenFlags))
        return ::testing::AssertionFailure() << where << ": flags differ";
    if (a.GetText().View() != b.GetText().View() || a.GetBoolean() != b.GetBoolean() ||
        a.GetInteger() != b.GetInteger() || a.GetReal() != b.GetReal())
        return ::testing::AssertionFailure() << where << ": values differ";
    if (a.GetChildCount() != b.GetChildCount())
        return ::testing::AssertionFailure() << where << ": " << a.GetChildCount() << " vs " << b.GetChildCount()
                                             << " children";
    for (std::size_t i = 0; i < a.GetChildCount(); ++i) {
        auto result = SameTree(*a.GetChild(i), *b.GetChild(i), where + std::to_string(i) + "/");
        if (!result)
            return result;
    }
    return ::testing::AssertionSuccess();
}

inline bool HavePython()
{
    return std::system("command -v python3 >/dev/null 2>&1") == 0;
}

// Whether an independent property-list parser (Python's plistlib) reads the file.
inline bool ParsesAsPropertyList(const std::string& path)
{
    const std::string command =
        "python3 -c 'import plistlib,sys; plistlib.load(open(sys.argv[1],\"rb\"))' '" + path + "' 2>/dev/null";
    return std::system(command.c_str()) == 0;
}

inline ZT::WString W(const std::string& text)
{
    return ZT::WString(ZT::NString(text.c_str()));
}

inline ZT::NString N(const char* text)
{
    return ZT::NString(text);
}

} // namespace SettingsTest
