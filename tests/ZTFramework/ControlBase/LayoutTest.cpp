#include "ZTFramework/ControlBase/Layout.h"
#include "tests/ZTFramework/Threads/DebugCapture.h"

#include "ZTFramework/ControlBase/Control.h"
#include "ZTFramework/Resources/ControlDescriptor.h"
#include "ZTFramework/Resources/SkinDescriptor.h"
#include "tests/Support/Printers.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>

namespace {

using ZT::LControl;
using ZT::LControlDescriptor;
using ZT::LLayoutDescriptor;
using ZT::RCPtr;
using ZT::Rect;
using ZT::SizeT;
using ZT::WString;
using Measure = LLayoutDescriptor::Measure;

std::string Text(const Rect& rect)
{
    return "{left " + std::to_string(rect.mLeft) + ", top " + std::to_string(rect.mTop) + ", right " +
           std::to_string(rect.mRight) + ", bottom " + std::to_string(rect.mBottom) + "}";
}

void Set(Measure& measure, std::optional<double> rel, std::optional<int> abs, const wchar_t* toControl = L"")
{
    measure.mRel = rel;
    measure.mAbs = abs;
    measure.mToControl = WString(toControl);
}

using Setup = std::function<void(LControlDescriptor&)>;

// A control made from a descriptor the way the factory makes it, appended to parent.
RCPtr<LControl> Add(LControl& parent, const wchar_t* name, const Setup& setup)
{
    auto descriptor = ZT::MakeRC<LControlDescriptor>();
    descriptor->mName = WString(name);
    setup(*descriptor);
    auto control = ZT::MakeRC<LControl>();
    control->ApplyDescriptor(*descriptor, &parent);
    EXPECT_EQ(parent.AddChild(control), ZT::S_OK) << "adding " << ZT::WString(name).ToUTF8();
    return control;
}

// A box at pixel position (x, y) of pixel size (w, h).
Setup Box(int x, int y, int w, int h)
{
    return [=](LControlDescriptor& d) {
        Set(d.mLayout->mX.mPosition, std::nullopt, x);
        Set(d.mLayout->mY.mPosition, std::nullopt, y);
        Set(d.mLayout->mX.mSize, std::nullopt, w);
        Set(d.mLayout->mY.mSize, std::nullopt, h);
    };
}

RCPtr<LControl> MakeRoot() { return ZT::MakeRC<LControl>(); }

constexpr SizeT kScreen{1920, 1080};

void Layout(LControl& root, int width, int height, ZT::ITextMeasurer* measurer = nullptr)
{
    ZT::LayoutControlTree(root, Rect{0, 0, width, height}, kScreen, measurer);
}

TEST(Layout, AnchorPutsThatPointOfTheControlAtItsPosition)
{
    struct Row {
        double anchor;
        Rect expected;
    };
    // A 100 x 40 control positioned at the centre of a 400 x 200 parent.
    const Row rows[] = {
        {0.0, {200, 100, 300, 140}},
        {0.5, {150, 80, 250, 120}},
        {1.0, {100, 60, 200, 100}},
    };
    for (const Row& row : rows) {
        auto root = MakeRoot();
        auto control = Add(*root, L"c", [&](LControlDescriptor& d) {
            Set(d.mLayout->mX.mPosition, 0.5, std::nullopt);
            Set(d.mLayout->mY.mPosition, 0.5, std::nullopt);
            Set(d.mLayout->mX.mSize, std::nullopt, 100);
            Set(d.mLayout->mY.mSize, std::nullopt, 40);
            d.mLayout->mX.mPlacementAnchor = row.anchor;
            d.mLayout->mY.mPlacementAnchor = row.anchor;
        });
        Layout(*root, 400, 200);
        EXPECT_EQ(Text(control->GetBounds()), Text(row.expected)) << "anchor " << row.anchor;
    }
}

TEST(Layout, DockedControlsTakeTheFreeSpanInLayoutOrderAndTheLastFillsTheRest)
{
    auto root = MakeRoot();
    // Created in the reverse of their layout order: the order, not creation, decides.
    auto body = Add(*root, L"body", [](LControlDescriptor& d) {
        d.mLayoutOrder = 4;
        d.mLayout->mY.mIsDocked = true;
        Set(d.mLayout->mX.mSize, 1.0, std::nullopt);
    });
    auto hiddenBar = Add(*root, L"hiddenBar", [](LControlDescriptor& d) {
        d.mLayoutOrder = 3;
        d.mIsVisible = false;
        d.mLayout->mY.mIsDocked = true;
        Set(d.mLayout->mY.mSize, std::nullopt, 30);
    });
    auto statusBar = Add(*root, L"statusBar", [](LControlDescriptor& d) {
        d.mLayoutOrder = 2;
        d.mLayout->mY.mIsDocked = true;
        d.mLayout->mY.mPlacementAnchor = 1.0;
        Set(d.mLayout->mX.mSize, 1.0, std::nullopt);
        Set(d.mLayout->mY.mSize, std::nullopt, 22);
    });
    auto menu = Add(*root, L"menu", [](LControlDescriptor& d) {
        d.mLayoutOrder = 1;
        d.mLayout->mY.mIsDocked = true;
        Set(d.mLayout->mX.mSize, 1.0, std::nullopt);
        Set(d.mLayout->mY.mSize, std::nullopt, 20);
    });
    Layout(*root, 400, 300);
    EXPECT_EQ(Text(menu->GetBounds()), Text({0, 0, 400, 20})) << "menu docked at the top";
    EXPECT_EQ(Text(statusBar->GetBounds()), Text({0, 278, 400, 300})) << "status bar docked at the bottom (anchor 1)";
    EXPECT_EQ(Text(body->GetBounds()), Text({0, 20, 400, 278}))
        << "body without a size fills what the others left; a hidden docked control takes no room";
    EXPECT_EQ(hiddenBar->GetBounds().GetHeight(), 30) << "the hidden docked control keeps its own size";

    // A larger window: the docked controls follow its edges.
    Layout(*root, 500, 400);
    EXPECT_EQ(Text(statusBar->GetBounds()), Text({0, 378, 500, 400}));
    EXPECT_EQ(Text(body->GetBounds()), Text({0, 20, 500, 378}));
}

TEST(Layout, MinimumAndMaximumLimitTheSize)
{
    struct Row {
        const char* name;
        std::optional<double> sizeRel;
        std::optional<int> sizeAbs;
        std::optional<int> minimum;
        std::optional<int> maximum;
        int expectedWidth;
    };
    const Row rows[] = {
        {"within the limits", 0.5, std::nullopt, 100, 300, 200},
        {"above the maximum", 1.0, std::nullopt, std::nullopt, 300, 300},
        {"below the minimum", std::nullopt, 50, 80, std::nullopt, 80},
        {"minimum above maximum: the minimum wins", 1.0, std::nullopt, 250, 150, 250},
        {"negative size becomes empty", std::nullopt, -40, std::nullopt, std::nullopt, 0},
    };
    for (const Row& row : rows) {
        auto root = MakeRoot();
        auto control = Add(*root, L"c", [&](LControlDescriptor& d) {
            Set(d.mLayout->mX.mSize, row.sizeRel, row.sizeAbs);
            Set(d.mLayout->mX.mMinSize, std::nullopt, row.minimum);
            Set(d.mLayout->mX.mMaxSize, std::nullopt, row.maximum);
            Set(d.mLayout->mY.mSize, std::nullopt, 10);
        });
        Layout(*root, 400, 100);
        EXPECT_EQ(control->GetBounds().GetWidth(), row.expectedWidth) << row.name;
    }

    // A fractional maximum follows the parent.
    auto root = MakeRoot();
    auto control = Add(*root, L"c", [](LControlDescriptor& d) {
        Set(d.mLayout->mX.mSize, std::nullopt, 500);
        Set(d.mLayout->mX.mMaxSize, 0.5, std::nullopt);
    });
    Layout(*root, 600, 100);
    EXPECT_EQ(control->GetBounds().GetWidth(), 300) << "max 0.5 of a 600 wide parent";
}

TEST(Layout, ReferencesFollowTheControlsTheyName)
{
    auto root = MakeRoot();
    // "ok" sits 6 pixels right of "cancel", which is created after it and moves with the window.
    auto ok = Add(*root, L"ok", [](LControlDescriptor& d) {
        Set(d.mLayout->mX.mPosition, 1.0, 6, L"cancel");
        Set(d.mLayout->mY.mPosition, 0.0, 0, L"cancel");
        Set(d.mLayout->mX.mSize, 1.0, std::nullopt, L"cancel");
        Set(d.mLayout->mY.mSize, std::nullopt, 24);
    });
    auto cancel = Add(*root, L"cancel", [](LControlDescriptor& d) {
        Set(d.mLayout->mX.mPosition, 0.25, std::nullopt);
        Set(d.mLayout->mY.mPosition, 1.0, -30);
        Set(d.mLayout->mX.mSize, std::nullopt, 80);
        Set(d.mLayout->mY.mSize, std::nullopt, 24);
    });
    // A square: its height is its width ("Self" on the other axis).
    auto square = Add(*root, L"square", [](LControlDescriptor& d) {
        Set(d.mLayout->mX.mSize, 0.1, std::nullopt);
        Set(d.mLayout->mY.mSize, 1.0, std::nullopt, L"Self");
    });
    Layout(*root, 400, 300);
    EXPECT_EQ(Text(cancel->GetBounds()), Text({100, 270, 180, 294}));
    EXPECT_EQ(Text(ok->GetBounds()), Text({186, 270, 266, 294})) << "beside \"cancel\", as wide";
    EXPECT_EQ(Text(square->GetBounds()), Text({0, 0, 40, 40}));

    Layout(*root, 800, 500);
    EXPECT_EQ(Text(ok->GetBounds()), Text({286, 470, 366, 494})) << "\"ok\" follows the moved \"cancel\"";
    EXPECT_EQ(Text(square->GetBounds()), Text({0, 0, 80, 80}));
}

TEST(Layout, ClientAndScreenAreMeasuredFromTheWindowNotTheParent)
{
    auto root = MakeRoot();
    auto panel = Add(*root, L"panel", Box(50, 40, 200, 100));
    // Centred in the window's client area although its parent is offset.
    auto centred = Add(*panel, L"centred", [](LControlDescriptor& d) {
        Set(d.mLayout->mX.mPosition, 0.5, std::nullopt, L"Client");
        d.mLayout->mX.mPlacementAnchor = 0.5;
        Set(d.mLayout->mX.mSize, std::nullopt, 20);
        Set(d.mLayout->mY.mSize, 0.01, std::nullopt, L"Screen");
    });
    Layout(*root, 400, 300);
    EXPECT_EQ(Text(centred->GetBounds()), Text({140, 0, 160, 11}))
        << "window centre 200 is 150 in the panel; height 1% of the 1080 pixel screen";
}

TEST(Layout, ChildrenReferenceSizesAControlToItsVisibleChildren)
{
    auto root = MakeRoot();
    auto group = Add(*root, L"group", [](LControlDescriptor& d) {
        Set(d.mLayout->mX.mPosition, std::nullopt, 10);
        Set(d.mLayout->mX.mSize, 1.0, 8, L"Children");   // 8 pixels of margin
        Set(d.mLayout->mY.mSize, 1.0, std::nullopt, L"Children");
    });
    Add(*group, L"a", Box(5, 0, 60, 20));
    Add(*group, L"b", Box(20, 25, 100, 20));
    Add(*group, L"hidden", [](LControlDescriptor& d) {
        Box(0, 0, 900, 900)(d);
        d.mIsVisible = false;
    });
    Layout(*root, 400, 300);
    EXPECT_EQ(Text(group->GetBounds()), Text({10, 0, 138, 45})) << "reaches b's right (120) + 8 and b's bottom (45)";
}

TEST(Layout, MissingReferenceIsReportedAndMeasuredAgainstTheParent)
{
    ZT::Testing::CDebugCapture capture;
    auto root = MakeRoot();
    auto control = Add(*root, L"lost", [](LControlDescriptor& d) {
        Set(d.mLayout->mX.mSize, 0.5, std::nullopt, L"ghost");
        Set(d.mLayout->mY.mSize, std::nullopt, 10);
    });
    Layout(*root, 400, 100);
    EXPECT_EQ(control->GetBounds().GetWidth(), 200) << "half of the parent";
    const std::string log = capture.Text();
    EXPECT_NE(log.find("control \"lost\" is placed relative to \"ghost\", which is not one of its siblings"),
              std::string::npos)
        << log;
}

TEST(Layout, CyclicReferencesEndAndAreReported)
{
    ZT::Testing::CDebugCapture capture;
    auto root = MakeRoot();
    auto left = Add(*root, L"left", [](LControlDescriptor& d) {
        Set(d.mLayout->mX.mPosition, 1.0, 0, L"right");
        Set(d.mLayout->mX.mSize, std::nullopt, 50);
    });
    auto right = Add(*root, L"right", [](LControlDescriptor& d) {
        Set(d.mLayout->mX.mPosition, 1.0, 0, L"left");
        Set(d.mLayout->mX.mSize, std::nullopt, 70);
    });
    auto selfish = Add(*root, L"selfish", [](LControlDescriptor& d) {
        Set(d.mLayout->mX.mSize, 1.0, std::nullopt, L"Self");
        Set(d.mLayout->mY.mSize, 1.0, std::nullopt, L"Self");
    });
    Layout(*root, 400, 100);
    // "left" is placed first; "right" then finds "left" in the middle of being placed.
    EXPECT_EQ(Text(right->GetBounds()), Text({400, 0, 470, 0})) << "the cycle broken at \"right\" (parent's width)";
    EXPECT_EQ(Text(left->GetBounds()), Text({470, 0, 520, 0})) << "\"left\" then follows \"right\"";
    EXPECT_EQ(Text(selfish->GetBounds()), Text({0, 0, 100, 100}))
        << "the cycle broken at the height (parent's height), the width then its height";
    const std::string log = capture.Text();
    EXPECT_NE(log.find("placed relative to each other in a cycle"), std::string::npos) << log;
    EXPECT_NE(log.find("\"selfish\" has a size that depends on itself"), std::string::npos) << log;
}

// Wraps at 7 pixels a character, 14 pixels a line, as a plain monospaced font would.
class MonospacedMeasurer : public ZT::ITextMeasurer {
public:
    int MeasureTextHeight(const LControl& control, int width) override
    {
        lastWidth = width;
        const int characters = static_cast<int>(control.GetText().ToUTF8().size());
        const int perLine = std::max(1, width / 7);
        return ((characters + perLine - 1) / perLine) * 14;
    }
    int lastWidth = -1;
};

TEST(Layout, ExpandingLabelFollowsItsWrappedTextAndPushesWhatFollowsIt)
{
    auto root = MakeRoot();
    auto label = Add(*root, L"label", [](LControlDescriptor& d) {
        d.mTextOverflowY = LControlDescriptor::TextOverflow::Expand;
        Set(d.mLayout->mX.mSize, std::nullopt, 70);   // 10 characters a line
        Set(d.mLayout->mY.mSize, std::nullopt, 14);
        Set(d.mLayout->mY.mMaxSize, std::nullopt, 42);
    });
    auto below = Add(*root, L"below", [](LControlDescriptor& d) {
        Set(d.mLayout->mY.mPosition, 1.0, 4, L"label");
        Set(d.mLayout->mY.mSize, std::nullopt, 10);
    });
    MonospacedMeasurer measurer;
    label->SetText(WString(L"twenty-five characters!!!"));
    Layout(*root, 400, 300, &measurer);
    EXPECT_EQ(measurer.lastWidth, 70) << "wrapped to the label's own width";
    EXPECT_EQ(label->GetBounds().GetHeight(), 42) << "three lines";
    EXPECT_EQ(below->GetBounds().mTop, 46) << "the next control sits below the grown label";

    label->SetText(WString(L"a text far longer than the three lines the skin allows"));
    Layout(*root, 400, 300, &measurer);
    EXPECT_EQ(label->GetBounds().GetHeight(), 42) << "held at YMaxSizeAbs";

    label->SetText(WString(L"short"));
    Layout(*root, 400, 300, &measurer);
    EXPECT_EQ(label->GetBounds().GetHeight(), 14) << "shrinks back to one line";

    Layout(*root, 400, 300, nullptr);
    EXPECT_EQ(label->GetBounds().GetHeight(), 14) << "without a measurer the skin's height stands";
}

TEST(Layout, WindowConstraintsSayFixedResizableOrUnbounded)
{
    auto fixed = ZT::MakeRC<LControlDescriptor>();
    Box(0, 0, 400, 450)(*fixed);
    Set(fixed->mLayout->mX.mMinSize, std::nullopt, 400);
    Set(fixed->mLayout->mY.mMinSize, std::nullopt, 450);
    Set(fixed->mLayout->mX.mMaxSize, std::nullopt, 400);
    Set(fixed->mLayout->mY.mMaxSize, std::nullopt, 450);
    const auto fixedWindow = ZT::GetWindowSizeConstraints(*fixed, kScreen);
    EXPECT_TRUE(fixedWindow.IsFixed()) << "min and max both 400 x 450";
    EXPECT_EQ(Text(fixedWindow.mInitial), Text({0, 0, 400, 450}));

    // Centred on the screen, half its width, at least 300 wide, growing without bound.
    auto unbounded = ZT::MakeRC<LControlDescriptor>();
    Set(unbounded->mLayout->mX.mPosition, 0.5, std::nullopt, L"Screen");
    unbounded->mLayout->mX.mPlacementAnchor = 0.5;
    Set(unbounded->mLayout->mX.mSize, 0.5, std::nullopt);
    Set(unbounded->mLayout->mY.mSize, std::nullopt, 300);
    Set(unbounded->mLayout->mX.mMinSize, std::nullopt, 300);
    const auto growing = ZT::GetWindowSizeConstraints(*unbounded, kScreen);
    EXPECT_FALSE(growing.IsFixed());
    EXPECT_FALSE(growing.mMaximum.has_value()) << "no maximum size given";
    EXPECT_EQ(growing.mMinimum, (SizeT{300, 0}));
    EXPECT_EQ(Text(growing.mInitial), Text({480, 0, 1440, 300}));

    // A maximum on one axis only: resizable, bounded there.
    Set(unbounded->mLayout->mY.mMaxSize, std::nullopt, 600);
    const auto tall = ZT::GetWindowSizeConstraints(*unbounded, kScreen);
    ASSERT_TRUE(tall.mMaximum.has_value());
    EXPECT_FALSE(tall.IsFixed());
    EXPECT_EQ(tall.mMaximum->mHeight, 600);
    EXPECT_EQ(tall.mMaximum->mWidth, ZT::WindowSizeConstraints::kUnbounded);
}

TEST(Layout, FirstPlaceFromTheDescriptorAgreesWithTheLayoutPass)
{
    // ApplyDescriptor places a control before its siblings exist; the pass must not move a
    // control that refers to no sibling.
    auto root = MakeRoot();
    root->SetBounds({0, 0, 400, 200});
    auto control = Add(*root, L"c", [](LControlDescriptor& d) {
        Set(d.mLayout->mX.mPosition, 0.5, std::nullopt);
        d.mLayout->mX.mPlacementAnchor = 0.5;
        Set(d.mLayout->mX.mSize, 1.0, std::nullopt);
        Set(d.mLayout->mX.mMaxSize, std::nullopt, 100);
        Set(d.mLayout->mY.mSize, std::nullopt, 30);
    });
    const Rect first = control->GetBounds();
    EXPECT_EQ(Text(first), Text({150, 0, 250, 30}));
    Layout(*root, 400, 200);
    EXPECT_EQ(Text(control->GetBounds()), Text(first));
}

} // namespace
