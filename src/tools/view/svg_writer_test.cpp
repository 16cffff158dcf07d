#include "tools/view/svg_writer.h"

#include <gtest/gtest.h>
#include <turbojpeg.h>

#include "core/base64.h"
#include "core/jpeg_encoder.h"
#include "platform/image.h"
#include "tools/view/base64_decode.h"
#include "tools/view/label_placement.h"
#include "tools/view/xml_check_for_test.h"

namespace scene::view {
namespace {

using testing::findAll;
using testing::parseXml;
using testing::XmlElement;

Json window(const std::string& id, double x, double y, double width, double height) {
    return {{"id", id}, {"pid", 412}, {"layer", 0},     {"alpha", 1.0},
            {"x", x},   {"y", y},     {"width", width}, {"height", height}};
}

Json support(const std::string& side, double from, double to, double fixed, const std::string& source) {
    return {{"side", side}, {"from", from}, {"to", to}, {"fixed", fixed}, {"source", source}, {"ownerId", "412:8731"}};
}

// A snapshot with one of everything, on a display whose origin is not the
// desktop's, so every coordinate has to be moved.
Json sampleSnapshot() {
    Json notification = window("140:61", 2506, 34, 358, 74);
    notification["systemUI"] = "notification-center";
    return {
        {"status", "ready"},
        {"captureSession", "ready"},
        {"context", {{"focusedWindowId", "412:8731"}, {"frontPID", 412}}},
        {"windows", {notification, window("412:8731", 1560, 80, 760, 520), window("518:9002", 1980, 220, 640, 440)}},
        {"docks",
         {{{"id", "dock:2"},
           {"displayID", 2},
           {"side", "bottom"},
           {"x", 1660},
           {"y", 822},
           {"width", 1000},
           {"height", 70}}}},
        {"supportProofs",
         {support("top", 1572, 2309, 80, "selected-contour"), support("left", 92, 589, 1560, "selected-contour"),
          support("top", 2050, 2290, 456, "composited-pixels")}},
        {"visuals",
         {{{"id", "visual:412:8731:v1"}, {"x", 2050}, {"y", 456}, {"width", 240}, {"height", 1.0}, {"platform", true}},
          {{"id", "visual:412:8731:v2"},
           {"x", 1760},
           {"y", 300},
           {"width", 540},
           {"height", 1.0},
           {"platform", false}}}},
        {"controls",
         {{{"id", "412:8731/ax-1"}, {"role", "AXButton"}, {"x", 1756}, {"y", 112}, {"width", 60}, {"height", 28}}}},
        {"inputs",
         {{{"id", "412:8731/input-1"},
           {"role", "AXTextArea"},
           {"x", 1760},
           {"y", 164},
           {"width", 540},
           {"height", 412}}}},
    };
}

constexpr Rect kSecondDisplay{1440, 0, 1280, 900};

ScenePicture picture(Json snapshot, std::optional<JpegFrame> frame = std::nullopt) {
    ScenePicture p;
    p.snapshot = std::move(snapshot);
    p.frame = std::move(frame);
    p.display = kSecondDisplay;
    p.snapshotsPerSecond = 29.96;
    p.time = "2026-01-02 03:04:05";
    return p;
}

XmlElement parsed(const std::string& svg) {
    std::string error;
    auto root = parseXml(svg, &error);
    EXPECT_TRUE(root) << error;
    return root.value_or(XmlElement{});
}

double attributeNumber(const XmlElement& element, const std::string& key) { return std::stod(element.attribute(key)); }

const XmlElement& only(const std::vector<const XmlElement*>& elements) {
    static const XmlElement kNone;
    EXPECT_EQ(elements.size(), 1u);
    return elements.empty() ? kNone : *elements.front();
}

// The box a text element takes, as the placement measures it.
Rect textBox(const XmlElement& text) {
    const double size = attributeNumber(text, "font-size");
    const Size extent = textSize(text.text, size);
    return {attributeNumber(text, "x") - kOutline, attributeNumber(text, "y") - kOutline - kBaseline * size,
            extent.width, extent.height};
}

// Pictures round coordinates to hundredths.
constexpr double kRounding = 0.01;

bool inside(const Rect& box, const Rect& area) {
    return box.minX() > area.minX() - kRounding && box.maxX() < area.maxX() + kRounding &&
           box.minY() > area.minY() - kRounding && box.maxY() < area.maxY() + kRounding;
}

Rect rectOf(const XmlElement& element) {
    return {attributeNumber(element, "x"), attributeNumber(element, "y"), attributeNumber(element, "width"),
            attributeNumber(element, "height")};
}

const XmlElement* windowOutline(const XmlElement& root, const std::string& id) {
    for (const XmlElement* outline : findAll(root, "rect", "window"))
        if (outline->attribute("data-id") == id) return outline;
    return nullptr;
}

TEST(SvgWriterTest, DrawsOneShapePerRecordInAWellFormedDocument) {
    const XmlElement root = parsed(sceneSvg(picture(sampleSnapshot())));
    EXPECT_EQ(root.name, "svg");
    EXPECT_EQ(only(findAll(root, "svg", "desktop")).attribute("viewBox"), "0 0 1280 900");
    EXPECT_EQ(findAll(root, "rect", "window").size(), 3u);
    EXPECT_EQ(findAll(root, "text", "window-label").size(), 3u);
    EXPECT_EQ(findAll(root, "rect", "dock").size(), 1u);
    EXPECT_EQ(findAll(root, "line", "support").size(), 3u);
    EXPECT_EQ(findAll(root, "line", "visual").size(), 2u);
    EXPECT_EQ(findAll(root, "line", "platform").size(), 1u);
    EXPECT_EQ(findAll(root, "rect", "control").size(), 1u);
    EXPECT_EQ(findAll(root, "rect", "input").size(), 1u);
}

TEST(SvgWriterTest, HeaderCarriesSessionRateCountsAndTime) {
    const auto header = [](const ScenePicture& p) {
        const XmlElement root = parsed(sceneSvg(p));
        std::string text;
        for (const XmlElement* line : findAll(only(findAll(root, "g", "header")), "text")) text += line->text + " | ";
        return text;
    };
    const std::string full = header(picture(sampleSnapshot()));
    EXPECT_NE(full.find("capture ready"), std::string::npos) << full;
    EXPECT_NE(full.find("30 snapshots/s"), std::string::npos) << full;
    EXPECT_NE(full.find("supports 3"), std::string::npos) << full;
    EXPECT_NE(full.find("edges 2 (1 platform)"), std::string::npos) << full;
    EXPECT_NE(full.find("2026-01-02 03:04:05"), std::string::npos) << full;

    ScenePicture unavailable = picture(Json::parse(R"({"status":"unavailable","windows":[]})"));
    unavailable.snapshotsPerSecond.reset();
    const std::string other = header(unavailable);
    EXPECT_NE(other.find("snapshot unavailable"), std::string::npos) << other;
    EXPECT_NE(other.find("single pass"), std::string::npos) << other;
}

// The band holds the header and the legend above the desktop, whatever the
// display's shape; labels stay on the desktop, clear of one another.
TEST(SvgWriterTest, BandLabelsAndDesktopKeepApart) {
    struct Case {
        const char* name;
        Rect display;
        Json snapshot;
    };
    Json crowded = sampleSnapshot();
    for (int i = 0; i < 40; ++i) {
        crowded["windows"].push_back(window("700:" + std::to_string(i), 1440 + 3 * i, -10 + 2 * i, 300, 200));
        crowded["supportProofs"].push_back(support("top", 1500, 2600, 300 + 3 * i, "composited-pixels"));
        crowded["supportProofs"].push_back(support("right", 50, 800, 2715 - i, "selected-contour"));
    }
    crowded["captureSession"] = std::string(300, 's');
    const Case cases[] = {
        {"the sample", kSecondDisplay, sampleSnapshot()},
        {"crowded, with a header longer than the picture", kSecondDisplay, crowded},
        {"narrow", {1440, 0, 200, 900}, crowded},
        {"wide and low", {1440, 0, 2560, 60}, crowded},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ScenePicture p = picture(c.snapshot);
        p.display = c.display;
        const XmlElement root = parsed(sceneSvg(p));
        const Rect whole{0, 0, attributeNumber(root, "width"), attributeNumber(root, "height")};
        const Rect band = rectOf(only(findAll(root, "rect", "band")));
        const Rect desktop = rectOf(only(findAll(root, "svg", "desktop")));
        EXPECT_EQ(desktop.width, c.display.width);
        EXPECT_EQ(desktop.height, c.display.height);
        EXPECT_LE(band.maxY(), desktop.minY());
        EXPECT_TRUE(inside(band, whole) && inside(desktop, whole));
        for (const char* part : {"header", "legend"})
            for (const XmlElement* text : findAll(only(findAll(root, "g", part)), "text"))
                EXPECT_TRUE(inside(textBox(*text), band)) << text->text;

        const auto labels = findAll(only(findAll(root, "g", "labels")), "text");
        EXPECT_FALSE(labels.empty());
        for (std::size_t i = 0; i < labels.size(); ++i) {
            const Rect box = textBox(*labels[i]);
            EXPECT_TRUE(inside(box, {0, 0, c.display.width, c.display.height})) << labels[i]->text;
            for (std::size_t j = 0; j < i; ++j) {
                const Rect other = textBox(*labels[j]);
                EXPECT_TRUE(box.minX() > other.maxX() - kRounding || other.minX() > box.maxX() - kRounding ||
                            box.minY() > other.maxY() - kRounding || other.minY() > box.maxY() - kRounding)
                    << labels[i]->text << " on " << labels[j]->text;
            }
        }
    }
}

TEST(SvgWriterTest, LegendListsTheLayersShown) {
    const auto layers = [](const Json& snapshot) {
        const XmlElement root = parsed(sceneSvg(picture(snapshot)));
        std::vector<std::string> names;
        for (const XmlElement* entry : findAll(root, "g", "legend-entry")) {
            names.push_back(entry->attribute("data-layer"));
            EXPECT_FALSE(findAll(*entry, "text").empty());
        }
        return names;
    };
    Json snapshot = sampleSnapshot();
    snapshot["supportProofs"].push_back(support("bottom", 1572, 2309, 599, "selected-contour"));
    snapshot["supportProofs"].push_back(support("top", 1572, 2309, 599, "some-later-source"));
    EXPECT_EQ(layers(snapshot),
              (std::vector<std::string>{"window", "focused-window", "system-window", "dock", "contour-support",
                                        "pixel-support", "other-support", "top-side", "bottom-side", "wall-side",
                                        "platform-edge", "visual-edge", "control", "input"}));
    EXPECT_EQ(layers(Json{{"windows", {window("518:9002", 1980, 220, 640, 440)}}}), std::vector<std::string>{"window"});
    EXPECT_EQ(layers(Json{{"windows", Json::array()}}), std::vector<std::string>{});
}

TEST(SvgWriterTest, PlacesRecordsRelativeToTheDisplay) {
    const XmlElement root = parsed(sceneSvg(picture(sampleSnapshot())));

    const XmlElement* writer = windowOutline(root, "412:8731");
    ASSERT_NE(writer, nullptr);
    EXPECT_EQ(attributeNumber(*writer, "x"), 120);
    EXPECT_EQ(attributeNumber(*writer, "y"), 80);
    EXPECT_EQ(attributeNumber(*writer, "width"), 760);
    EXPECT_EQ(attributeNumber(*writer, "height"), 520);
    // The focused window is thicker, system windows dashed.
    const XmlElement* other = windowOutline(root, "518:9002");
    const XmlElement* system = windowOutline(root, "140:61");
    ASSERT_TRUE(other && system);
    EXPECT_GT(attributeNumber(*writer, "stroke-width"), attributeNumber(*other, "stroke-width"));
    EXPECT_EQ(other->attribute("stroke-dasharray"), "");
    EXPECT_NE(system->attribute("stroke-dasharray"), "");

    // Horizontal along "from".."to" at "fixed"; a left support is vertical.
    const auto supports = findAll(root, "line", "support");
    ASSERT_EQ(supports.size(), 3u);
    EXPECT_EQ(attributeNumber(*supports[0], "x1"), 132);
    EXPECT_EQ(attributeNumber(*supports[0], "x2"), 869);
    EXPECT_EQ(attributeNumber(*supports[0], "y1"), 80);
    EXPECT_EQ(attributeNumber(*supports[0], "y2"), 80);
    EXPECT_EQ(attributeNumber(*supports[1], "x1"), 120);
    EXPECT_EQ(attributeNumber(*supports[1], "x2"), 120);
    EXPECT_EQ(attributeNumber(*supports[1], "y1"), 92);
    EXPECT_EQ(attributeNumber(*supports[1], "y2"), 589);
    // Colour by source, dash by side.
    EXPECT_EQ(supports[0]->attribute("stroke-dasharray"), "");
    EXPECT_NE(supports[1]->attribute("stroke-dasharray"), "");
    EXPECT_NE(supports[2]->attribute("stroke"), supports[0]->attribute("stroke"));
    const auto labels = findAll(root, "text", "support-label");
    ASSERT_EQ(labels.size(), 3u);
    EXPECT_EQ(labels[1]->text, "left selected-contour");

    const auto platform = findAll(root, "line", "platform");
    ASSERT_EQ(platform.size(), 1u);
    EXPECT_EQ(attributeNumber(*platform[0], "x1"), 610);
    EXPECT_EQ(attributeNumber(*platform[0], "x2"), 850);
    EXPECT_EQ(attributeNumber(*platform[0], "y1"), 456);

    const auto docks = findAll(root, "rect", "dock");
    ASSERT_EQ(docks.size(), 1u);
    EXPECT_EQ(attributeNumber(*docks[0], "x"), 220);

    // A window on the display to the left is clipped away, label and all.
    Json elsewhere = sampleSnapshot();
    elsewhere["windows"].push_back(window("77:1", 100, 100, 400, 300));
    const XmlElement withOther = parsed(sceneSvg(picture(elsewhere)));
    for (const XmlElement* label : findAll(withOther, "text", "window-label")) EXPECT_NE(label->text, "77:1");
}

TEST(SvgWriterTest, BackgroundIsTheFrameDimmedOrPlainWithoutOne) {
    const auto jpeg = encodeJPEG(Image::filled(1280, 900, 0xFF30507A));
    ASSERT_TRUE(jpeg);
    const JpegFrame frame{base64Encode(*jpeg), 1280, 900};
    const XmlElement root = parsed(sceneSvg(picture(sampleSnapshot(), frame)));

    const auto images = findAll(root, "image");
    ASSERT_EQ(images.size(), 1u);
    EXPECT_EQ(attributeNumber(*images[0], "width"), 1280);
    EXPECT_EQ(attributeNumber(*images[0], "height"), 900);
    const std::string href = images[0]->attribute("xlink:href");
    const std::string prefix = "data:image/jpeg;base64,";
    ASSERT_TRUE(href.starts_with(prefix));
    const auto bytes = base64Decode(href.substr(prefix.size()));
    ASSERT_TRUE(bytes);
    tjhandle handle = tjInitDecompress();
    int width = 0, height = 0, subsampling = 0, colorspace = 0;
    EXPECT_EQ(tjDecompressHeader3(handle, bytes->data(), bytes->size(), &width, &height, &subsampling, &colorspace), 0);
    tjDestroy(handle);
    EXPECT_EQ(width, 1280);
    EXPECT_EQ(height, 900);
    EXPECT_EQ(findAll(root, "rect", "dim").size(), 1u);
    // The legend says why the frame is darker than the desktop.
    EXPECT_NE(only(findAll(root, "text", "legend-note")).text.find("dimmed"), std::string::npos);

    const XmlElement plain = parsed(sceneSvg(picture(sampleSnapshot())));
    EXPECT_TRUE(findAll(plain, "image").empty());
    EXPECT_EQ(findAll(plain, "rect", "plain").size(), 1u);
    EXPECT_NE(only(findAll(plain, "text", "legend-note")).text.find("no captured frame"), std::string::npos);
}

TEST(SvgWriterTest, HostileTextFromTheSnapshotStaysText) {
    const std::string hostile = "\"/><script>alert('x')</script><g a=\"&amp;&bogus;]]>";
    const std::string controls = std::string("tab\there\x01\x1f") + "\xff\xfe";
    Json snapshot = sampleSnapshot();
    snapshot["windows"][1]["id"] = hostile;
    snapshot["context"]["focusedWindowId"] = hostile;
    snapshot["docks"][0]["id"] = controls;
    snapshot["supportProofs"][0]["source"] = hostile;
    snapshot["controls"][0]["role"] = "<AXButton>";
    snapshot["captureSession"] = "</text>&";

    const std::string svg = sceneSvg(picture(snapshot));
    const XmlElement root = parsed(svg);
    EXPECT_TRUE(findAll(root, "script").empty());
    const XmlElement* outline = windowOutline(root, hostile);
    ASSERT_NE(outline, nullptr) << "the id survives escaping and unescaping";
    EXPECT_TRUE(outline->hasClass("focused"));
    EXPECT_EQ(findAll(root, "rect", "window").size(), 3u);
    EXPECT_EQ(findAll(root, "text", "support-label")[0]->text, "top " + hostile);
    EXPECT_EQ(findAll(root, "text", "control-label")[0]->text, "<AXButton>");
    EXPECT_EQ(findAll(root, "text", "dock-label")[0]->text, "tab\there???? bottom");
}

TEST(SvgWriterTest, RecordsWithoutTheirGeometryAreLeftOut) {
    Json snapshot = sampleSnapshot();
    snapshot["windows"][0].erase("y");
    snapshot["windows"][1]["width"] = "760";
    snapshot["windows"][2]["height"] = -4;
    snapshot["supportProofs"][0].erase("fixed");
    snapshot["supportProofs"][1]["side"] = nullptr;
    snapshot["visuals"][0]["x"] = Json::array();
    snapshot["docks"] = "not a list";
    snapshot.erase("controls");

    const XmlElement root = parsed(sceneSvg(picture(snapshot)));
    EXPECT_TRUE(findAll(root, "rect", "window").empty());
    EXPECT_EQ(findAll(root, "line", "support").size(), 1u);
    EXPECT_EQ(findAll(root, "line", "visual").size(), 1u);
    EXPECT_TRUE(findAll(root, "rect", "dock").empty());
    EXPECT_TRUE(findAll(root, "rect", "control").empty());
}

}  // namespace
}  // namespace scene::view
