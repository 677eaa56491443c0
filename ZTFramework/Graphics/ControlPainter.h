#pragma once
// Draws a control tree with Cairo from the skin: each control's look (chosen from its look list
// by its conditions), the look's parts, colorizers and images, and its caption through Pango.
//
// Coordinates are the window's logical pixels; the caller's Cairo context maps them to the
// surface (a display scale of 2 draws at double resolution through cairo_scale).
//
// Threads: the user-interface thread's.

#include "ZTFramework/ControlBase/Layout.h"
#include "ZTFramework/ControlBase/RectT.h"
#include "ZTFramework/Errors/Result.h"
#include "ZTFramework/ObjectBase/RCPtr.h"
#include "ZTFramework/ObjectBase/RefCountedObject.h"
#include "ZTFramework/Utilities/Storage/StringT.h"

#include <memory>

typedef struct _cairo cairo_t;

namespace ZT {

class LControl;
class LResourceSet;

class LControlPainter : public virtual LRefCountedObject, public ITextMeasurer {
public:
    // resources: the loaded skin and string tables; imageLocation: where the skin's image files
    // are found ("::" for the program's built-in resources, or a folder).
    LControlPainter(RCPtr<LResourceSet> resources, WString imageLocation);
    ~LControlPainter() override;

    // Paints root and the visible controls below it that meet area (window coordinates), clipped
    // to area. S_OK, or a failed result when cr is in an error state.
    ZTRESULT Paint(cairo_t* cr, LControl& root, const Rect& area);

    int MeasureTextHeight(const LControl& control, int width) override;

private:
    struct Impl;
    std::unique_ptr<Impl> mImpl;
};

} // namespace ZT
