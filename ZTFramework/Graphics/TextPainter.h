#pragma once
// Lays out and draws a control's text with Pango from the skin's fonts.
//
// Font: the control's own "FontName"/"FontSize", else its parent's (up the tree), else the
// outermost skin's, else Sans 8.25. Sizes are points at 96 dpi (8.25 pt is 11 px); a size marked
// "FontSizeIsRelative" is a factor of the size it would inherit. "FontStyle" bits: 1 bold,
// 2 italic. For the current locale the outermost skin's "FontLocale"/"FontXLat" entries replace
// a font name by another (the Japanese skin asks for a font with its glyphs); fontconfig then
// finds any glyph the font lacks in another installed font.
//
// Overflow, per axis ("TextOverflowXType", "TextOverflowYType"):
// - X "Wrap" (and unset): lines break at words, inside a word where it cannot fit otherwise.
//   X "Clip": one line per paragraph, cut with an ellipsis at its end. X "Expand": lines as
//   long as they are (the layout may make the control wider); what still does not fit is cut.
// - Y "Clip" (and unset): wrapped text that is taller than its rectangle ends with an ellipsis
//   on the last line that fits. Y "Expand"/"Wrap": all lines are laid out.
// Whatever the settings, nothing is drawn outside the control or its text rectangle.
//
// Metrics are laid out without hinting, so a text breaks the same way at every display scale.
//
// Measuring and drawing go through one font map of the painter's own, not the calling thread's
// default: fonts loaded through it stay loaded for whichever thread uses the painter next.
//
// Threads: the user-interface thread's, except LoadFonts (below).

#include "ZTFramework/Graphics/SkinDrawing.h"
#include "ZTFramework/ObjectBase/RCPtr.h"
#include "ZTFramework/Resources/SkinDefinitions.h"

#include <cstdint>
#include <string>
#include <vector>

typedef struct _cairo cairo_t;
typedef struct _PangoContext PangoContext;
typedef struct _PangoFontMap PangoFontMap;
typedef struct _PangoLayout PangoLayout;

namespace ZT {

class LControl;

class CTextPainter {
public:
    struct Font {
        std::string mFamily;   // as Pango reads it: the skin's font, then a generic fallback
        double mPixelSize = 11.0;
        bool mBold = false;
        bool mItalic = false;
    };

    explicit CTextPainter(RCPtr<LSkinDefinitions> skin);
    ~CTextPainter();
    CTextPainter(const CTextPainter&) = delete;
    CTextPainter& operator=(const CTextPainter&) = delete;

    // A text in a font, for LoadFonts.
    struct Sample {
        Font mFont;
        std::string mText; // UTF-8
    };

    // The LCID whose "FontLocale" applies (0: none).
    void SetLocale(std::uint32_t lcid) noexcept { mLcid = lcid; }
    [[nodiscard]] Font GetFont(const LControl& control) const;

    // Draws text in box aligned by hAlign/vAlign (0 left/top .. 1 right/bottom), clipped to clip,
    // with the current source.
    void Draw(cairo_t* cr, const LControl& control, const WString& text, const RectD& box, double hAlign, double vAlign,
              const RectD& clip);
    // The height in pixels the text needs inside a box of this width (without the Y limit).
    [[nodiscard]] double MeasureHeight(const LControl& control, const WString& text, double width);
    // The width in pixels of the text on one line (menu titles).
    [[nodiscard]] double MeasureWidth(const LControl& control, const WString& text);
    // The height of one line in the control's font (rows of item lists).
    [[nodiscard]] double LineHeight(const LControl& control);

    // Loads what drawing the samples needs (fontconfig's configuration on first use, the fonts
    // and their fallbacks, the glyphs at scale 1) by drawing them into a scratch image, so that
    // the first frame finds them ready. May run on another thread while nothing else uses this
    // painter; that thread is joined before the painter's next use.
    void LoadFonts(const std::vector<Sample>& samples);

private:
    // A layout for the control's text (the caller releases it with g_object_unref).
    PangoLayout* MakeLayout(PangoContext* context, const LControl& control, const WString& text, double width,
                            double height, double hAlign, bool limitHeight) const;
    PangoContext* MeasureContext();
    PangoFontMap* FontMap();
    // A context for drawing on cr through the painter's font map.
    PangoContext* DrawContext(cairo_t* cr);

    RCPtr<LSkinDefinitions> mSkin;
    std::uint32_t mLcid = 0;
    PangoFontMap* mFontMap = nullptr;
    PangoContext* mMeasureContext = nullptr;
};

} // namespace ZT
