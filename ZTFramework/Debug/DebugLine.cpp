#include "ZTFramework/Debug/DebugLine.h"

#include "ZTFramework/Debug/DebugOutput.h"
#include "ZTFramework/Utilities/Storage/StringT.h"

namespace ZT {

void DebugLine(std::string_view text)
{
    std::lock_guard lock(DebugOutput::Instance().GetMutex());
    std::ostream& stream = DebugOutput::Narrow();
    stream << text << '\n';
    stream.flush();
}

void DebugLine(std::wstring_view text)
{
    std::lock_guard lock(DebugOutput::Instance().GetMutex());
    std::wostream& stream = DebugOutput::Wide();
    stream << text << L'\n';
    stream.flush();
}

CDebugLine::~CDebugLine()
{
    DebugLine(mText.str());
}

CDebugLine& CDebugLine::operator<<(std::wstring_view text)
{
    std::string utf8;
    ConvertWideToUTF8(text, utf8);
    mText << utf8;
    return *this;
}

} // namespace ZT
