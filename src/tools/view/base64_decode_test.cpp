#include "tools/view/base64_decode.h"

#include <gtest/gtest.h>

#include "core/base64.h"

namespace scene::view {
namespace {

TEST(Base64DecodeTest, UndoesTheSamplersEncoderForEveryPaddingLength) {
    std::vector<std::uint8_t> bytes;
    for (int length = 0; length <= 260; ++length) {
        SCOPED_TRACE(length);
        EXPECT_EQ(base64Decode(base64Encode(bytes)), bytes);
        bytes.push_back(static_cast<std::uint8_t>(length * 37 + 11));
    }
}

TEST(Base64DecodeTest, RefusesAnythingButPaddedStandardAlphabet) {
    const char* refused[] = {
        "QQ",        // unpadded
        "QUJD\n",    // line break
        "QU JD",     // space
        "QUJ\"",     // quote: the text would break out of an attribute
        "QQ==QUJD",  // padding before the end
        "QQ=A",      // padding inside a group
        "Q===",      // too much padding
        "QU-_",      // URL alphabet
    };
    for (const char* text : refused) {
        SCOPED_TRACE(text);
        EXPECT_FALSE(base64Decode(text));
    }
    EXPECT_EQ(base64Decode(""), std::vector<std::uint8_t>{});
}

}  // namespace
}  // namespace scene::view
