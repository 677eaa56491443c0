#include "ZTFramework/Graphics/SkinDrawing.h"

#include <cairo.h>

#include <algorithm>
#include <cmath>
#include <utility>

namespace ZT {

namespace {

double Channel(std::uint32_t argb, int shift)
{
    return static_cast<double>((argb >> shift) & 0xFFu) / 255.0;
}

void AddStop(cairo_pattern_t* pattern, double offset, std::uint32_t argb)
{
    cairo_pattern_add_color_stop_rgba(pattern, offset, Channel(argb, 16), Channel(argb, 8), Channel(argb, 0),
                                      Channel(argb, 24));
}

bool IsWholeMultiple(double factor)
{
    return factor >= 1.0 - 1e-6 && std::abs(factor - std::round(factor)) < 1e-6;
}

// An image surface laid into area by the part's resize type: the pattern (the caller destroys
// it) and the rectangle to fill with it.
struct PlacedImage {
    cairo_pattern_t* mPattern = nullptr;
    RectD mFill;
};

PlacedImage PlaceImage(cairo_t* cr, cairo_surface_t* image, LVisualPartDescriptor::ResizeType resize, const RectD& area)
{
    const double imageWidth = cairo_image_surface_get_width(image);
    const double imageHeight = cairo_image_surface_get_height(image);
    PlacedImage placed{cairo_pattern_create_for_surface(image), area};
    cairo_matrix_t matrix;
    double scaleX = 1.0;
    double scaleY = 1.0;
    switch (resize) {
    case LVisualPartDescriptor::ResizeType::Stretch:
        scaleX = area.GetWidth() / imageWidth;
        scaleY = area.GetHeight() / imageHeight;
        cairo_matrix_init_scale(&matrix, 1.0 / scaleX, 1.0 / scaleY);
        cairo_matrix_translate(&matrix, -area.mLeft, -area.mTop);
        // PAD: the edge pixels continue outward instead of fading into transparency.
        cairo_pattern_set_extend(placed.mPattern, CAIRO_EXTEND_PAD);
        break;
    case LVisualPartDescriptor::ResizeType::Tile:
        cairo_matrix_init_translate(&matrix, -area.mLeft, -area.mTop);
        cairo_pattern_set_extend(placed.mPattern, CAIRO_EXTEND_REPEAT);
        break;
    case LVisualPartDescriptor::ResizeType::Center: {
        // Whole pixels, so a centred picture is not smeared across pixel boundaries.
        const double left = area.mLeft + std::floor((area.GetWidth() - imageWidth) / 2.0);
        const double top = area.mTop + std::floor((area.GetHeight() - imageHeight) / 2.0);
        cairo_matrix_init_translate(&matrix, -left, -top);
        placed.mFill = {std::max(area.mLeft, left), std::max(area.mTop, top),
                        std::min(area.mRight, left + imageWidth), std::min(area.mBottom, top + imageHeight)};
        break;
    }
    }
    cairo_pattern_set_matrix(placed.mPattern, &matrix);
    // How many device pixels one image pixel covers decides the filter.
    double deviceX = scaleX;
    double deviceY = 0.0;
    cairo_user_to_device_distance(cr, &deviceX, &deviceY);
    double deviceX2 = 0.0;
    double deviceY2 = scaleY;
    cairo_user_to_device_distance(cr, &deviceX2, &deviceY2);
    const bool sharp = IsWholeMultiple(std::hypot(deviceX, deviceY)) && IsWholeMultiple(std::hypot(deviceX2, deviceY2));
    cairo_pattern_set_filter(placed.mPattern, sharp ? CAIRO_FILTER_NEAREST : CAIRO_FILTER_GOOD);
    return placed;
}

void Fill(cairo_t* cr, const RectD& rect)
{
    if (rect.IsEmpty())
        return;
    cairo_rectangle(cr, rect.mLeft, rect.mTop, rect.GetWidth(), rect.GetHeight());
    cairo_fill(cr);
}

Rect PartRegion(const LVisualPartDescriptor& part, std::optional<std::int32_t> locX, std::optional<std::int32_t> locY,
                cairo_surface_t* image)
{
    const int left = locX.value_or(0);
    const int top = locY.value_or(0);
    const int width = part.mWidth.value_or(cairo_image_surface_get_width(image) - left);
    const int height = part.mHeight.value_or(cairo_image_surface_get_height(image) - top);
    return {left, top, left + width, top + height};
}

std::string Utf8(const WString& text)
{
    return text.ToUTF8();
}

} // namespace

CSkinDrawing::CSkinDrawing(RCPtr<LSkinDefinitions> skin, CImageCache& images, CSkinMessages& messages)
    : mSkin(std::move(skin)), mImages(images), mMessages(messages)
{
}

void CSkinDrawing::SetColor(cairo_t* cr, std::uint32_t argb)
{
    cairo_set_source_rgba(cr, Channel(argb, 16), Channel(argb, 8), Channel(argb, 0), Channel(argb, 24));
}

void CSkinDrawing::SetColorizerSource(cairo_t* cr, const LColorizer& colorizer, const RectD& area)
{
    if (colorizer.mColorType == LColorizer::ColorType::SolidFill || !colorizer.mGradientEndColor) {
        SetColor(cr, colorizer.mColor);
        return;
    }
    const double startX = area.mLeft + colorizer.mGradientStartX.value_or(0.0) * area.GetWidth();
    const double startY = area.mTop + colorizer.mGradientStartY.value_or(0.0) * area.GetHeight();
    const double endX = area.mLeft + colorizer.mGradientEndX.value_or(1.0) * area.GetWidth();
    const double endY = area.mTop + colorizer.mGradientEndY.value_or(1.0) * area.GetHeight();
    cairo_pattern_t* pattern = nullptr;
    if (colorizer.mColorType == LColorizer::ColorType::LinearGradient)
        pattern = cairo_pattern_create_linear(startX, startY, endX, endY);
    else
        pattern = cairo_pattern_create_radial(startX, startY, 0.0, startX, startY,
                                              std::max(1.0, std::hypot(endX - startX, endY - startY)));
    AddStop(pattern, 0.0, colorizer.mColor);
    AddStop(pattern, 1.0, *colorizer.mGradientEndColor);
    cairo_pattern_set_extend(pattern, CAIRO_EXTEND_PAD);
    cairo_set_source(cr, pattern);
    cairo_pattern_destroy(pattern);
}

void CSkinDrawing::DrawPart(cairo_t* cr, const WString& partName, const RectD& area, const std::string& where)
{
    if (partName.IsEmpty() || area.IsEmpty())
        return;
    const RCPtr<LVisualPartDescriptor> part = mSkin ? mSkin->FindPart(partName) : nullptr;
    if (!part) {
        mMessages.Report(where + " names part \"" + Utf8(partName) + "\", which the skin does not define");
        return;
    }
    RCPtr<LColorizer> colorizer;
    if (!part->mColorizerName.IsEmpty()) {
        colorizer = mSkin->FindColorizer(part->mColorizerName);
        if (!colorizer)
            mMessages.Report("part \"" + Utf8(partName) + "\" names colorizer \"" + Utf8(part->mColorizerName) +
                             "\", which the skin does not define");
    }
    cairo_save(cr);
    cairo_rectangle(cr, area.mLeft, area.mTop, area.GetWidth(), area.GetHeight());
    cairo_clip(cr);
    cairo_surface_t* image = nullptr;
    if (!part->mImageFile.IsEmpty()) {
        const std::string file = Utf8(part->mImageFile);
        if (cairo_surface_t* whole = mImages.GetImage(file))
            image = mImages.GetRegion(file, PartRegion(*part, part->mImageLocX, part->mImageLocY, whole));
        if (image) {
            PlacedImage placed = PlaceImage(cr, image, part->mResizeType, area);
            cairo_set_source(cr, placed.mPattern);
            Fill(cr, placed.mFill);
            cairo_pattern_destroy(placed.mPattern);
        }
    }
    cairo_surface_t* mask = nullptr;
    if (!part->mColorizerMaskFile.IsEmpty()) {
        const std::string file = Utf8(part->mColorizerMaskFile);
        if (cairo_surface_t* whole = mImages.GetImage(file))
            mask = mImages.GetRegion(file, PartRegion(*part, part->mMaskLocX, part->mMaskLocY, whole));
    }
    // A part whose image is missing is left out whole: a tint alone would be a wrong picture.
    const bool imageMissing = !part->mImageFile.IsEmpty() && !image;
    const bool maskMissing = !part->mColorizerMaskFile.IsEmpty() && !mask;
    if (colorizer && !imageMissing && !maskMissing)
        Tint(cr, *part, *colorizer, mask ? mask : image, area);
    cairo_restore(cr);
}

void CSkinDrawing::Tint(cairo_t* cr, const LVisualPartDescriptor& part, const LColorizer& colorizer,
                        cairo_surface_t* alphaSource, const RectD& area)
{
    const double alpha = std::clamp(part.mColorizerAlphaMod.value_or(1.0), 0.0, 1.0);
    cairo_push_group(cr);
    SetColorizerSource(cr, colorizer, area);
    if (alphaSource) {
        PlacedImage placed = PlaceImage(cr, alphaSource, part.mResizeType, area);
        cairo_save(cr);
        cairo_rectangle(cr, placed.mFill.mLeft, placed.mFill.mTop, placed.mFill.GetWidth(), placed.mFill.GetHeight());
        cairo_clip(cr);
        cairo_mask(cr, placed.mPattern);
        cairo_restore(cr);
        cairo_pattern_destroy(placed.mPattern);
    } else {
        Fill(cr, area);
    }
    cairo_pop_group_to_source(cr);
    cairo_paint_with_alpha(cr, alpha);
}

RectD CSkinDrawing::PlaceNonClientPart(const LDockedPart& docked, const LVisualPartDescriptor* part, const Rect& area)
{
    auto axis = [](std::optional<std::int32_t> nearOffset, std::optional<std::int32_t> farOffset,
                   std::optional<std::int32_t> size, std::optional<std::int32_t> partSize, double start,
                   double end) -> std::pair<double, double> {
        const double extent = end - start;
        if (nearOffset && farOffset && !size)
            return {start + *nearOffset, end - *farOffset};
        const double length = size ? *size : partSize ? *partSize : extent;
        if (nearOffset)
            return {start + *nearOffset, start + *nearOffset + length};
        if (farOffset)
            return {end - *farOffset - length, end - *farOffset};
        const double first = start + std::floor((extent - length) / 2.0);
        return {first, first + length};
    };
    const auto [left, right] = axis(docked.mOffsetLeft, docked.mOffsetRight, docked.mWidth,
                                    part ? part->mWidth : std::nullopt, area.mLeft, area.mRight);
    const auto [top, bottom] = axis(docked.mOffsetTop, docked.mOffsetBottom, docked.mHeight,
                                    part ? part->mHeight : std::nullopt, area.mTop, area.mBottom);
    return {left, top, right, bottom};
}

void CSkinDrawing::DrawLook(cairo_t* cr, const LLookDescriptor& look, const Rect& area)
{
    const std::string where = "look \"" + Utf8(look.mName) + "\"";
    if (look.mClientPart) {
        const LDockedPart& client = *look.mClientPart;
        const RectD inner{static_cast<double>(area.mLeft + client.mOffsetLeft.value_or(0)),
                          static_cast<double>(area.mTop + client.mOffsetTop.value_or(0)),
                          static_cast<double>(area.mRight - client.mOffsetRight.value_or(0)),
                          static_cast<double>(area.mBottom - client.mOffsetBottom.value_or(0))};
        DrawPart(cr, client.mPartName, inner, where);
    }
    for (const LDockedPart* docked : look.mNonClientParts) {
        const RCPtr<LVisualPartDescriptor> part = mSkin ? mSkin->FindPart(docked->mPartName) : nullptr;
        DrawPart(cr, docked->mPartName, PlaceNonClientPart(*docked, part.Get(), area), where);
    }
}

bool CSkinDrawing::SetTextSource(cairo_t* cr, const WString& partName, const RectD& area, const std::string& where)
{
    const RCPtr<LVisualPartDescriptor> part = mSkin ? mSkin->FindPart(partName) : nullptr;
    if (!part) {
        mMessages.Report(where + " names text part \"" + Utf8(partName) + "\", which the skin does not define");
        return false;
    }
    const RCPtr<LColorizer> colorizer = mSkin->FindColorizer(part->mColorizerName);
    if (!colorizer) {
        mMessages.Report("text part \"" + Utf8(partName) + "\" has no colorizer the skin defines");
        return false;
    }
    SetColorizerSource(cr, *colorizer, area);
    return true;
}

} // namespace ZT
