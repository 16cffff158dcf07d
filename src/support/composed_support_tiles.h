#pragma once

#include <optional>
#include <span>
#include <vector>

#include "platform/image.h"
#include "platform/rect.h"
#include "support/support_proposal.h"

namespace scene {

// A crop of a captured frame serving some of the proposals; only these crops
// are converted to gray.
struct ComposedSupportTile {
    Image image;               // shares the frame's pixels
    Rect bounds;               // global points shown by the crop
    std::vector<int> indices;  // positions in the proposal list, ascending
    Point pixelOrigin;         // the crop's top-left pixel in the whole frame
};

// The smallest pixel rect of a `width` x `height` capture of `bounds` that
// holds every pixel line the run finder may read for the given proposals.
// Nothing when the capture or a proposal is unusable, or when the bands miss
// the capture.
std::optional<Rect> composedSupportPixels(const Rect& bounds, int width, int height,
                                          std::span<const SupportProposal> proposals);

// Groups the proposals' bands into crops of `image` (the capture of `bounds`):
// a proposal joins the existing crop that grows least, if that costs at most
// 1.25 times its own band, else starts a crop of its own. Proposals whose band
// misses the frame are served by no tile.
std::vector<ComposedSupportTile> composedSupportTiles(const Image& image, const Rect& bounds,
                                                      std::span<const SupportProposal> proposals);

}  // namespace scene
