#pragma once

// Shared pieces of the fuzz targets: numbers that break arithmetic, gray
// pictures with real structure, and the checks every target makes of JSON it
// is handed. Header-only; each target is its own process.

#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <nlohmann/json.hpp>
#include <string_view>
#include <vector>

namespace scene::fuzz {

// An invariant the code under test must keep. A broken one aborts with the
// message, so libFuzzer records the input as a crash.
inline void require(bool holds, const char* what) {
    if (holds) return;
    std::fprintf(stderr, "invariant broken: %s\n", what);
    std::abort();
}

// Values that sit on the edges floating-point code trips over, mixed with
// ordinary ones. Most picks are plain numbers in `[low, high]`, so the
// interesting paths behind the size checks are reached as well.
inline double edgyDouble(FuzzedDataProvider& input, double low, double high) {
    constexpr double kInf = std::numeric_limits<double>::infinity();
    static constexpr std::array<double, 18> kEdges = {
        0.0,
        -0.0,
        1.0,
        -1.0,
        0.5,
        std::numeric_limits<double>::quiet_NaN(),
        kInf,
        -kInf,
        std::numeric_limits<double>::max(),
        std::numeric_limits<double>::lowest(),
        std::numeric_limits<double>::denorm_min(),
        std::numeric_limits<double>::min(),
        std::numeric_limits<double>::epsilon(),
        1e-300,
        1e300,
        2147483648.0,  // one past Int32
        -2147483649.0,
        9.3e18,  // past Int64
    };
    switch (input.ConsumeIntegralInRange(0, 7)) {
        case 0:
            return kEdges[input.ConsumeIntegralInRange<std::size_t>(0, kEdges.size() - 1)];
        case 1:
            return input.ConsumeFloatingPoint<double>();
        case 2:  // whole numbers, as most geometry is
            return static_cast<double>(input.ConsumeIntegralInRange<std::int64_t>(static_cast<std::int64_t>(low),
                                                                                  static_cast<std::int64_t>(high)));
        default:
            return input.ConsumeFloatingPointInRange(low, high);
    }
}

// A `width` x `height` gray picture drawn from the input: a background, then
// filled boxes, box outlines, horizontal and vertical rules and patches of raw
// bytes. Random bytes alone almost never form the long straight steps the
// detectors look for; drawn shapes do, and the raw patches add the noise.
inline std::vector<std::uint8_t> paintGray(FuzzedDataProvider& input, int width, int height) {
    std::vector<std::uint8_t> pixels(static_cast<std::size_t>(width) * height, input.ConsumeIntegral<std::uint8_t>());
    if (width <= 0 || height <= 0) return pixels;
    const auto put = [&](int x, int y, std::uint8_t value) {
        if (x >= 0 && x < width && y >= 0 && y < height) pixels[static_cast<std::size_t>(y) * width + x] = value;
    };
    const int shapes = input.ConsumeIntegralInRange(0, 24);
    for (int s = 0; s < shapes && input.remaining_bytes() > 0; ++s) {
        const int kind = input.ConsumeIntegralInRange(0, 4);
        const int x = input.ConsumeIntegralInRange(-8, width);
        const int y = input.ConsumeIntegralInRange(-8, height);
        const int w = input.ConsumeIntegralInRange(0, width + 8);
        const int h = input.ConsumeIntegralInRange(0, height + 8);
        const auto value = input.ConsumeIntegral<std::uint8_t>();
        switch (kind) {
            case 0:  // filled box, clipped first: most of a big box lies outside
                for (int r = std::max(y, 0); r < std::min(y + h, height); ++r) {
                    std::uint8_t* row = pixels.data() + static_cast<std::size_t>(r) * width;
                    std::fill(row + std::max(x, 0), row + std::max(std::min(x + w, width), std::max(x, 0)), value);
                }
                break;
            case 1:  // outline: a box top with both sides running down
                for (int c = x; c < x + w; ++c) {
                    put(c, y, value);
                    put(c, y + h - 1, value);
                }
                for (int r = y; r < y + h; ++r) {
                    put(x, r, value);
                    put(x + w - 1, r, value);
                }
                break;
            case 2:  // horizontal rule, with every n-th pixel missing
            {
                const int gap = input.ConsumeIntegralInRange(0, 40);
                for (int c = x; c < x + w; ++c)
                    if (gap == 0 || (c - x) % gap != gap - 1) put(c, y, value);
                break;
            }
            case 3:  // vertical rule
                for (int r = y; r < y + h; ++r) put(x, r, value);
                break;
            default:  // raw patch, row by row
                for (int r = y; r < y + std::min(h, 16) && input.remaining_bytes() > 0; ++r)
                    for (int c = x; c < x + std::min(w, 64) && input.remaining_bytes() > 0; ++c)
                        put(c, r, input.ConsumeIntegral<std::uint8_t>());
                break;
        }
    }
    return pixels;
}

// The parsed line, or a discarded value when it is not JSON; never throws.
inline nlohmann::json parseLine(std::string_view line) {
    return nlohmann::json::parse(line.begin(), line.end(), nullptr, /*allow_exceptions=*/false);
}

// Every number in the value is finite: serialised NaN or infinity comes out
// as null, which a reader expecting a number cannot take.
inline bool numbersAreFinite(const nlohmann::json& value) {
    if (value.is_number_float()) return std::isfinite(value.get<double>());
    if (value.is_structured()) {
        for (const auto& item : value)
            if (!numbersAreFinite(item)) return false;
    }
    return true;
}

// Whether `bytes` is well-formed UTF-8, read code point by code point: no
// overlong forms, no surrogates, nothing past U+10FFFF, nothing unfinished.
inline bool isWellFormedUTF8(std::string_view bytes) {
    std::size_t i = 0;
    while (i < bytes.size()) {
        const auto lead = static_cast<std::uint8_t>(bytes[i]);
        int length = 0;
        std::uint32_t point = 0;
        std::uint32_t smallest = 0;
        if (lead < 0x80) {
            ++i;
            continue;
        } else if ((lead & 0xE0) == 0xC0) {
            length = 2, point = lead & 0x1F, smallest = 0x80;
        } else if ((lead & 0xF0) == 0xE0) {
            length = 3, point = lead & 0x0F, smallest = 0x800;
        } else if ((lead & 0xF8) == 0xF0) {
            length = 4, point = lead & 0x07, smallest = 0x10000;
        } else {
            return false;
        }
        if (i + length > bytes.size()) return false;
        for (int k = 1; k < length; ++k) {
            const auto next = static_cast<std::uint8_t>(bytes[i + k]);
            if ((next & 0xC0) != 0x80) return false;
            point = point << 6 | (next & 0x3F);
        }
        if (point < smallest || point > 0x10FFFF || (point >= 0xD800 && point <= 0xDFFF)) return false;
        i += length;
    }
    return true;
}

}  // namespace scene::fuzz
