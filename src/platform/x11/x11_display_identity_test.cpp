#include "platform/x11/x11_display_identity.h"

#include <gtest/gtest.h>

#include <array>
#include <regex>

namespace scene::x11 {
namespace {

TEST(DisplayIdentityTest, IsAUUIDThatFollowsEveryByteOfTheBlock) {
    std::array<std::uint8_t, 128> edid{0x00, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x00, 0x10, 0xAC, 0x42, 0x41};
    const std::string identity = displayIdentityFromEDID(edid);
    EXPECT_TRUE(
        std::regex_match(identity, std::regex("[0-9A-F]{8}-[0-9A-F]{4}-8[0-9A-F]{3}-[89AB][0-9A-F]{3}-[0-9A-F]{12}")))
        << identity;
    EXPECT_EQ(displayIdentityFromEDID(edid), identity);
    for (const std::size_t changed : {std::size_t{0}, std::size_t{15}, edid.size() - 1}) {
        auto other = edid;
        other[changed] ^= 1;
        EXPECT_NE(displayIdentityFromEDID(other), identity) << "byte " << changed;
    }
    // A block cut short is another block.
    EXPECT_NE(displayIdentityFromEDID(std::span(edid).first(127)), identity);
}

}  // namespace
}  // namespace scene::x11
