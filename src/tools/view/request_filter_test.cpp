#include "tools/view/request_filter.h"

#include <gtest/gtest.h>

#include <set>

namespace scene::view {
namespace {

TEST(RequestFilterTest, ForwardsOnlyTheListedCommandsWordForWord) {
    for (const char* command : {"pause", "resume", "capture-select", "capture-retry", "visual-on", "visual-off",
                                "controls-on", "controls-off", "inputs-on", "inputs-off"}) {
        SCOPED_TRACE(command);
        EXPECT_EQ(forwardableCommand(command), command);
    }
    // The sampler's other commands, and the listed ones with anything around
    // them: a line break would smuggle a second command into the sampler.
    for (const char* body : {"quit", "rate 100", "capture-snapshot 1", "anchor 412:8731", "", "pause\n", "pause\nquit",
                             "pause\r", " pause", "pause ", "PAUSE", "visual"}) {
        SCOPED_TRACE(body);
        EXPECT_FALSE(forwardableCommand(body));
    }
    EXPECT_FALSE(forwardableCommand(std::string_view("pause\0quit", 10)));
    EXPECT_EQ(forwardableCommands().size(), 10u);
}

TEST(RequestFilterTest, AcceptsOnlyThisServersLoopbackNameAndPort) {
    const struct {
        const char* host;
        bool allowed;
    } cases[] = {
        {"127.0.0.1:8123", true},
        {"localhost:8123", true},
        {"LocalHost:8123", true},
        {"127.0.0.1:8124", false},  // another port
        {"127.0.0.1", false},       // no port
        {"127.0.0.1:", false},
        {"127.0.0.1:08123", false},
        {"127.0.0.1:+8123", false},
        {"127.0.0.1:8123 ", false},
        {"attacker.example:8123", false},  // a rebound name
        {"127.0.0.1.attacker.example:8123", false},
        {"localhost.:8123", false},
        {"[::1]:8123", false},  // not where it listens
        {"0.0.0.0:8123", false},
        {"", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.host);
        EXPECT_EQ(hostAllowed(c.host, 8123), c.allowed);
    }
    EXPECT_TRUE(originAllowed(std::nullopt, 8123));
    EXPECT_TRUE(originAllowed("http://127.0.0.1:8123", 8123));
    EXPECT_FALSE(originAllowed("https://127.0.0.1:8123", 8123));
    EXPECT_FALSE(originAllowed("http://attacker.example:8123", 8123));
    EXPECT_FALSE(originAllowed("null", 8123));
}

TEST(RequestFilterTest, TokensMatchWholeAndFreshOnesDiffer) {
    const std::string token = mintToken();
    ASSERT_EQ(token.size(), 32u);
    EXPECT_EQ(token.find_first_not_of("0123456789abcdef"), std::string::npos);
    EXPECT_TRUE(tokenMatches(token, token));
    EXPECT_FALSE(tokenMatches(token, token.substr(0, 31)));
    EXPECT_FALSE(tokenMatches(token, token + "0"));
    EXPECT_FALSE(tokenMatches(token, ""));
    EXPECT_FALSE(tokenMatches("", ""));
    std::set<std::string> seen{token};
    for (int i = 0; i < 8; ++i) EXPECT_TRUE(seen.insert(mintToken()).second);
}

}  // namespace
}  // namespace scene::view
