#include "platform/number_format.h"

#include <cmath>
#include <cstdlib>
#include <limits>
#include <string>

#include <gtest/gtest.h>

namespace scene {
namespace {

TEST(NumberFormatTest, IdentityNumberKeepsAFractionalPart) {
    struct Case {
        double value;
        const char* expected;
    };
    const Case cases[] = {
        {640.0, "640.0"},
        {12.5, "12.5"},
        {0.1, "0.1"},
        {-3.0, "-3.0"},
        {-0.25, "-0.25"},
        {0.0, "0.0"},
        {-0.0, "-0.0"},
        {0.1 + 0.2, "0.30000000000000004"},
        {200000.0, "200000.0"},
        {1e15, "1000000000000000.0"},
        {0.0001, "0.0001"},
        {1e16, "1e+16"},
        {1e-5, "1e-05"},
        {-2.5e20, "-2.5e+20"},
        {std::numeric_limits<double>::infinity(), "inf"},
    };
    for (const Case& c : cases) EXPECT_EQ(identityNumber(c.value), c.expected) << c.value;
}

TEST(NumberFormatTest, IdentityNumberReadsBackAsTheSameDouble) {
    const double values[] = {1.0 / 3, 2.0 / 3, 1512.333333, 123456.789, 9007199254740991.0, 1e300,
                             5e-324, -1e-300, 0.000123, std::nextafter(640.0, 641.0)};
    for (const double value : values) {
        const std::string text = identityNumber(value);
        EXPECT_EQ(std::strtod(text.c_str(), nullptr), value) << text;
    }
}

}  // namespace
}  // namespace scene
