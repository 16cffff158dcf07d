#include "support/composed_support_tiles.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace scene {
namespace {

// Joining a crop may cost at most this many times the pixels of one's own band.
constexpr double kMergeBudget = 1.25;
// The run finder searches at least this far from `fixed`, at most kMaxTolerance.
constexpr double kMinTolerance = 2.0;
constexpr double kMaxTolerance = 8.0;
// Extra pixels around the scanned span: the run finder reads two lines before
// a candidate line and one after it; the band keeps one more line after that,
// and two columns of slack along.
constexpr double kAlongMargin = 2;
constexpr double kLinesBefore = 2;
constexpr double kLinesAfter = 2;

// How a capture of `bounds` maps global points onto its pixels.
struct PixelMapping {
    double minX = 0;
    double minY = 0;
    double scaleX = 0;  // pixels per point
    double scaleY = 0;
    Rect image;  // (0, 0, width, height)
};

std::optional<PixelMapping> pixelMapping(const Rect& bounds, int width, int height) {
    if (!std::isfinite(bounds.x) || !std::isfinite(bounds.y) || !std::isfinite(bounds.width) ||
        !std::isfinite(bounds.height)) {
        return std::nullopt;
    }
    if (bounds.width <= 0 || bounds.height <= 0 || width < 1 || height < 1) return std::nullopt;
    return PixelMapping{
        .minX = bounds.x,
        .minY = bounds.y,
        .scaleX = width / bounds.width,
        .scaleY = height / bounds.height,
        .image = Rect{0, 0, static_cast<double>(width), static_cast<double>(height)},
    };
}

bool usable(const SupportProposal& proposal) {
    return std::isfinite(proposal.from) && std::isfinite(proposal.to) && std::isfinite(proposal.fixed) &&
           proposal.from < proposal.to;
}

// The same tolerance the run finder applies: a wider search only for proposals
// read off visual edges, and never wider than kMaxTolerance.
double searchTolerance(const SupportProposal& proposal) {
    if (proposal.identity && std::isfinite(proposal.tolerance) && proposal.tolerance >= kMinTolerance) {
        return std::min(proposal.tolerance, kMaxTolerance);
    }
    return kMinTolerance;
}

// Every pixel the run finder may read for `proposal`, unclipped.
Rect searchBand(const SupportProposal& proposal, const PixelMapping& mapping) {
    const bool horizontal = proposal.horizontal();
    const double alongOrigin = horizontal ? mapping.minX : mapping.minY;
    const double acrossOrigin = horizontal ? mapping.minY : mapping.minX;
    const double alongScale = horizontal ? mapping.scaleX : mapping.scaleY;
    const double acrossScale = horizontal ? mapping.scaleY : mapping.scaleX;

    // Kept as doubles: the values are whole numbers, and absurd scales cannot
    // overflow an integer conversion.
    const double radius = std::max(1.0, std::ceil(searchTolerance(proposal) * acrossScale));
    const double centre = std::round((proposal.fixed - acrossOrigin) * acrossScale);
    const double alongFirst = std::floor((proposal.from - alongOrigin) * alongScale) - kAlongMargin;
    const double alongEnd = std::ceil((proposal.to - alongOrigin) * alongScale) + kAlongMargin;
    const double acrossFirst = centre - radius - kLinesBefore;
    const double acrossEnd = centre + radius + kLinesAfter + 1;  // exclusive

    if (horizontal) return Rect{alongFirst, acrossFirst, alongEnd - alongFirst, acrossEnd - acrossFirst};
    return Rect{acrossFirst, alongFirst, acrossEnd - acrossFirst, alongEnd - alongFirst};
}

std::optional<Rect> clipped(const Rect& band, const PixelMapping& mapping) {
    const Rect clip = band.intersection(mapping.image);
    if (clip.isNull() || !(clip.width > 0) || !(clip.height > 0)) return std::nullopt;
    // Overflowing bands (NaN extents) must not reach the integer crop.
    if (!std::isfinite(clip.x) || !std::isfinite(clip.y) || !std::isfinite(clip.width) || !std::isfinite(clip.height)) {
        return std::nullopt;
    }
    return clip;
}

double area(const Rect& rect) { return rect.width * rect.height; }

struct Group {
    Rect pixels;
    std::vector<int> indices;
};

}  // namespace

std::optional<Rect> composedSupportPixels(const Rect& bounds, int width, int height,
                                          std::span<const SupportProposal> proposals) {
    const auto mapping = pixelMapping(bounds, width, height);
    if (!mapping) return std::nullopt;
    Rect bands = Rect::null();
    for (const SupportProposal& proposal : proposals) {
        if (!usable(proposal)) return std::nullopt;
        bands = bands.unionWith(searchBand(proposal, *mapping));
    }
    return clipped(bands, *mapping);
}

std::vector<ComposedSupportTile> composedSupportTiles(const Image& image, const Rect& bounds,
                                                      std::span<const SupportProposal> proposals) {
    const auto mapping = pixelMapping(bounds, image.width(), image.height());
    if (!mapping) return {};

    // A group's rect is the union of its members' clipped bands. Every member's
    // band meets the image, and clipping commutes with the bounding union per
    // axis, so that rect is exactly composedSupportPixels over the members: the
    // tiles reuse it instead of recomputing the bands.
    std::vector<Group> groups;
    for (std::size_t k = 0; k < proposals.size(); ++k) {
        const SupportProposal& proposal = proposals[k];
        if (!usable(proposal)) continue;
        const auto band = clipped(searchBand(proposal, *mapping), *mapping);
        if (!band) continue;

        const double budget = kMergeBudget * area(*band);
        Group* best = nullptr;
        Rect bestUnion;
        double bestGrowth = std::numeric_limits<double>::infinity();
        for (Group& group : groups) {
            const Rect merged = group.pixels.unionWith(*band);
            const double growth = area(merged) - area(group.pixels);
            if (growth <= budget && growth < bestGrowth) {
                best = &group;
                bestUnion = merged;
                bestGrowth = growth;
            }
        }
        if (best) {
            best->pixels = bestUnion;
            best->indices.push_back(static_cast<int>(k));
        } else {
            groups.push_back(Group{.pixels = *band, .indices = {static_cast<int>(k)}});
        }
    }

    std::vector<ComposedSupportTile> tiles;
    tiles.reserve(groups.size());
    for (Group& group : groups) {
        const Rect& pixels = group.pixels;
        auto crop = image.cropped(static_cast<int>(pixels.x), static_cast<int>(pixels.y),
                                  static_cast<int>(pixels.width), static_cast<int>(pixels.height));
        if (!crop) continue;
        const Rect tileBounds{
            mapping->minX + pixels.x / mapping->scaleX,
            mapping->minY + pixels.y / mapping->scaleY,
            crop->width() / mapping->scaleX,
            crop->height() / mapping->scaleY,
        };
        tiles.push_back(ComposedSupportTile{
            .image = std::move(*crop),
            .bounds = tileBounds,
            .indices = std::move(group.indices),
            .pixelOrigin = Point{pixels.x, pixels.y},
        });
    }
    return tiles;
}

}  // namespace scene
