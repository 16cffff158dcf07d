#include "platform/simulated/simulated_stream.h"

#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/asio_runtime.h"
#include "platform/json_read.h"
#include "platform/manual_runtime.h"
#include "platform/simulated/scene_loader.h"

namespace scene::simulated {
namespace {

struct Delivered {
    double at = 0;
    SampleBuffer buffer;
};

class RecordingOutput final : public StreamOutput {
public:
    explicit RecordingOutput(ManualRuntime& runtime) : runtime_(runtime) {}
    void didOutputSampleBuffer(CaptureStream& stream, const SampleBuffer& buffer) override {
        from.push_back(&stream);
        buffers.push_back({runtime_.now(), buffer});
    }
    std::size_t countSince(double start) const {
        std::size_t count = 0;
        for (const auto& delivered : buffers) count += delivered.at >= start ? 1 : 0;
        return count;
    }

    std::vector<CaptureStream*> from;
    std::vector<Delivered> buffers;

private:
    ManualRuntime& runtime_;
};

class RecordingDelegate final : public StreamDelegate {
public:
    void didStopWithError(CaptureStream&, const PlatformError& error) override { errors.push_back(error); }
    std::vector<PlatformError> errors;
};

// Completions record their outcome; `calls` tells a missing call from a success.
struct Outcome {
    int calls = 0;
    std::optional<PlatformError> error;
    CaptureCompletion completion() {
        return [this](std::optional<PlatformError> result) {
            ++calls;
            error = std::move(result);
        };
    }
};

const char* const kScene = R"({
    "format": 1,
    "displays": [{"id": 1, "bounds": [0, 0, 200, 100], "background": "#000080"},
                 {"id": 2, "bounds": [200, 0, 100, 100]}],
    "windows": [{"pid": 5, "number": 1, "bounds": [20, 10, 100, 50], "fill": "#ff0000"}],
    "stream": STREAM
})";

class SimulatedStreamTest : public ::testing::Test {
protected:
    void load(const std::string& stream) {
        std::string text = kScene;
        text.replace(text.find("STREAM"), 6, stream);
        auto result = loadScene(text, "stream.json", runtime_, {4242, [] { return 1; }});
        ASSERT_EQ(result.error, "");
        platform_ = std::move(result.platform);
    }

    std::shared_ptr<CaptureStream> open(RecordingOutput& output, RecordingDelegate& delegate, int width = 200,
                                        double minimumFrameInterval = 0.2) {
        StreamConfiguration configuration;
        configuration.width = width;
        configuration.height = width / 2;
        configuration.minimumFrameInterval = minimumFrameInterval;
        auto stream = platform_->screenCapture().createStream({ContentFilter::Style::display, {0, 0, 200, 100}, {}},
                                                              configuration, delegate);
        EXPECT_EQ(stream->addStreamOutput(output, *outputQueue_), std::nullopt);
        return stream;
    }

    std::shared_ptr<CaptureStream> start(RecordingOutput& output, RecordingDelegate& delegate, int width = 200,
                                         double minimumFrameInterval = 0.2) {
        auto stream = open(output, delegate, width, minimumFrameInterval);
        Outcome started;
        stream->startCapture(started.completion());
        EXPECT_EQ(started.calls, 0);  // completions never run inside the call
        runtime_.runUntilIdle();
        EXPECT_EQ(started.calls, 1);
        EXPECT_EQ(started.error, std::nullopt);
        return stream;
    }

    SimulatedScreenCapture& capture() { return dynamic_cast<SimulatedScreenCapture&>(platform_->screenCapture()); }
    void apply(const std::string& action) { ASSERT_EQ(platform_->apply(Json::parse(action)), "") << action; }

    ManualRuntime runtime_;
    std::unique_ptr<Queue> outputQueue_ = runtime_.makeSerialQueue("output");
    std::unique_ptr<SimulatedPlatform> platform_;
    RecordingOutput output_{runtime_};
    RecordingDelegate delegate_;
};

TEST_F(SimulatedStreamTest, DeliversAtTheSlowerOfTheSceneRateAndTheMinimumInterval) {
    struct Case {
        double fps, minimumFrameInterval;
        std::size_t perTwoSeconds;
    };
    for (const Case& c : std::vector<Case>{{5, 0.2, 10}, {30, 0.2, 10}, {2, 0.2, 4}, {10, 0, 20}}) {
        SCOPED_TRACE(std::to_string(c.fps) + " fps, interval " + std::to_string(c.minimumFrameInterval));
        load(R"({"fps": )" + std::to_string(c.fps) + "}");
        const double begin = runtime_.now();
        RecordingOutput output(runtime_);
        auto stream = start(output, delegate_, 200, c.minimumFrameInterval);
        ASSERT_FALSE(output.buffers.empty());
        EXPECT_EQ(output.buffers.front().at, begin);  // the first frame follows the start at once
        runtime_.advance(1.999);
        EXPECT_EQ(output.buffers.size(), c.perTwoSeconds);
        EXPECT_EQ(output.from.front(), stream.get());
    }
}

TEST_F(SimulatedStreamTest, BuffersCarryStatusGeometryAgeAndRenderedPixels) {
    load(R"({"latency": 0.05})");
    auto stream = start(output_, delegate_, 400);
    ASSERT_EQ(output_.buffers.size(), 1u);
    const Delivered& first = output_.buffers[0];
    EXPECT_DOUBLE_EQ(first.buffer.presentationTime, first.at - 0.05);
    EXPECT_DOUBLE_EQ(platform_->screenCapture().hostTimeNow(), runtime_.now());
    ASSERT_TRUE(first.buffer.attachments);
    const Json& info = *first.buffer.attachments;
    EXPECT_EQ(json_read::integer(info, "SCStreamFrameInfoStatus"), 0);
    EXPECT_EQ(info["SCStreamFrameInfoContentRect"],
              Json::parse(R"({"X": 0.0, "Y": 0.0, "Width": 200.0, "Height": 100.0})"));
    EXPECT_EQ(info["SCStreamFrameInfoScreenRect"],
              Json::parse(R"({"X": 0.0, "Y": 0.0, "Width": 200.0, "Height": 100.0})"));
    EXPECT_EQ(info["SCStreamFrameInfoScaleFactor"], 2.0);
    EXPECT_EQ(info["SCStreamFrameInfoContentScale"], 1.0);

    ASSERT_TRUE(first.buffer.imageBuffer);
    const PixelBuffer& pixels = *first.buffer.imageBuffer;
    EXPECT_EQ(pixels.pixelFormat, kPixelFormatBGRA);
    EXPECT_EQ(pixels.width, 400);
    EXPECT_EQ(pixels.height, 200);
    EXPECT_EQ(pixels.bytesPerRow, 1600u);
    ASSERT_TRUE(pixels.bytes);
    ASSERT_EQ(pixels.bytes->size(), 1600u * 200);
    const auto bgra = [&](int x, int y) {
        const std::uint8_t* p = pixels.bytes->data() + y * pixels.bytesPerRow + x * 4;
        return std::vector<int>{p[0], p[1], p[2], p[3]};
    };
    EXPECT_EQ(bgra(100, 50), (std::vector<int>{0, 0, 0xff, 0xff}));   // the window's fill
    EXPECT_EQ(bgra(300, 150), (std::vector<int>{0x80, 0, 0, 0xff}));  // the display's background

    // Statuses without new content carry no pixels; the status follows the scene.
    apply(R"({"do": "stream", "status": 1})");
    runtime_.advance(0.2);
    ASSERT_EQ(output_.buffers.size(), 2u);
    EXPECT_EQ(json_read::integer(*output_.buffers[1].buffer.attachments, "SCStreamFrameInfoStatus"), 1);
    EXPECT_FALSE(output_.buffers[1].buffer.imageBuffer);
}

TEST_F(SimulatedStreamTest, OutputAndStartFailuresCarryTheSceneCodes) {
    load(R"({"addOutputError": -3802, "startError": -3803})");
    StreamConfiguration configuration;
    configuration.width = 200;
    configuration.height = 100;
    auto stream = platform_->screenCapture().createStream({ContentFilter::Style::display, {0, 0, 200, 100}, {}},
                                                          configuration, delegate_);
    EXPECT_EQ(stream->addStreamOutput(output_, *outputQueue_), (PlatformError{"SCStreamErrorDomain", -3802}));

    apply(R"({"do": "stream", "addOutputError": null})");
    EXPECT_EQ(stream->addStreamOutput(output_, *outputQueue_), std::nullopt);
    Outcome started;
    stream->startCapture(started.completion());
    runtime_.advance(2);
    EXPECT_EQ(started.calls, 1);
    EXPECT_EQ(started.error, (PlatformError{"SCStreamErrorDomain", -3803}));
    EXPECT_TRUE(output_.buffers.empty());
}

TEST_F(SimulatedStreamTest, StopEndsDeliveryAndCompletesAsTheSceneSays) {
    struct Case {
        std::string stop;
        int calls;
        std::optional<PlatformError> error;
    };
    for (const Case& c : std::vector<Case>{{R"("completes")", 1, std::nullopt},
                                           {R"("hangs")", 0, std::nullopt},
                                           {"-3808", 1, PlatformError{"SCStreamErrorDomain", -3808}}}) {
        SCOPED_TRACE(c.stop);
        load(R"({"stop": )" + c.stop + "}");
        RecordingOutput output(runtime_);
        auto stream = start(output, delegate_);
        runtime_.advance(0.5);
        const std::size_t before = output.buffers.size();
        Outcome stopped;
        stream->stopCapture(stopped.completion());
        EXPECT_EQ(stopped.calls, 0);
        runtime_.advance(5);
        EXPECT_EQ(stopped.calls, c.calls);
        EXPECT_EQ(stopped.error, c.error);
        EXPECT_EQ(output.buffers.size(), before);
    }
}

TEST_F(SimulatedStreamTest, StreamActionStallsAndRetimesARunningStream) {
    load(R"({"fps": 5})");
    auto stream = start(output_, delegate_, 200, 0.05);
    runtime_.advance(0.999);
    EXPECT_EQ(output_.buffers.size(), 5u);

    apply(R"({"do": "stream", "deliver": false})");
    const double stall = runtime_.now();
    runtime_.advance(3);
    EXPECT_EQ(output_.countSince(stall), 0u);  // open, but silent

    apply(R"({"do": "stream", "deliver": true, "fps": 20})");
    const double resumed = runtime_.now();
    runtime_.advance(0.999);
    EXPECT_EQ(output_.countSince(resumed), 20u);  // the new rate applies now, capped by the interval

    apply(R"({"do": "stream", "fps": 1})");
    const double slowed = runtime_.now();
    runtime_.advance(2.5);
    EXPECT_EQ(output_.countSince(slowed), 3u);  // the slot already planned, then one a second
}

TEST_F(SimulatedStreamTest, StreamErrorStopsOnlyThePrimaryStreamAndReachesItsDelegate) {
    load("{}");
    RecordingOutput olderOutput(runtime_);
    RecordingDelegate olderDelegate;
    auto older = start(olderOutput, olderDelegate);
    auto newer = start(output_, delegate_);
    EXPECT_EQ(capture().primaryStream(), newer);

    apply(R"({"do": "stream-error", "code": -3815})");
    EXPECT_TRUE(delegate_.errors.empty());  // told from the service's queue, not from the call
    runtime_.runUntilIdle();
    EXPECT_EQ(delegate_.errors, (std::vector<PlatformError>{{"SCStreamErrorDomain", -3815}}));
    EXPECT_TRUE(olderDelegate.errors.empty());
    const double after = runtime_.now();
    runtime_.advance(1.1);
    EXPECT_EQ(output_.countSince(after + 0.001), 0u);
    EXPECT_EQ(olderOutput.countSince(after + 0.001), 5u);

    // The older stream is primary now; a stream stopped on its own may start again.
    apply(R"({"do": "stream-error", "code": -3817, "domain": "OtherDomain"})");
    runtime_.runUntilIdle();
    EXPECT_EQ(olderDelegate.errors, (std::vector<PlatformError>{{"OtherDomain", -3817}}));
    Outcome restarted;
    newer->startCapture(restarted.completion());
    runtime_.advance(1);
    EXPECT_EQ(restarted.calls, 1);
    EXPECT_EQ(capture().primaryStream(), newer);
    EXPECT_GT(output_.countSince(after + 1.5), 0u);

    newer->stopCapture({});
    apply(R"({"do": "stream-error", "code": -3815})");
    runtime_.advance(1);
    EXPECT_EQ(delegate_.errors.size(), 1u);  // nothing runs: no primary, nobody told
    EXPECT_EQ(olderDelegate.errors.size(), 1u);
}

TEST_F(SimulatedStreamTest, AStreamDestroyedBeforeItsStartCompletesLeavesNothingBehind) {
    load("{}");
    auto stream = open(output_, delegate_);
    Outcome started;
    stream->startCapture(started.completion());
    stream.reset();
    runtime_.advance(1);
    EXPECT_EQ(started.calls, 0);
    EXPECT_TRUE(output_.buffers.empty());
}

// On the production runtime every queue is a thread of its own: streams must
// die safely wherever their last holder lets go, and so must the service.
TEST(SimulatedStreamThreadsTest, StreamsAndTheServiceDieSafelyWhileFramesFlow) {
    class CountingOutput final : public StreamOutput {
    public:
        void didOutputSampleBuffer(CaptureStream&, const SampleBuffer&) override {
            if (++count == 3) {
                // The last holder lets go on the output queue. It stops the
                // stream first: a frame slot under way on the service's queue
                // holds the stream a moment longer and could still post to the
                // output's queue, which the test then destroys.
                if (held) held->stopCapture({});
                held.reset();
                third.set_value();
            }
        }
        int count = 0;
        std::shared_ptr<CaptureStream> held;
        std::promise<void> third;
    };
    constexpr auto kPatience = std::chrono::seconds(10);

    AsioRuntime runtime;
    auto outputQueue = runtime.makeSerialQueue("output");
    auto loaded = loadScene(R"({"format": 1, "stream": {"fps": 100}})", "threads.json", runtime);
    ASSERT_EQ(loaded.error, "");
    RecordingDelegate delegate;
    StreamConfiguration configuration;
    configuration.width = 1440;
    configuration.height = 900;
    const ContentFilter filter{ContentFilter::Style::display, {0, 0, 1440, 900}, {1}};

    for (int round = 0; round < 2; ++round) {
        CountingOutput output;
        auto stream = loaded.platform->screenCapture().createStream(filter, configuration, delegate);
        ASSERT_EQ(stream->addStreamOutput(output, *outputQueue), std::nullopt);
        if (round == 0) output.held = stream;
        auto third = output.third.get_future();
        stream->startCapture({});
        if (round == 0) {
            stream.reset();
            ASSERT_EQ(third.wait_for(kPatience), std::future_status::ready);
        } else {
            ASSERT_EQ(third.wait_for(kPatience), std::future_status::ready);
            loaded.platform.reset();  // the service goes first; the stream outlives it
            stream.reset();
        }
        outputQueue.reset();  // drains: nothing may still be on its way to `output`
        outputQueue = runtime.makeSerialQueue("output");
    }
}

}  // namespace
}  // namespace scene::simulated
