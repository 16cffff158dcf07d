// Command-line parsing, standard-input decoding and line cutting.
#include <gtest/gtest.h>

#include "core/command_buffer.h"
#include "core/command_line.h"
#include "core/command_reader.h"
#include "core/commands.h"
#include "core/input_decoder.h"
#include "core/usage.h"

namespace scene {
namespace {

std::vector<std::string> takeAll(CommandBuffer& buffer) {
    std::vector<std::string> lines;
    while (auto line = buffer.takeLine()) lines.push_back(*line);
    return lines;
}

TEST(CommandLine, CollectsProcessIdsAndFlags) {
    const CommandLine line =
        parseCommandLine({"/bin/scene-sampler", "123", "--visual", "456", "abc", "-7", "99999999999", "+8", "--once"});
    EXPECT_EQ(line.excludedPIDs, (std::set<std::int32_t>{123, 456, -7, 8}));
    EXPECT_TRUE(line.visual);
    EXPECT_TRUE(line.once);
    EXPECT_FALSE(line.controls);
    EXPECT_FALSE(line.permissionStatus);
}

TEST(CommandLine, ProgramPathAndScenePathAreNeverProcessIds) {
    const CommandLine line = parseCommandLine({"42", "--scene", "77", "--controls"});
    EXPECT_TRUE(line.excludedPIDs.empty());
    EXPECT_TRUE(line.controls);
    // The platform's value is a name; a numeric one is a bad name, not a pid.
    EXPECT_TRUE(parseCommandLine({"p", "--platform", "11", "--platform", "x11"}).excludedPIDs.empty());
    EXPECT_EQ(parseCommandLine({"p", "--platform", "x11", "5"}).excludedPIDs, (std::set<std::int32_t>{5}));
}

TEST(CommandLine, NamesUnknownOptionsButNotTheValuesOfKnownOnes) {
    const CommandLine line = parseCommandLine({"p", "--scene", "--odd-name.json", "--capture-state", "--x", "--vizual",
                                               "--once", "-v", "--platform", "x11", "--help", "--later-flag"});
    EXPECT_EQ(line.unknownOptions, (std::vector<std::string>{"--vizual", "--later-flag"}));
    EXPECT_TRUE(line.help);
    EXPECT_FALSE(line.version);
    // The usage names every option there is.
    for (const std::string_view option : knownOptions())
        EXPECT_NE(usageText().find(option), std::string_view::npos) << option;
}

TEST(CommandLine, Int32Bounds) {
    EXPECT_EQ(parseInt32("2147483647"), 2147483647);
    EXPECT_EQ(parseInt32("-2147483648"), INT32_MIN);
    EXPECT_EQ(parseInt32("2147483648"), std::nullopt);
    EXPECT_EQ(parseInt32("-"), std::nullopt);
    EXPECT_EQ(parseInt32("1 "), std::nullopt);
    EXPECT_EQ(parseInt32(""), std::nullopt);
}

TEST(PassRate, ClampsAndRejects) {
    const std::pair<const char*, std::optional<std::int32_t>> cases[] = {
        {"10", 33},
        {"33", 33},
        {"34", 34},
        {"499", 499},
        {"500", 500},
        {"5000", 500},
        {"-3", 33},
        {"+100", 100},
        {"50abc", std::nullopt},
        {"", std::nullopt},
        {" 50", std::nullopt},
        {"99999999999999999999", std::nullopt},
        {"9223372036854775807", 500},
    };
    for (const auto& [argument, expected] : cases) EXPECT_EQ(commands::passRate(argument), expected) << argument;
}

TEST(InputDecoder, CarriesAnUnfinishedCharacterIntoTheNextChunk) {
    InputDecoder decoder;
    const std::string text = "anchor caf\xC3\xA9\n";  // "café"
    const std::size_t split = text.find('\xC3') + 1;
    EXPECT_EQ(decoder.decode(text.substr(0, split)), "anchor caf");
    EXPECT_EQ(decoder.decode(text.substr(split)), "\xC3\xA9\n");

    // Four-byte character split after each of its first three bytes.
    const std::string emoji = "\xF0\x9F\x98\x80";
    EXPECT_EQ(decoder.decode(emoji.substr(0, 1)), "");
    EXPECT_EQ(decoder.decode(emoji.substr(1, 1)), "");
    EXPECT_EQ(decoder.decode(emoji.substr(2, 1)), "");
    EXPECT_EQ(decoder.decode(emoji.substr(3) + "x"), emoji + "x");
}

TEST(InputDecoder, DropsInvalidChunksOnly) {
    InputDecoder decoder;
    EXPECT_EQ(decoder.decode("pause\n\xFF"), std::nullopt);
    EXPECT_EQ(decoder.decode("\xC0\xAF"), std::nullopt);      // overlong
    EXPECT_EQ(decoder.decode("\xED\xA0\x80"), std::nullopt);  // surrogate
    EXPECT_EQ(decoder.decode("\xC3"
                             "a"),
              std::nullopt);  // broken sequence mid-chunk
    EXPECT_EQ(decoder.decode("resume\n"), "resume\n");
    // A carried prefix that the next chunk does not go on with is dropped on
    // its own; the chunk is decoded by itself.
    EXPECT_EQ(decoder.decode("x\xE2\x82"), "x");
    EXPECT_EQ(decoder.decode("y\n"), "y\n");
    EXPECT_EQ(decoder.decode("\xE2"), "");
    EXPECT_EQ(decoder.decode("\x82\xFF"), std::nullopt);  // invalid either way
    EXPECT_EQ(decoder.decode("quit\n"), "quit\n");
}

TEST(CommandReader, CutsDecodedLinesAndLooksNoFurtherThanQuit) {
    struct Case {
        std::vector<std::string> chunks;
        std::vector<std::string> lines;
        bool quit;
    };
    const Case cases[] = {
        // A broken character at the end of one chunk costs nothing of the next.
        {{"controls-on\n\xE2", "quit\n"}, {"controls-on", "quit"}, true},
        {{"anchor \xE2", "\npause\n", "quit\n"}, {"anchor ", "pause", "quit"}, true},
        {{"pau", "se\nquit\nresume\n", "pause\n"}, {"pause", "quit"}, true},
        {{"quit\r\n", "quit \n"}, {"quit\r\nquit "}, false},
    };
    for (const Case& c : cases) {
        CommandReader reader;
        std::vector<std::string> lines;
        for (const std::string& chunk : c.chunks) {
            for (std::string& line : reader.take(chunk)) lines.push_back(std::move(line));
        }
        EXPECT_EQ(lines, c.lines) << c.chunks.front();
        EXPECT_EQ(reader.quitReceived(), c.quit) << c.chunks.front();
    }
}

TEST(CommandBuffer, CutsLinesAcrossChunks) {
    CommandBuffer buffer;
    buffer.append("pa");
    EXPECT_TRUE(takeAll(buffer).empty());
    buffer.append("use\nresume\nanch");
    EXPECT_EQ(takeAll(buffer), (std::vector<std::string>{"pause", "resume"}));
    EXPECT_EQ(buffer.pending(), "anch");
    buffer.append("or \n\n");
    EXPECT_EQ(takeAll(buffer), (std::vector<std::string>{"anchor ", ""}));
}

TEST(CommandBuffer, CarriageReturnLineFeedDoesNotEndALine) {
    CommandBuffer buffer;
    buffer.append("pause\r\nresume\n");
    EXPECT_EQ(takeAll(buffer), (std::vector<std::string>{"pause\r\nresume"}));
    buffer.append("quit\r");
    EXPECT_TRUE(takeAll(buffer).empty());
    buffer.append("\nx\n");
    EXPECT_EQ(takeAll(buffer), (std::vector<std::string>{"quit\r\nx"}));
}

TEST(CommandBuffer, TakesEveryLineOfALargeChunk) {
    CommandBuffer buffer;
    std::string chunk;
    std::vector<std::string> expected;
    for (int i = 0; i < 20000; ++i) {
        chunk += i % 2 == 0 ? "pause\n" : "a\r\nb\n";
        expected.push_back(i % 2 == 0 ? "pause" : "a\r\nb");
    }
    buffer.append(chunk + "resu");
    EXPECT_EQ(buffer.takeLine(), "pause");
    EXPECT_EQ(buffer.pending().size(), chunk.size() + 4 - 6) << "what is taken is no longer pending";
    expected.erase(expected.begin());
    EXPECT_EQ(takeAll(buffer), expected);
    EXPECT_EQ(buffer.pending(), "resu");
    buffer.append("me\r");
    buffer.append("\n\n");
    EXPECT_EQ(takeAll(buffer), (std::vector<std::string>{"resume\r\n"}));
}

TEST(CommandBuffer, DropsAnOverlongLineAndKeepsTheNext) {
    CommandBuffer buffer(16);
    buffer.append(std::string(10, 'a'));
    EXPECT_TRUE(takeAll(buffer).empty());
    buffer.append(std::string(10, 'b'));
    EXPECT_TRUE(takeAll(buffer).empty());
    EXPECT_TRUE(buffer.pending().empty());
    buffer.append("still the same line\r");
    buffer.append("\nstill\nquit\n");
    EXPECT_EQ(takeAll(buffer), (std::vector<std::string>{"quit"}));
    buffer.append("pause\n");
    EXPECT_EQ(takeAll(buffer), (std::vector<std::string>{"pause"}));
}

}  // namespace
}  // namespace scene
