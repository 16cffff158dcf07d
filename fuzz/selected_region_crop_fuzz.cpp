// Cropping a frame to a region and scaling it to a requested size, with any
// bounds, region and size: NaN, infinite, huge, denormal and negative values,
// regions touching or leaving the bounds, sizes past the stream limits. A crop
// comes back at exactly the requested size or not at all, never reads outside
// the frame (every returned pixel is read here, under the address sanitizer),
// and, as an average of frame pixels, stays within the frame's colour range.
//
// Input: read through FuzzedDataProvider: frame size and pixels, bounds,
// region, requested size.
#include <algorithm>
#include <array>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <tuple>
#include <utility>
#include <vector>

#include "fuzz_inputs.h"
#include "selected_capture/selected_region_crop.h"

namespace scene {
namespace {

using fuzz::require;

constexpr int kLargestFrameSide = 256;
// Requested sizes: ordinary ones, and the edges of what a stream frame can be.
// Accepted sizes stay small enough for quick runs (4096 x 1 at most).
constexpr std::array<std::pair<int, int>, 10> kEdgeSizes = {{{0, 1},
                                                             {1, 0},
                                                             {-1, 5},
                                                             {4096, 1},
                                                             {1, 4096},
                                                             {4097, 1},
                                                             {1, 4097},
                                                             {4096, 4096},
                                                             {std::numeric_limits<int>::max(), 1},
                                                             {std::numeric_limits<int>::min(), -1}}};

Image frame(FuzzedDataProvider& input, int width, int height) {
    // Padded rows now and then: crops keep the stride of the frame.
    const std::size_t stride = static_cast<std::size_t>(width) * 4 + 4 * input.ConsumeIntegralInRange(0, 3);
    std::vector<std::uint8_t> bytes(stride * height, input.ConsumeIntegral<std::uint8_t>());
    const std::vector<std::uint8_t> pattern = input.ConsumeBytes<std::uint8_t>(input.ConsumeIntegralInRange(0, 256));
    if (!pattern.empty()) {
        for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = pattern[i % pattern.size()];
    }
    return Image(width, height, stride, std::move(bytes));
}

Rect rect(FuzzedDataProvider& input, double low, double high) {
    return {fuzz::edgyDouble(input, low, high), fuzz::edgyDouble(input, low, high), fuzz::edgyDouble(input, 0, high),
            fuzz::edgyDouble(input, 0, high)};
}

bool finiteWithPositiveSize(const Rect& r) {
    return std::isfinite(r.x) && std::isfinite(r.y) && std::isfinite(r.width) && std::isfinite(r.height) &&
           r.width > 0 && r.height > 0;
}

void run(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider input(data, size);
    const int frameWidth = input.ConsumeIntegralInRange(1, kLargestFrameSide);
    const int frameHeight = input.ConsumeIntegralInRange(1, kLargestFrameSide);
    const Image image = frame(input, frameWidth, frameHeight);
    require(image.width() == frameWidth && image.height() == frameHeight, "the fuzz frame is built");

    const Rect bounds =
        input.ConsumeBool()
            ? Rect{input.ConsumeIntegralInRange(-3000, 3000) * 1.0, input.ConsumeIntegralInRange(-3000, 3000) * 1.0,
                   input.ConsumeIntegralInRange(1, 3000) * 1.0, input.ConsumeIntegralInRange(1, 3000) * 1.0}
            : rect(input, -3000, 3000);
    Rect region;
    if (input.ConsumeBool()) {
        // Somewhere in or around the bounds, by fractions of their size.
        region = {bounds.x + bounds.width * input.ConsumeFloatingPointInRange(-0.1, 1.0),
                  bounds.y + bounds.height * input.ConsumeFloatingPointInRange(-0.1, 1.0),
                  bounds.width * input.ConsumeFloatingPointInRange(0.0, 1.1),
                  bounds.height * input.ConsumeFloatingPointInRange(0.0, 1.1)};
    } else {
        region = rect(input, -3000, 3000);
    }
    int width = 0;
    int height = 0;
    if (input.ConsumeIntegralInRange(0, 7) == 0) {
        std::tie(width, height) = kEdgeSizes[input.ConsumeIntegralInRange<std::size_t>(0, kEdgeSizes.size() - 1)];
    } else {
        width = input.ConsumeIntegralInRange(1, 300);
        height = input.ConsumeIntegralInRange(1, 300);
    }

    const auto crop = selectedRegionCrop(image, bounds, region, width, height);

    const bool inside = region.x >= bounds.x && region.y >= bounds.y &&
                        region.x + region.width <= bounds.x + bounds.width &&
                        region.y + region.height <= bounds.y + bounds.height;
    const bool admissible = finiteWithPositiveSize(bounds) && finiteWithPositiveSize(region) && inside && width >= 1 &&
                            width <= 4096 && height >= 1 && height <= 4096 &&
                            static_cast<std::int64_t>(width) * height <= 8'000'000;
    if (!admissible) require(!crop.has_value(), "refused outside the limits");
    if (!crop) return;
    require(crop->width() == width && crop->height() == height, "a crop has exactly the requested size");

    // Every byte of the crop, against the frame's range per channel.
    std::array<std::uint8_t, 4> low{255, 255, 255, 255};
    std::array<std::uint8_t, 4> high{0, 0, 0, 0};
    for (int y = 0; y < image.height(); ++y) {
        const std::uint8_t* row = image.row(y);
        for (int x = 0; x < image.width() * 4; ++x) {
            low[x % 4] = std::min(low[x % 4], row[x]);
            high[x % 4] = std::max(high[x % 4], row[x]);
        }
    }
    for (int y = 0; y < crop->height(); ++y) {
        const std::uint8_t* row = crop->row(y);
        for (int x = 0; x < crop->width() * 4; ++x)
            require(row[x] >= low[x % 4] && row[x] <= high[x % 4], "crop pixels are frame pixels or their means");
    }

    // The whole frame at its own size is the frame.
    if (region == bounds && width == image.width() && height == image.height()) {
        for (int y = 0; y < height; ++y)
            require(std::equal(crop->row(y), crop->row(y) + width * 4, image.row(y)), "the whole frame comes back");
    }
}

}  // namespace
}  // namespace scene

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    scene::run(data, size);
    return 0;
}
