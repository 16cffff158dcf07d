#include "platform/x11/x11_capture_pixels.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include <algorithm>
#include <cstring>
#include <vector>

namespace scene::x11 {
namespace {

constexpr std::uint32_t kOpaque = 0xFF000000u;  // alpha in a little-endian BGRA word

// The source pixels [first[i], first[i + 1]) that target pixel i covers along
// one axis; never empty, so an enlarged axis repeats its nearest pixel.
struct Spans {
    std::vector<int> begin;
    std::vector<int> end;
};

Spans spans(int source, int target) {
    Spans result;
    result.begin.resize(static_cast<std::size_t>(target));
    result.end.resize(static_cast<std::size_t>(target));
    for (int i = 0; i < target; ++i) {
        const auto index = static_cast<std::size_t>(i);
        result.begin[index] = static_cast<int>(static_cast<long long>(i) * source / target);
        const int end = static_cast<int>(static_cast<long long>(i + 1) * source / target);
        result.end[index] = end > result.begin[index] ? end : result.begin[index] + 1;
    }
    return result;
}

void copyOpaque(const ServerPixels& source, std::uint8_t* target, std::size_t targetStride) {
    for (int y = 0; y < source.height; ++y) {
        const std::uint8_t* from = source.data + static_cast<std::size_t>(y) * source.stride;
        std::uint8_t* to = target + static_cast<std::size_t>(y) * targetStride;
        int x = 0;
#if defined(__SSE2__)
        // A frame is many times the size of the caches and is next read a
        // frame later at the soonest, so its rows are stored past the cache,
        // which also spares reading the old contents in first. Not when the
        // stores run up to a cache line ahead of the loads in the 4 KiB page
        // offsets the processor compares them by: each load then flushes the
        // stores still gathering, and plain stores are many times faster.
        const std::uintptr_t skew =
            (reinterpret_cast<std::uintptr_t>(to) - reinterpret_cast<std::uintptr_t>(from)) % 4096;
        if (reinterpret_cast<std::uintptr_t>(to) % 16 == 0 && (skew == 0 || skew > 64)) {
            const __m128i opaque = _mm_set1_epi32(static_cast<int>(kOpaque));
            for (; x + 4 <= source.width; x += 4) {
                const __m128i words =
                    _mm_loadu_si128(reinterpret_cast<const __m128i*>(from + static_cast<std::size_t>(x) * 4));
                _mm_stream_si128(reinterpret_cast<__m128i*>(to + static_cast<std::size_t>(x) * 4),
                                 _mm_or_si128(words, opaque));
            }
        }
#endif
        // Word by word through memcpy: no alignment is assumed, and the loop
        // still compiles to wide loads and stores.
        for (; x < source.width; ++x) {
            std::uint32_t word;
            std::memcpy(&word, from + static_cast<std::size_t>(x) * 4, 4);
            word |= kOpaque;
            std::memcpy(to + static_cast<std::size_t>(x) * 4, &word, 4);
        }
    }
#if defined(__SSE2__)
    _mm_sfence();  // the frame is handed to other threads
#endif
}

void averageOpaque(const ServerPixels& source, std::uint8_t* target, std::size_t targetStride, int width, int height) {
    const Spans columns = spans(source.width, width);
    const Spans rows = spans(source.height, height);
    std::vector<std::uint64_t> sums(static_cast<std::size_t>(width) * 3);
    for (int j = 0; j < height; ++j) {
        const auto row = static_cast<std::size_t>(j);
        std::fill(sums.begin(), sums.end(), 0);
        for (int y = rows.begin[row]; y < rows.end[row]; ++y) {
            const std::uint8_t* from = source.data + static_cast<std::size_t>(y) * source.stride;
            for (int i = 0; i < width; ++i) {
                const auto column = static_cast<std::size_t>(i);
                std::uint64_t* sum = sums.data() + column * 3;
                for (int x = columns.begin[column]; x < columns.end[column]; ++x) {
                    const std::uint8_t* pixel = from + static_cast<std::size_t>(x) * 4;
                    sum[0] += pixel[0];
                    sum[1] += pixel[1];
                    sum[2] += pixel[2];
                }
            }
        }
        std::uint8_t* to = target + row * targetStride;
        const auto tall = static_cast<std::uint64_t>(rows.end[row] - rows.begin[row]);
        for (int i = 0; i < width; ++i) {
            const auto column = static_cast<std::size_t>(i);
            const std::uint64_t count = tall * static_cast<std::uint64_t>(columns.end[column] - columns.begin[column]);
            const std::uint64_t* sum = sums.data() + column * 3;
            std::uint8_t* pixel = to + column * 4;
            for (int channel = 0; channel < 3; ++channel)
                pixel[channel] = static_cast<std::uint8_t>((sum[channel] + count / 2) / count);
            pixel[3] = 255;
        }
    }
}

}  // namespace

void writeOpaqueBGRA(const ServerPixels& source, std::uint8_t* target, std::size_t targetStride, int width,
                     int height) {
    if (source.data == nullptr || source.width <= 0 || source.height <= 0 || width <= 0 || height <= 0) return;
    if (source.width == width && source.height == height) {
        copyOpaque(source, target, targetStride);
    } else {
        averageOpaque(source, target, targetStride, width, height);
    }
}

}  // namespace scene::x11
