#include "ZTFramework/Errors/Result.h"

#include <cstdio>

namespace ZT {

std::string ResultToText(ZTRESULT result)
{
    switch (result) {
    case S_OK: return "S_OK";
    case S_FALSE: return "S_FALSE";
    case E_FAIL: return "E_FAIL";
    case E_ABORT: return "E_ABORT";
    case E_INVALIDARG: return "E_INVALIDARG";
    case E_OUTOFMEMORY: return "E_OUTOFMEMORY";
    case ZTRESULT_EXIT_APPLICATION: return "ZTRESULT_EXIT_APPLICATION";
    default: break;
    }
    char text[16];
    std::snprintf(text, sizeof text, "0x%08X", static_cast<unsigned>(result));
    return text;
}

} // namespace ZT
