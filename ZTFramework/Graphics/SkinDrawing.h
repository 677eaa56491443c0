#pragma once
// Draws the skin's pieces: colorizers (plain colours and gradients), parts (a rectangle of an
// image stretched, tiled or centred, tinted by a colorizer through the image or a mask) and
// looks (a client part inside the control less its offsets, non-client parts docked to its
// edges).
//
// Gradient points are fractions of the area being filled: (0, 0.5) to (1, 0.5) runs left to
// right. A radial gradient is centred on its start point and reaches its end colour at the end
// point. A colorizer on a part with an image tints the image: the colorizer is laid over it
// through the image's own alpha (or the part's mask image) at ColorizerAlphaMod (1 when unset).
//
// Images are sampled with the nearest pixel when the part lands on the device at a whole
// multiple of its size (1:1, and 2:1 on a display with scale 2), which keeps edges sharp;
// other sizes are filtered smoothly.
//
// What cannot be drawn (a part or colorizer the skin does not define, a missing image) is
// reported through CSkinMessages and left out; the rest still draws.
//
// Threads: the user-interface thread's.

#include "ZTFramework/ControlBase/RectT.h"
#include "ZTFramework/Graphics/ImageCache.h"
#include "ZTFramework/Graphics/SkinMessages.h"
#include "ZTFramework/ObjectBase/RCPtr.h"
#include "ZTFramework/Resources/SkinDefinitions.h"

#include <cstdint>
#include <string>

typedef struct _cairo cairo_t;

namespace ZT {

using RectD = RectT<double>;

class CSkinDrawing {
public:
    CSkinDrawing(RCPtr<LSkinDefinitions> skin, CImageCache& images, CSkinMessages& messages);

    [[nodiscard]] const RCPtr<LSkinDefinitions>& GetSkin() const noexcept { return mSkin; }

    // Makes the colour 0xAARRGGBB the source.
    static void SetColor(cairo_t* cr, std::uint32_t argb);
    // Makes the colorizer the source, its gradient laid over area.
    static void SetColorizerSource(cairo_t* cr, const LColorizer& colorizer, const RectD& area);

    // Draws the part named partName into area. where names the user for messages ("look X").
    void DrawPart(cairo_t* cr, const WString& partName, const RectD& area, const std::string& where);
    // Draws the look's client and non-client parts for a control covering area.
    void DrawLook(cairo_t* cr, const LLookDescriptor& look, const Rect& area);
    // Makes the colour of the text part partName the source over area. False (and reported)
    // when the part or its colorizer is missing; the source is then left as it was.
    bool SetTextSource(cairo_t* cr, const WString& partName, const RectD& area, const std::string& where);

    // Where a non-client part goes inside area: each axis docks to the edge whose offset is
    // given (both: stretched between them; none: centred), with the part's own size unless the
    // docked part gives one.
    [[nodiscard]] static RectD PlaceNonClientPart(const LDockedPart& docked, const LVisualPartDescriptor* part,
                                                  const Rect& area);

private:
    void DrawImage(cairo_t* cr, const LVisualPartDescriptor& part, const RectD& area, const std::string& where);
    void Tint(cairo_t* cr, const LVisualPartDescriptor& part, const LColorizer& colorizer, cairo_surface_t* alphaSource,
              const RectD& area);

    RCPtr<LSkinDefinitions> mSkin;
    CImageCache& mImages;
    CSkinMessages& mMessages;
};

} // namespace ZT
