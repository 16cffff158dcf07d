#include "selected_capture/selected_capture_session.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>
#include <limits>
#include <map>
#include <string>

#include "platform/manual_runtime.h"
#include "selected_capture/fake_capture_for_test.h"

namespace scene {
namespace {

using capture_fakes::FakeStream;
using capture_fakes::FakeWindowServer;

constexpr DisplayID kDisplay = capture_fakes::SessionHarness::kDisplay;
const Rect kBounds = capture_fakes::SessionHarness::kBounds;

class SelectedCaptureSessionTest : public ::testing::Test, protected capture_fakes::SessionHarness {
protected:
    SelectedCaptureSessionTest() {
        runtime.setWallBase(1738314902.75 - runtime.now());  // 2025-01-31T09:15:02.75Z
    }

    std::shared_ptr<FakeStream> makeStream() {
        return std::make_shared<FakeStream>(displayFilter(), StreamConfiguration{}, fakeDelegate);
    }

    // A stream delivering fresh frames of display 7, as frame intake leaves it
    // (at a fifth of the display's size, to keep the tests quick).
    void makeReady(double frameAge = 0.1) {
        platform.server.displays[kDisplay] = {kBounds, true, "DISPLAY-7"};
        session.selectedFilter = displayFilter();
        session.selectedDisplay = kDisplay;
        session.selectedDisplayUUID = "DISPLAY-7";
        session.bounds = kBounds;
        session.stream = makeStream();
        session.state = "ready";
        const double observed = runtime.now() - frameAge;
        session.latest = SelectedCaptureSession::Frame{
            Image::filled(302, 196, 0xFF000000), kBounds, kDisplay, session.generation, 1, observed};
        session.retained = session.latest;
        session.frames = 1;
    }

    struct : StreamDelegate {
        void didStopWithError(CaptureStream&, const PlatformError&) override {}
    } fakeDelegate;
};

TEST_F(SelectedCaptureSessionTest, MetricsAtInitialValues) {
    enum class Kind { unsignedNumber, integer, floating, boolean, string, null, array, object };
    const std::map<std::string, Kind> expected = {
        {"frames", Kind::unsignedNumber},
        {"starts", Kind::unsignedNumber},
        {"consents", Kind::unsignedNumber},
        {"generation", Kind::unsignedNumber},
        {"state", Kind::string},
        {"fresh", Kind::boolean},
        {"frameAgeMS", Kind::null},
        {"activeStreams", Kind::integer},
        {"transportRetiring", Kind::boolean},
        {"streamCreations", Kind::unsignedNumber},
        {"globalMetadataRequests", Kind::integer},
        {"secondaryStreams", Kind::integer},
        {"recoveryAttempts", Kind::integer},
        {"recoveries", Kind::integer},
        {"displaySleeping", Kind::boolean},
        {"transportReplacements", Kind::integer},
        {"startCompletions", Kind::integer},
        {"rawBuffers", Kind::unsignedNumber},
        {"ageRejectedBuffers", Kind::unsignedNumber},
        {"bufferStatuses", Kind::object},
        {"recoveryReason", Kind::null},
        {"events", Kind::array},
        {"sourceUnavailable", Kind::boolean},
        {"selectedDisplay", Kind::null},
        {"selectedWidth", Kind::floating},
        {"selectedHeight", Kind::floating},
        {"filterRect", Kind::null},
        {"frameContentRect", Kind::null},
        {"frameScreenRect", Kind::null},
        {"frameScale", Kind::floating},
        {"frameContentScale", Kind::floating},
        {"frameCopyFailures", Kind::unsignedNumber},
        {"errorCode", Kind::null},
    };
    const auto kindOf = [](const Json& value) {
        if (value.is_number_unsigned()) return Kind::unsignedNumber;
        if (value.is_number_integer()) return Kind::integer;
        if (value.is_number_float()) return Kind::floating;
        if (value.is_boolean()) return Kind::boolean;
        if (value.is_string()) return Kind::string;
        if (value.is_array()) return Kind::array;
        if (value.is_object()) return Kind::object;
        return Kind::null;
    };

    const Json metrics = session.metrics();
    ASSERT_TRUE(metrics.is_object());
    EXPECT_EQ(metrics.size(), 33u);
    for (const auto& [key, kind] : expected) {
        SCOPED_TRACE(key);
        ASSERT_TRUE(metrics.contains(key));
        EXPECT_EQ(kindOf(metrics.at(key)), kind);
    }
    EXPECT_EQ(metrics.at("state"), "selection-required");
    EXPECT_EQ(metrics.at("fresh"), false);
    EXPECT_TRUE(metrics.at("events").empty());
    EXPECT_TRUE(metrics.at("bufferStatuses").empty());
    EXPECT_EQ(metrics.at("frameScale"), 0.0);
}

TEST_F(SelectedCaptureSessionTest, MetricsReportDeliveryCountsAndSelection) {
    makeReady(0.25);
    session.statuses = {{0, 3}, {1, 2}};
    session.rawBuffers = 5;
    session.frameContentRect = Rect{0, 0, std::numeric_limits<double>::infinity(), 982};
    const Json metrics = session.metrics();
    EXPECT_EQ(metrics.at("bufferStatuses"), (Json{{"0", 3u}, {"1", 2u}}));
    EXPECT_TRUE(metrics.at("bufferStatuses").at("0").is_number_unsigned());
    EXPECT_EQ(metrics.at("rawBuffers"), 5u);
    EXPECT_EQ(metrics.at("selectedDisplay"), 7u);
    EXPECT_TRUE(metrics.at("selectedDisplay").is_number_unsigned());
    EXPECT_EQ(metrics.at("selectedWidth"), 1512.0);
    EXPECT_EQ(metrics.at("filterRect"), (Json{{"x", 0.0}, {"y", 0.0}, {"width", 1512.0}, {"height", 982.0}}));
    EXPECT_TRUE(metrics.at("frameContentRect").is_null());
    EXPECT_EQ(metrics.at("activeStreams"), 1);
    EXPECT_EQ(metrics.at("fresh"), true);
    EXPECT_NEAR(metrics.at("frameAgeMS").get<double>(), 250.0, 1e-6);
}

TEST_F(SelectedCaptureSessionTest, EventLogKeepsTheNewest64) {
    for (int i = 0; i < 70; ++i) session.stop("reason-" + std::to_string(i));
    ASSERT_EQ(session.events.size(), 64u);
    EXPECT_EQ(session.events.front().at("event"), "reason-6");
    EXPECT_EQ(session.events.back().at("event"), "reason-69");

    const Json& last = session.events.back();
    EXPECT_EQ(last.at("at"), "2025-01-31T09:15:02Z");
    EXPECT_EQ(last.at("uptime"), runtime.now());
    EXPECT_EQ(last.at("state"), "reason-69");
    EXPECT_EQ(last.at("generation"), 70u) << "recorded after the transition";
    EXPECT_TRUE(last.at("generation").is_number_unsigned());
    EXPECT_EQ(last.at("consent"), 0u);
    EXPECT_TRUE(last.at("errorCode").is_null());
    EXPECT_EQ(last.size(), 9u);
}

TEST_F(SelectedCaptureSessionTest, StopEndsTheSelectionAndStopsEachStreamOnce) {
    makeReady();
    auto primary = std::static_pointer_cast<FakeStream>(session.stream);
    auto retired = makeStream();
    session.suspendedStream = primary;  // the same stream in two roles is stopped once
    session.retiredStreams = {retired, retired};
    session.replacementPending = true;
    session.presenting = true;
    session.recoveryScheduled = true;
    session.health.attempts = 2;
    const auto token = session.recoveryToken;
    const auto generation = session.generation;

    session.stop();

    EXPECT_EQ(session.state, "stopped");
    EXPECT_EQ(session.generation, generation + 1);
    EXPECT_EQ(session.recoveryToken, token + 1);
    EXPECT_EQ(transitions, 1);
    EXPECT_FALSE(session.stream || session.suspendedStream || session.retiringStream);
    EXPECT_TRUE(session.retiredStreams.empty());
    EXPECT_EQ(primary->stopRequests, 1);
    EXPECT_EQ(retired->stopRequests, 1);
    EXPECT_FALSE(session.selectedDisplay || session.selectedDisplayUUID || session.selectedFilter);
    EXPECT_FALSE(session.latest || session.retained);
    EXPECT_FALSE(session.replacementPending || session.presenting || session.recoveryScheduled);
    EXPECT_EQ(session.health.attempts, 2) << "health survives the selection";
    EXPECT_EQ(session.frames, 1u);
    EXPECT_EQ(session.displayID(), std::nullopt);
}

TEST_F(SelectedCaptureSessionTest, PauseWithoutSelectionOnlyStoresTheFlag) {
    session.setPaused(true);
    EXPECT_TRUE(session.paused);
    EXPECT_EQ(session.state, "selection-required");
    EXPECT_EQ(session.generation, 0u);
    EXPECT_TRUE(session.events.empty());
    EXPECT_EQ(transitions, 0);
}

TEST_F(SelectedCaptureSessionTest, PauseAndResumeWithSelection) {
    makeReady();
    session.health = {1, 900.0, 900.0, 1};
    transitions = 0;

    session.setPaused(true);
    session.setPaused(true);
    EXPECT_EQ(transitions, 1) << "a repeated pause changes nothing";
    EXPECT_EQ(session.state, "interrupted");
    EXPECT_FALSE(session.latest || session.retained);
    EXPECT_EQ(session.health.began, runtime.now());
    EXPECT_EQ(session.health.lastFrame, std::nullopt);
    EXPECT_EQ(session.health.attempts, 1);

    runtime.advance(3);
    session.setPaused(false);
    EXPECT_EQ(session.state, "starting");
    EXPECT_EQ(session.health.began, runtime.now());

    session.stream.reset();
    session.selectedFilter = ContentFilter{};
    session.setPaused(true);
    session.setPaused(false);
    EXPECT_EQ(session.state, "interrupted") << "nothing to restart without a stream";
    EXPECT_EQ(transitions, 4);
}

TEST_F(SelectedCaptureSessionTest, CurrentFrameNeedsAFreshFrameOfTheChosenDisplay) {
    struct Case {
        const char* name;
        std::function<void(SelectedCaptureSession&, FakeWindowServer&)> change;
    };
    const Case cases[] = {
        {"display asleep", [](auto& s, auto&) { s.displaySleeping = true; }},
        {"display unavailable", [](auto& s, auto&) { s.sourceUnavailable = true; }},
        {"paused", [](auto& s, auto&) { s.paused = true; }},
        {"picker showing", [](auto& s, auto&) { s.presenting = true; }},
        {"display inactive", [](auto&, auto& w) { w.displays[kDisplay].active = false; }},
        {"display moved", [](auto&, auto& w) { w.displays[kDisplay].bounds.x = 10; }},
        {"display identity changed", [](auto&, auto& w) { w.displays[kDisplay].uuid = "OTHER"; }},
        {"display identity lost", [](auto&, auto& w) { w.displays[kDisplay].uuid.reset(); }},
        {"frame of an older generation", [](auto& s, auto&) { ++s.generation; }},
        {"no frame", [](auto& s, auto&) { s.latest.reset(); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        makeReady();
        session.paused = session.presenting = session.displaySleeping = session.sourceUnavailable = false;
        ASSERT_TRUE(session.current());
        c.change(session, platform.server);
        EXPECT_FALSE(session.current());
        EXPECT_EQ(session.displayState(), "stale");
        EXPECT_FALSE(session.crop({0, 0, 100, 100}, 100, 100));
    }
}

TEST_F(SelectedCaptureSessionTest, FrameTurnsStaleAtItsFreshLimit) {
    makeReady(0.0);
    const double observed = session.latest->observed;
    EXPECT_EQ(session.displayState(), "ready");
    EXPECT_TRUE(session.current(observed + 0.69));
    EXPECT_FALSE(session.current(observed + 0.7));

    runtime.advance(0.9);
    EXPECT_EQ(session.displayState(), "stale");
    const Json metrics = session.metrics();
    EXPECT_EQ(metrics.at("state"), "stale");
    EXPECT_EQ(metrics.at("fresh"), false);
    EXPECT_NEAR(metrics.at("frameAgeMS").get<double>(), 900.0, 1e-6);

    session.state = "interrupted";
    EXPECT_EQ(session.displayState(), "interrupted") << "only a ready stream reads stale";
}

TEST_F(SelectedCaptureSessionTest, CropCarriesTheFrameTime) {
    makeReady(0.2);
    const auto crop = session.crop({100, 100, 200, 100}, 200, 100);
    ASSERT_TRUE(crop);
    EXPECT_EQ(crop->first.width(), 200);
    EXPECT_EQ(crop->second, session.latest->observed);
}

class SelectedCaptureLifecycleTest : public ::testing::Test, protected capture_fakes::SessionHarness {};

TEST_F(SelectedCaptureLifecycleTest, FirstSelectInstallsPickerAndObserversOnce) {
    auto& picker = platform.capture.picker;
    session.select();
    EXPECT_EQ(session.state, "selecting");
    EXPECT_TRUE(session.presenting);
    EXPECT_TRUE(picker.active);
    EXPECT_EQ(picker.presentedForDisplay, 1);
    ASSERT_EQ(picker.observers.size(), 1u);
    ASSERT_TRUE(picker.configuration);
    EXPECT_TRUE(picker.configuration->singleDisplayOnly);
    EXPECT_TRUE(picker.configuration->allowsChangingSelectedContent);
    EXPECT_EQ(picker.configuration->excludedBundleIDs,
              (std::vector<std::string>{"app.vantu.companion", "app.vantu.agent"}))
        << "without a bundle of its own this process counts as the companion";
    EXPECT_EQ(platform.workspaceFake.observers.size(), 4u);

    session.select();
    EXPECT_EQ(transitions, 1) << "select while the picker shows does nothing";
    EXPECT_EQ(picker.presentedForDisplay, 1);

    picker.cancel();
    runtime.runUntilIdle();
    EXPECT_EQ(session.state, "selection-required");
    platform.workspaceFake.ownBundleID = "app.vantu.sampler";
    session.select();
    EXPECT_EQ(picker.observers.size(), 1u);
    EXPECT_EQ(platform.workspaceFake.observers.size(), 4u);
    EXPECT_EQ(picker.configuration->excludedBundleIDs.size(), 2u) << "configured on the first call only";
}

TEST_F(SelectedCaptureLifecycleTest, ChoosingADisplayStartsAConfiguredStream) {
    platform.server.displays[kDisplay].bounds = {0, 0, 3840, 2160};
    choose(displayFilter(kDisplay, {0, 0, 3840, 2160}));

    ASSERT_EQ(platform.capture.streams.size(), 1u);
    FakeStream& stream = newest();
    EXPECT_EQ(session.stream.get(), &stream);
    EXPECT_EQ(stream.configuration.width, 3771);
    EXPECT_EQ(stream.configuration.height, 2121);
    EXPECT_EQ(stream.startRequests, 1);
    EXPECT_EQ(session.state, "starting");
    EXPECT_FALSE(session.presenting);
    EXPECT_EQ(session.selectedDisplay, kDisplay);
    EXPECT_EQ(session.selectedDisplayUUID, "DISPLAY-7");
    EXPECT_EQ(session.bounds, (Rect{0, 0, 3840, 2160}));
    EXPECT_EQ(session.consents, 1u);
    EXPECT_EQ(session.starts, 1u);
    EXPECT_EQ(session.streamCreations, 1u);
    EXPECT_EQ(session.startCompletions, 1);
    EXPECT_EQ(eventNames(), (std::vector<std::string>{"selecting", "starting", "start-request", "start-completed"}));

    // Re-selecting through the picker presented for our stream replaces the
    // whole selection.
    session.health.attempts = 2;
    session.select();
    ASSERT_EQ(platform.capture.picker.presentedForStreams.size(), 1u);
    EXPECT_EQ(platform.capture.picker.presentedForStreams[0], &stream);
    platform.capture.picker.update(displayFilter(kDisplay, {0, 0, 3840, 2160}), &stream);
    runtime.runUntilIdle();
    EXPECT_EQ(stream.stopRequests, 1);
    EXPECT_EQ(platform.capture.streams.size(), 2u);
    EXPECT_EQ(session.consents, 2u);
    EXPECT_EQ(session.health.attempts, 0);
}

TEST_F(SelectedCaptureLifecycleTest, SelectionsThatAreNotExactlyOneLiveDisplay) {
    struct Case {
        const char* name;
        SystemVersion version;
        ContentFilter filter;
        std::function<void(capture_fakes::FakeCapturePlatform&)> setUp;
        const char* state;
    };
    const Rect other{1512, 0, 1920, 1080};
    const auto noChange = [](auto&) {};
    const Case cases[] = {
        {"a window",
         {15, 2, 0},
         {ContentFilter::Style::window, kBounds, {kDisplay}},
         noChange,
         "unsupported-selection"},
        {"two displays",
         {15, 2, 0},
         {ContentFilter::Style::display, kBounds, {kDisplay, 8}},
         noChange,
         "unsupported-selection"},
        {"display gone",
         {15, 2, 0},
         displayFilter(),
         [](auto& p) { p.server.displays[kDisplay].active = false; },
         "unsupported-selection"},
        {"display without identity",
         {15, 2, 0},
         displayFilter(),
         [](auto& p) { p.server.displays[kDisplay].uuid.reset(); },
         "unsupported-selection"},
        {"older picker, display found by its bounds",
         {14, 6, 0},
         {ContentFilter::Style::display, kBounds, {}},
         [&](auto& p) {
             p.server.displays[8] = {other, true, "DISPLAY-8"};
             p.workspaceFake.screenList = {{8}, {std::nullopt}, {kDisplay}};
         },
         "starting"},
        {"older picker, mirrored displays",
         {14, 6, 0},
         {ContentFilter::Style::display, kBounds, {}},
         [](auto& p) {
             p.server.displays[8] = {kBounds, true, "DISPLAY-8"};
             p.workspaceFake.screenList = {{kDisplay}, {8}};
         },
         "unsupported-selection"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        capture_fakes::SessionHarness harness;
        harness.platform.workspaceFake.version = c.version;
        c.setUp(harness.platform);
        harness.choose(c.filter);
        EXPECT_EQ(harness.session.state, c.state);
        EXPECT_EQ(harness.platform.capture.streams.size(), c.state == std::string("starting") ? 1u : 0u);
        if (harness.session.stream) {
            EXPECT_EQ(harness.session.selectedDisplay, kDisplay);
        }
    }
}

TEST_F(SelectedCaptureLifecycleTest, PickerCancelAndStartFailure) {
    auto& picker = platform.capture.picker;
    session.select();
    picker.failStart({"SCStreamErrorDomain", -3802});
    runtime.runUntilIdle();
    EXPECT_EQ(session.state, "failed") << "no stream to fall back on";
    EXPECT_EQ(session.lastErrorCode, -3802);

    choose();
    FakeStream& stream = newest();
    session.select();
    picker.cancel(&stream);
    runtime.runUntilIdle();
    EXPECT_EQ(session.state, "starting") << "back to the running stream";
    EXPECT_EQ(session.stream.get(), &stream);

    session.select();
    struct : StreamDelegate {
        void didStopWithError(CaptureStream&, const PlatformError&) override {}
    } nobody;
    FakeStream stranger(displayFilter(), {}, nobody);
    picker.cancel(&stranger);
    picker.update(displayFilter(), &stranger);
    runtime.runUntilIdle();
    EXPECT_EQ(session.state, "selecting") << "answers about a stream that is not ours are ignored";
    picker.failStart({"SCStreamErrorDomain", -3801});
    runtime.runUntilIdle();
    EXPECT_EQ(session.state, "starting");
    EXPECT_EQ(session.stream.get(), &stream);
}

TEST_F(SelectedCaptureLifecycleTest, LateStartCompletionOfAnEndedSelectionChangesNothing) {
    platform.capture.startAnswer = FakeStream::Answer::never;
    choose();
    FakeStream& stream = newest();
    session.stop();
    const auto events = session.events.size();
    stream.pendingStart(std::nullopt);
    runtime.runUntilIdle();
    EXPECT_EQ(session.startCompletions, 0);
    EXPECT_EQ(session.events.size(), events);
    EXPECT_EQ(session.state, "stopped");
}

TEST(SelectedCaptureSessionLifetimeTest, DestroyedSessionLeavesNothingBehind) {
    ManualRuntime runtime;
    capture_fakes::FakeCapturePlatform platform{runtime};
    platform.server.displays[7] = {{0, 0, 1512, 982}, true, "DISPLAY-7"};
    platform.capture.stopAnswer = FakeStream::Answer::never;
    std::shared_ptr<capture_fakes::FakeStream> stream;
    {
        SelectedCaptureSession session{platform, runtime};
        session.select();
        runtime.runUntilIdle();
        platform.capture.picker.update(capture_fakes::SessionHarness::displayFilter());
        runtime.runUntilIdle();
        stream = platform.capture.streams.back();
        // A frame on its way, a picker answer and a stream error in flight.
        stream->deliver(capture_fakes::sampleBuffer(0, platform.capture.hostTimeNow()));
        platform.capture.picker.cancel();
        stream->stopWithError({"SCStreamErrorDomain", -3815});
    }
    EXPECT_EQ(stream->stopRequests, 1);
    EXPECT_TRUE(platform.capture.picker.observers.empty());
    EXPECT_TRUE(platform.workspaceFake.observers.empty());
    runtime.advance(10);  // nothing left runs against the dead session
    EXPECT_EQ(runtime.pendingTaskCount(), 0u);
}

}  // namespace
}  // namespace scene
