#include "ZTFramework/Controls/Label.h"

namespace ZT {

ZTRESULT LLabel::Initialize()
{
    const ZTRESULT result = LControl::Initialize();
    if (Failed(result))
        return result;
    mDefaultText = GetText();
    return S_OK;
}

bool LLabel::SetTextFromDefault(const WString& argument)
{
    // Exactly one conversion, and it is "%s": a translated format with anything else is not fed
    // to the formatter.
    const std::int32_t at = mDefaultText.Find(L"%s");
    if (at < 0)
        return false;
    const std::int32_t percent = mDefaultText.Find(L'%');
    if (percent != at || mDefaultText.Find(L'%', at + 2) >= 0)
        return false;
    SetText(mDefaultText.Left(at) + argument + mDefaultText.Mid(at + 2));
    return true;
}

} // namespace ZT
