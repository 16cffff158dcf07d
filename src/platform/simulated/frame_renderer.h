#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "platform/rect.h"
#include "platform/screen_capture.h"
#include "platform/simulated/desktop_model.h"
#include "platform/simulated/window_model.h"
#include "platform/window_server.h"

namespace scene::simulated {

// A window as a capture frame shows it: its box and what is painted inside.
struct FrameWindow {
    Rect bounds{};  // global points
    Color fill = kDefaultWindowFill;
    Color border = kDefaultWindowBorder;
    double titleBar = 0;
    std::vector<Panel> panels{};
};

// What one display shows, taken from the model under the desktop's lock so that
// the painting can happen outside it. A plain value.
struct FrameScene {
    Rect display;  // the display's bounds, global points
    Color background = kDefaultDisplayBackground;
    std::vector<FrameWindow> windows;  // back to front
};

// The display a filter shows: its first included display, else the display
// whose bounds are the content rect, else the one holding the rect's centre.
std::optional<DisplayID> filterDisplay(const DesktopModel& model, const ContentFilter& filter);

// The display's picture: none when the model has no such display. Raw windows,
// windows of hidden applications, windows with alpha 0.05 or less and windows
// off the display are left out.
std::optional<FrameScene> frameScene(const DesktopModel& model, DisplayID display);

// Paints `scene` into `pixels` (BGRA, opaque, `height` rows of `bytesPerRow`
// bytes) so that the picture covers exactly the display's bounds at
// width x height pixels. Edges are rounded to whole pixels and never blended; a
// 1-point line is at least one pixel wide.
void renderFrame(const FrameScene& scene, int width, int height, std::uint8_t* pixels, std::size_t bytesPerRow);

}  // namespace scene::simulated
