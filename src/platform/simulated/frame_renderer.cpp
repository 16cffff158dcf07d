#include "platform/simulated/frame_renderer.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>

namespace scene::simulated {
namespace {

// Windows this transparent are left out of the picture altogether.
constexpr double kInvisibleAlpha = 0.05;
// Keeps rounding of absurd coordinates inside int range.
constexpr double kCoordinateLimit = 1e9;

struct PixelRect {
    int x0 = 0;
    int y0 = 0;
    int x1 = 0;
    int y1 = 0;

    bool empty() const { return x1 <= x0 || y1 <= y0; }
    PixelRect clipped(const PixelRect& clip) const {
        return {std::max(x0, clip.x0), std::max(y0, clip.y0), std::min(x1, clip.x1), std::min(y1, clip.y1)};
    }
};

int toPixel(double value) {
    if (std::isnan(value)) return 0;
    return static_cast<int>(std::lround(std::clamp(value, -kCoordinateLimit, kCoordinateLimit)));
}

std::array<std::uint8_t, 4> bgra(Color color) {
    return {static_cast<std::uint8_t>(color & 0xff), static_cast<std::uint8_t>((color >> 8) & 0xff),
            static_cast<std::uint8_t>((color >> 16) & 0xff), 0xff};
}

// Paints axis-aligned boxes given in global points. Every edge is rounded to
// the pixel grid on its own, so boxes that touch in points touch in pixels.
class Painter {
public:
    Painter(const Rect& display, int width, int height, std::uint8_t* pixels, std::size_t bytesPerRow)
        : originX_(display.minX()),
          originY_(display.minY()),
          scaleX_(width / display.absWidth()),
          scaleY_(height / display.absHeight()),
          image_{0, 0, width, height},
          pixels_(pixels),
          bytesPerRow_(bytesPerRow),
          lineX_(std::max(1, toPixel(scaleX_))),
          lineY_(std::max(1, toPixel(scaleY_))) {}

    const PixelRect& image() const { return image_; }

    // A non-empty box never vanishes: it keeps at least one pixel each way.
    PixelRect toPixels(const Rect& rect) const {
        if (rect.isNull()) return {};
        PixelRect box{toPixel((rect.minX() - originX_) * scaleX_), toPixel((rect.minY() - originY_) * scaleY_),
                      toPixel((rect.maxX() - originX_) * scaleX_), toPixel((rect.maxY() - originY_) * scaleY_)};
        if (rect.absWidth() > 0 && box.x1 <= box.x0) box.x1 = box.x0 + 1;
        if (rect.absHeight() > 0 && box.y1 <= box.y0) box.y1 = box.y0 + 1;
        return box;
    }

    int pixelY(double y) const { return toPixel((y - originY_) * scaleY_); }

    void fill(const PixelRect& box, Color color, const PixelRect& clip) {
        const PixelRect area = box.clipped(clip).clipped(image_);
        if (area.empty()) return;
        const std::size_t offset = static_cast<std::size_t>(area.x0) * 4;
        const std::size_t span = static_cast<std::size_t>(area.x1 - area.x0) * 4;
        std::uint8_t* first = row(area.y0) + offset;
        // Double the painted part of the first row until it spans the box,
        // then copy that row: memcpy speed for every size of box.
        const auto pixel = bgra(color);
        std::memcpy(first, pixel.data(), pixel.size());
        for (std::size_t done = pixel.size(); done < span;) {
            const std::size_t chunk = std::min(done, span - done);
            std::memcpy(first + done, first, chunk);
            done += chunk;
        }
        for (int y = area.y0 + 1; y < area.y1; ++y) std::memcpy(row(y) + offset, first, span);
    }

    // A 1-point outline inside the box.
    void outline(const PixelRect& box, Color color, const PixelRect& clip) {
        const PixelRect inner = box.clipped(clip);
        fill({box.x0, box.y0, box.x1, box.y0 + lineY_}, color, inner);
        fill({box.x0, box.y1 - lineY_, box.x1, box.y1}, color, inner);
        fill({box.x0, box.y0, box.x0 + lineX_, box.y1}, color, inner);
        fill({box.x1 - lineX_, box.y0, box.x1, box.y1}, color, inner);
    }

    // A 1-point horizontal rule whose top edge is at `top` pixels.
    void rule(const PixelRect& box, int top, Color color) { fill({box.x0, top, box.x1, top + lineY_}, color, box); }

private:
    std::uint8_t* row(int y) { return pixels_ + static_cast<std::size_t>(y) * bytesPerRow_; }

    double originX_;
    double originY_;
    double scaleX_;
    double scaleY_;
    PixelRect image_;
    std::uint8_t* pixels_;
    std::size_t bytesPerRow_;
    int lineX_;  // pixels of a 1-point vertical line
    int lineY_;  // pixels of a 1-point horizontal line
};

bool drawn(const DesktopModel& model, const WindowModel& window, const Rect& display) {
    if (window.raw) return false;
    if (window.alpha && !(*window.alpha > kInvisibleAlpha)) return false;
    if (const ApplicationModel* application = model.application(window.pid); application && application->hidden)
        return false;
    const Rect overlap = window.bounds.intersection(display);
    return !overlap.isNull() && !overlap.isEmpty();
}

}  // namespace

std::optional<DisplayID> filterDisplay(const DesktopModel& model, const ContentFilter& filter) {
    if (!filter.includedDisplays.empty()) return filter.includedDisplays.front();
    for (const DisplayModel& display : model.displays) {
        if (display.bounds == filter.contentRect) return display.id;
    }
    const Point centre{filter.contentRect.midX(), filter.contentRect.midY()};
    for (const DisplayModel& display : model.displays) {
        if (display.bounds.contains(centre)) return display.id;
    }
    return std::nullopt;
}

std::optional<FrameScene> frameScene(const DesktopModel& model, DisplayID display) {
    const DisplayModel* source = model.display(display);
    if (source == nullptr) return std::nullopt;
    FrameScene scene{source->bounds, source->background, {}};
    for (auto it = model.windows.rbegin(); it != model.windows.rend(); ++it) {
        if (!drawn(model, *it, source->bounds)) continue;
        scene.windows.push_back({it->bounds, it->fill, it->border, it->titleBar, it->panels});
    }
    return scene;
}

void renderFrame(const FrameScene& scene, int width, int height, std::uint8_t* pixels, std::size_t bytesPerRow) {
    if (width <= 0 || height <= 0 || pixels == nullptr || bytesPerRow < static_cast<std::size_t>(width) * 4) return;
    if (!(scene.display.absWidth() > 0) || !(scene.display.absHeight() > 0)) return;
    Painter painter(scene.display, width, height, pixels, bytesPerRow);
    painter.fill(painter.image(), scene.background, painter.image());
    for (const FrameWindow& window : scene.windows) {
        const PixelRect box = painter.toPixels(window.bounds);
        painter.fill(box, window.fill, box);
        painter.outline(box, window.border, box);
        if (window.titleBar > 0)
            painter.rule(box, painter.pixelY(window.bounds.minY() + window.titleBar), window.border);
        for (const Panel& panel : window.panels) {
            const Rect global{window.bounds.minX() + panel.bounds.minX(), window.bounds.minY() + panel.bounds.minY(),
                              panel.bounds.absWidth(), panel.bounds.absHeight()};
            const PixelRect panelBox = painter.toPixels(global);
            if (panel.fill) painter.fill(panelBox, *panel.fill, box);
            if (panel.border) painter.outline(panelBox, *panel.border, box);
        }
    }
}

}  // namespace scene::simulated
