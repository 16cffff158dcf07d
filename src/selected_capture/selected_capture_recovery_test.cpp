#include <gtest/gtest.h>

#include <algorithm>
#include <functional>

#include "selected_capture/fake_capture_for_test.h"
#include "selected_capture/selected_capture_session.h"

namespace scene {
namespace {

using capture_fakes::FakeStream;

const PlatformError kInterrupted{"SCStreamErrorDomain", -3815};

class SelectedCaptureRecoveryTest : public ::testing::Test, protected capture_fakes::SessionHarness {
protected:
    SelectedCaptureRecoveryTest() { choose(); }

    bool recorded(const std::string& event) {
        const auto names = eventNames();
        return std::find(names.begin(), names.end(), event) != names.end();
    }
    std::size_t streamCount() const { return platform.capture.streams.size(); }
};

TEST_F(SelectedCaptureRecoveryTest, NoFirstFrameReplacesTheTransport) {
    FakeStream& old = primary();
    passes(11.9);
    EXPECT_EQ(session.stream.get(), &old);

    for (int pass = 0; session.stream && pass < 10; ++pass) passes(kPassInterval);
    ASSERT_FALSE(session.stream);
    const double replacedAt = runtime.now();
    EXPECT_GE(replacedAt, 1012.0 - 1e-9) << "at the first pass at or after 12 s";
    EXPECT_LT(replacedAt, 1012.0 + kPassInterval);
    runtime.runUntilIdle();  // the old stream's stop answers
    EXPECT_EQ(session.state, "starting");
    EXPECT_EQ(session.recoveryReason, "start-without-frames");
    EXPECT_EQ(session.health.attempts, 1);
    EXPECT_EQ(session.totalRecoveries, 1);
    EXPECT_EQ(session.transportReplacements, 1);
    EXPECT_EQ(old.stopRequests, 1);
    EXPECT_TRUE(recorded("transport-retiring"));
    EXPECT_TRUE(recorded("transport-retired"));
    EXPECT_FALSE(session.retiringStream);
    EXPECT_EQ(session.metrics().at("activeStreams"), 0) << "old one stopped, new one not made yet";

    // The stop completed at once; the new stream comes two seconds later.
    runtime.advanceTo(replacedAt + 1.99);
    EXPECT_EQ(streamCount(), 1u);
    runtime.advanceTo(replacedAt + 2.0);
    ASSERT_EQ(streamCount(), 2u);
    EXPECT_EQ(session.stream.get(), &newest());
    EXPECT_EQ(session.starts, 2u);
    EXPECT_EQ(session.state, "starting");

    deliver();
    EXPECT_EQ(session.state, "ready");
}

TEST_F(SelectedCaptureRecoveryTest, ThreeReplacementsThenTheSelectionIsGivenUp) {
    deliver();  // the first stream stalls after a frame, the others never deliver
    for (int replacement = 1; replacement <= 3; ++replacement) {
        passes(12.1);
        EXPECT_EQ(session.transportReplacements, replacement);
        EXPECT_EQ(session.recoveryReason, replacement == 1 ? "frames-stalled" : "start-without-frames");
        passes(2.0);
        ASSERT_EQ(streamCount(), static_cast<std::size_t>(replacement + 1));
    }
    passes(12.1);
    EXPECT_EQ(session.state, "failed");
    EXPECT_EQ(session.recoveryReason, "recovery-exhausted");
    EXPECT_EQ(session.transportReplacements, 3);
    EXPECT_FALSE(session.selectedFilter);
    EXPECT_EQ(newest().stopRequests, 1);
}

TEST_F(SelectedCaptureRecoveryTest, ReplacementWhoseOldStreamWillNotStop) {
    struct Case {
        const char* name;
        FakeStream::Answer answer;
        double failsAfter;
        const char* reason;
        std::optional<std::int64_t> errorCode;
    };
    const Case cases[] = {
        {"stop never answers", FakeStream::Answer::never, 5.0, "transport-stop-timeout", std::nullopt},
        {"stop fails", FakeStream::Answer::fail, 0.0, "transport-stop-error", -3802},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        capture_fakes::SessionHarness h;
        h.platform.capture.stopAnswer = c.answer;
        h.choose();
        FakeStream& old = h.primary();
        h.passes(12.1);
        ASSERT_GE(old.stopRequests, 1);
        double replacedAt = 0;
        for (const Json& event : h.session.events)
            if (event.at("event") == "transport-retiring") replacedAt = event.at("uptime").get<double>();
        ASSERT_NE(replacedAt, 0);
        if (c.failsAfter > 0) {
            ASSERT_EQ(h.session.retiringStream.get(), &old);
            EXPECT_EQ(h.session.metrics().at("activeStreams"), 1);
            EXPECT_EQ(h.session.metrics().at("transportRetiring"), true);
            h.runtime.advanceTo(replacedAt + c.failsAfter - 0.01);
            EXPECT_EQ(h.session.state, "starting");
        }
        h.runtime.advanceTo(replacedAt + c.failsAfter);
        EXPECT_EQ(h.session.state, "failed");
        EXPECT_EQ(h.session.recoveryReason, c.reason);
        EXPECT_EQ(h.session.lastErrorCode, c.errorCode);
        EXPECT_EQ(h.platform.capture.streams.size(), 1u) << "no new stream";

        // An answer after the decision changes nothing.
        const auto events = h.session.events.size();
        if (old.pendingStop) old.pendingStop(std::nullopt);
        h.runtime.advance(3);
        EXPECT_EQ(h.session.state, "failed");
        EXPECT_EQ(h.session.events.size(), events);
    }
}

TEST_F(SelectedCaptureRecoveryTest, PrimaryStreamErrors) {
    struct Case {
        long code;
        const char* state;
        bool suspended;    // kept to be restarted as it is
        bool replacement;  // dropped for a new stream
    };
    const Case cases[] = {
        {-3815, "interrupted", true, false}, {-3805, "interrupted", false, true}, {-3804, "interrupted", false, true},
        {-3817, "stopped", false, false},    {-3801, "rejected", false, false},   {-3802, "failed", false, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.code);
        capture_fakes::SessionHarness h;
        h.choose();
        FakeStream& first = h.primary();
        first.stopWithError({"SCStreamErrorDomain", c.code});
        h.runtime.runUntilIdle();
        EXPECT_EQ(h.session.state, c.state);
        EXPECT_EQ(h.session.lastErrorCode, c.code);
        EXPECT_FALSE(h.session.stream);
        EXPECT_EQ(h.session.suspendedStream.get(), c.suspended ? &first : nullptr);
        EXPECT_EQ(h.session.replacementPending, c.replacement);
        EXPECT_EQ(first.stopRequests, c.suspended || c.replacement ? 0 : 1);
        if (c.replacement) {
            EXPECT_EQ(h.session.health.attempts, 1) << "counted at once";
            EXPECT_EQ(h.session.recoveryReason, "connection-lost");
        }

        h.runtime.advance(2.0);
        if (c.suspended) {
            EXPECT_EQ(first.startRequests, 2) << "the same stream, started again";
            EXPECT_EQ(h.session.stream.get(), &first);
            EXPECT_EQ(h.session.health.attempts, 1) << "counted at the restart";
            EXPECT_EQ(h.session.totalRecoveries, 1);
            EXPECT_EQ(h.session.starts, 2u);
        }
        if (c.replacement) {
            EXPECT_EQ(h.platform.capture.streams.size(), 2u);
            EXPECT_EQ(h.session.stream.get(), &h.newest());
        }
        if (c.suspended || c.replacement) {
            EXPECT_EQ(h.session.state, "starting");
        }
    }
}

TEST_F(SelectedCaptureRecoveryTest, ErrorsOfStreamsThatAreNoLongerPrimary) {
    FakeStream& first = primary();
    passes(12.1);  // retired by a replacement
    passes(2.0);
    FakeStream& second = primary();
    second.stopWithError(kInterrupted);
    runtime.runUntilIdle();
    ASSERT_EQ(session.suspendedStream.get(), &second);
    const auto generation = session.generation;

    second.stopWithError({"SCStreamErrorDomain", -3802});
    first.stopWithError({"SCStreamErrorDomain", -3805});
    FakeStream stranger(displayFilter(), {}, first.delegate());
    stranger.stopWithError({"SCStreamErrorDomain", -3817});
    runtime.runUntilIdle();
    EXPECT_EQ(session.generation, generation) << "ignored";
    EXPECT_EQ(session.state, "interrupted");

    first.stopWithError({"SCStreamErrorDomain", -3817});
    runtime.runUntilIdle();
    EXPECT_EQ(session.state, "stopped") << "the user ended capture, whichever stream says so";
}

TEST_F(SelectedCaptureRecoveryTest, RestartWaitsWhileCaptureIsBlocked) {
    struct Case {
        const char* name;
        std::function<void(capture_fakes::SessionHarness&, bool blocked)> block;
    };
    const Case cases[] = {
        {"screen locked (the pass pauses)", [](auto& h, bool blocked) { h.safe = !blocked; }},
        {"screen locked (no pass ran yet)",
         [](auto& h, bool blocked) {
             h.platform.server.session = Json{{"kCGSSessionOnConsoleKey", true}, {"CGSSessionScreenIsLocked", blocked}};
         }},
        {"session not on the console",
         [](auto& h, bool blocked) {
             h.platform.server.session = Json{{"kCGSSessionOnConsoleKey", !blocked}};
         }},
        {"display asleep", [](auto& h, bool blocked) { h.platform.server.displays[kDisplay].asleep = blocked; }},
        {"displays sleeping",
         [](auto& h, bool blocked) {
             h.platform.workspaceFake.notify(blocked ? WorkspaceNotification::screensDidSleep
                                                     : WorkspaceNotification::didWake);
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        capture_fakes::SessionHarness h;
        h.choose();
        FakeStream& first = h.primary();
        first.stopWithError(kInterrupted);
        h.runtime.runUntilIdle();
        c.block(h, true);
        h.passes(7.0);
        EXPECT_EQ(first.startRequests, 1) << "the ticks keep waiting";
        EXPECT_TRUE(h.session.recoveryScheduled);
        EXPECT_EQ(h.session.health.attempts, 0);

        c.block(h, false);
        h.passes(2.0);
        EXPECT_EQ(first.startRequests, 2);
        EXPECT_EQ(h.session.stream.get(), &first);
        EXPECT_EQ(h.session.health.attempts, 1);
    }
}

TEST_F(SelectedCaptureRecoveryTest, DisplayThatGoesAwayAndComesBack) {
    deliver();
    platform.server.displays[kDisplay].active = false;
    passes(0.1);
    EXPECT_EQ(session.state, "interrupted");
    EXPECT_TRUE(session.sourceUnavailable);
    EXPECT_FALSE(session.retained);
    const int interruptions = transitions;
    deliver();
    passes(20.0);
    EXPECT_EQ(transitions, interruptions) << "one interruption, and no stall while the display is away";
    EXPECT_EQ(session.transportReplacements, 0);
    EXPECT_EQ(session.frames, 1u) << "frames of a missing display are not shown";

    platform.server.displays[kDisplay].active = true;
    passes(0.1);
    EXPECT_FALSE(session.sourceUnavailable);
    EXPECT_EQ(session.state, "starting");
    deliver();
    EXPECT_EQ(session.state, "ready");
    EXPECT_TRUE(session.current());
}

TEST_F(SelectedCaptureRecoveryTest, DisplayWhoseBoundsOrIdentityChanged) {
    struct Case {
        const char* name;
        std::function<void(capture_fakes::FakeWindowServer::Display&)> change;
    };
    const Case cases[] = {
        {"moved", [](auto& d) { d.bounds.x = -1512; }},
        {"resized", [](auto& d) { d.bounds.width = 1800; }},
        {"another display", [](auto& d) { d.uuid = "DISPLAY-9"; }},
        {"identity lost", [](auto& d) { d.uuid.reset(); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        capture_fakes::SessionHarness h;
        h.choose();
        FakeStream& stream = h.primary();
        c.change(h.platform.server.displays[kDisplay]);
        h.passes(0.1);
        EXPECT_EQ(h.session.state, "source-changed");
        EXPECT_FALSE(h.session.selectedDisplay);
        EXPECT_EQ(stream.stopRequests, 1);
    }
}

TEST_F(SelectedCaptureRecoveryTest, SleepInterruptsAndWakeLetsFramesBack) {
    deliver();
    platform.workspaceFake.notify(WorkspaceNotification::willSleep);
    EXPECT_EQ(session.state, "interrupted");
    EXPECT_TRUE(session.displaySleeping);
    EXPECT_FALSE(session.current());
    passes(20.0, [&] { primary().deliver(buffer(0)); });
    EXPECT_EQ(session.frames, 1u);
    EXPECT_EQ(session.transportReplacements, 0) << "no stall is counted in sleep";

    platform.workspaceFake.notify(WorkspaceNotification::screensDidWake);
    EXPECT_FALSE(session.displaySleeping);
    deliver();
    EXPECT_EQ(session.state, "ready");
}

TEST_F(SelectedCaptureRecoveryTest, DelayedWorkOfAnEarlierDecisionChangesNothing) {
    platform.capture.stopAnswer = FakeStream::Answer::never;
    platform.capture.startAnswer = FakeStream::Answer::never;
    choose();  // a stream that neither confirms its start nor stops
    FakeStream& old = primary();
    passes(12.1);
    ASSERT_EQ(session.retiringStream.get(), &old);

    // The user chooses again while the old stop is still pending.
    choose();
    FakeStream& current = primary();
    const auto completions = session.startCompletions;
    old.pendingStart(std::nullopt);
    old.pendingStop(std::nullopt);
    runtime.advance(6.0);  // past the old stop's time-out
    EXPECT_EQ(session.state, "starting");
    EXPECT_EQ(session.stream.get(), &current);
    EXPECT_EQ(session.startCompletions, completions);
    EXPECT_FALSE(recorded("transport-retired"));
    EXPECT_FALSE(session.recoveryReason);
}

}  // namespace
}  // namespace scene
