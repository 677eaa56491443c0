#include "ZTFramework/Graphics/TextPainter.h"

#include "ZTFramework/ControlBase/Control.h"
#include "ZTFramework/Resources/ControlDescriptor.h"
#include "ZTFramework/Resources/LocaleId.h"

#include <cairo.h>
#include <pango/pangocairo.h>

#include <algorithm>
#include <cmath>
#include <strings.h>

namespace ZT {

namespace {

constexpr double kDefaultPoints = 8.25;
constexpr double kPixelsPerPoint = 96.0 / 72.0;
constexpr const char* kFallbackFamily = "Sans";

const LSkinDescriptor* OuterSkin(const LSkinDefinitions* skin)
{
    if (!skin)
        return nullptr;
    for (const LSkinDescriptor* outer : skin->mSkins)
        return outer;
    return nullptr;
}

void SetFont(PangoLayout* layout, const CTextPainter::Font& font)
{
    PangoFontDescription* description = pango_font_description_new();
    pango_font_description_set_family(description, font.mFamily.c_str());
    pango_font_description_set_absolute_size(description, font.mPixelSize * PANGO_SCALE);
    pango_font_description_set_weight(description, font.mBold ? PANGO_WEIGHT_BOLD : PANGO_WEIGHT_NORMAL);
    pango_font_description_set_style(description, font.mItalic ? PANGO_STYLE_ITALIC : PANGO_STYLE_NORMAL);
    pango_layout_set_font_description(layout, description);
    pango_font_description_free(description);
}

void UnhintedMetrics(PangoContext* context)
{
    cairo_font_options_t* options = cairo_font_options_create();
    cairo_font_options_set_hint_metrics(options, CAIRO_HINT_METRICS_OFF);
    pango_cairo_context_set_font_options(context, options);
    cairo_font_options_destroy(options);
}

} // namespace

CTextPainter::CTextPainter(RCPtr<LSkinDefinitions> skin) : mSkin(std::move(skin)) {}

CTextPainter::~CTextPainter()
{
    if (mMeasureContext)
        g_object_unref(mMeasureContext);
    if (mFontMap)
        g_object_unref(mFontMap);
}

PangoFontMap* CTextPainter::FontMap()
{
    // The same kind of map, at the same 96 dpi, as the thread's default that
    // pango_cairo_create_context would use.
    if (!mFontMap)
        mFontMap = pango_cairo_font_map_new();
    return mFontMap;
}

PangoContext* CTextPainter::DrawContext(cairo_t* cr)
{
    PangoContext* context = pango_font_map_create_context(FontMap());
    pango_cairo_update_context(cr, context);
    UnhintedMetrics(context);
    return context;
}

CTextPainter::Font CTextPainter::GetFont(const LControl& control) const
{
    WString family;
    std::optional<double> points;
    double factor = 1.0;
    std::optional<std::int32_t> style;
    for (const LControl* at = &control; at && (family.IsEmpty() || !points || !style); at = at->GetParent()) {
        const LControlDescriptor* descriptor = at->GetDescriptor().Get();
        if (!descriptor)
            continue;
        if (family.IsEmpty())
            family = descriptor->mFontName;
        if (!points && descriptor->mFontSize) {
            if (descriptor->mFontSizeIsRelative.value_or(false))
                factor *= *descriptor->mFontSize;
            else
                points = *descriptor->mFontSize;
        }
        if (!style)
            style = descriptor->mFontStyle;
    }
    const LSkinDescriptor* outer = OuterSkin(mSkin.Get());
    if (outer) {
        if (family.IsEmpty())
            family = outer->mFontName;
        if (!points)
            points = outer->mFontSize;
        if (!style)
            style = outer->mFontStyle;
    }
    std::string name = family.ToUTF8();
    if (outer && mLcid != 0) {
        for (const LSkinDescriptor::FontLocale& locale : outer->mFontLocales) {
            if (locale.mLcid != mLcid && locale.mLcid != CLocaleId::Fallback(mLcid))
                continue;
            for (const auto& [from, to] : locale.mTranslations)
                if (strcasecmp(from.ToUTF8().c_str(), name.c_str()) == 0)
                    name = to.ToUTF8();
        }
    }
    Font font;
    font.mFamily = name.empty() ? std::string(kFallbackFamily) : name + "," + kFallbackFamily;
    const double size = std::clamp(points.value_or(kDefaultPoints) * factor, 1.0, 200.0);
    font.mPixelSize = size * kPixelsPerPoint;
    font.mBold = (style.value_or(0) & 1) != 0;
    font.mItalic = (style.value_or(0) & 2) != 0;
    return font;
}

PangoLayout* CTextPainter::MakeLayout(PangoContext* context, const LControl& control, const WString& text,
                                      double width, double height, double hAlign, bool limitHeight) const
{
    PangoLayout* layout = pango_layout_new(context);
    SetFont(layout, GetFont(control));

    // Windows-style line ends in the string tables would otherwise show as an extra break.
    std::string utf8 = text.ToUTF8();
    std::erase(utf8, '\r');
    pango_layout_set_text(layout, utf8.c_str(), static_cast<int>(utf8.size()));

    const LControlDescriptor* descriptor = control.GetDescriptor().Get();
    using Overflow = LControlDescriptor::TextOverflow;
    const Overflow overflowX = descriptor && descriptor->mTextOverflowX ? *descriptor->mTextOverflowX : Overflow::Wrap;
    const Overflow overflowY = descriptor && descriptor->mTextOverflowY ? *descriptor->mTextOverflowY : Overflow::Clip;
    const int pangoWidth = static_cast<int>(std::max(1.0, width) * PANGO_SCALE);
    switch (overflowX) {
    case Overflow::Wrap:
        pango_layout_set_width(layout, pangoWidth);
        pango_layout_set_wrap(layout, PANGO_WRAP_WORD_CHAR);
        if (limitHeight && overflowY == Overflow::Clip) {
            // At least one line, cut with an ellipsis where the rectangle ends.
            pango_layout_set_height(layout, static_cast<int>(std::max(1.0, height) * PANGO_SCALE));
            pango_layout_set_ellipsize(layout, PANGO_ELLIPSIZE_END);
        }
        break;
    case Overflow::Clip:
        pango_layout_set_width(layout, pangoWidth);
        pango_layout_set_ellipsize(layout, PANGO_ELLIPSIZE_END);
        break;
    case Overflow::Expand:
        break;
    }
    if (overflowX != Overflow::Expand)
        pango_layout_set_alignment(layout, hAlign < 0.25   ? PANGO_ALIGN_LEFT
                                           : hAlign > 0.75 ? PANGO_ALIGN_RIGHT
                                                           : PANGO_ALIGN_CENTER);
    return layout;
}

void CTextPainter::Draw(cairo_t* cr, const LControl& control, const WString& text, const RectD& box, double hAlign,
                        double vAlign, const RectD& clip)
{
    if (text.IsEmpty() || box.IsEmpty())
        return;
    const RectD visible{std::max(box.mLeft, clip.mLeft), std::max(box.mTop, clip.mTop),
                        std::min(box.mRight, clip.mRight), std::min(box.mBottom, clip.mBottom)};
    if (visible.IsEmpty())
        return;
    PangoContext* context = DrawContext(cr);
    PangoLayout* layout = MakeLayout(context, control, text, box.GetWidth(), box.GetHeight(), hAlign, true);
    PangoRectangle logical;
    pango_layout_get_pixel_extents(layout, nullptr, &logical);
    double x = box.mLeft;
    if (pango_layout_get_width(layout) < 0)
        x += (box.GetWidth() - logical.width) * std::clamp(hAlign, 0.0, 1.0) - logical.x;
    // Text taller than its box starts at the top, so its first lines stay readable.
    const double y = box.mTop + std::max(0.0, (box.GetHeight() - logical.height) * std::clamp(vAlign, 0.0, 1.0));

    cairo_save(cr);
    cairo_rectangle(cr, visible.mLeft, visible.mTop, visible.GetWidth(), visible.GetHeight());
    cairo_clip(cr);
    cairo_move_to(cr, std::round(x), std::round(y));
    pango_cairo_show_layout(cr, layout);
    cairo_restore(cr);
    g_object_unref(layout);
    g_object_unref(context);
}

PangoContext* CTextPainter::MeasureContext()
{
    if (!mMeasureContext) {
        mMeasureContext = pango_font_map_create_context(FontMap());
        pango_cairo_context_set_resolution(mMeasureContext, 96.0);
        UnhintedMetrics(mMeasureContext);
    }
    return mMeasureContext;
}

double CTextPainter::MeasureHeight(const LControl& control, const WString& text, double width)
{
    if (text.IsEmpty())
        return 0.0;
    PangoLayout* layout = MakeLayout(MeasureContext(), control, text, width, 0.0, 0.0, false);
    PangoRectangle logical;
    pango_layout_get_pixel_extents(layout, nullptr, &logical);
    g_object_unref(layout);
    return logical.height;
}

double CTextPainter::MeasureWidth(const LControl& control, const WString& text)
{
    if (text.IsEmpty())
        return 0.0;
    PangoLayout* layout = MakeLayout(MeasureContext(), control, text, -1.0, 0.0, 0.0, false);
    pango_layout_set_width(layout, -1);
    PangoRectangle logical;
    pango_layout_get_pixel_extents(layout, nullptr, &logical);
    g_object_unref(layout);
    return logical.width;
}

double CTextPainter::LineHeight(const LControl& control)
{
    PangoLayout* layout = MakeLayout(MeasureContext(), control, WString(L"Ag"), 1000.0, 0.0, 0.0, false);
    PangoRectangle logical;
    pango_layout_get_pixel_extents(layout, nullptr, &logical);
    g_object_unref(layout);
    return logical.height;
}

void CTextPainter::LoadFonts(const std::vector<Sample>& samples)
{
    // Wide enough for a caption on one line, tall enough for a few wrapped lines: glyphs that
    // fall outside the scratch image are not rasterised.
    constexpr int kScratchWidth = 512;
    constexpr int kScratchHeight = 128;
    cairo_surface_t* scratch = cairo_image_surface_create(CAIRO_FORMAT_RGB24, kScratchWidth, kScratchHeight);
    cairo_t* cr = cairo_create(scratch);
    PangoContext* context = DrawContext(cr);
    for (const Sample& sample : samples) {
        if (sample.mText.empty())
            continue;
        PangoLayout* layout = pango_layout_new(context);
        SetFont(layout, sample.mFont);
        pango_layout_set_text(layout, sample.mText.c_str(), static_cast<int>(sample.mText.size()));
        pango_layout_set_width(layout, kScratchWidth * PANGO_SCALE);
        pango_layout_set_wrap(layout, PANGO_WRAP_WORD_CHAR);
        cairo_move_to(cr, 0, 0);
        pango_cairo_show_layout(cr, layout);
        g_object_unref(layout);
    }
    g_object_unref(context);
    cairo_destroy(cr);
    cairo_surface_destroy(scratch);
}

} // namespace ZT
