#include "tools/view/view_options.h"

#include <gtest/gtest.h>

namespace scene::view {
namespace {

ParsedViewOptions parse(std::vector<std::string> words) {
    words.insert(words.begin(), "scene-view");
    return parseViewOptions(words);
}

TEST(ViewOptionsTest, ReadsEachModeWithItsValues) {
    const auto single = parse({"--out", "a.svg", "--after", "3.5", "--sampler", "/opt/s", "--display-bounds",
                               "-1440,0,1440,900", "--frame-timeout", "2"});
    ASSERT_TRUE(single.options) << single.error;
    EXPECT_EQ(single.options->mode, ViewOptions::Mode::single);
    EXPECT_EQ(single.options->out, "a.svg");
    EXPECT_EQ(single.options->after, 3.5);
    EXPECT_EQ(single.options->sampler, "/opt/s");
    EXPECT_EQ(single.options->displayBounds, (Rect{-1440, 0, 1440, 900}));
    EXPECT_EQ(single.options->frameTimeout, 2);
    EXPECT_TRUE(single.options->samplerArguments.empty());

    const auto series = parse({"--every", "0.5", "--out-dir", "pictures"});
    ASSERT_TRUE(series.options) << series.error;
    EXPECT_EQ(series.options->mode, ViewOptions::Mode::series);
    EXPECT_EQ(series.options->every, 0.5);
    EXPECT_EQ(series.options->outDir, "pictures");
    EXPECT_EQ(series.options->after, 2.0);

    const auto once = parse({"--once", "--out", "o.svg"});
    ASSERT_TRUE(once.options) << once.error;
    EXPECT_EQ(once.options->mode, ViewOptions::Mode::once);

    const auto serve = parse({"--serve", "--port", "8123", "--display-bounds", "0,0,800,600"});
    ASSERT_TRUE(serve.options) << serve.error;
    EXPECT_EQ(serve.options->mode, ViewOptions::Mode::serve);
    EXPECT_EQ(serve.options->port, 8123);
    EXPECT_EQ(parse({"--serve"}).options->port, 0);

    EXPECT_TRUE(parse({"--out", "a.svg", "--help"}).options->help);
}

TEST(ViewOptionsTest, HandsEverythingAfterTheSeparatorToTheSampler) {
    const auto parsed =
        parse({"--out", "a.svg", "--", "--scene", "s.json", "--visual", "--out", "--", "--allow-screen-capture"});
    ASSERT_TRUE(parsed.options) << parsed.error;
    EXPECT_EQ(parsed.options->samplerArguments,
              (std::vector<std::string>{"--scene", "s.json", "--visual", "--out", "--", "--allow-screen-capture"}));
}

TEST(ViewOptionsTest, RefusesUnusableCommandLines) {
    const std::vector<std::vector<std::string>> refused = {
        {},
        {"--visual", "--out", "a.svg"},  // a sampler argument before "--"
        {"--out"},                       // missing value
        {"--out", ""},
        {"--out", "a.svg", "--after", "soon"},
        {"--out", "a.svg", "--after", "-1"},
        {"--out", "a.svg", "--after", "2s"},
        {"--out", "a.svg", "--after", "inf"},
        {"--out", "a.svg", "--frame-timeout", "0"},
        {"--every", "0", "--out-dir", "d"},
        {"--every", "1"},    // no directory
        {"--out-dir", "d"},  // no interval
        {"--every", "1", "--out-dir", "d", "--out", "a.svg"},
        {"--once", "--every", "1", "--out-dir", "d"},
        {"--once", "--out", "a.svg", "--after", "1"},
        {"--out", "a.svg", "--display-bounds", "0,0,1440"},
        {"--out", "a.svg", "--display-bounds", "0,0,1440,0"},
        {"--out", "a.svg", "--display-bounds", "0,0,1440,900,5"},
        {"--out", "a.svg", "--display-bounds", "0, 0,1440,900"},
        {"--out", "a.svg", "--port", "80"},  // a port without --serve
        {"--serve", "--out", "a.svg"},
        {"--serve", "--once"},
        {"--serve", "--port", "65536"},
        {"--serve", "--port", "-1"},
        {"--serve", "--port", "http"},
    };
    for (const auto& words : refused) {
        std::string text;
        for (const auto& word : words) text += word + " ";
        SCOPED_TRACE(text);
        const auto parsed = parse(words);
        EXPECT_FALSE(parsed.options);
        EXPECT_FALSE(parsed.error.empty());
    }
}

}  // namespace
}  // namespace scene::view
