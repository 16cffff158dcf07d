#include "selected_capture/selected_frame_image.h"

#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

namespace scene {
namespace {

constexpr int kMaxSide = 4096;
constexpr std::int64_t kMaxPixels = 8'000'000;
constexpr std::size_t kMaxBytes = 36u * 1024 * 1024;

}  // namespace

std::optional<Image> selectedFrameImage(const PixelBuffer& buffer, PixelPool& copies) {
    if (buffer.pixelFormat != kPixelFormatBGRA) return std::nullopt;
    if (buffer.width < 1 || buffer.width > kMaxSide || buffer.height < 1 || buffer.height > kMaxSide)
        return std::nullopt;
    if (static_cast<std::int64_t>(buffer.width) * buffer.height > kMaxPixels) return std::nullopt;
    const auto height = static_cast<std::size_t>(buffer.height);
    if (buffer.bytesPerRow < static_cast<std::size_t>(buffer.width) * 4) return std::nullopt;
    if (buffer.bytesPerRow > kMaxBytes / height) return std::nullopt;
    const std::size_t size = height * buffer.bytesPerRow;
    // A buffer whose storage is shorter than its rows claim would have us read
    // past its end.
    if (!buffer.bytes || buffer.bytes->size() < size) return std::nullopt;

    std::shared_ptr<std::vector<std::uint8_t>> copy = copies.take(size);
    std::memcpy(copy->data(), buffer.bytes->data(), size);
    Image image(buffer.width, buffer.height, buffer.bytesPerRow, std::move(copy));
    if (image.empty()) return std::nullopt;
    return image;
}

}  // namespace scene
