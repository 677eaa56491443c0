// Texts inside their controls in every language, popup menus, and the shipped skin as a whole.
#include "ZTFramework/ControlBase/ControlFactory.h"
#include "ZTFramework/ControlBase/Layout.h"
#include "ZTFramework/Controls/Button.h"
#include "ZTFramework/Controls/FrameworkControls.h"
#include "ZTFramework/Controls/Label.h"
#include "ZTFramework/Controls/Panel.h"
#include "ZTFramework/Controls/PopupMenu.h"
#include "ZTFramework/Resources/BuiltInResources.h"
#include "tests/ZTFramework/Graphics/PaintTestSupport.h"

#include <gtest/gtest.h>

#include <cstring>
#include <span>
#include <string>
#include <thread>

namespace {

using ZT::Rect;
using ZT::RCPtr;
using ZT::WString;
using ZT::Testing::Canvas;
using ZT::Testing::ColourAt;
using ZT::Testing::Place;
using ZT::Testing::SkinBuilder;
using Overflow = ZT::LControlDescriptor::TextOverflow;

constexpr std::uint32_t kText = 0xFFFFFFFF;

TEST(ControlPainter, LabelTextStaysInsideItsControlInEveryLanguageAndOverflow)
{
    SkinBuilder skin;
    skin.Look(L"Label", WString(), skin.SolidPart(kText), 0.0, 0.0);
    skin.LookList(L"Label", {L"Label"});
    skin.Look(L"Centred", WString(), skin.SolidPart(kText), 0.5, 0.5);
    skin.LookList(L"Centred", {L"Centred"});
    const auto painter = ZT::MakeRC<ZT::LControlPainter>(skin.Get(), WString(L"::"));
    struct Row {
        const char* what;
        const wchar_t* list;
        const wchar_t* text;
        std::optional<Overflow> x, y;
    };
    const wchar_t* german =
        L"Die Firmware wird aktualisiert. Trennen Sie das Gerät nicht vom Computer und schalten Sie es "
        L"nicht aus, bis die Aktualisierung abgeschlossen ist. Donaudampfschifffahrtsgesellschaftskapitän";
    const wchar_t* japanese = L"ファームウェアを更新しています。更新が終わるまでデバイスの電源を切らないでください。";
    const Row rows[] = {
        {"long German, wrapped and clipped", L"Label", german, Overflow::Wrap, Overflow::Clip},
        {"long German, overflow unset", L"Label", german, std::nullopt, std::nullopt},
        {"long German, one clipped line", L"Label", german, Overflow::Clip, Overflow::Clip},
        {"long German, expanding", L"Centred", german, Overflow::Expand, Overflow::Expand},
        {"Japanese, wrapped and clipped", L"Label", japanese, Overflow::Wrap, Overflow::Clip},
        {"Japanese, centred", L"Centred", japanese, Overflow::Wrap, Overflow::Wrap},
    };
    const Rect place{20, 20, 140, 50};
    for (const int scale : {1, 2}) {
        for (const Row& row : rows) {
            const auto label = Place<ZT::LLabel>(nullptr, L"label", WString(row.list), place, row.x, row.y);
            label->SetText(WString(row.text));
            Canvas canvas(160, 70, scale);
            ASSERT_RESULT_EQ(painter->Paint(canvas.Context(), *label, {0, 0, 160, 70}), ZT::S_OK);
            const Canvas::Ink ink = canvas.CountInk(place);
            EXPECT_EQ(ink.mOutside, 0) << row.what << " at scale " << scale
                                       << ": ink outside the label (20, 20)-(140, 50), first at " << ink.mFirstOutside;
            // A few letters' worth: the text was drawn, not lost to a wrong place or font.
            EXPECT_GT(ink.mInside, 150 * scale * scale) << row.what << " at scale " << scale << ": too little ink";
        }
    }
    EXPECT_TRUE(painter->GetMessages().empty()) << painter->GetMessages().front();
}

// The window loads the fonts of its texts on a thread while SDL starts, then paints on its own
// thread through the same painter: the pixels must be those of a painter that loaded nothing
// ahead, in every language (the Japanese text needs a fallback font), and at both scales.
TEST(ControlPainter, FontsPreparedOnAnotherThreadPaintTheSamePixels)
{
    SkinBuilder skin;
    skin.Look(L"Label", WString(), skin.SolidPart(kText), 0.0, 0.0);
    skin.LookList(L"Label", {L"Label"});
    const Rect place{4, 4, 196, 76};
    const auto panel = Place<ZT::LPanel>(nullptr, L"panel", WString(), {0, 0, 200, 160});
    const auto english = Place<ZT::LLabel>(panel.Get(), L"english", WString(L"Label"), place);
    english->SetText(WString(L"UPDATE FIRMWARE: Do not unplug the controller."));
    const auto japanese = Place<ZT::LLabel>(panel.Get(), L"japanese", WString(L"Label"), {4, 80, 196, 156});
    japanese->SetText(WString(L"ファームウェアを更新しています。電源を切らないでください。"));

    for (const int scale : {1, 2}) {
        const auto plain = ZT::MakeRC<ZT::LControlPainter>(skin.Get(), WString(L"::"));
        Canvas expected(200, 160, scale);
        ASSERT_RESULT_EQ(plain->Paint(expected.Context(), *panel, {0, 0, 200, 160}), ZT::S_OK);

        const auto prepared = ZT::MakeRC<ZT::LControlPainter>(skin.Get(), WString(L"::"));
        std::thread loader(prepared->PrepareFonts(*panel));
        loader.join();
        Canvas painted(200, 160, scale);
        ASSERT_RESULT_EQ(prepared->Paint(painted.Context(), *panel, {0, 0, 200, 160}), ZT::S_OK);

        int differing = 0;
        std::string first;
        for (int y = 0; y < painted.DeviceHeight(); ++y)
            for (int x = 0; x < painted.DeviceWidth(); ++x)
                if (painted.At(x, y) != expected.At(x, y) && differing++ == 0)
                    first = "(" + std::to_string(x) + ", " + std::to_string(y) + ") " +
                            ZT::Testing::Argb(painted.At(x, y)) + " instead of " + ZT::Testing::Argb(expected.At(x, y));
        EXPECT_EQ(differing, 0) << "scale " << scale << ": pixels differ after fonts were prepared on a thread, first at "
                                << first;
        EXPECT_GT(painted.CountInk({0, 0, 200, 160}).mInside, 0) << "scale " << scale << ": no text was drawn at all";
    }
}

TEST(ControlPainter, WrappedTextNeedsMoreHeightWhenNarrower)
{
    SkinBuilder skin;
    skin.Look(L"Label", WString(), skin.SolidPart(kText));
    skin.LookList(L"Label", {L"Label"});
    const auto painter = ZT::MakeRC<ZT::LControlPainter>(skin.Get(), WString(L"::"));
    const auto label = Place<ZT::LLabel>(nullptr, L"label", WString(L"Label"), {0, 0, 300, 20}, Overflow::Wrap);
    label->SetText(WString(L"Connect the controller with its USB cable and switch it on."));
    const int wide = painter->MeasureTextHeight(*label, 600);
    const int narrow = painter->MeasureTextHeight(*label, 120);
    EXPECT_GT(wide, 8) << "one line of 8.25 pt text measured " << wide << " px";
    EXPECT_GE(narrow, 3 * wide) << "the text wrapped to 120 px measured " << narrow << " px, one line " << wide;
    label->SetText(WString());
    EXPECT_EQ(painter->MeasureTextHeight(*label, 120), 0);
}

TEST(ControlPainter, PopupMenuMarksCheckedItemsAndHighlightsOne)
{
    SkinBuilder skin;
    const auto menu = Place<ZT::LPopupMenu>(nullptr, L"popup", WString(), {0, 0, 160, 80});
    ZT::LPopupMenu::Item downgrade;
    downgrade.mText = WString(L"Allow downgrade");
    downgrade.mState.mChecked = true;
    ZT::LPopupMenu::Item file;
    file.mText = WString(L"Select file");
    ZT::LPopupMenu::Item exit;
    exit.mText = WString(L"Exit");
    exit.mState.mEnabled = false;
    menu->SetItems({downgrade, file, exit});
    menu->SetHighlightedItem(1);
    const auto painter = ZT::MakeRC<ZT::LControlPainter>(skin.Get(), WString(L"::"));
    Canvas canvas(160, 80);
    ASSERT_RESULT_EQ(painter->Paint(canvas.Context(), *menu, {0, 0, 160, 80}), ZT::S_OK);

    // Ink in the check column of each row, against the row's background at its right end.
    auto checkInk = [&](std::size_t item) {
        const Rect row = painter->GetMenuItemArea(*menu, item);
        const std::uint32_t background = canvas.At(row.mRight - 2, row.mTop + 1);
        int ink = 0;
        for (int y = row.mTop; y < row.mBottom; ++y)
            for (int x = row.mLeft; x < row.mLeft + 20; ++x)
                ink += canvas.At(x, y) != background ? 1 : 0;
        return ink;
    };
    EXPECT_GT(checkInk(0), 10) << "the checked item \"Allow downgrade\" shows no check mark";
    EXPECT_EQ(checkInk(1), 0) << "the unchecked item \"Select file\" shows a mark";
    const Rect first = painter->GetMenuItemArea(*menu, 0);
    const Rect second = painter->GetMenuItemArea(*menu, 1);
    EXPECT_EQ(second.mTop, first.mBottom) << "rows overlap or leave a gap";
    EXPECT_NE(canvas.At(second.mRight - 2, second.mTop + 1), canvas.At(first.mRight - 2, first.mTop + 1))
        << "the highlighted item \"Select file\" looks like the others";
    EXPECT_TRUE(painter->GetMenuItemArea(*menu, 3).IsEmpty());
}

// The stand-in for the application's main control: the skin's tree without the updater's logic.
RCPtr<ZT::LControl> CreateMainControlStandIn()
{
    return ZT::MakeRC<ZT::LPanel>();
}

TEST(ControlPainter, ShippedSkinDrawsWithoutFaults)
{
    const auto factory = ZT::MakeRC<ZT::LControlFactory>();
    ASSERT_RESULT_EQ(factory->Load(WString(L"::"), 0x0409), ZT::S_OK);
    ASSERT_RESULT_EQ(ZT::CFrameworkControls::Register(*factory), ZT::S_OK);
    ASSERT_RESULT_EQ(
        factory->RegisterControlClass(WString(L"FirmwareUpdater.MainControl"), &CreateMainControlStandIn), ZT::S_OK);
    const RCPtr<ZT::LControl> main = factory->CreateControl(WString(L"mainControl"));
    ASSERT_TRUE(main);
    const auto painter = ZT::MakeRC<ZT::LControlPainter>(factory->GetResources(), WString(L"::"));
    ZT::LayoutControlTree(*main, {0, 0, 400, 450}, {1920, 1080}, painter.Get());
    const RCPtr<ZT::LControl> exit = main->FindChildByName(WString(L"buttonExit"));
    ASSERT_TRUE(exit);

    Canvas canvas(400, 450, 2);
    ASSERT_RESULT_EQ(painter->Paint(canvas.Context(), *main, {0, 0, 400, 450}), ZT::S_OK);
    std::string all;
    for (const std::string& message : painter->GetMessages())
        all += message + "\n";
    EXPECT_TRUE(all.empty()) << "the shipped skin has faults:\n" << all;
    EXPECT_EQ(canvas.CountInk({0, 0, 400, 450}).mInside, 800 * 900) << "the background left pixels unpainted";

    // The background picture itself shows at the top left, pixel for pixel.
    const auto png = ZT::CBuiltInResources::Find("UPDATERBACKGROUND_PNG");
    ASSERT_TRUE(png);
    struct Reader {
        std::span<const std::uint8_t> bytes;
        std::size_t at = 0;
    } reader{*png};
    cairo_surface_t* background = cairo_image_surface_create_from_png_stream(
        [](void* closure, unsigned char* data, unsigned int length) {
            auto* r = static_cast<Reader*>(closure);
            if (r->bytes.size() - r->at < length)
                return CAIRO_STATUS_READ_ERROR;
            std::memcpy(data, r->bytes.data() + r->at, length);
            r->at += length;
            return CAIRO_STATUS_SUCCESS;
        },
        &reader);
    ASSERT_EQ(cairo_surface_status(background), CAIRO_STATUS_SUCCESS);
    const auto* pixels = reinterpret_cast<const std::uint32_t*>(cairo_image_surface_get_data(background));
    const int stride = cairo_image_surface_get_stride(background) / 4;
    EXPECT_TRUE(ColourAt(canvas, "mainControl's background (image pixel 3, 3)", 7, 7, pixels[3 * stride + 3], 0));
    cairo_surface_destroy(background);

    // "EXIT" in white on the button: some pure white ink in its middle.
    const Rect area = exit->GetAreaInWindow();
    int white = 0;
    for (int y = area.mTop * 2; y < area.mBottom * 2; ++y)
        for (int x = area.mLeft * 2; x < area.mRight * 2; ++x)
            white += canvas.At(x, y) == kText ? 1 : 0;
    EXPECT_GT(white, 20) << "buttonExit shows no white caption";
}

} // namespace
