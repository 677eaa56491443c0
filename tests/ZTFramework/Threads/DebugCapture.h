#pragma once
// Makes the debug log streams write into strings for one scope, so a test can read the lines the
// code under test wrote.

#include "ZTFramework/Debug/DebugOutput.h"

#include <mutex>
#include <sstream>
#include <string>

namespace ZT::Testing {

class CDebugCapture {
public:
    CDebugCapture() { DebugOutput::Instance().SetLogStreams(mNarrow, mWide); }
    ~CDebugCapture() { DebugOutput::Instance().UseDebugStreams(); }
    CDebugCapture(const CDebugCapture&) = delete;
    CDebugCapture& operator=(const CDebugCapture&) = delete;

    std::string Text() const
    {
        std::lock_guard lock(DebugOutput::Instance().GetMutex());
        return mNarrow.str();
    }

private:
    std::ostringstream mNarrow;
    std::wostringstream mWide;
};

} // namespace ZT::Testing
