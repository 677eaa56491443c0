#include "ZTFramework/Controls/ToolTip.h"

namespace ZT {

void LToolTip::ShowAt(const WString& text, int left, int top, int width, int height)
{
    SetText(text);
    SetBounds({left, top, left + width, top + height});
    (void)SetVisible(true); // returns the visibility just set
}

} // namespace ZT
