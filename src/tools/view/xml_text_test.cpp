#include "tools/view/xml_text.h"

#include <gtest/gtest.h>

namespace scene::view {
namespace {

TEST(XmlTextTest, EscapesMarkupAndReplacesWhatXmlCannotHold) {
    struct Case {
        const char* name;
        std::string text;
        std::string escaped;
    };
    const Case cases[] = {
        {"plain", "412:8731", "412:8731"},
        {"markup", "<a href=\"x\">&'", "&lt;a href=&quot;x&quot;&gt;&amp;&apos;"},
        {"an entity stays text", "&amp;", "&amp;amp;"},
        {"allowed controls", "a\tb\nc\rd", "a\tb\nc\rd"},
        {"other controls", std::string("a\0b\x1b", 4), "a?b?"},
        {"multibyte kept", "caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x98\x80", "caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x98\x80"},
        {"noncharacters", "\xef\xbf\xbe\xef\xbf\xbf", "??"},
        {"lone continuation byte", "a\x80z", "a?z"},
        {"truncated sequence", "a\xe2\x82", "a??"},
        {"overlong slash", "\xc0\xaf", "??"},
        {"surrogate", "\xed\xa0\x80", "???"},
        {"past U+10FFFF", "\xf4\x90\x80\x80", "????"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(xmlEscaped(c.text), c.escaped);
        EXPECT_EQ(xmlEscaped(xmlAllowed(c.text)), c.escaped) << "replaced once, escaped once";
    }
}

}  // namespace
}  // namespace scene::view
