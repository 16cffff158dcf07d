#include "tools/view/sampler_lines.h"

#include <gtest/gtest.h>

#include "core/base64.h"
#include "core/jpeg_encoder.h"
#include "platform/image.h"
#include "tools/view/jpeg_frame.h"

namespace scene::view {
namespace {

TEST(SamplerLinesTest, TellsSnapshotsFromRepliesByTheirKind) {
    using Kind = SamplerLine::Kind;
    struct Case {
        const char* line;
        Kind kind;
    };
    const Case cases[] = {
        {R"({"status":"ready","windows":[{"id":"1:2","kind":"capture-snapshot"}]})", Kind::snapshot},
        {R"({"status":"unavailable","windows":[]})", Kind::snapshot},
        {R"({"kind":"capture-snapshot","requestId":"1","error":"selection-unavailable"})", Kind::captureReply},
        {R"({"kind":"something-else","requestId":"1"})", Kind::other},
        {R"({"kind":7})", Kind::other},
        {R"({"accessibility":true,"screen":true,"selectedCaptureSupported":true})", Kind::snapshot},
        {R"([{"status":"ready"}])", Kind::other},
        {R"({"status":"ready")", Kind::other},
        {"", Kind::other},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.line);
        EXPECT_EQ(classifySamplerLine(c.line).kind, c.kind);
    }
}

TEST(SamplerLinesTest, ReadsSuccessAndErrorReplies) {
    const auto success = captureReply(Json::parse(
        R"({"kind":"capture-snapshot","requestId":"7","displayID":2,"image":"QUJD","generation":2,"consentID":1,"observedAtMS":1.5e12})"));
    ASSERT_TRUE(success);
    EXPECT_EQ(success->requestId, "7");
    EXPECT_EQ(success->image, "QUJD");
    EXPECT_EQ(success->displayID, 2u);
    EXPECT_EQ(success->observedAtMS, 1.5e12);
    EXPECT_FALSE(success->error);

    const auto refusal =
        captureReply(Json::parse(R"({"kind":"capture-snapshot","requestId":"8","error":"selection-unavailable"})"));
    ASSERT_TRUE(refusal);
    EXPECT_EQ(refusal->error, "selection-unavailable");
    EXPECT_FALSE(refusal->image);

    EXPECT_FALSE(captureReply(Json::parse(R"({"kind":"capture-snapshot","requestId":8,"error":"x"})")));
    EXPECT_FALSE(captureReply(Json::parse(R"({"kind":"capture-snapshot","requestId":"8"})")));
}

TEST(JpegFrameTest, ReadsThePictureSizeAndRefusesWhatIsNotAJpeg) {
    const auto jpeg = encodeJPEG(Image::filled(320, 200, 0xFF102030));
    ASSERT_TRUE(jpeg);
    const auto frame = jpegFrame(base64Encode(*jpeg));
    ASSERT_TRUE(frame);
    EXPECT_EQ(frame->width, 320);
    EXPECT_EQ(frame->height, 200);

    const std::vector<std::uint8_t> notJpeg(64, 0x42);
    EXPECT_FALSE(jpegFrame(base64Encode(notJpeg)));
    EXPECT_FALSE(jpegFrame(""));
    EXPECT_FALSE(jpegFrame(base64Encode(*jpeg) + "\""));
}

}  // namespace
}  // namespace scene::view
