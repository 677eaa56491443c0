#pragma once
// Writing one diagnostic line to the current debug log stream, from any thread.
//
//     ZT::DebugLine("USB: no bootloader found");
//     ZT::CDebugLine() << "Engine: block " << index << " failed: " << ZT::ResultToText(result);
//
// Each line gets a "\n" and is flushed at once, so it leaves the process as one text (one system
// log entry, one UDP datagram). The line is written under DebugOutput's mutex, so lines from
// several threads never mix.

#include <sstream>
#include <string>
#include <string_view>

namespace ZT {

void DebugLine(std::string_view text);
// Wide text is written to the wide log stream.
void DebugLine(std::wstring_view text);

// Collects one narrow line and writes it with DebugLine when it goes out of scope. Wide text
// streamed into it is converted to UTF-8.
class CDebugLine {
public:
    CDebugLine() = default;
    CDebugLine(const CDebugLine&) = delete;
    CDebugLine& operator=(const CDebugLine&) = delete;
    ~CDebugLine();

    template <class T>
    CDebugLine& operator<<(const T& value)
    {
        mText << value;
        return *this;
    }
    CDebugLine& operator<<(std::wstring_view text);
    CDebugLine& operator<<(const wchar_t* text) { return *this << std::wstring_view(text ? text : L""); }
    CDebugLine& operator<<(const std::wstring& text) { return *this << std::wstring_view(text); }

private:
    std::ostringstream mText;
};

} // namespace ZT
