#pragma once
// Turns a settings document into the text of an XML property-list file.
//
// The layout is fixed, so files stay byte-for-byte what earlier versions wrote:
//   <?xml version="1.0" encoding="UTF-8"?>
//   <!DOCTYPE plist PUBLIC "-//Apple Computer//DTD PLIST 1.0//EN" "http://www.apple.com/DTDs/PropertyList-1.0.dtd">
//   <plist version="1.0">
//   <dict>
//   	<key>Name</key><string>text</string>
//   	<key>List</key><array>
//   		<integer>2</integer>
//   	</array>
//   </dict>
//   </plist>
// Every line ends in a line feed and is indented by one tab per level (the root has none).
// A dictionary child carries "<key>name</key>" before its value on the same line. Reals are
// written as C's "%f" (six decimals, "." whatever the locale). A visible node gets the attribute
// visible="true", a locked one locked="true", in that order. Dictionaries and arrays with nothing
// to write are "<dict/>" and "<array/>". Volatile nodes and their subtrees, and nodes of type
// None, are left out.
//
// Names, strings and data are escaped (& < > " ' as entities). Characters that XML 1.0 cannot
// carry at all (control characters other than tab, line feed and carriage return, U+FFFE,
// U+FFFF) and bytes that are not UTF-8 are written as U+FFFD, so a written file always parses.

#include "ZTFramework/Settings/XNode.h"

#include <string>
#include <string_view>

namespace ZT {

class CPropertyListWriter {
public:
    static constexpr std::string_view kHeader =
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
        "<!DOCTYPE plist PUBLIC \"-//Apple Computer//DTD PLIST 1.0//EN\" "
        "\"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n"
        "<plist version=\"1.0\">\n";
    static constexpr std::string_view kFooter = "</plist>\n";

    // The whole file: header, the root and its descendants, footer.
    [[nodiscard]] static std::string Write(const XNode& root);

    // The text escaped for element content and attribute values, as described above.
    static void AppendEscaped(std::string& out, std::string_view text);

private:
    static void AppendNode(std::string& out, const XNode& node, bool inDictionary, std::size_t level);
    static void AppendAttributes(std::string& out, const XNode& node);
    static bool IsWritten(const XNode& node) noexcept;
};

} // namespace ZT
