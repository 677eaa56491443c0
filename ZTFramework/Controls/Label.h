#pragma once
// A text label. Its caption is its text; the skin's default text is the "LABEL" string of its
// table, which the code may also use as a format (UseFormat).

#include "ZTFramework/ControlBase/Control.h"

namespace ZT {

class LLabel : public LControl {
public:
    static RCPtr<LControl> Create() { return MakeRC<LLabel>(); }

    // The text the label got when it was created (its default text).
    [[nodiscard]] const WString& GetDefaultText() const noexcept { return mDefaultText; }
    // Shows the default text with argument in place of its "%s"; the text stays unchanged when
    // the default text holds no "%s" or other conversions. Returns whether the text was set.
    bool SetTextFromDefault(const WString& argument);

    [[nodiscard]] ZTRESULT Initialize() override;

private:
    WString mDefaultText;
};

} // namespace ZT
