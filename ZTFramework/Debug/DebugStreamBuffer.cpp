#include "ZTFramework/Debug/DebugStreamBuffer.h"

#include "ZTFramework/Debug/DebugOutput.h"
#include "ZTFramework/Utilities/Storage/StringT.h"

#include <cstdio>
#include <string_view>

namespace ZT {

namespace {

std::string ToUTF8(const std::string& text)
{
    return text;
}

std::string ToUTF8(const std::wstring& text)
{
    std::string utf8;
    ConvertWideToUTF8(text, utf8);
    return utf8;
}

void WriteToStandardError(std::string_view text)
{
    if (text.empty())
        return;
    std::fwrite(text.data(), 1, text.size(), stderr);
    std::fflush(stderr);
}

} // namespace

template <class C>
int DebugStreamBufferT<C>::sync()
{
    DebugOutput& output = DebugOutput::Instance();
    std::lock_guard lock(output.GetMutex());
    const std::basic_string<C> text = this->str();
    this->str(std::basic_string<C>());
    // A terminating NUL ends the text the way the receivers always read it.
    std::string utf8 = ToUTF8(text);
    if (const std::size_t end = utf8.find('\0'); end != std::string::npos)
        utf8.resize(end);
    switch (mSink) {
    case DebugSink::DebugOutput:
        output.Deliver(utf8);
        break;
    case DebugSink::StandardError:
        WriteToStandardError(utf8);
        break;
    }
    return 0;
}

template class DebugStreamBufferT<char>;
template class DebugStreamBufferT<wchar_t>;

} // namespace ZT
