#include "tools/view/label_placement.h"

#include <gtest/gtest.h>

#include "tools/view/xml_text.h"

namespace scene::view {
namespace {

bool overlap(const Rect& a, const Rect& b) {
    return a.x < b.maxX() && b.x < a.maxX() && a.y < b.maxY() && b.y < a.maxY();
}

LabelRequest request(std::string text, std::vector<LabelSpot> spots, std::string shortText = "", double size = 11) {
    return {std::move(text), std::move(shortText), size, std::move(spots)};
}

// The four boxes that meet at one point.
std::vector<LabelSpot> around(Point point) { return {{point, 0, 0}, {point, 0, 1}, {point, 1, 0}, {point, 1, 1}}; }

TEST(LabelPlacementTest, CrowdedLabelsNeitherOverlapNorLeaveTheirBounds) {
    struct Case {
        const char* name;
        Rect bounds;
        std::vector<LabelRequest> requests;
        std::vector<std::string> texts;  // what is placed, in order
    };
    std::vector<LabelRequest> pile;
    for (int i = 0; i < 10; ++i) pile.push_back(request("412:87" + std::to_string(10 + i), around({100, 100}), "w"));
    const std::string wide = "\xe6\xbc\xa2\xe5\xad\x97 caf\xc3\xa9 \xe6\xbc\xa2\xe5\xad\x97 caf\xc3\xa9";
    const Case cases[] = {
        {"ten at one point: four corners, then no room",
         {0, 0, 400, 300},
         pile,
         {"412:8710", "412:8711", "412:8712", "412:8713"}},
        {"the short text where the full one collides",
         {0, 0, 200, 100},
         {request("AAAA", {{{0, 0}, 0, 0}}), request("CCCC", {{{80, 0}, 0, 0}}),
          request("BBBBBBBBBB", {{{30, 0}, 0, 0}}, "BB")},
         {"AAAA", "CCCC", "BB"}},
        {"spots off every edge are moved in",
         {-20, 10, 300, 200},
         {request("left", {{{-500, -50}, 0, 0}}), request("right", {{{900, 50}, 0, 0}}),
          request("under", {{{150, 900}, 0.5, 1}}), request("over", {{{150, -900}, 0.5, 0}})},
         {"left", "right", "under", "over"}},
        {"longer than the bounds is shortened",
         {0, 0, 120, 40},
         {request(std::string(60, 'x'), {{{0, 0}, 0, 0}}, "", 9)},
         {std::string(20, 'x') + "\xe2\x80\xa6"}},
        {"several-byte characters are shortened whole",
         {0, 0, 84, 40},
         {request(wide, {{{0, 0}, 0, 0}}, "", 9)},
         {"\xe6\xbc\xa2\xe5\xad\x97 caf\xc3\xa9 \xe6\xbc\xa2\xe2\x80\xa6"}},
        {"no room for one line", {0, 0, 300, 8}, {request("412:8731", around({10, 4}))}, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const auto placed = placeLabels(c.requests, c.bounds);
        std::vector<std::string> texts;
        for (const PlacedLabel& label : placed) texts.push_back(label.text);
        EXPECT_EQ(texts, c.texts);
        for (std::size_t i = 0; i < placed.size(); ++i) {
            const Rect& box = placed[i].box;
            EXPECT_EQ(xmlAllowed(placed[i].text), placed[i].text) << "whole characters only";
            EXPECT_EQ((Size{box.width, box.height}), textSize(placed[i].text, c.requests[placed[i].request].size));
            EXPECT_TRUE(box.minX() >= c.bounds.minX() && box.maxX() <= c.bounds.maxX() &&
                        box.minY() >= c.bounds.minY() && box.maxY() <= c.bounds.maxY())
                << placed[i].text;
            for (std::size_t j = 0; j < i; ++j)
                EXPECT_FALSE(overlap(box, placed[j].box)) << placed[i].text << " on " << placed[j].text;
        }
    }
}

}  // namespace
}  // namespace scene::view
