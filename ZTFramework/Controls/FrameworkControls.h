#pragma once
// Registers the framework's control classes with a control factory under "Framework." and the
// class's name: "Framework.Button", "Framework.Label", "Framework.Panel",
// "Framework.ProgressBar", "Framework.StatusBar", "Framework.MainMenu", "Framework.PopupMenu" and
// "Framework.ToolTip". Other names stay unknown to the factory, which refuses them.

#include "ZTFramework/Errors/Result.h"

namespace ZT {

class LControlFactory;

class CFrameworkControls {
public:
    // S_OK, or the first failed registration's result (a name already taken gives E_FAIL).
    [[nodiscard]] static ZTRESULT Register(LControlFactory& factory);
};

} // namespace ZT
