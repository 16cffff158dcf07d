#include "platform/json_object.h"

#include <gtest/gtest.h>

namespace scene {
namespace {

TEST(SortedMembersTest, FindsAddsAndStepsOverMembersInAnyOrder) {
    Json object = sortedObject({{"b", 1}, {"d", 2}, {"f", 3}});
    const Json* d = &object["d"];
    {
        SortedMembers members(object);
        members["a"] = 0;   // missing, before everything
        members["b"] = 10;  // in order
        EXPECT_EQ(&members["d"], d) << "an existing member is rewritten in place";
        members["e"] = 4;   // missing, between two, after stepping over none
        members["c"] = 5;   // out of order
        members["f"] = 30;  // in order again after the lookup
        members["g"] = 6;   // missing, at the end
    }
    EXPECT_EQ(object, (Json{{"a", 0}, {"b", 10}, {"c", 5}, {"d", 2}, {"e", 4}, {"f", 30}, {"g", 6}}));

    Json notAnObject = 7;
    SortedMembers members(notAnObject);
    members["x"] = 1;
    EXPECT_EQ(notAnObject, (Json{{"x", 1}}));
}

}  // namespace
}  // namespace scene
