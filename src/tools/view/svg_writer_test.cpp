#include "tools/view/svg_writer.h"

#include <gtest/gtest.h>
#include <turbojpeg.h>

#include "core/base64.h"
#include "core/jpeg_encoder.h"
#include "platform/image.h"
#include "tools/view/base64_decode.h"
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

const XmlElement* windowOutline(const XmlElement& root, const std::string& id) {
    for (const XmlElement* outline : findAll(root, "rect", "window"))
        if (outline->attribute("data-id") == id) return outline;
    return nullptr;
}

TEST(SvgWriterTest, DrawsOneShapePerRecordInAWellFormedDocument) {
    const XmlElement root = parsed(sceneSvg(picture(sampleSnapshot())));
    EXPECT_EQ(root.name, "svg");
    EXPECT_EQ(root.attribute("viewBox"), "0 0 1280 900");
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
    const XmlElement root = parsed(sceneSvg(picture(sampleSnapshot())));
    const auto groups = findAll(root, "g", "header");
    ASSERT_EQ(groups.size(), 1u);
    const auto texts = findAll(*groups[0], "text");
    ASSERT_EQ(texts.size(), 1u);
    const std::string& header = texts[0]->text;
    EXPECT_NE(header.find("capture ready"), std::string::npos) << header;
    EXPECT_NE(header.find("30 snapshots/s"), std::string::npos) << header;
    EXPECT_NE(header.find("supports 3"), std::string::npos) << header;
    EXPECT_NE(header.find("edges 2 (1 platform)"), std::string::npos) << header;
    EXPECT_NE(header.find("2026-01-02 03:04:05"), std::string::npos) << header;

    ScenePicture unavailable = picture(Json::parse(R"({"status":"unavailable","windows":[]})"));
    unavailable.snapshotsPerSecond.reset();
    const std::string other = findAll(parsed(sceneSvg(unavailable)), "text").back()->text;
    EXPECT_NE(other.find("snapshot unavailable"), std::string::npos) << other;
    EXPECT_NE(other.find("single pass"), std::string::npos) << other;
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

    const XmlElement plain = parsed(sceneSvg(picture(sampleSnapshot())));
    EXPECT_TRUE(findAll(plain, "image").empty());
    EXPECT_EQ(findAll(plain, "rect", "plain").size(), 1u);
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
