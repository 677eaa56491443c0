#include "ZTFramework/Graphics/ImageCache.h"

#include "ZTFramework/Resources/BuiltInResources.h"

#include <cairo.h>

#include <cstdint>
#include <cstring>
#include <fstream>
#include <span>
#include <sstream>
#include <utility>
#include <vector>

namespace ZT {

namespace {

// A skin image larger than this is refused instead of read: the updater's largest is a few
// hundred kilobytes, and a stray file must not take the window's memory.
constexpr std::size_t kMaxImageBytes = 32u * 1024u * 1024u;

struct ByteReader {
    std::span<const std::uint8_t> mBytes;
    std::size_t mAt = 0;
};

cairo_status_t ReadBytes(void* closure, unsigned char* data, unsigned int length)
{
    auto* reader = static_cast<ByteReader*>(closure);
    if (reader->mBytes.size() - reader->mAt < length)
        return CAIRO_STATUS_READ_ERROR;
    std::memcpy(data, reader->mBytes.data() + reader->mAt, length);
    reader->mAt += length;
    return CAIRO_STATUS_SUCCESS;
}

bool IsBuiltInName(const std::string& name)
{
    return name.starts_with("::");
}

std::string JoinPath(const std::string& folder, const std::string& file)
{
    if (folder.empty() || folder == "::" || file.starts_with('/'))
        return file;
    return folder.ends_with('/') ? folder + file : folder + "/" + file;
}

// Reads a whole file; false when it cannot be opened, read or is too large.
bool ReadFile(const std::string& path, std::vector<std::uint8_t>& bytes)
{
    std::ifstream in(path, std::ios::binary | std::ios::ate);
    if (!in)
        return false;
    const std::streamoff size = in.tellg();
    if (size < 0 || static_cast<std::uint64_t>(size) > kMaxImageBytes)
        return false;
    bytes.resize(static_cast<std::size_t>(size));
    in.seekg(0);
    return static_cast<bool>(in.read(reinterpret_cast<char*>(bytes.data()), size));
}

} // namespace

void CImageCache::SurfaceDeleter::operator()(cairo_surface_t* surface) const noexcept
{
    cairo_surface_destroy(surface);
}

CImageCache::CImageCache(std::string folder, CSkinMessages& messages) : mFolder(std::move(folder)), mMessages(messages) {}

CImageCache::~CImageCache() = default;

CImageCache::SurfacePtr CImageCache::Decode(const std::string& name)
{
    std::vector<std::uint8_t> fileBytes;
    std::span<const std::uint8_t> bytes;
    bool found = false;
    const bool fromFolder = !mFolder.empty() && mFolder != "::";
    if (IsBuiltInName(name)) {
        // A folder skin may bring its own copy of a built-in picture.
        if (fromFolder && ReadFile(JoinPath(mFolder, name.substr(2)), fileBytes)) {
            bytes = fileBytes;
            found = true;
        } else if (const auto resource = CBuiltInResources::Find(CBuiltInResources::ResourceNameFromPath(name))) {
            bytes = *resource;
            found = true;
        }
    } else if (ReadFile(JoinPath(mFolder, name), fileBytes)) {
        bytes = fileBytes;
        found = true;
    }
    if (!found) {
        mMessages.Report("image \"" + name + "\" not found");
        return nullptr;
    }
    ByteReader reader{bytes};
    SurfacePtr surface(cairo_image_surface_create_from_png_stream(&ReadBytes, &reader));
    if (cairo_surface_status(surface.get()) != CAIRO_STATUS_SUCCESS) {
        mMessages.Report("image \"" + name + "\" is not a readable PNG (" +
                         cairo_status_to_string(cairo_surface_status(surface.get())) + ")");
        return nullptr;
    }
    return surface;
}

cairo_surface_t* CImageCache::GetImage(const std::string& name)
{
    auto found = mImages.find(name);
    if (found == mImages.end())
        found = mImages.emplace(name, Decode(name)).first;
    return found->second.get();
}

cairo_surface_t* CImageCache::GetRegion(const std::string& name, const Rect& region)
{
    const auto key = std::make_tuple(name, region.mLeft, region.mTop, region.mRight, region.mBottom);
    if (const auto found = mRegions.find(key); found != mRegions.end())
        return found->second.get();
    cairo_surface_t* image = GetImage(name);
    SurfacePtr copy;
    if (image) {
        const int width = cairo_image_surface_get_width(image);
        const int height = cairo_image_surface_get_height(image);
        if (region.IsEmpty() || region.mLeft < 0 || region.mTop < 0 || region.mRight > width || region.mBottom > height) {
            std::ostringstream message;
            message << "image \"" << name << "\" (" << width << " x " << height << ") has no rectangle at ("
                    << region.mLeft << ", " << region.mTop << ") of " << region.GetWidth() << " x "
                    << region.GetHeight();
            mMessages.Report(message.str());
        } else {
            copy.reset(cairo_image_surface_create(CAIRO_FORMAT_ARGB32, region.GetWidth(), region.GetHeight()));
            cairo_t* cr = cairo_create(copy.get());
            cairo_set_operator(cr, CAIRO_OPERATOR_SOURCE);
            cairo_set_source_surface(cr, image, -region.mLeft, -region.mTop);
            cairo_paint(cr);
            cairo_destroy(cr);
        }
    }
    return mRegions.emplace(key, std::move(copy)).first->second.get();
}

} // namespace ZT
