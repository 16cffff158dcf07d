#include "tools/view/event_frame.h"

#include <gtest/gtest.h>

namespace scene::view {
namespace {

// What a browser reads back is the data with every kind of line break turned
// into a line feed; a break left inside a field would end it early or start a
// field the page never sent.
TEST(EventFrameTest, SplitsDataAtEveryLineBreakAndEndsWithABlankLine) {
    const struct {
        const char* name;
        const char* data;
        const char* framed;
    } cases[] = {
        {"snapshot", R"({"windows":[]})", "event: snapshot\ndata: {\"windows\":[]}\n\n"},
        {"", "plain", "data: plain\n\n"},
        {"still", "", "event: still\ndata: \n\n"},
        {"a", "one\ntwo\r\nthree\rfour", "event: a\ndata: one\ndata: two\ndata: three\ndata: four\n\n"},
        {"a", "trailing\n", "event: a\ndata: trailing\ndata: \n\n"},
        {"a", "\r\n\r\n", "event: a\ndata: \ndata: \ndata: \n\n"},
        {"a", "\n\r", "event: a\ndata: \ndata: \ndata: \n\n"},  // a line feed, then a lone carriage return
        {"two\nfields", "x", "event: two fields\ndata: x\n\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.data);
        EXPECT_EQ(serverSentEvent(c.name, c.data), c.framed);
    }
    EXPECT_EQ(serverSentComment("idle\nevent: forged"), ": idle event: forged\n\n");
    EXPECT_EQ(serverSentRetry(1000), "retry: 1000\n\n");
}

}  // namespace
}  // namespace scene::view
