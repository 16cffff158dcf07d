#include "platform/image.h"

#include <algorithm>
#include <cstring>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif
#include <utility>

namespace scene {

Image::Image(int width, int height, std::size_t stride, std::vector<std::uint8_t> bytes)
    : Image(width, height, stride, std::make_shared<const std::vector<std::uint8_t>>(std::move(bytes))) {}

Image::Image(int width, int height, std::size_t stride, std::shared_ptr<const std::vector<std::uint8_t>> bytes)
    : data_(std::move(bytes)), stride_(stride), width_(width), height_(height) {
    const std::size_t needed = height > 0 ? stride * static_cast<std::size_t>(height - 1) + width * 4u : 0;
    if (!data_) data_ = std::make_shared<const std::vector<std::uint8_t>>();
    if (width <= 0 || height <= 0 || stride < static_cast<std::size_t>(width) * 4 || data_->size() < needed) {
        width_ = 0;
        height_ = 0;
    }
}

Image Image::filled(int width, int height, std::uint32_t bgra) {
    if (width <= 0 || height <= 0) return {};
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(width) * height * 4);
    for (std::size_t i = 0; i < bytes.size(); i += 4) {
        bytes[i] = bgra & 0xff;
        bytes[i + 1] = (bgra >> 8) & 0xff;
        bytes[i + 2] = (bgra >> 16) & 0xff;
        bytes[i + 3] = (bgra >> 24) & 0xff;
    }
    return Image(width, height, static_cast<std::size_t>(width) * 4, std::move(bytes));
}

std::uint32_t Image::pixel(int x, int y) const {
    const std::uint8_t* p = row(y) + static_cast<std::size_t>(x) * 4;
    return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
           static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

std::optional<Image> Image::cropped(int x, int y, int width, int height) const {
    const int left = std::max(0, x);
    const int top = std::max(0, y);
    const int right = std::min(width_, x + std::max(0, width));
    const int bottom = std::min(height_, y + std::max(0, height));
    if (right <= left || bottom <= top) return std::nullopt;
    Image crop = *this;
    crop.offset_ = offset_ + static_cast<std::size_t>(top) * stride_ + static_cast<std::size_t>(left) * 4;
    crop.width_ = right - left;
    crop.height_ = bottom - top;
    return crop;
}

namespace {

// Source span [begin, end) of output index `index`, in integer arithmetic:
// floating-point scale factors can land a hair below a boundary and drop the
// last source row or column.
std::pair<int, int> sourceSpan(int index, int source, int target) {
    const int begin = static_cast<int>(static_cast<std::int64_t>(index) * source / target);
    const int end = static_cast<int>(static_cast<std::int64_t>(index + 1) * source / target);
    return {begin, std::max(begin + 1, end)};
}

// One output pixel: the four channel sums of its span (a difference of running
// sums) times the reciprocal of its pixel count, rounded. A mean is at most
// 255, so the rounded value always fits a byte.
#if defined(__SSE2__)
inline void storeVectorMean(const std::uint32_t* begin, const std::uint32_t* end, float reciprocal, std::uint8_t* out) {
    const __m128i sums = _mm_sub_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(end)),
                                       _mm_loadu_si128(reinterpret_cast<const __m128i*>(begin)));
    const __m128 means = _mm_add_ps(_mm_mul_ps(_mm_cvtepi32_ps(sums), _mm_set1_ps(reciprocal)), _mm_set1_ps(0.5f));
    const __m128i words = _mm_packs_epi32(_mm_cvttps_epi32(means), _mm_setzero_si128());
    const int bytes = _mm_cvtsi128_si32(_mm_packus_epi16(words, _mm_setzero_si128()));
    std::memcpy(out, &bytes, 4);
}
#endif

// The vector path converts the sums as signed 32-bit numbers, so it takes
// spans of fewer than 2^31 / 255 pixels; larger ones go the scalar way.
constexpr unsigned kMaxVectorPixels = 8'000'000;

inline void storeMean(const std::uint32_t* begin, const std::uint32_t* end, unsigned count, float reciprocal,
                      std::uint8_t* out) {
#if defined(__SSE2__)
    if (count <= kMaxVectorPixels) {
        storeVectorMean(begin, end, reciprocal, out);
        return;
    }
#endif
    for (int c = 0; c < 4; ++c)
        out[c] = static_cast<std::uint8_t>(static_cast<float>(end[c] - begin[c]) * reciprocal + 0.5f);
}

// Box filter. For each output row, the source rows of its span are summed per
// byte, then turned into running sums along the row, so that every output
// pixel is one difference of two running sums: no loop whose length changes
// from pixel to pixel. Every source byte is touched once. `Sum` must hold 255
// times the rows of one span.
template <typename Sum>
void boxFilter(const Image& image, int width, int height, std::uint8_t* out) {
    std::vector<std::pair<int, int>> columns(static_cast<std::size_t>(width));
    for (int ox = 0; ox < width; ++ox) columns[ox] = sourceSpan(ox, image.width(), width);
    const std::size_t rowBytes = static_cast<std::size_t>(image.width()) * 4;
    std::vector<Sum> rowSums(rowBytes);
    std::vector<std::uint32_t> running(rowBytes + 4);  // running[4 * x + c]: bytes c of columns before x
    for (int oy = 0; oy < height; ++oy) {
        const auto [y0, y1] = sourceSpan(oy, image.height(), height);
        const std::uint8_t* first = image.row(y0);
        for (std::size_t i = 0; i < rowBytes; ++i) rowSums[i] = first[i];
        for (int y = y0 + 1; y < y1; ++y) {
            const std::uint8_t* p = image.row(y);
            for (std::size_t i = 0; i < rowBytes; ++i) rowSums[i] = static_cast<Sum>(rowSums[i] + p[i]);
        }
        for (std::size_t i = 0; i < rowBytes; ++i) running[i + 4] = running[i] + rowSums[i];

        const auto rows = static_cast<unsigned>(y1 - y0);
        std::uint8_t* o = out + static_cast<std::size_t>(oy) * width * 4;
        unsigned count = 0;
        float reciprocal = 0;
        for (int ox = 0; ox < width; ++ox, o += 4) {
            const auto [x0, x1] = columns[ox];
            const std::uint32_t* begin = running.data() + static_cast<std::size_t>(x0) * 4;
            const std::uint32_t* end = running.data() + static_cast<std::size_t>(x1) * 4;
            // The reciprocal only changes where the spans do.
            if (const unsigned pixels = rows * static_cast<unsigned>(x1 - x0); pixels != count) {
                count = pixels;
                reciprocal = 1.0f / static_cast<float>(count);
            }
            storeMean(begin, end, count, reciprocal, o);
        }
    }
}

}  // namespace

std::optional<Image> Image::scaled(int width, int height) const {
    if (empty() || width <= 0 || height <= 0) return std::nullopt;
    std::vector<std::uint8_t> out(static_cast<std::size_t>(width) * height * 4);
    // Narrow sums are half the memory traffic; they hold up to 257 rows a span.
    const int rowsPerSpan = (height_ + height - 1) / height;
    if (rowsPerSpan <= 257) {
        boxFilter<std::uint16_t>(*this, width, height, out.data());
    } else {
        boxFilter<std::uint32_t>(*this, width, height, out.data());
    }
    return Image(width, height, static_cast<std::size_t>(width) * 4, std::move(out));
}

namespace {

#if defined(__SSE2__)
// Sixteen pixels a step, exactly as grayLevel computes them: each pixel's
// channels are taken out of its 32-bit lane, multiplied in the lane's low
// sixteen bits (a channel times its weight stays below 65,536), summed,
// rounded and shifted in 32 bits, then packed down to bytes. Returns how many
// pixels of the row it converted.
int grayRowVector(const std::uint8_t* source, std::uint8_t* target, int width) {
    const __m128i lowByte = _mm_set1_epi32(0xff);
    const __m128i blue = _mm_set1_epi32(kGrayBlueWeight);
    const __m128i green = _mm_set1_epi32(kGrayGreenWeight);
    const __m128i red = _mm_set1_epi32(kGrayRedWeight);
    const __m128i rounding = _mm_set1_epi32(128);
    const auto luma = [&](const std::uint8_t* p) {
        const __m128i pixels = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
        const __m128i b = _mm_mullo_epi16(_mm_and_si128(pixels, lowByte), blue);
        const __m128i g = _mm_mullo_epi16(_mm_and_si128(_mm_srli_epi32(pixels, 8), lowByte), green);
        const __m128i r = _mm_mullo_epi16(_mm_and_si128(_mm_srli_epi32(pixels, 16), lowByte), red);
        // Lanes hold the product in their low half and zero above, so the
        // 32-bit sums are exact.
        return _mm_srli_epi32(_mm_add_epi32(_mm_add_epi32(b, g), _mm_add_epi32(r, rounding)), 8);
    };
    int x = 0;
    for (; x + 16 <= width; x += 16) {
        const std::uint8_t* p = source + static_cast<std::size_t>(x) * 4;
        const __m128i first = _mm_packs_epi32(luma(p), luma(p + 16));
        const __m128i second = _mm_packs_epi32(luma(p + 32), luma(p + 48));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(target + x), _mm_packus_epi16(first, second));
    }
    return x;
}
#endif

void grayRow(const std::uint8_t* bgra, std::uint8_t* gray, int count) {
    int x = 0;
#if defined(__SSE2__)
    x = grayRowVector(bgra, gray, count);
#endif
    for (; x < count; ++x) gray[x] = grayLevel(bgra + static_cast<std::size_t>(x) * 4);
}

}  // namespace

void grayPixels(const Image& image, GrayBuffer& gray) {
    const int width = image.empty() ? 0 : image.width();
    const int height = image.empty() ? 0 : image.height();
    gray.width = width;
    gray.height = height;
    gray.pixels.resize(static_cast<std::size_t>(width) * height);
    for (int y = 0; y < height; ++y) {
        grayRow(image.row(y), gray.pixels.data() + static_cast<std::size_t>(y) * width, width);
    }
}

GrayBuffer grayPixels(const Image& image) {
    GrayBuffer gray;
    grayPixels(image, gray);
    return gray;
}

}  // namespace scene
