#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "selected_capture/fake_capture_for_test.h"
#include "selected_capture/selected_capture_session.h"

namespace scene {
namespace {

enum Status { complete = 0, idle = 1, blank = 2, suspended = 3, started = 4, stopped = 5 };

class SelectedFrameIntakeTest : public ::testing::Test, protected capture_fakes::SessionHarness {
protected:
    SelectedFrameIntakeTest() { choose(); }

    std::uint64_t count(const std::uint64_t& counter) {
        const std::lock_guard lock(session.deliveryLock);
        return counter;
    }
};

TEST_F(SelectedFrameIntakeTest, FirstCompleteFrameMakesTheStreamReady) {
    const auto generation = session.generation;
    transitions = 0;
    deliver(started, 0.1);

    ASSERT_TRUE(session.latest);
    EXPECT_EQ(session.state, "ready");
    EXPECT_EQ(session.generation, generation) << "becoming ready is no transition";
    EXPECT_EQ(transitions, 0);
    EXPECT_EQ(session.frames, 1u);
    EXPECT_EQ(session.latest->sequence, 1u);
    EXPECT_EQ(session.latest->displayID, kDisplay);
    EXPECT_EQ(session.latest->bounds, kBounds);
    EXPECT_DOUBLE_EQ(session.latest->observed, runtime.now() - 0.1);
    EXPECT_EQ(session.latest->image.width(), 2);
    EXPECT_TRUE(session.current());
    EXPECT_EQ(session.health.lastFrame, session.latest->observed);

    deliver(complete);
    EXPECT_EQ(session.frames, 2u);
    const auto names = eventNames();
    EXPECT_EQ(std::count(names.begin(), names.end(), "first-frame"), 1);
}

TEST_F(SelectedFrameIntakeTest, BuffersOutsideTheAgeWindowAreCountedAndDropped) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    struct Case {
        const char* name;
        double age;
        bool published;
    };
    const Case cases[] = {
        {"0.8 s old", 0.8, false},
        {"at the fresh limit", 0.7, false},
        {"just fresh", 0.69, true},
        {"0.05 s in the future", -0.05, true},
        {"0.2 s in the future", -0.2, false},
        {"no time", nan, false},
    };
    std::uint64_t rejected = 0;
    std::uint64_t buffers = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const auto frames = session.frames;
        deliver(complete, c.age);
        ++buffers;
        rejected += c.published ? 0 : 1;
        EXPECT_EQ(session.frames, frames + (c.published ? 1 : 0));
        EXPECT_EQ(count(session.rawBuffers), buffers);
        EXPECT_EQ(count(session.ageRejectedBuffers), rejected);
        if (c.published) {
            EXPECT_DOUBLE_EQ(session.latest->observed, runtime.now() - std::max(0.0, c.age))
                << "a frame from the future counts as taken now";
        }
    }
    EXPECT_EQ(session.metrics().at("bufferStatuses"), (Json{{"0", 6u}}));
}

TEST_F(SelectedFrameIntakeTest, OneFrameInFlightAtATime) {
    primary().deliver(buffer(complete));
    primary().deliver(buffer(complete));
    runtime.runUntilIdle();
    EXPECT_EQ(session.frames, 1u) << "the second buffer came while the first was on its way";
    EXPECT_EQ(count(session.rawBuffers), 2u);

    deliver(complete);
    EXPECT_EQ(session.frames, 2u) << "the way is free again";
}

TEST_F(SelectedFrameIntakeTest, IdleFramesRepeatTheLastNewPixels) {
    deliver(idle);
    EXPECT_EQ(session.frames, 0u) << "nothing to repeat yet";
    EXPECT_EQ(session.state, "starting");

    deliver(complete);
    const Image pixels = session.latest->image;
    runtime.advance(0.2);
    deliver(idle);
    EXPECT_EQ(session.frames, 2u);
    EXPECT_EQ(session.latest->sequence, 2u);
    EXPECT_EQ(session.latest->observed, runtime.now());
    EXPECT_EQ(session.latest->image.row(0), pixels.row(0));
    EXPECT_EQ(session.retained->sequence, 1u);
}

TEST_F(SelectedFrameIntakeTest, FramesWithoutPixelsInterruptUntilTheNextCompleteFrame) {
    for (const int status : {blank, suspended, stopped}) {
        SCOPED_TRACE(status);
        deliver(complete);
        ASSERT_EQ(session.state, "ready");
        deliver(status);
        EXPECT_EQ(session.state, "interrupted");
        EXPECT_FALSE(session.current());
        EXPECT_FALSE(session.retained);
        EXPECT_EQ(session.displayState(), "interrupted");

        const auto generation = session.generation;
        deliver(status);
        EXPECT_EQ(session.generation, generation) << "nothing published, nothing to withdraw";
    }
    deliver(complete);
    EXPECT_EQ(session.state, "ready");
    EXPECT_TRUE(session.current());
}

TEST_F(SelectedFrameIntakeTest, FramesAreNotPublishedWhileCaptureCannotShowThem) {
    deliver(complete);
    session.setPaused(true);
    const auto frames = session.frames;
    deliver(complete);
    EXPECT_EQ(session.frames, frames);
    EXPECT_EQ(count(session.rawBuffers), 2u);
    EXPECT_EQ(session.state, "interrupted");

    session.setPaused(false);
    session.select();
    deliver(complete);
    EXPECT_EQ(session.frames, frames) << "nor while the picker shows";
}

TEST_F(SelectedFrameIntakeTest, AFrameStampedBeforeATransitionIsDropped) {
    primary().deliver(buffer(complete));
    // Queued behind the intake, ahead of the frame it sends: the resume
    // cannot bring back a frame stamped before the pause.
    runtime.mainQueue().post([this] {
        session.setPaused(true);
        session.setPaused(false);
    });
    runtime.runUntilIdle();
    EXPECT_EQ(session.frames, 0u);
}

TEST_F(SelectedFrameIntakeTest, UnreadablePixelsAreCountedAndFreeTheWay) {
    SampleBuffer broken = buffer(complete);
    broken.imageBuffer->pixelFormat = 875704422;
    primary().deliver(broken);
    runtime.runUntilIdle();
    EXPECT_EQ(session.frameCopyFailures, 1u);
    EXPECT_EQ(session.frames, 0u);

    SampleBuffer missing = buffer(complete);
    missing.imageBuffer.reset();
    primary().deliver(missing);
    runtime.runUntilIdle();
    EXPECT_EQ(session.frameCopyFailures, 1u) << "no pixel buffer at all is an interruption";
    EXPECT_EQ(session.state, "interrupted");

    deliver(complete);
    EXPECT_EQ(session.frames, 1u);
}

}  // namespace
}  // namespace scene
