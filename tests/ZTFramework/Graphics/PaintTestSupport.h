#pragma once
// What the painter tests share: a skin built in memory, controls placed by hand, a canvas to
// paint into and read pixels from, and PNG images registered as built-in resources.

#include "ZTFramework/ControlBase/Control.h"
#include "ZTFramework/Graphics/ControlPainter.h"
#include "ZTFramework/Resources/SkinDefinitions.h"
#include "tests/Support/Printers.h"

#include <gtest/gtest.h>

#include <cairo.h>

#include <cstdint>
#include <functional>
#include <initializer_list>
#include <optional>
#include <string>
#include <vector>

namespace ZT::Testing {

// "0xFF00C8FF".
std::string Argb(std::uint32_t argb);

// A white-free sentinel the painter never draws: whatever still has it was not painted.
constexpr std::uint32_t kUntouched = 0xFF102030;

// An ARGB32 surface of width x height logical pixels at a display scale, filled with kUntouched;
// the context is scaled as the window host scales it.
class Canvas {
public:
    Canvas(int width, int height, int scale = 1);
    ~Canvas();
    Canvas(const Canvas&) = delete;
    Canvas& operator=(const Canvas&) = delete;

    [[nodiscard]] cairo_t* Context() const noexcept { return mContext; }
    // The colour of a device pixel, 0xAARRGGBB (opaque pixels as drawn).
    [[nodiscard]] std::uint32_t At(int deviceX, int deviceY) const;
    [[nodiscard]] int DeviceWidth() const noexcept { return mWidth * mScale; }
    [[nodiscard]] int DeviceHeight() const noexcept { return mHeight * mScale; }
    // Device pixels whose colour is not kUntouched, inside and outside a logical rectangle.
    struct Ink {
        int mInside = 0;
        int mOutside = 0;
        std::string mFirstOutside;   // "(x, y) 0xAARRGGBB" of the first stray pixel
    };
    [[nodiscard]] Ink CountInk(const Rect& logical) const;
    void WritePng(const std::string& path) const;

private:
    int mWidth;
    int mHeight;
    int mScale;
    cairo_surface_t* mSurface;
    cairo_t* mContext;
};

// Expects the colour of device pixel (x, y) to be expected within tolerance per channel; the
// message names what is drawn there, the point and both colours.
::testing::AssertionResult ColourAt(const Canvas& canvas, const char* what, int x, int y, std::uint32_t expected,
                                    int tolerance = 2);

// Builds skins: every colour is a plain colorizer part named after it.
class SkinBuilder {
public:
    SkinBuilder();
    [[nodiscard]] const RCPtr<LSkinDefinitions>& Get() const noexcept { return mSkin; }
    // A part painting argb over its whole area; returns its name "Part.<hex>".
    WString SolidPart(std::uint32_t argb);
    // A part showing a rectangle of a built-in image.
    WString ImagePart(const wchar_t* name, const wchar_t* image, int x, int y, int width, int height,
                      LVisualPartDescriptor::ResizeType resize);
    // A look with clientPart (may be empty) and, when textPart is given, text properties.
    void Look(const wchar_t* name, const WString& clientPart, const WString& textPart = WString(),
              double hAlign = 0.0, double vAlign = 0.0);
    void LookList(const wchar_t* name, std::initializer_list<const wchar_t*> looks);
    // A look list of one look of one plain colour.
    WString SolidLookList(std::uint32_t argb);

private:
    RCPtr<LSkinDefinitions> mSkin;
};

// A control of class T named name, with look list lookList, placed at bounds in parent (null:
// a top control). Overflow settings apply to its text.
template <class T>
RCPtr<T> Place(LControl* parent, const wchar_t* name, const WString& lookList, const Rect& bounds,
               std::optional<LControlDescriptor::TextOverflow> overflowX = std::nullopt,
               std::optional<LControlDescriptor::TextOverflow> overflowY = std::nullopt)
{
    auto descriptor = MakeRC<LControlDescriptor>();
    descriptor->mName = WString(name);
    descriptor->mSkin = MakeRC<LSkinDescriptor>();
    descriptor->mSkin->mLookListName = lookList;
    descriptor->mTextOverflowX = overflowX;
    descriptor->mTextOverflowY = overflowY;
    auto control = MakeRC<T>();
    control->ApplyDescriptor(*descriptor, parent);
    control->SetBounds(bounds);
    if (parent) {
        EXPECT_RESULT_EQ(parent->AddChild(control), S_OK);
    }
    return control;
}

// Registers an image built by draw (on a width x height ARGB32 surface) as the built-in
// resource for path ("::Name.png").
void RegisterImage(const std::string& path, int width, int height, const std::function<void(cairo_t*)>& draw);

} // namespace ZT::Testing
