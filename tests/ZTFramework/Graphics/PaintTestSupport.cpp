#include "tests/ZTFramework/Graphics/PaintTestSupport.h"

#include "ZTFramework/Resources/BuiltInResources.h"

#include <cstdio>
#include <cstdlib>
#include <deque>
#include <mutex>

namespace ZT::Testing {

std::string Argb(std::uint32_t argb)
{
    char text[16];
    std::snprintf(text, sizeof text, "0x%08X", argb);
    return text;
}

Canvas::Canvas(int width, int height, int scale)
    : mWidth(width),
      mHeight(height),
      mScale(scale),
      mSurface(cairo_image_surface_create(CAIRO_FORMAT_ARGB32, width * scale, height * scale)),
      mContext(cairo_create(mSurface))
{
    cairo_set_source_rgb(mContext, ((kUntouched >> 16) & 0xFF) / 255.0, ((kUntouched >> 8) & 0xFF) / 255.0,
                         (kUntouched & 0xFF) / 255.0);
    cairo_paint(mContext);
    cairo_scale(mContext, scale, scale);
}

Canvas::~Canvas()
{
    cairo_destroy(mContext);
    cairo_surface_destroy(mSurface);
}

std::uint32_t Canvas::At(int deviceX, int deviceY) const
{
    cairo_surface_flush(mSurface);
    const unsigned char* data = cairo_image_surface_get_data(mSurface);
    const int stride = cairo_image_surface_get_stride(mSurface);
    return *reinterpret_cast<const std::uint32_t*>(data + deviceY * stride + deviceX * 4);
}

Canvas::Ink Canvas::CountInk(const Rect& logical) const
{
    Ink ink;
    for (int y = 0; y < DeviceHeight(); ++y) {
        for (int x = 0; x < DeviceWidth(); ++x) {
            const std::uint32_t colour = At(x, y);
            if (colour == kUntouched)
                continue;
            const bool inside = x >= logical.mLeft * mScale && x < logical.mRight * mScale &&
                                y >= logical.mTop * mScale && y < logical.mBottom * mScale;
            if (inside) {
                ++ink.mInside;
            } else if (ink.mOutside++ == 0) {
                ink.mFirstOutside = "(" + std::to_string(x) + ", " + std::to_string(y) + ") " + Argb(colour);
            }
        }
    }
    return ink;
}

void Canvas::WritePng(const std::string& path) const
{
    cairo_surface_write_to_png(mSurface, path.c_str());
}

::testing::AssertionResult ColourAt(const Canvas& canvas, const char* what, int x, int y, std::uint32_t expected,
                                    int tolerance)
{
    const std::uint32_t actual = canvas.At(x, y);
    for (int shift = 0; shift < 32; shift += 8) {
        const int difference = static_cast<int>((actual >> shift) & 0xFF) - static_cast<int>((expected >> shift) & 0xFF);
        if (std::abs(difference) > tolerance) {
            return ::testing::AssertionFailure() << what << " at device pixel (" << x << ", " << y << ") is "
                                                 << Argb(actual) << ", expected " << Argb(expected);
        }
    }
    return ::testing::AssertionSuccess();
}

SkinBuilder::SkinBuilder() : mSkin(MakeRC<LSkinDefinitions>()) {}

WString SkinBuilder::SolidPart(std::uint32_t argb)
{
    const WString name(("Part." + Argb(argb)).c_str());
    auto colorizer = MakeRC<LColorizer>();
    colorizer->mName = WString(("Colorizer." + Argb(argb)).c_str());
    colorizer->mColor = argb;
    mSkin->mColorizers[colorizer->mName] = colorizer;
    auto part = MakeRC<LVisualPartDescriptor>();
    part->mName = name;
    part->mColorizerName = colorizer->mName;
    mSkin->mParts[name] = part;
    return name;
}

WString SkinBuilder::ImagePart(const wchar_t* name, const wchar_t* image, int x, int y, int width, int height,
                               LVisualPartDescriptor::ResizeType resize)
{
    auto part = MakeRC<LVisualPartDescriptor>();
    part->mName = WString(name);
    part->mImageFile = WString(image);
    part->mImageLocX = x;
    part->mImageLocY = y;
    part->mWidth = width;
    part->mHeight = height;
    part->mResizeType = resize;
    mSkin->mParts[part->mName] = part;
    return part->mName;
}

void SkinBuilder::Look(const wchar_t* name, const WString& clientPart, const WString& textPart, double hAlign,
                       double vAlign)
{
    auto look = MakeRC<LLookDescriptor>();
    look->mName = WString(name);
    if (!clientPart.IsEmpty()) {
        look->mClientPart = MakeRC<LDockedPart>();
        look->mClientPart->mPartName = clientPart;
    }
    if (!textPart.IsEmpty()) {
        LLookDescriptor::TextProperties text;
        text.mHAlign = hAlign;
        text.mVAlign = vAlign;
        text.mForegroundPart = textPart;
        look->mTextProperties = text;
    }
    mSkin->mLooks[look->mName] = look;
}

void SkinBuilder::LookList(const wchar_t* name, std::initializer_list<const wchar_t*> looks)
{
    auto list = MakeRC<LLookListDescriptor>();
    list->mName = WString(name);
    for (const wchar_t* look : looks)
        list->mLookNames.Append(WString(look));
    mSkin->mLookLists[list->mName] = list;
}

WString SkinBuilder::SolidLookList(std::uint32_t argb)
{
    const std::string hex = Argb(argb);
    const WString look(("Look." + hex).c_str());
    Look(look.GetBuffer(), SolidPart(argb));
    const WString list(("LookList." + hex).c_str());
    LookList(list.GetBuffer(), {look.GetBuffer()});
    return list;
}

void RegisterImage(const std::string& path, int width, int height, const std::function<void(cairo_t*)>& draw)
{
    // Built-in resources must outlive every reader: the bytes stay until the test program ends.
    static std::mutex mutex;
    static std::deque<std::vector<std::uint8_t>> images;
    static std::deque<std::string> names;
    cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, width, height);
    cairo_t* cr = cairo_create(surface);
    draw(cr);
    cairo_destroy(cr);
    std::vector<std::uint8_t> bytes;
    cairo_surface_write_to_png_stream(
        surface,
        [](void* closure, const unsigned char* data, unsigned int length) {
            auto* out = static_cast<std::vector<std::uint8_t>*>(closure);
            out->insert(out->end(), data, data + length);
            return CAIRO_STATUS_SUCCESS;
        },
        &bytes);
    cairo_surface_destroy(surface);
    const std::lock_guard lock(mutex);
    images.push_back(std::move(bytes));
    names.push_back(CBuiltInResources::ResourceNameFromPath(path));
    const BuiltInResource resource{names.back().c_str(), images.back().data(), images.back().size()};
    CBuiltInResources::Register({&resource, 1});
}

} // namespace ZT::Testing
