// The pixel work of the selected display stream: cropping a window out of a
// frame and scaling it for analysis, and encoding a still for a snapshot reply.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <vector>

#include "core/jpeg_encoder.h"
#include "selected_capture/selected_frame_image.h"
#include "selected_capture/selected_region_crop.h"

namespace {

// A frame with some structure, so that encoders and scalers see edges.
scene::Image frame(int width, int height) {
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(width) * height * 4);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            std::uint8_t* p = bytes.data() + (static_cast<std::size_t>(y) * width + x) * 4;
            const bool panel = (x / 160 + y / 120) % 2 == 0;
            const bool text = (y % 18 < 10) && ((x * 7 + y * 3) % 11 < 4);
            p[0] = static_cast<std::uint8_t>(panel ? 0xf0 : 0x30 + x % 64);
            p[1] = static_cast<std::uint8_t>(panel ? 0xf0 : 0x50 + y % 64);
            p[2] = static_cast<std::uint8_t>(text ? 0x20 : 0xe0);
            p[3] = 0xff;
        }
    }
    return scene::Image(width, height, static_cast<std::size_t>(width) * 4, std::move(bytes));
}

// Intake's copy of a delivered frame at the largest size the session asks for.
void copyFrame(benchmark::State& state) {
    const scene::Image source = frame(3771, 2121);
    scene::PixelBuffer buffer;
    buffer.width = source.width();
    buffer.height = source.height();
    buffer.bytesPerRow = source.stride();
    buffer.bytes = std::make_shared<const std::vector<std::uint8_t>>(
        source.row(0), source.row(0) + source.stride() * static_cast<std::size_t>(source.height()));
    const auto copies = std::make_shared<scene::PixelPool>(3);
    for (auto _ : state) benchmark::DoNotOptimize(scene::selectedFrameImage(buffer, *copies));
}
BENCHMARK(copyFrame)->Unit(benchmark::kMillisecond)->Repetitions(5)->ReportAggregatesOnly(true);

void cropAndScaleWindow(benchmark::State& state) {
    const scene::Image image = frame(1440, 900);
    const scene::Rect bounds{0, 0, 1440, 900};
    const scene::Rect window{120, 50, 1200, 800};
    for (auto _ : state) benchmark::DoNotOptimize(scene::selectedRegionCrop(image, bounds, window, 768, 512));
}
BENCHMARK(cropAndScaleWindow)->Unit(benchmark::kMillisecond)->Repetitions(5)->ReportAggregatesOnly(true);

void encodeStill(benchmark::State& state) {
    const scene::Image image = frame(1440, 900);
    for (auto _ : state) benchmark::DoNotOptimize(scene::encodeJPEG(image, 85));
}
BENCHMARK(encodeStill)->Unit(benchmark::kMillisecond)->Repetitions(5)->ReportAggregatesOnly(true);

}  // namespace

BENCHMARK_MAIN();
