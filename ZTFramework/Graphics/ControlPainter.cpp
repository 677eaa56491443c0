#include "ZTFramework/Graphics/ControlPainter.h"

#include "ZTFramework/ControlBase/Conditions.h"
#include "ZTFramework/ControlBase/Control.h"
#include "ZTFramework/Controls/Button.h"
#include "ZTFramework/Controls/Label.h"
#include "ZTFramework/Controls/MainMenu.h"
#include "ZTFramework/Controls/PopupMenu.h"
#include "ZTFramework/Controls/ProgressBar.h"
#include "ZTFramework/Controls/StatusBar.h"
#include "ZTFramework/Controls/ToolTip.h"
#include "ZTFramework/Graphics/ImageCache.h"
#include "ZTFramework/Graphics/SkinDrawing.h"
#include "ZTFramework/Graphics/SkinMessages.h"
#include "ZTFramework/Graphics/TextPainter.h"
#include "ZTFramework/Resources/ResourceSet.h"

#include <cairo.h>

#include <algorithm>
#include <cmath>
#include <utility>
#include <vector>

namespace ZT {

namespace {

// Colours for what the skin leaves undrawn: text without a text part, and the boxes of popup
// menus and tooltips without a look.
constexpr std::uint32_t kDefaultText = 0xFFE8ECF0;
constexpr std::uint32_t kDisabledText = 0xFF5A6270;
constexpr std::uint32_t kMenuBackground = 0xFF1C222B;
constexpr std::uint32_t kMenuBorder = 0xFF3A4656;
constexpr std::uint32_t kMenuHighlight = 0x6000C8FF;
constexpr std::uint32_t kToolTipBackground = 0xFFFFF8D0;
constexpr std::uint32_t kToolTipText = 0xFF202020;

// Popup menu rows: padding above and below the text, the check column, the margin at the top.
constexpr int kMenuRowPadding = 4;
constexpr int kMenuCheckColumn = 22;
constexpr int kMenuMargin = 3;
constexpr int kMenuSeparatorHeight = 7;

RectD ToRectD(const Rect& rect)
{
    return {static_cast<double>(rect.mLeft), static_cast<double>(rect.mTop), static_cast<double>(rect.mRight),
            static_cast<double>(rect.mBottom)};
}

Rect Intersect(const Rect& a, const Rect& b)
{
    return {std::max(a.mLeft, b.mLeft), std::max(a.mTop, b.mTop), std::min(a.mRight, b.mRight),
            std::min(a.mBottom, b.mBottom)};
}

void Clip(cairo_t* cr, const Rect& rect)
{
    cairo_rectangle(cr, rect.mLeft, rect.mTop, rect.GetWidth(), rect.GetHeight());
    cairo_clip(cr);
}

std::string Describe(const LControl& control)
{
    return "control \"" + control.GetName().ToUTF8() + "\"";
}

// The text rectangle of properties inside area.
RectD TextBox(const LLookDescriptor::TextProperties& text, const Rect& area)
{
    const double width = area.GetWidth();
    const double height = area.GetHeight();
    return {area.mLeft + text.mLeftRel.value_or(0.0) * width + text.mLeftAbs.value_or(0),
            area.mTop + text.mTopRel.value_or(0.0) * height + text.mTopAbs.value_or(0),
            area.mLeft + text.mRightRel.value_or(1.0) * width + text.mRightAbs.value_or(0),
            area.mTop + text.mBottomRel.value_or(1.0) * height + text.mBottomAbs.value_or(0)};
}

bool ShowsCaptionWithoutLook(const LControl& control)
{
    return dynamic_cast<const LLabel*>(&control) || dynamic_cast<const LButton*>(&control) ||
           dynamic_cast<const LStatusBar*>(&control) || dynamic_cast<const LToolTip*>(&control);
}

// Default text placement for a control whose look has no TextProperties.
LLookDescriptor::TextProperties DefaultTextProperties(const LControl& control)
{
    LLookDescriptor::TextProperties text;
    const bool centred = dynamic_cast<const LButton*>(&control) != nullptr;
    const bool boxed = dynamic_cast<const LToolTip*>(&control) != nullptr;
    text.mLeftAbs = boxed ? 4 : 0;
    text.mRightAbs = boxed ? -4 : 0;
    text.mHAlign = centred ? 0.5 : 0.0;
    text.mVAlign = centred || boxed ? 0.5 : 0.0;
    return text;
}

int ZOrder(const LControl* control)
{
    const LControlDescriptor* descriptor = control->GetDescriptor().Get();
    return descriptor && descriptor->mZOrder ? *descriptor->mZOrder : 0;
}

// The look a popup or tooltip has when the skin gives it none: the area filled, with a 1-pixel
// border inside its edge.
void PaintPlainBox(cairo_t* cr, const Rect& area, std::uint32_t fill, std::uint32_t border)
{
    CSkinDrawing::SetColor(cr, fill);
    cairo_paint(cr);
    CSkinDrawing::SetColor(cr, border);
    cairo_set_line_width(cr, 1.0);
    cairo_rectangle(cr, area.mLeft + 0.5, area.mTop + 0.5, area.GetWidth() - 1.0, area.GetHeight() - 1.0);
    cairo_stroke(cr);
}

} // namespace

struct LControlPainter::Impl {
    Impl(RCPtr<LSkinDefinitions> skin, const WString& imageLocation)
        : mSkin(std::move(skin)),
          mImages(imageLocation.ToUTF8(), mMessages),
          mDrawing(mSkin, mImages, mMessages),
          mText(mSkin)
    {
    }

    // The look of control at index (falling back to 0), or null.
    const LLookDescriptor* FindLook(const LControl& control, std::size_t index);
    void PaintTree(cairo_t* cr, const LControl& control, const Rect& paintArea, const Rect& clip);
    void PaintControl(cairo_t* cr, const LControl& control, const Rect& area);
    void PaintText(cairo_t* cr, const LControl& control, const LLookDescriptor* look, const WString& text,
                   const Rect& area, bool disabled);
    // Makes the text colour of look over box the source; fallback when the look gives none.
    void SetTextColour(cairo_t* cr, const LControl& control, const LLookDescriptor* look, const RectD& box,
                       std::uint32_t fallback);
    void PaintPopupMenu(cairo_t* cr, const LPopupMenu& menu, const LLookDescriptor* look, const Rect& area);
    void PaintMainMenu(cairo_t* cr, const LMainMenu& menu, const LLookDescriptor* look, const Rect& area);
    void PaintFocusMark(cairo_t* cr, const LControl& control, const LLookDescriptor* look, const Rect& area);
    // Row tops and heights of a popup menu's items, relative to its top.
    std::vector<std::pair<int, int>> MenuRows(const LPopupMenu& menu);

    RCPtr<LSkinDefinitions> mSkin;
    CSkinMessages mMessages;
    CImageCache mImages;
    CSkinDrawing mDrawing;
    CTextPainter mText;
};

LControlPainter::LControlPainter(RCPtr<LResourceSet> resources, WString imageLocation)
    : mImpl(std::make_unique<Impl>(resources ? resources->GetSkin() : RCPtr<LSkinDefinitions>(), imageLocation))
{
}

LControlPainter::LControlPainter(RCPtr<LSkinDefinitions> skin, WString imageLocation)
    : mImpl(std::make_unique<Impl>(std::move(skin), imageLocation))
{
}

LControlPainter::~LControlPainter() = default;

std::function<void()> LControlPainter::PrepareFonts(const LControl& root)
{
    std::vector<CTextPainter::Sample> samples;
    std::vector<const LControl*> pending{&root};
    while (!pending.empty()) {
        const LControl* const control = pending.back();
        pending.pop_back();
        pending.insert(pending.end(), control->GetChildren().begin(), control->GetChildren().end());
        if (!control->GetText().IsEmpty())
            samples.push_back({mImpl->mText.GetFont(*control), control->GetText().ToUTF8()});
    }
    return [impl = mImpl.get(), samples = std::move(samples)] { impl->mText.LoadFonts(samples); };
}

void LControlPainter::PreloadImages()
{
    if (!mImpl->mSkin)
        return;
    for (const auto& [name, part] : mImpl->mSkin->mParts) {
        for (const WString* file : {&part->mImageFile, &part->mColorizerMaskFile}) {
            if (!file->IsEmpty())
                (void)mImpl->mImages.GetImage(file->ToUTF8()); // fills the cache; a missing image paints without it
        }
    }
}

void LControlPainter::SetLocale(std::uint32_t lcid)
{
    mImpl->mText.SetLocale(lcid);
}

const std::vector<std::string>& LControlPainter::GetMessages() const noexcept
{
    return mImpl->mMessages.GetMessages();
}

std::size_t LControlPainter::GetLookIndex(const LControl& control)
{
    if (const auto* button = dynamic_cast<const LButton*>(&control))
        return static_cast<std::size_t>(button->GetLookIndex());
    if (dynamic_cast<const LProgressBar*>(&control))
        return 0;   // its list holds the track and the fill, not states
    const std::uint32_t conditions = control.GetConditions();
    if ((conditions & LConditions::kEnabled) == 0)
        return 1;
    if ((conditions & LConditions::kHover) != 0)
        return 2;
    return 0;
}

const LLookDescriptor* LControlPainter::Impl::FindLook(const LControl& control, std::size_t index)
{
    const WString& listName = control.GetLookListName();
    if (listName.IsEmpty() || !mSkin)
        return nullptr;
    const RCPtr<LLookListDescriptor> list = mSkin->FindLookList(listName);
    if (!list) {
        mMessages.Report(Describe(control) + " names look list \"" + listName.ToUTF8() +
                         "\", which the skin does not define");
        return nullptr;
    }
    const std::size_t count = list->mLookNames.GetCount();
    if (index >= count || list->mLookNames[index].IsEmpty())
        index = 0;
    if (index >= count || list->mLookNames[index].IsEmpty())
        return nullptr;
    const WString& lookName = list->mLookNames[index];
    const RCPtr<LLookDescriptor> look = mSkin->FindLook(lookName);
    if (!look) {
        mMessages.Report("look list \"" + listName.ToUTF8() + "\" names look \"" + lookName.ToUTF8() +
                         "\", which the skin does not define");
        return nullptr;
    }
    return look.Get();   // the skin holds it as long as the painter
}

void LControlPainter::Impl::SetTextColour(cairo_t* cr, const LControl& control, const LLookDescriptor* look,
                                          const RectD& box, std::uint32_t fallback)
{
    if (look && look->mTextProperties && !look->mTextProperties->mForegroundPart.IsEmpty() &&
        mDrawing.SetTextSource(cr, look->mTextProperties->mForegroundPart, box,
                               Describe(control) + " (look \"" + look->mName.ToUTF8() + "\")"))
        return;
    CSkinDrawing::SetColor(cr, fallback);
}

void LControlPainter::Impl::PaintText(cairo_t* cr, const LControl& control, const LLookDescriptor* look,
                                      const WString& text, const Rect& area, bool disabled)
{
    if (text.IsEmpty())
        return;
    const bool hasProperties = look && look->mTextProperties;
    if (!hasProperties && !ShowsCaptionWithoutLook(control))
        return;
    const LLookDescriptor::TextProperties properties =
        hasProperties ? *look->mTextProperties : DefaultTextProperties(control);
    const RectD box = TextBox(properties, area);
    const bool tooltip = dynamic_cast<const LToolTip*>(&control) != nullptr;
    SetTextColour(cr, control, look, box, disabled ? kDisabledText : tooltip ? kToolTipText : kDefaultText);
    mText.Draw(cr, control, text, box, properties.mHAlign.value_or(0.0), properties.mVAlign.value_or(0.0),
               ToRectD(area));
}

void LControlPainter::Impl::PaintFocusMark(cairo_t* cr, const LControl& control, const LLookDescriptor* look,
                                           const Rect& area)
{
    if (area.GetWidth() < 8 || area.GetHeight() < 8)
        return;
    cairo_save(cr);
    const RectD box = ToRectD(area);
    SetTextColour(cr, control, look, box, kDefaultText);
    // Dots of one logical pixel on every other pixel, whole pixels so they stay crisp at any
    // integer display scale.
    const int left = area.mLeft + 2;
    const int top = area.mTop + 2;
    const int right = area.mRight - 3;
    const int bottom = area.mBottom - 3;
    for (int x = left; x <= right; x += 2) {
        cairo_rectangle(cr, x, top, 1, 1);
        cairo_rectangle(cr, x, bottom, 1, 1);
    }
    for (int y = top + 2; y < bottom; y += 2) {
        cairo_rectangle(cr, left, y, 1, 1);
        cairo_rectangle(cr, right, y, 1, 1);
    }
    cairo_fill(cr);
    cairo_restore(cr);
}

std::vector<std::pair<int, int>> LControlPainter::Impl::MenuRows(const LPopupMenu& menu)
{
    std::vector<std::pair<int, int>> rows;
    const int rowHeight = static_cast<int>(std::ceil(mText.LineHeight(menu))) + 2 * kMenuRowPadding;
    int top = kMenuMargin;
    for (const LPopupMenu::Item& item : menu.GetItems()) {
        const int height = item.mText.IsEmpty() ? kMenuSeparatorHeight : rowHeight;
        rows.emplace_back(top, height);
        top += height;
    }
    return rows;
}

void LControlPainter::Impl::PaintPopupMenu(cairo_t* cr, const LPopupMenu& menu, const LLookDescriptor* look,
                                           const Rect& area)
{
    if (!look)
        PaintPlainBox(cr, area, kMenuBackground, kMenuBorder);
    const std::vector<std::pair<int, int>> rows = MenuRows(menu);
    // The clicks find their items in the rows drawn here.
    menu.NoteItemRows(rows);
    const std::vector<LPopupMenu::Item>& items = menu.GetItems();
    for (std::size_t index = 0; index < items.size(); ++index) {
        const LPopupMenu::Item& item = items[index];
        const Rect row{area.mLeft + 1, area.mTop + rows[index].first, area.mRight - 1,
                       area.mTop + rows[index].first + rows[index].second};
        if (item.mText.IsEmpty()) {
            CSkinDrawing::SetColor(cr, kMenuBorder);
            const double middle = row.mTop + row.GetHeight() / 2 + 0.5;
            cairo_move_to(cr, row.mLeft + 4, middle);
            cairo_line_to(cr, row.mRight - 4, middle);
            cairo_set_line_width(cr, 1.0);
            cairo_stroke(cr);
            continue;
        }
        if (static_cast<int>(index) == menu.GetHighlightedItem() && item.mState.mEnabled) {
            CSkinDrawing::SetColor(cr, kMenuHighlight);
            cairo_rectangle(cr, row.mLeft, row.mTop, row.GetWidth(), row.GetHeight());
            cairo_fill(cr);
        }
        const std::uint32_t fallback = item.mState.mEnabled ? kDefaultText : kDisabledText;
        if (item.mState.mEnabled)
            SetTextColour(cr, menu, look, ToRectD(row), fallback);
        else
            CSkinDrawing::SetColor(cr, fallback);
        if (item.mState.mChecked) {
            const double middle = row.mTop + row.GetHeight() / 2.0;
            const double left = row.mLeft + 6.0;
            cairo_save(cr);
            cairo_set_line_width(cr, 2.0);
            cairo_set_line_cap(cr, CAIRO_LINE_CAP_ROUND);
            cairo_set_line_join(cr, CAIRO_LINE_JOIN_ROUND);
            cairo_move_to(cr, left, middle);
            cairo_line_to(cr, left + 3.5, middle + 4.0);
            cairo_line_to(cr, left + 10.0, middle - 4.5);
            cairo_stroke(cr);
            cairo_restore(cr);
        }
        const RectD box{static_cast<double>(row.mLeft + kMenuCheckColumn), static_cast<double>(row.mTop),
                        static_cast<double>(row.mRight - 4), static_cast<double>(row.mBottom)};
        mText.Draw(cr, menu, item.mText, box, 0.0, 0.5, ToRectD(area));
    }
}

void LControlPainter::Impl::PaintMainMenu(cairo_t* cr, const LMainMenu& menu, const LLookDescriptor* look,
                                          const Rect& area)
{
    double left = area.mLeft + 8.0;
    std::vector<std::pair<int, int>> spans;
    for (const LMainMenu::Menu& entry : menu.GetMenus()) {
        // Measured, so that titles in every script fit.
        const double width = 16.0 + std::ceil(mText.MeasureWidth(menu, entry.mTitle));
        const RectD box{left, static_cast<double>(area.mTop), std::min<double>(left + width, area.mRight),
                        static_cast<double>(area.mBottom)};
        SetTextColour(cr, menu, look, box, kDefaultText);
        mText.Draw(cr, menu, entry.mTitle, box, 0.0, 0.5, ToRectD(area));
        spans.emplace_back(static_cast<int>(left) - area.mLeft, static_cast<int>(std::ceil(width)));
        left += width;
    }
    // The clicks find their menus in the titles drawn here.
    menu.NoteTitleSpans(std::move(spans));
}

void LControlPainter::Impl::PaintControl(cairo_t* cr, const LControl& control, const Rect& area)
{
    const LLookDescriptor* look = FindLook(control, GetLookIndex(control));
    const bool disabled = !control.IsEnabled();
    if (const auto* bar = dynamic_cast<const LProgressBar*>(&control)) {
        if (look)
            mDrawing.DrawLook(cr, *look, area);
        if (const LLookDescriptor* fill = FindLook(control, 1); fill && fill != look) {
            const double fraction = std::clamp(bar->GetFraction(), 0.0, 1.0);
            const int doneRight = area.mLeft + static_cast<int>(std::lround(fraction * area.GetWidth()));
            if (doneRight > area.mLeft) {
                cairo_save(cr);
                Clip(cr, {area.mLeft, area.mTop, doneRight, area.mBottom});
                mDrawing.DrawLook(cr, *fill, area);
                cairo_restore(cr);
            }
        }
        return;   // its texts are its labels
    }
    if (const auto* popup = dynamic_cast<const LPopupMenu*>(&control)) {
        if (look)
            mDrawing.DrawLook(cr, *look, area);
        PaintPopupMenu(cr, *popup, look, area);
        return;
    }
    if (look)
        mDrawing.DrawLook(cr, *look, area);
    else if (dynamic_cast<const LToolTip*>(&control))
        PaintPlainBox(cr, area, kToolTipBackground, kToolTipText);
    if (const auto* menu = dynamic_cast<const LMainMenu*>(&control)) {
        PaintMainMenu(cr, *menu, look, area);
        return;
    }
    PaintText(cr, control, look, control.GetText(), area, disabled);
    if ((control.GetConditions() & LConditions::kHasFocus) != 0)
        PaintFocusMark(cr, control, look, area);
}

void LControlPainter::Impl::PaintTree(cairo_t* cr, const LControl& control, const Rect& paintArea, const Rect& clip)
{
    if (!control.IsVisible())
        return;
    const Rect area = control.GetAreaInWindow();
    const LControlDescriptor* descriptor = control.GetDescriptor().Get();
    const Rect ownClip = Intersect(descriptor && descriptor->mClipToParent ? clip : paintArea, area);
    if (!ownClip.IsEmpty()) {
        cairo_save(cr);
        Clip(cr, ownClip);
        PaintControl(cr, control, area);
        cairo_restore(cr);
    }
    // Lower Z_Order first, so higher ones are drawn over them; equal ones in creation order.
    std::vector<const LControl*> children(control.GetChildren().begin(), control.GetChildren().end());
    std::stable_sort(children.begin(), children.end(),
                     [](const LControl* a, const LControl* b) { return ZOrder(a) < ZOrder(b); });
    for (const LControl* child : children)
        PaintTree(cr, *child, paintArea, Intersect(clip, area));
}

ZTRESULT LControlPainter::Paint(cairo_t* cr, LControl& root, const Rect& area)
{
    if (!cr || cairo_status(cr) != CAIRO_STATUS_SUCCESS)
        return E_FAIL;
    if (area.IsEmpty())
        return S_OK;
    cairo_save(cr);
    Clip(cr, area);
    mImpl->PaintTree(cr, root, area, area);
    cairo_restore(cr);
    return cairo_status(cr) == CAIRO_STATUS_SUCCESS ? S_OK : E_FAIL;
}

int LControlPainter::MeasureTextHeight(const LControl& control, int width)
{
    const LLookDescriptor* look = mImpl->FindLook(control, 0);
    const LLookDescriptor::TextProperties properties =
        look && look->mTextProperties ? *look->mTextProperties : DefaultTextProperties(control);
    // The text box of a control width pixels wide and 0 high: its width, and the pixels its
    // top and bottom edges take from the control's height.
    const RectD box = TextBox(properties, {0, 0, width, 0});
    const double margins = -box.GetHeight();
    const double text = mImpl->mText.MeasureHeight(control, control.GetText(), box.GetWidth());
    return static_cast<int>(std::ceil(text + std::max(0.0, margins)));
}

Rect LControlPainter::GetMenuItemArea(const LPopupMenu& menu, std::size_t item)
{
    const std::vector<std::pair<int, int>> rows = mImpl->MenuRows(menu);
    if (item >= rows.size())
        return {};
    const Rect area = menu.GetAreaInWindow();
    return {area.mLeft + 1, area.mTop + rows[item].first, area.mRight - 1,
            area.mTop + rows[item].first + rows[item].second};
}

std::string LControlPainter::PaintToPng(LControl& root, SizeT size, int scale, const std::string& path)
{
    cairo_surface_t* surface =
        cairo_image_surface_create(CAIRO_FORMAT_ARGB32, size.mWidth * scale, size.mHeight * scale);
    cairo_t* cr = cairo_create(surface);
    cairo_scale(cr, scale, scale);
    const ZTRESULT painted = Paint(cr, root, {0, 0, size.mWidth, size.mHeight});
    cairo_destroy(cr);
    const cairo_status_t written = cairo_surface_write_to_png(surface, path.c_str());
    cairo_surface_destroy(surface);
    if (Failed(painted))
        return "painting failed: " + ResultToText(painted);
    if (written != CAIRO_STATUS_SUCCESS)
        return "cannot write " + path + ": " + cairo_status_to_string(written);
    return {};
}

} // namespace ZT
