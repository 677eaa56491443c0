#include "ZTFramework/ControlBase/ControlFactory.h"
#include "ZTFramework/Controls/Button.h"
#include "ZTFramework/Controls/FrameworkControls.h"
#include "ZTFramework/Controls/Label.h"
#include "ZTFramework/Controls/ProgressBar.h"
#include "tests/Support/Printers.h"

#include <gtest/gtest.h>

#include <limits>

namespace {

using ZT::RCPtr;
using ZT::WString;

template <class T>
RCPtr<T> Make(const wchar_t* name, const wchar_t* text = L"")
{
    auto control = ZT::MakeRC<T>();
    control->SetName(WString(name));
    control->SetText(WString(text));
    control->SetBounds({0, 0, 100, 20});
    return control;
}

TEST(ProgressBar, KeepsItsLabelsInStepWithValueAndTime)
{
    const auto bar = Make<ZT::LProgressBar>(L"progressBar");
    const auto percent = Make<ZT::LLabel>(L"percentCompleteLabel", L"99");
    const auto time = Make<ZT::LLabel>(L"timeRemainingLabel", L"5 Sekunden");
    ASSERT_RESULT_EQ(bar->AddChild(percent), ZT::S_OK);
    ASSERT_RESULT_EQ(bar->AddChild(time), ZT::S_OK);
    ASSERT_RESULT_EQ(bar->Initialize(), ZT::S_OK);
    EXPECT_EQ(percent->GetText(), WString(L"0"));
    EXPECT_FALSE(time->GetVisibleFlag());   // time unknown at start

    bar->SetValue(0.426);
    EXPECT_EQ(percent->GetText(), WString(L"43"));
    bar->SetTimeUnknown(false);
    bar->SetSecondsRemaining(12.4);
    EXPECT_TRUE(time->GetVisibleFlag());
    EXPECT_EQ(time->GetText(), WString(L"12 Sekunden"));   // the unit stays in the user's language
    bar->SetSecondsRemaining(-3);
    EXPECT_EQ(time->GetText(), WString(L"0 Sekunden"));
    bar->SetTimeUnknown(true);
    EXPECT_FALSE(time->GetVisibleFlag());

    // Values stay within the range; a range of 0 to 100 serves a percent-style bar.
    struct Row {
        double minimum, maximum, value, expected;
    };
    const Row rows[] = {{0, 1, 1.5, 1}, {0, 1, -0.5, 0}, {0, 100, 42, 42}, {0, 100, 150, 100},
                        {0, 1, std::numeric_limits<double>::quiet_NaN(), 0}};
    for (const Row& row : rows) {
        ASSERT_RESULT_EQ(bar->SetRange(row.minimum, row.maximum), ZT::S_OK);
        bar->SetValue(row.value);
        EXPECT_EQ(bar->GetValue(), row.expected) << row.value;
    }
    EXPECT_EQ(percent->GetText(), WString(L"0"));
    EXPECT_RESULT_EQ(bar->SetRange(1, 1), ZT::E_INVALIDARG);
    EXPECT_RESULT_EQ(bar->SetRange(2, 1), ZT::E_INVALIDARG);
}

TEST(Label, FillsItsDefaultTextOnlyWhenItIsASingleStringFormat)
{
    struct Row {
        const wchar_t* defaultText;
        bool set;
        const wchar_t* shown;
    };
    const Row rows[] = {
        {L"Updater: %s", true, L"Updater: 1.0.0"},
        {L"Version: %s\r\nDisplay: ", true, L"Version: 1.0.0\r\nDisplay: "},
        {L"no format", false, L"no format"},
        {L"%d of %s", false, L"%d of %s"},
        {L"%s and %s", false, L"%s and %s"},
    };
    for (const Row& row : rows) {
        const auto label = Make<ZT::LLabel>(L"label", row.defaultText);
        ASSERT_RESULT_EQ(label->Initialize(), ZT::S_OK);
        EXPECT_EQ(label->SetTextFromDefault(WString(L"1.0.0")), row.set) << WString(row.defaultText).ToUTF8();
        EXPECT_EQ(label->GetText(), WString(row.shown)) << WString(row.defaultText).ToUTF8();
        EXPECT_EQ(label->GetDefaultText(), WString(row.defaultText));
    }
}

class ConditionedButton : public ZT::LButton {
public:
    using LControl::SetInputConditions;
};

TEST(Button, ChoosesItsLookFromItsConditions)
{
    using C = ZT::LConditions;
    struct Row {
        std::uint32_t input;
        bool enabled;
        ZT::LButton::LookIndex look;
    };
    const Row rows[] = {
        {0, true, ZT::LButton::kNormalLook},
        {C::kHover, true, ZT::LButton::kHoverLook},
        {C::kHover | (1u << 4), true, ZT::LButton::kPressedLook},
        {1u << 4, true, ZT::LButton::kNormalLook},   // held, but the mouse left the button
        {C::kHover | (1u << 4), false, ZT::LButton::kDisabledLook},
    };
    for (const Row& row : rows) {
        const auto button = ZT::MakeRC<ConditionedButton>();
        button->SetInputConditions(row.input, true);
        button->SetEnabled(row.enabled);
        EXPECT_EQ(button->GetLookIndex(), row.look) << row.input << " " << row.enabled;
    }
}

} // namespace
