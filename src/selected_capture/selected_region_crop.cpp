#include "selected_capture/selected_region_crop.h"

#include <cmath>
#include <cstdint>

namespace scene {
namespace {

constexpr int kMaxSide = 4096;
constexpr std::int64_t kMaxPixels = 8'000'000;

bool finiteWithPositiveSize(const Rect& rect) {
    return std::isfinite(rect.x) && std::isfinite(rect.y) && std::isfinite(rect.width) &&
           std::isfinite(rect.height) && rect.width > 0 && rect.height > 0;
}

// Compared edge by edge: rebuilding a rect from a union would round and could
// reject a region that shares an edge with the bounds.
bool containsRect(const Rect& outer, const Rect& inner) {
    return inner.minX() >= outer.minX() && inner.maxX() <= outer.maxX() && inner.minY() >= outer.minY() &&
           inner.maxY() <= outer.maxY();
}

}  // namespace

std::optional<Image> selectedRegionCrop(const Image& image, const Rect& bounds, const Rect& region, int width,
                                        int height) {
    if (!finiteWithPositiveSize(bounds) || !finiteWithPositiveSize(region) || !containsRect(bounds, region))
        return std::nullopt;
    if (width < 1 || width > kMaxSide || height < 1 || height > kMaxSide) return std::nullopt;
    if (static_cast<std::int64_t>(width) * height > kMaxPixels) return std::nullopt;

    const double sx = image.width() / bounds.width;
    const double sy = image.height() / bounds.height;
    const Rect pixels = Rect{(region.minX() - bounds.minX()) * sx, (region.minY() - bounds.minY()) * sy,
                             region.width * sx, region.height * sy}
                            .integral();
    // Inside the bounds means inside the image, give or take the rounding out;
    // the crop clamps that. Anything further out is a scale that overflowed
    // (bounds a denormal wide) or a region that outgrew its bounds in the
    // rounding of huge coordinates, and must not reach the integer casts.
    if (!(pixels.minX() >= -1 && pixels.minY() >= -1 && pixels.maxX() <= image.width() + 1 &&
          pixels.maxY() <= image.height() + 1))
        return std::nullopt;
    const auto crop = image.cropped(static_cast<int>(pixels.x), static_cast<int>(pixels.y),
                                    static_cast<int>(pixels.width), static_cast<int>(pixels.height));
    if (!crop) return std::nullopt;
    if (crop->width() == width && crop->height() == height) return crop;
    return crop->scaled(width, height);
}

}  // namespace scene
