#include "platform/simulated/frame_renderer.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

namespace scene::simulated {
namespace {

constexpr Color kBackground = 0x102030;
constexpr Color kFill = 0xeeeeee;
constexpr Color kBorder = 0x404040;

// A rendered frame with a pixel reader in 0xRRGGBB (alpha must be opaque).
struct Frame {
    int width = 0;
    int height = 0;
    std::vector<std::uint8_t> bytes;

    Color at(int x, int y) const {
        const std::uint8_t* p = bytes.data() + (static_cast<std::size_t>(y) * width + x) * 4;
        EXPECT_EQ(p[3], 0xff) << x << "," << y;
        return static_cast<Color>(p[2]) << 16 | static_cast<Color>(p[1]) << 8 | p[0];
    }
};

Frame render(const FrameScene& scene, int width, int height) {
    Frame frame{width, height, std::vector<std::uint8_t>(static_cast<std::size_t>(width) * height * 4, 0)};
    renderFrame(scene, width, height, frame.bytes.data(), static_cast<std::size_t>(width) * 4);
    return frame;
}

FrameWindow box(Rect bounds, Color fill = kFill, Color border = kBorder) { return {bounds, fill, border, 0, {}}; }

TEST(FrameRendererTest, PaintsBackgroundFillAndACrispOnePointBorderAtAnyScale) {
    const FrameScene scene{{0, 0, 100, 50}, kBackground, {box({10, 10, 20, 10})}};
    struct Case {
        int width, height;
        int left, right;  // first and last pixel column of the window
        int line;         // pixels of the 1-point border
    };
    for (const Case& c : std::vector<Case>{{100, 50, 10, 29, 1}, {200, 100, 20, 59, 2}, {50, 25, 5, 14, 1}}) {
        SCOPED_TRACE(std::to_string(c.width));
        const Frame frame = render(scene, c.width, c.height);
        const int row = c.height * 15 / 50;  // middle of the window
        EXPECT_EQ(frame.at(0, 0), kBackground);
        EXPECT_EQ(frame.at(c.width - 1, c.height - 1), kBackground);
        EXPECT_EQ(frame.at(c.left - 1, row), kBackground);
        for (int i = 0; i < c.line; ++i) {
            EXPECT_EQ(frame.at(c.left + i, row), kBorder);
            EXPECT_EQ(frame.at(c.right - i, row), kBorder);
        }
        EXPECT_EQ(frame.at(c.left + c.line, row), kFill);
        EXPECT_EQ(frame.at(c.right - c.line, row), kFill);
        EXPECT_EQ(frame.at(c.right + 1, row), kBackground);
    }
}

TEST(FrameRendererTest, TitleBarSeparatorAndPanelsSitInsideTheWindow) {
    FrameWindow window = box({10, 10, 60, 30});
    window.titleBar = 6;
    window.panels = {{{5, 10, 20, 8}, 0x00ff00, 0x0000ff},  // a card
                     {{40, 20, 40, 2}, 0xff0000, {}}};      // a rule running out of the window
    const Frame frame = render({{0, 0, 100, 50}, kBackground, {window}}, 100, 50);

    EXPECT_EQ(frame.at(30, 15), kFill);    // title bar strip
    EXPECT_EQ(frame.at(30, 16), kBorder);  // its separator, 6 points below the top
    EXPECT_EQ(frame.at(30, 17), kFill);
    EXPECT_EQ(frame.at(15, 20), 0x0000ffu);  // card outline at the window origin + (5, 10)
    EXPECT_EQ(frame.at(16, 21), 0x00ff00u);
    EXPECT_EQ(frame.at(34, 27), 0x0000ffu);
    EXPECT_EQ(frame.at(35, 27), kFill);
    EXPECT_EQ(frame.at(55, 30), 0xff0000u);
    EXPECT_EQ(frame.at(69, 30), 0xff0000u);    // the rule covers the window's own border
    EXPECT_EQ(frame.at(70, 30), kBackground);  // but stops at the window's edge
}

TEST(FrameRendererTest, LaterWindowsCoverEarlierOnesAndOffsetDisplaysMapToTheirOrigin) {
    const FrameScene scene{
        {-100, 200, 100, 50}, kBackground, {box({-90, 210, 40, 20}, 0x111111), box({-70, 220, 40, 20}, 0x222222)}};
    const Frame frame = render(scene, 100, 50);
    EXPECT_EQ(frame.at(15, 15), 0x111111u);
    EXPECT_EQ(frame.at(35, 25), 0x222222u);  // the overlap shows the later (front) window
    EXPECT_EQ(frame.at(5, 5), kBackground);
}

TEST(FrameRendererTest, TinyAndOffImageBoxesNeitherVanishNorWriteOutside) {
    std::vector<std::uint8_t> bytes(12 * 10 * 4 + 64, 0xab);
    const FrameScene scene{{0, 0, 120, 100}, kBackground, {box({-50, -50, 400, 400}), box({60, 60, 4, 4}, 0x123456)}};
    renderFrame(scene, 12, 10, bytes.data(), 12 * 4);
    Frame frame{12, 10, std::vector<std::uint8_t>(bytes.begin(), bytes.begin() + 12 * 10 * 4)};
    EXPECT_EQ(frame.at(6, 6), 0x404040u);  // 4 points at a tenth of a pixel each still shows
    for (std::size_t i = 12 * 10 * 4; i < bytes.size(); ++i) ASSERT_EQ(bytes[i], 0xab);
}

DesktopModel model() {
    DesktopModel desktop;
    desktop.displays.resize(2);
    desktop.displays[0].id = 1;
    desktop.displays[0].bounds = {0, 0, 100, 50};
    desktop.displays[1].id = 2;
    desktop.displays[1].bounds = {100, 0, 100, 50};
    desktop.applications.resize(2);
    desktop.applications[0].pid = 5;
    desktop.applications[1].pid = 6;
    desktop.applications[1].hidden = true;
    const auto window = [](std::int64_t number, Rect bounds, std::int32_t pid = 5) {
        WindowModel w;
        w.pid = pid;
        w.number = number;
        w.bounds = bounds;
        return w;
    };
    desktop.windows = {window(1, {10, 10, 10, 10}), window(2, {20, 10, 10, 10}),  window(3, {30, 10, 10, 10}),
                       window(4, {40, 10, 10, 10}), window(5, {150, 10, 10, 10}), window(6, {50, 10, 10, 10}, 6),
                       window(7, {90, 10, 20, 10})};
    desktop.windows[0].alpha = 0.05;
    desktop.windows[1].alpha = 0.06;
    desktop.windows[2].raw = Json::object();
    return desktop;
}

TEST(FrameRendererTest, SceneKeepsOnlyVisibleWindowsOnTheDisplayBackToFront) {
    const auto scene = frameScene(model(), 1);
    ASSERT_TRUE(scene);
    EXPECT_EQ(scene->display, (Rect{0, 0, 100, 50}));
    std::vector<double> lefts;
    for (const auto& window : scene->windows) lefts.push_back(window.bounds.x);
    // Not drawn: alpha 0.05, raw, on display 2 only, hidden application.
    EXPECT_EQ(lefts, (std::vector<double>{90, 40, 20}));
    EXPECT_FALSE(frameScene(model(), 9));
}

TEST(FrameRendererTest, FilterDisplayPrefersIncludedDisplaysThenTheContentRect) {
    const DesktopModel desktop = model();
    EXPECT_EQ(filterDisplay(desktop, {ContentFilter::Style::display, {0, 0, 100, 50}, {2}}), 2u);
    EXPECT_EQ(filterDisplay(desktop, {ContentFilter::Style::display, {100, 0, 100, 50}, {}}), 2u);
    EXPECT_EQ(filterDisplay(desktop, {ContentFilter::Style::window, {10, 10, 20, 20}, {}}), 1u);
    EXPECT_EQ(filterDisplay(desktop, {ContentFilter::Style::display, {500, 500, 10, 10}, {}}), std::nullopt);
}

}  // namespace
}  // namespace scene::simulated
