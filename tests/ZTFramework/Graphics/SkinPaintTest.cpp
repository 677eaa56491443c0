// Looks, parts, images, display scale, partial repaints and skin faults, checked by pixel.
#include "ZTFramework/Controls/Button.h"
#include "ZTFramework/Controls/Panel.h"
#include "ZTFramework/Controls/ProgressBar.h"
#include "tests/ZTFramework/Graphics/PaintTestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace {

using ZT::Rect;
using ZT::RCPtr;
using ZT::WString;
using ZT::Testing::Canvas;
using ZT::Testing::ColourAt;
using ZT::Testing::kUntouched;
using ZT::Testing::Place;
using ZT::Testing::SkinBuilder;
using Resize = ZT::LVisualPartDescriptor::ResizeType;

constexpr std::uint32_t kWindow = 0xFF202830;
constexpr std::uint32_t kRed = 0xFFFF0000;
constexpr std::uint32_t kBlue = 0xFF0000FF;
constexpr std::uint32_t kGreen = 0xFF00FF00;
constexpr std::uint32_t kWhite = 0xFFFFFFFF;

class ConditionedButton : public ZT::LButton {
public:
    using LControl::SetInputConditions;
};

// An 8 x 8 sheet of four 4 x 4 sprites: red top left, blue top right, green bottom left, white
// bottom right. Sharp edges between neighbours show any bleeding from one sprite into the next.
void RegisterQuadrantSheet()
{
    ZT::Testing::RegisterImage("::PainterQuadrants.png", 8, 8, [](cairo_t* cr) {
        const struct {
            int x, y;
            double r, g, b;
        } quadrants[] = {{0, 0, 1, 0, 0}, {4, 0, 0, 0, 1}, {0, 4, 0, 1, 0}, {4, 4, 1, 1, 1}};
        for (const auto& q : quadrants) {
            cairo_set_source_rgb(cr, q.r, q.g, q.b);
            cairo_rectangle(cr, q.x, q.y, 4, 4);
            cairo_fill(cr);
        }
    });
}

TEST(ControlPainter, DrawsEachControlsLookAtItsPlaceAndLaterZOrderOnTop)
{
    SkinBuilder skin;
    const auto root = Place<ZT::LPanel>(nullptr, L"root", skin.SolidLookList(kWindow), {0, 0, 100, 80});
    const auto left = Place<ZT::LPanel>(root.Get(), L"left", skin.SolidLookList(kRed), {10, 10, 40, 30});
    // "over" is created first but has the higher Z_Order, so it is drawn over "under".
    const auto over = Place<ZT::LPanel>(root.Get(), L"over", skin.SolidLookList(kGreen), {60, 20, 80, 40});
    over->GetDescriptor()->mZOrder = 1;
    (void)Place<ZT::LPanel>(root.Get(), L"under", skin.SolidLookList(kBlue), {50, 10, 90, 50});

    const auto painter = ZT::MakeRC<ZT::LControlPainter>(skin.Get(), WString(L"::"));
    Canvas canvas(100, 80);
    ASSERT_RESULT_EQ(painter->Paint(canvas.Context(), *root, {0, 0, 100, 80}), ZT::S_OK);
    EXPECT_TRUE(ColourAt(canvas, "root", 5, 5, kWindow));
    EXPECT_TRUE(ColourAt(canvas, "left", 10, 10, kRed));
    EXPECT_TRUE(ColourAt(canvas, "left", 39, 29, kRed));
    EXPECT_TRUE(ColourAt(canvas, "root right of left", 40, 29, kWindow));
    EXPECT_TRUE(ColourAt(canvas, "under", 52, 45, kBlue));
    EXPECT_TRUE(ColourAt(canvas, "over (above under)", 70, 30, kGreen));
    EXPECT_TRUE(painter->GetMessages().empty()) << painter->GetMessages().front();
}

TEST(ControlPainter, ButtonLooksFollowHoverPressedDisabledAndFocus)
{
    SkinBuilder skin;
    constexpr std::uint32_t kNormal = 0xFF303A48, kHover = 0xFF3C5A78, kPressed = 0xFF1E2A36, kDisabled = 0xFF505050;
    skin.Look(L"Normal", skin.SolidPart(kNormal), skin.SolidPart(kWhite), 0.5, 0.5);
    skin.Look(L"Hover", skin.SolidPart(kHover));
    skin.Look(L"Pressed", skin.SolidPart(kPressed));
    skin.Look(L"Disabled", skin.SolidPart(kDisabled));
    skin.LookList(L"Buttons", {L"Normal", L"Hover", L"Pressed", L"Disabled"});
    skin.LookList(L"NormalOnly", {L"Normal"});
    const auto painter = ZT::MakeRC<ZT::LControlPainter>(skin.Get(), WString(L"::"));
    using C = ZT::LConditions;
    struct Row {
        const char* state;
        const wchar_t* list;
        std::uint32_t input;
        bool enabled;
        std::uint32_t expected;
    };
    const Row rows[] = {
        {"normal", L"Buttons", 0, true, kNormal},
        {"hover", L"Buttons", C::kHover, true, kHover},
        {"pressed", L"Buttons", C::kHover | (1u << 4), true, kPressed},
        {"disabled", L"Buttons", C::kHover, false, kDisabled},
        {"hover without a hover look", L"NormalOnly", C::kHover, true, kNormal},
    };
    for (const Row& row : rows) {
        const auto button = Place<ConditionedButton>(nullptr, L"button", WString(row.list), {0, 0, 60, 24});
        button->SetInputConditions(row.input, true);
        button->SetEnabled(row.enabled);
        Canvas canvas(60, 24);
        ASSERT_RESULT_EQ(painter->Paint(canvas.Context(), *button, {0, 0, 60, 24}), ZT::S_OK);
        EXPECT_TRUE(ColourAt(canvas, row.state, 1, 1, row.expected));
    }

    // Focus shows as a dotted frame inside the edge, in the text colour, over the normal look.
    const auto focused = Place<ConditionedButton>(nullptr, L"focused", WString(L"Buttons"), {0, 0, 60, 24});
    Canvas before(60, 24);
    ASSERT_RESULT_EQ(painter->Paint(before.Context(), *focused, {0, 0, 60, 24}), ZT::S_OK);
    EXPECT_TRUE(ColourAt(before, "button without focus, frame place", 2, 12, kNormal));
    focused->SetInputConditions(C::kHasFocus, true);
    Canvas after(60, 24);
    ASSERT_RESULT_EQ(painter->Paint(after.Context(), *focused, {0, 0, 60, 24}), ZT::S_OK);
    int framePixels = 0;
    for (int y = 2; y < 22; ++y)
        framePixels += after.At(2, y) == kWhite ? 1 : 0;
    EXPECT_GE(framePixels, 8) << "a focused button shows no dotted frame at x 2: " << framePixels
                              << " white pixels in its left edge";
}

TEST(ControlPainter, ImagePartsTakeTheirSpriteWithoutBleedingAndStayCrispAtScaleTwo)
{
    RegisterQuadrantSheet();
    SkinBuilder skin;
    // The blue sprite stretched by 7.5 x 3.5: a smooth filter must not pull in the red to its
    // left or the white below it.
    skin.Look(L"Blue", skin.ImagePart(L"Part.Blue", L"::PainterQuadrants.png", 4, 0, 4, 4, Resize::Stretch));
    skin.LookList(L"Blue", {L"Blue"});
    // The white sprite centred at its own size in a larger control.
    skin.Look(L"White", skin.ImagePart(L"Part.White", L"::PainterQuadrants.png", 4, 4, 4, 4, Resize::Center));
    skin.LookList(L"White", {L"White"});
    // The whole sheet at its own size: at scale 2 each image pixel becomes 2 x 2 device pixels.
    skin.Look(L"Sheet", skin.ImagePart(L"Part.Sheet", L"::PainterQuadrants.png", 0, 0, 8, 8, Resize::Stretch));
    skin.LookList(L"Sheet", {L"Sheet"});
    skin.Look(L"Tiled", skin.ImagePart(L"Part.Tiled", L"::PainterQuadrants.png", 0, 0, 8, 8, Resize::Tile));
    skin.LookList(L"Tiled", {L"Tiled"});

    const auto root = Place<ZT::LPanel>(nullptr, L"root", WString(), {0, 0, 100, 60});
    (void)Place<ZT::LPanel>(root.Get(), L"blue", WString(L"Blue"), {10, 10, 40, 24});
    (void)Place<ZT::LPanel>(root.Get(), L"white", WString(L"White"), {50, 10, 60, 20});
    (void)Place<ZT::LPanel>(root.Get(), L"sheet", WString(L"Sheet"), {70, 10, 78, 18});
    (void)Place<ZT::LPanel>(root.Get(), L"tiled", WString(L"Tiled"), {10, 30, 34, 38});
    const auto painter = ZT::MakeRC<ZT::LControlPainter>(skin.Get(), WString(L"::"));

    for (const int scale : {1, 2}) {
        SCOPED_TRACE("display scale " + std::to_string(scale));
        Canvas canvas(100, 60, scale);
        ASSERT_RESULT_EQ(painter->Paint(canvas.Context(), *root, {0, 0, 100, 60}), ZT::S_OK);
        const int s = scale;
        for (const auto& [x, y] : {std::pair{10, 10}, {39, 10}, {10, 23}, {39, 23}, {25, 17}})
            EXPECT_TRUE(ColourAt(canvas, "blue sprite (corner or middle)", x * s, y * s, kBlue, 1));
        EXPECT_TRUE(ColourAt(canvas, "left of the centred white sprite", 52 * s, 15 * s, kUntouched, 0));
        EXPECT_TRUE(ColourAt(canvas, "centred white sprite", 53 * s, 13 * s, kWhite, 0));
        EXPECT_TRUE(ColourAt(canvas, "centred white sprite", 56 * s + s - 1, 16 * s + s - 1, kWhite, 0));
        EXPECT_TRUE(ColourAt(canvas, "below the centred white sprite", 55 * s, 17 * s, kUntouched, 0));
        // The edge between red (x 70..73) and blue (74..77) in the sheet: exact colours on both
        // sides, no blend, at every device pixel.
        for (int dx = 0; dx < s; ++dx) {
            EXPECT_TRUE(ColourAt(canvas, "sheet's red edge pixel", 73 * s + dx, 11 * s, kRed, 0));
            EXPECT_TRUE(ColourAt(canvas, "sheet's blue edge pixel", 74 * s + dx, 11 * s, kBlue, 0));
        }
        EXPECT_TRUE(ColourAt(canvas, "tiled sheet, second tile's red", 18 * s, 30 * s, kRed, 0));
        EXPECT_TRUE(ColourAt(canvas, "tiled sheet, third tile's blue", 30 * s, 30 * s, kBlue, 0));
    }
}

TEST(ControlPainter, ColorizersFillGradientsAndTintThroughAlphaAndMasks)
{
    // Left half opaque black, right half transparent: a tint through it colours the left only.
    ZT::Testing::RegisterImage("::PainterHalf.png", 4, 4, [](cairo_t* cr) {
        cairo_set_source_rgb(cr, 0, 0, 0);
        cairo_rectangle(cr, 0, 0, 2, 4);
        cairo_fill(cr);
    });
    SkinBuilder skin;
    auto colorizer = [&](const wchar_t* name, ZT::LColorizer::ColorType type, std::uint32_t start, std::uint32_t end) {
        auto c = ZT::MakeRC<ZT::LColorizer>();
        c->mName = WString(name);
        c->mColorType = type;
        c->mColor = start;
        c->mGradientEndColor = end;
        c->mGradientStartX = type == ZT::LColorizer::ColorType::RadialGradient ? 0.5 : 0.0;
        c->mGradientStartY = 0.5;
        c->mGradientEndX = 1.0;
        c->mGradientEndY = type == ZT::LColorizer::ColorType::RadialGradient ? 1.0 : 0.5;
        skin.Get()->mColorizers[c->mName] = c;
    };
    colorizer(L"Linear", ZT::LColorizer::ColorType::LinearGradient, kRed, kBlue);
    colorizer(L"Radial", ZT::LColorizer::ColorType::RadialGradient, kWhite, kGreen);
    colorizer(L"Plain", ZT::LColorizer::ColorType::SolidFill, kWhite, kWhite);
    auto part = [&](const wchar_t* name, const wchar_t* colorizerName, const wchar_t* image, const wchar_t* mask,
                    std::optional<double> alpha) {
        const WString partName = skin.ImagePart(name, image, 0, 0, 4, 4, Resize::Stretch);
        ZT::LVisualPartDescriptor& p = *skin.Get()->mParts[partName];
        p.mColorizerName = WString(colorizerName);
        p.mColorizerAlphaMod = alpha;
        p.mColorizerMaskFile = WString(mask);
        if (*image == 0) {
            p.mWidth.reset();
            p.mHeight.reset();
        }
        skin.Look(name, partName);
        skin.LookList(name, {name});
    };
    part(L"LinearFill", L"Linear", L"", L"", std::nullopt);
    part(L"RadialFill", L"Radial", L"", L"", std::nullopt);
    part(L"HalfAlpha", L"Plain", L"", L"", 0.5);
    part(L"TintedImage", L"Plain", L"::PainterHalf.png", L"", std::nullopt);
    part(L"Masked", L"Plain", L"", L"::PainterHalf.png", std::nullopt);

    const auto root = Place<ZT::LPanel>(nullptr, L"root", skin.SolidLookList(0xFF000000), {0, 0, 200, 40});
    (void)Place<ZT::LPanel>(root.Get(), L"linear", WString(L"LinearFill"), {0, 0, 100, 20});
    (void)Place<ZT::LPanel>(root.Get(), L"radial", WString(L"RadialFill"), {100, 0, 140, 40});
    (void)Place<ZT::LPanel>(root.Get(), L"halfAlpha", WString(L"HalfAlpha"), {140, 0, 160, 20});
    (void)Place<ZT::LPanel>(root.Get(), L"tinted", WString(L"TintedImage"), {160, 0, 180, 20});
    (void)Place<ZT::LPanel>(root.Get(), L"masked", WString(L"Masked"), {180, 0, 200, 20});
    const auto painter = ZT::MakeRC<ZT::LControlPainter>(skin.Get(), WString(L"::"));
    Canvas canvas(200, 40);
    ASSERT_RESULT_EQ(painter->Paint(canvas.Context(), *root, {0, 0, 200, 40}), ZT::S_OK);
    EXPECT_TRUE(ColourAt(canvas, "linear gradient's start (left)", 0, 10, kRed, 4));
    EXPECT_TRUE(ColourAt(canvas, "linear gradient's middle", 50, 10, 0xFF800080, 4));
    EXPECT_TRUE(ColourAt(canvas, "linear gradient's end (right)", 99, 10, kBlue, 4));
    EXPECT_TRUE(ColourAt(canvas, "radial gradient's centre", 120, 20, kWhite, 8));
    EXPECT_TRUE(ColourAt(canvas, "radial gradient at its radius", 100, 0, kGreen, 8));
    EXPECT_TRUE(ColourAt(canvas, "white at alpha 0.5 over black", 150, 10, 0xFF808080, 2));
    EXPECT_TRUE(ColourAt(canvas, "tint over the image's opaque half", 162, 10, kWhite, 2));
    EXPECT_TRUE(ColourAt(canvas, "tint over the image's transparent half", 177, 10, 0xFF000000, 2));
    EXPECT_TRUE(ColourAt(canvas, "colour through the mask's opaque half", 182, 10, kWhite, 2));
    EXPECT_TRUE(ColourAt(canvas, "colour through the mask's transparent half", 197, 10, 0xFF000000, 2));
    EXPECT_TRUE(painter->GetMessages().empty()) << painter->GetMessages().front();
}

TEST(ControlPainter, ScaleTwoDrawsAtDoubledCoordinatesAndPaintKeepsToItsArea)
{
    SkinBuilder skin;
    const auto root = Place<ZT::LPanel>(nullptr, L"root", skin.SolidLookList(kWindow), {0, 0, 40, 30});
    (void)Place<ZT::LPanel>(root.Get(), L"red", skin.SolidLookList(kRed), {10, 10, 20, 15});
    const auto painter = ZT::MakeRC<ZT::LControlPainter>(skin.Get(), WString(L"::"));

    Canvas doubled(40, 30, 2);
    ASSERT_RESULT_EQ(painter->Paint(doubled.Context(), *root, {0, 0, 40, 30}), ZT::S_OK);
    EXPECT_TRUE(ColourAt(doubled, "red's top left at scale 2", 20, 20, kRed, 0));
    EXPECT_TRUE(ColourAt(doubled, "red's bottom right at scale 2", 39, 29, kRed, 0));
    EXPECT_TRUE(ColourAt(doubled, "root right of red at scale 2", 40, 29, kWindow, 0));
    EXPECT_TRUE(ColourAt(doubled, "root below red at scale 2", 39, 30, kWindow, 0));
    EXPECT_TRUE(ColourAt(doubled, "root at the window's last device pixel", 79, 59, kWindow, 0));

    // A repaint of part of the window leaves every pixel outside that part as it was.
    Canvas partial(40, 30);
    ASSERT_RESULT_EQ(painter->Paint(partial.Context(), *root, {15, 12, 30, 20}), ZT::S_OK);
    const Canvas::Ink ink = partial.CountInk({15, 12, 30, 20});
    EXPECT_EQ(ink.mOutside, 0) << "painting area (15, 12)-(30, 20) changed pixels outside it, first at "
                               << ink.mFirstOutside;
    EXPECT_EQ(ink.mInside, 15 * 8) << "the area itself was not wholly painted";
    EXPECT_TRUE(ColourAt(partial, "red inside the area", 15, 12, kRed, 0));
    EXPECT_TRUE(ColourAt(partial, "root inside the area", 25, 18, kWindow, 0));

    Canvas broken(10, 10);
    cairo_set_source_rgb(broken.Context(), 0, 0, 0);
    cairo_restore(broken.Context());   // unbalanced: the context is now in an error state
    EXPECT_RESULT_EQ(painter->Paint(broken.Context(), *root, {0, 0, 40, 30}), ZT::E_FAIL);
}

TEST(ControlPainter, ProgressBarFillsItsDoneFraction)
{
    SkinBuilder skin;
    constexpr std::uint32_t kTrack = 0xFF202020, kFill = 0xFF00C8FF;
    skin.Look(L"Track", skin.SolidPart(kTrack));
    skin.Look(L"Fill", skin.SolidPart(kFill));
    skin.LookList(L"Bar", {L"Track", L"Fill"});
    const auto bar = Place<ZT::LProgressBar>(nullptr, L"progressBar", WString(L"Bar"), {0, 0, 100, 10});
    const auto painter = ZT::MakeRC<ZT::LControlPainter>(skin.Get(), WString(L"::"));
    // A disabled bar still draws its track and fill (its look list holds no states).
    for (const auto& [value, enabled] : {std::pair{0.0, true}, {0.3, true}, {1.0, true}, {0.3, false}}) {
        bar->SetValue(value);
        bar->SetEnabled(enabled);
        Canvas canvas(100, 10);
        ASSERT_RESULT_EQ(painter->Paint(canvas.Context(), *bar, {0, 0, 100, 10}), ZT::S_OK);
        const int done = static_cast<int>(value * 100);
        const std::string label =
            std::string(enabled ? "" : "disabled ") + "progress bar at " + std::to_string(value);
        if (done > 0) {
            EXPECT_TRUE(ColourAt(canvas, (label + ", last done pixel").c_str(), done - 1, 5, kFill, 0));
        }
        if (done < 100) {
            EXPECT_TRUE(ColourAt(canvas, (label + ", first pixel to do").c_str(), done, 5, kTrack, 0));
        }
    }
}

TEST(ControlPainter, SkinFaultsAreReportedOnceAndTheRestIsDrawn)
{
    SkinBuilder skin;
    skin.Look(L"MissingImage",
              skin.ImagePart(L"Part.Missing", L"::NoSuchPainterImage.png", 0, 0, 4, 4, Resize::Stretch));
    skin.LookList(L"MissingImage", {L"MissingImage"});
    skin.Look(L"UnknownPart", WString(L"Part.NotInTheSkin"));
    skin.LookList(L"UnknownPart", {L"UnknownPart"});
    skin.LookList(L"UnknownLook", {L"Look.NotInTheSkin"});
    RegisterQuadrantSheet();
    skin.Look(L"OutsideImage", skin.ImagePart(L"Part.Outside", L"::PainterQuadrants.png", 6, 6, 4, 4, Resize::Stretch));
    skin.LookList(L"OutsideImage", {L"OutsideImage"});

    const auto root = Place<ZT::LPanel>(nullptr, L"root", WString(), {0, 0, 100, 20});
    (void)Place<ZT::LPanel>(root.Get(), L"missingImage", WString(L"MissingImage"), {0, 0, 10, 10});
    (void)Place<ZT::LPanel>(root.Get(), L"unknownPart", WString(L"UnknownPart"), {10, 0, 20, 10});
    (void)Place<ZT::LPanel>(root.Get(), L"unknownLook", WString(L"UnknownLook"), {20, 0, 30, 10});
    (void)Place<ZT::LPanel>(root.Get(), L"unknownList", WString(L"LookList.NotInTheSkin"), {30, 0, 40, 10});
    (void)Place<ZT::LPanel>(root.Get(), L"outsideImage", WString(L"OutsideImage"), {40, 0, 50, 10});
    (void)Place<ZT::LPanel>(root.Get(), L"good", skin.SolidLookList(kGreen), {50, 0, 60, 10});
    const auto painter = ZT::MakeRC<ZT::LControlPainter>(skin.Get(), WString(L"::"));

    for (int round = 0; round < 2; ++round) {
        Canvas canvas(100, 20);
        ASSERT_RESULT_EQ(painter->Paint(canvas.Context(), *root, {0, 0, 100, 20}), ZT::S_OK);
        EXPECT_TRUE(ColourAt(canvas, "the good panel after the faulty ones", 55, 5, kGreen, 0));
        EXPECT_EQ(canvas.CountInk({50, 0, 60, 10}).mOutside, 0) << "a faulty look drew something";
    }
    const std::vector<std::string>& messages = painter->GetMessages();
    std::string all;
    for (const std::string& message : messages)
        all += message + "\n";
    for (const char* expected : {"\"::NoSuchPainterImage.png\" not found", "part \"Part.NotInTheSkin\"",
                                 "look \"Look.NotInTheSkin\"", "look list \"LookList.NotInTheSkin\"",
                                 "no rectangle at (6, 6) of 4 x 4"})
        EXPECT_NE(all.find(expected), std::string::npos) << "no message with " << expected << " in:\n" << all;
    EXPECT_EQ(messages.size(), 5u) << "each fault once, though painted twice:\n" << all;
}

} // namespace
