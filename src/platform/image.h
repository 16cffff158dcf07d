#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

namespace scene {

// A BGRA, premultiplied-alpha picture. Pixel storage is shared and immutable,
// so copies and crops are cheap: a crop keeps the storage and changes only the
// offset, size and stride. A plain value, safe to hand between queues.
class Image {
public:
    Image() = default;
    // Takes `bytes` (rows of `stride` bytes, at least width * 4 used per row).
    Image(int width, int height, std::size_t stride, std::vector<std::uint8_t> bytes);
    // The same over storage that others may share (a pool's, for instance).
    Image(int width, int height, std::size_t stride, std::shared_ptr<const std::vector<std::uint8_t>> bytes);
    static Image filled(int width, int height, std::uint32_t bgra);

    int width() const { return width_; }
    int height() const { return height_; }
    std::size_t stride() const { return stride_; }
    bool empty() const { return width_ <= 0 || height_ <= 0; }

    const std::uint8_t* row(int y) const { return data_->data() + offset_ + static_cast<std::size_t>(y) * stride_; }
    // Pixel as 0xAARRGGBB.
    std::uint32_t pixel(int x, int y) const;

    // The sub-picture in pixel coordinates, clamped to the image; nothing when
    // the clamped region is empty.
    std::optional<Image> cropped(int x, int y, int width, int height) const;
    // A new image of the given size, sampled by area averaging.
    std::optional<Image> scaled(int width, int height) const;

private:
    std::shared_ptr<const std::vector<std::uint8_t>> data_;
    std::size_t offset_ = 0;
    std::size_t stride_ = 0;
    int width_ = 0;
    int height_ = 0;
};

// An 8-bit gray picture, row-major, no padding.
struct GrayBuffer {
    int width = 0;
    int height = 0;
    std::vector<std::uint8_t> pixels;

    std::uint8_t at(int x, int y) const { return pixels[static_cast<std::size_t>(y) * width + x]; }
};

// The image as 8-bit luminance (Rec. 601) at its own size, top row first.
// Pixels are premultiplied, so transparent areas come out black, as if drawn
// over black.
GrayBuffer grayPixels(const Image& image);
// The same into `gray`, keeping its storage: converting many crops one after
// another then reuses memory that is already mapped and in cache.
void grayPixels(const Image& image, GrayBuffer& gray);

// Rec. 601 weights in 1/256, rounded; they sum to 256.
inline constexpr std::uint16_t kGrayRedWeight = 77;
inline constexpr std::uint16_t kGrayGreenWeight = 150;
inline constexpr std::uint16_t kGrayBlueWeight = 29;

// The gray level of one BGRA pixel, exactly as grayPixels converts it. The
// weighted sum tops out at 65,408, so sixteen bits suffice.
inline std::uint8_t grayLevel(const std::uint8_t* bgra) {
    const auto luma = static_cast<std::uint16_t>(kGrayBlueWeight * bgra[0] + kGrayGreenWeight * bgra[1] +
                                                 kGrayRedWeight * bgra[2] + 128u);
    return static_cast<std::uint8_t>(luma >> 8);
}

}  // namespace scene
