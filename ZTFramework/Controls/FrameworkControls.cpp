#include "ZTFramework/Controls/FrameworkControls.h"

#include "ZTFramework/ControlBase/ControlFactory.h"
#include "ZTFramework/Controls/Button.h"
#include "ZTFramework/Controls/Label.h"
#include "ZTFramework/Controls/MainMenu.h"
#include "ZTFramework/Controls/Panel.h"
#include "ZTFramework/Controls/PopupMenu.h"
#include "ZTFramework/Controls/ProgressBar.h"
#include "ZTFramework/Controls/StatusBar.h"
#include "ZTFramework/Controls/ToolTip.h"

namespace ZT {

ZTRESULT CFrameworkControls::Register(LControlFactory& factory)
{
    struct Row {
        const wchar_t* mName;
        LControlFactory::CreateFunction mCreate;
    };
    const Row rows[] = {
        {L"Framework.Button", &LButton::Create},       {L"Framework.Label", &LLabel::Create},
        {L"Framework.Panel", &LPanel::Create},         {L"Framework.ProgressBar", &LProgressBar::Create},
        {L"Framework.StatusBar", &LStatusBar::Create}, {L"Framework.MainMenu", &LMainMenu::Create},
        {L"Framework.PopupMenu", &LPopupMenu::Create}, {L"Framework.ToolTip", &LToolTip::Create},
    };
    for (const Row& row : rows) {
        const ZTRESULT result = factory.RegisterControlClass(WString(row.mName), row.mCreate);
        if (Failed(result))
            return result;
    }
    return S_OK;
}

} // namespace ZT
