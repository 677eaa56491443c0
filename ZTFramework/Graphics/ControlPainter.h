#pragma once
// Draws a control tree with Cairo from the skin: each control's look (chosen from its look list
// by its conditions), the look's parts, colorizers and images, and its caption through Pango.
//
// Coordinates are the window's logical pixels; the caller's Cairo context maps them to the
// surface (a display scale of 2 draws at double resolution through cairo_scale). Nothing here
// assumes a scale of 1: images pick their filter from the device size they land on.
//
// Look lists by index (the shipped skin's convention):
// - "Framework.Button": 0 normal, 1 hover, 2 pressed (held with the left button while the mouse
//   is over it), 3 disabled (LButton::GetLookIndex).
// - "Framework.ProgressBar": 0 the track over the whole bar, 1 the fill over the done fraction.
// - every other class: 0 normal, 1 disabled, 2 hover.
// An index the list lacks (or leaves empty) falls back to 0. Keyboard focus is not a look: a
// control with the focus condition gets a dotted frame drawn inside its edge in its text colour.
//
// Text: the look's TextProperties give the text rectangle (fractions of the control plus
// pixels), its alignment and its colour (the colorizer of TextForegroundPart); see CTextPainter
// for fonts and overflow. A look without TextProperties shows no text, except on labels,
// buttons, status bars and tooltips, whose captions then use the whole control.
//
// Paint draws only controls that meet the area and never touches a pixel outside it. Faults in
// the skin found while drawing (missing images, unknown parts, looks or look lists) are written
// once each to the debug output (GetMessages lists them) and the rest is drawn.
//
// Threads: the user-interface thread's, except the task PrepareFonts returns.

#include "ZTFramework/ControlBase/Layout.h"
#include "ZTFramework/ControlBase/RectT.h"
#include "ZTFramework/Errors/Result.h"
#include "ZTFramework/ObjectBase/RCPtr.h"
#include "ZTFramework/ObjectBase/RefCountedObject.h"
#include "ZTFramework/Utilities/Storage/StringT.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

typedef struct _cairo cairo_t;

namespace ZT {

class LControl;
class LPopupMenu;
class LResourceSet;
class LSkinDefinitions;

class LControlPainter : public virtual LRefCountedObject, public ITextMeasurer {
public:
    // resources: the loaded skin and string tables; imageLocation: where the skin's image files
    // are found ("::" for the program's built-in resources, or a folder).
    LControlPainter(RCPtr<LResourceSet> resources, WString imageLocation);
    // The same from a skin alone (tools and tests that build a skin in memory).
    LControlPainter(RCPtr<LSkinDefinitions> skin, WString imageLocation);
    ~LControlPainter() override;

    // The locale whose "FontLocale" font replacements apply (0, the default: none).
    void SetLocale(std::uint32_t lcid);

    // Paints root and the visible controls below it that meet area (window coordinates), clipped
    // to area. S_OK, or a failed result when cr is in an error state.
    ZTRESULT Paint(cairo_t* cr, LControl& root, const Rect& area);

    int MeasureTextHeight(const LControl& control, int width) override;

    // What the first paint of root's texts would wait for (fontconfig's start, the fonts, their
    // glyphs), as a task that loads it. Reads the tree now, on its thread; the task reads only
    // what it was given and this painter's fonts, so it may run on another thread as long as
    // nothing else uses this painter until it has ended (the caller joins it first). The painter
    // must outlive the task.
    [[nodiscard]] std::function<void()> PrepareFonts(const LControl& root);
    // Decodes every image and mask the skin's parts name, which the first paint would otherwise
    // decode as it goes. On this painter's thread; may run while PrepareFonts' task runs, which
    // does not touch the images.
    void PreloadImages();

    // Paints root over size (logical pixels) at scale into a new image and writes it as a PNG
    // file. An empty text, or what failed (the painting's result, or why the file could not be
    // written).
    [[nodiscard]] std::string PaintToPng(LControl& root, SizeT size, int scale, const std::string& path);

    // The index into the control's look list that its class and conditions call for (above).
    [[nodiscard]] static std::size_t GetLookIndex(const LControl& control);
    // Where item of the popup menu is drawn, in window coordinates (for the window's mouse
    // handling); empty for an index out of range.
    [[nodiscard]] Rect GetMenuItemArea(const LPopupMenu& menu, std::size_t item);

    // The skin faults found while drawing so far, each once.
    [[nodiscard]] const std::vector<std::string>& GetMessages() const noexcept;

private:
    struct Impl;
    std::unique_ptr<Impl> mImpl;
};

} // namespace ZT
