#include "ZTFramework/Graphics/ControlPainter.h"

#include "ZTFramework/ControlBase/Control.h"
#include "ZTFramework/Resources/ResourceSet.h"

#include <cairo.h>

#include <utility>

namespace ZT {

// First cut: flat boxes so the window host has something to show; looks, images and text come
// with the skin drawing.
struct LControlPainter::Impl {
    RCPtr<LResourceSet> mResources;
    WString mImageLocation;
};

LControlPainter::LControlPainter(RCPtr<LResourceSet> resources, WString imageLocation)
    : mImpl(std::make_unique<Impl>(Impl{std::move(resources), std::move(imageLocation)}))
{
}

LControlPainter::~LControlPainter() = default;

namespace {

void PaintControl(cairo_t* cr, const LControl& control, int depth)
{
    if (!control.IsVisible())
        return;
    const Rect area = control.GetAreaInWindow();
    const double shade = 0.15 + 0.1 * (depth % 4);
    cairo_set_source_rgb(cr, shade, shade, shade + 0.05);
    cairo_rectangle(cr, area.mLeft, area.mTop, area.GetWidth(), area.GetHeight());
    cairo_fill(cr);
    for (const LControl* child : control.GetChildren())
        PaintControl(cr, *child, depth + 1);
}

} // namespace

ZTRESULT LControlPainter::Paint(cairo_t* cr, LControl& root, const Rect& area)
{
    if (!cr || cairo_status(cr) != CAIRO_STATUS_SUCCESS)
        return E_FAIL;
    cairo_save(cr);
    cairo_rectangle(cr, area.mLeft, area.mTop, area.GetWidth(), area.GetHeight());
    cairo_clip(cr);
    PaintControl(cr, root, 0);
    cairo_restore(cr);
    return S_OK;
}

int LControlPainter::MeasureTextHeight(const LControl&, int)
{
    return 0;
}

} // namespace ZT
