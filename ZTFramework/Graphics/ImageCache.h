#pragma once
// The skin's images, decoded once from PNG into Cairo image surfaces.
//
// An image name "::Name.png" is a resource built into the program (CBuiltInResources); when the
// skin comes from a folder, a file "Name.png" in that folder is preferred, so a skin author can
// try a new picture without building. Other names are files: absolute, or relative to the folder.
//
// A part uses a rectangle of an image (a sprite of a sheet). GetRegion hands out that rectangle
// as an image surface of its own, so a scaling filter never reaches into the neighbouring
// sprite.
//
// An image that cannot be had (missing, not a PNG) is reported once and stays absent: callers
// skip what needs it and draw the rest.
//
// Threads: the user-interface thread's. Not guarded.

#include "ZTFramework/ControlBase/RectT.h"
#include "ZTFramework/Graphics/SkinMessages.h"

#include <map>
#include <memory>
#include <string>
#include <tuple>

typedef struct _cairo_surface cairo_surface_t;

namespace ZT {

class CImageCache {
public:
    // folder: where image files are found; "::" or empty when the skin is the built-in one.
    CImageCache(std::string folder, CSkinMessages& messages);
    ~CImageCache();
    CImageCache(const CImageCache&) = delete;
    CImageCache& operator=(const CImageCache&) = delete;

    // The decoded image (ARGB32, premultiplied), or null when it cannot be had. The cache keeps
    // the reference.
    [[nodiscard]] cairo_surface_t* GetImage(const std::string& name);
    // The rectangle of the image as a surface of its own, or null when the image is absent or
    // the rectangle lies outside it (reported, naming the rectangle).
    [[nodiscard]] cairo_surface_t* GetRegion(const std::string& name, const Rect& region);

private:
    struct SurfaceDeleter {
        void operator()(cairo_surface_t* surface) const noexcept;
    };
    using SurfacePtr = std::unique_ptr<cairo_surface_t, SurfaceDeleter>;

    SurfacePtr Decode(const std::string& name);

    std::string mFolder;
    CSkinMessages& mMessages;
    std::map<std::string, SurfacePtr> mImages;
    std::map<std::tuple<std::string, int, int, int, int>, SurfacePtr> mRegions;
};

} // namespace ZT
