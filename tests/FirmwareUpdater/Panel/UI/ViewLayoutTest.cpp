// Every row of the view-state table on the shipped skin, in every shipped language: no two
// controls the user sees may overlap, or a click meant for one lands on the other (as TRY AGAIN
// once lay under NEXT). The tree is placed with the framework's layout and the painter's text
// measures, as the window places it.

#include "FirmwareUpdater/Panel/StartupResources.h"
#include "FirmwareUpdater/Panel/UI/ControlNames.h"
#include "FirmwareUpdater/Panel/UI/MainControlView.h"
#include "ZTFramework/ControlBase/Control.h"
#include "ZTFramework/ControlBase/ControlFactory.h"
#include "ZTFramework/ControlBase/Layout.h"
#include "ZTFramework/Controls/Panel.h"
#include "ZTFramework/Graphics/ControlPainter.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

using ZT::RCPtr;
using ZT::WString;

constexpr std::uint32_t kShippedLanguages[] = {0x0409, 0x0407, 0x040C, 0x0C0A, 0x0411};
constexpr ZT::SizeT kScreen{1280, 1024};

std::string RectText(const ZT::Rect& rect)
{
    char text[64];
    std::snprintf(text, sizeof text, "(%d,%d)-(%d,%d)", rect.mLeft, rect.mTop, rect.mRight, rect.mBottom);
    return text;
}

bool Overlap(const ZT::Rect& a, const ZT::Rect& b)
{
    return !a.IsEmpty() && !b.IsEmpty() && a.mLeft < b.mRight && b.mLeft < a.mRight && a.mTop < b.mBottom &&
           b.mTop < a.mBottom;
}

// Every input combination the view can be asked for.
std::vector<MainControlView::Inputs> AllRows()
{
    using MainControlView::Inputs;
    std::vector<Inputs> rows;
    for (int r = 0; r <= 4; ++r) {
        for (std::uint32_t d = 0; d <= 8; ++d) {
            for (std::uint32_t f = 0; f <= 3; ++f) {
                // W is always-update or N: (N, W) in (no, no), (no, yes), (yes, yes).
                for (int nw = 0; nw < 3; ++nw) {
                    for (int awaiting = 0; awaiting < 2; ++awaiting) {
                        Inputs in;
                        in.mRunState = static_cast<UpdateRunState>(r);
                        in.mDeviceState = static_cast<DeviceState>(d);
                        in.mFileState = static_cast<FirmwareFileState>(f);
                        in.mUpdateNeeded = nw == 2;
                        in.mUpdateWanted = nw >= 1;
                        in.mDeviceVersionKnown = d == 5 && f == 3;
                        in.mAwaitingDeviceReset = awaiting == 1;
                        rows.push_back(in);
                    }
                }
            }
        }
    }
    return rows;
}

TEST(ViewLayout, NoTwoShownControlsOverlapInAnyViewStateInAnyShippedLanguage)
{
    const std::vector<MainControlView::Inputs> rows = AllRows();
    for (const std::uint32_t lcid : kShippedLanguages) {
        const RCPtr<ZT::LControlFactory> factory = CStartupResources::Load(WString(L"::"), lcid);
        // The places come from the skin alone: the main control's class stands in as a panel.
        ASSERT_RESULT_EQ(factory->RegisterControlClass(WString(MainControlNames::kMainControlClass), &ZT::LPanel::Create),
                         ZT::S_OK);
        const RCPtr<ZT::LControl> root = factory->CreateControl(WString(MainControlNames::kMainControl));
        ASSERT_TRUE(root) << "the shipped skin has no main control";
        const auto painter = ZT::MakeRC<ZT::LControlPainter>(factory->GetResources(), WString(L"::"));
        painter->SetLocale(lcid);
        int overlaps = 0;
        for (const MainControlView::Inputs& in : rows) {
            const MainControlView::View view = MainControlView::Compute(in);
            for (const MainControlView::Visibility& entry : view.mVisibility) {
                if (const RCPtr<ZT::LControl> child = root->FindChildByName(WString(entry.mName)))
                    (void)child->SetVisible(entry.mShown);
            }
            ZT::LayoutControlTree(*root, {0, 0, 400, 450}, kScreen, painter.Get());
            const auto& children = root->GetChildren();
            for (std::size_t i = 0; i < children.GetCount(); ++i) {
                for (std::size_t j = i + 1; j < children.GetCount(); ++j) {
                    const ZT::LControl& a = *children[i];
                    const ZT::LControl& b = *children[j];
                    if (!a.GetVisibleFlag() || !b.GetVisibleFlag() || !Overlap(a.GetBounds(), b.GetBounds()))
                        continue;
                    if (++overlaps <= 5)
                        ADD_FAILURE() << "locale 0x" << std::hex << lcid << std::dec << ", "
                                      << MainControlView::Describe(in) << ": " << a.GetName().ToUTF8() << " at "
                                      << RectText(a.GetBounds()) << " overlaps " << b.GetName().ToUTF8() << " at "
                                      << RectText(b.GetBounds());
                }
            }
        }
        EXPECT_EQ(overlaps, 0) << "pairs of overlapping shown controls for locale 0x" << std::hex << lcid;
    }
}

} // namespace
