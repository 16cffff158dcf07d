#include "selected_capture/selected_capture_session.h"

#include <cstdlib>
#include <functional>
#include <limits>
#include <map>
#include <string>

#include <gtest/gtest.h>

#include "platform/manual_runtime.h"

namespace scene {
namespace {

// Only the display queries are real; the session must not reach for anything
// else of the window server while it has no stream of its own.
class FakeWindowServer final : public WindowServer {
public:
    struct Display {
        Rect bounds;
        bool active = true;
        std::optional<std::string> uuid;
    };
    std::map<DisplayID, Display> displays;

    Rect displayBounds(DisplayID id) override {
        const auto it = displays.find(id);
        return it == displays.end() ? Rect::null() : it->second.bounds;
    }
    bool displayIsActive(DisplayID id) override {
        const auto it = displays.find(id);
        return it != displays.end() && it->second.active;
    }
    std::optional<std::string> displayUUID(DisplayID id) override {
        const auto it = displays.find(id);
        return it == displays.end() ? std::nullopt : it->second.uuid;
    }
    bool displayIsAsleep(DisplayID) override { return false; }

    std::shared_ptr<const nlohmann::json> copyWindowList() override { std::abort(); }
    int dockWindowLevel() override { std::abort(); }
    std::optional<std::uint32_t> activeDisplayCount() override { std::abort(); }
    std::optional<std::vector<DisplayID>> activeDisplayList(std::uint32_t) override { std::abort(); }
    std::optional<nlohmann::json> sessionDictionary() override { std::abort(); }
    bool leftButtonDown() override { std::abort(); }
    std::uint64_t modifierFlags() override { std::abort(); }
    std::uint32_t eventCounter(InputEventType) override { std::abort(); }
    bool preflightScreenCaptureAccess() override { std::abort(); }
};

class FakePlatform final : public Platform {
public:
    FakeWindowServer server;
    WindowServer& windowServer() override { return server; }
    Workspace& workspace() override { std::abort(); }
    Accessibility& accessibility() override { std::abort(); }
    ScreenCapture& screenCapture() override { std::abort(); }
};

class FakeStream final : public CaptureStream {
public:
    std::optional<PlatformError> addStreamOutput(StreamOutput&, Queue&) override { return std::nullopt; }
    void startCapture(CaptureCompletion) override {}
    void stopCapture(CaptureCompletion completion) override {
        ++stopRequests;
        completion(std::nullopt);
    }
    int stopRequests = 0;
};

constexpr DisplayID kDisplay = 7;
const Rect kBounds{0, 0, 1512, 982};

class SelectedCaptureSessionTest : public ::testing::Test {
protected:
    SelectedCaptureSessionTest() {
        runtime.setWallBase(1738314902.75 - runtime.now());  // 2025-01-31T09:15:02.75Z
        session.onTransition = [this] { ++transitions; };
    }

    // A stream delivering fresh frames of display 7, as frame intake leaves it
    // (at a fifth of the display's size, to keep the tests quick).
    void makeReady(double frameAge = 0.1) {
        platform.server.displays[kDisplay] = {kBounds, true, "DISPLAY-7"};
        session.selectedFilter = ContentFilter{ContentFilter::Style::display, kBounds, {kDisplay}};
        session.selectedDisplay = kDisplay;
        session.selectedDisplayUUID = "DISPLAY-7";
        session.bounds = kBounds;
        session.stream = std::make_shared<FakeStream>();
        session.state = "ready";
        const double observed = runtime.now() - frameAge;
        session.latest = SelectedCaptureSession::Frame{
            Image::filled(302, 196, 0xFF000000), kBounds, kDisplay, session.generation, 1, observed};
        session.retained = session.latest;
        session.frames = 1;
    }

    ManualRuntime runtime;
    FakePlatform platform;
    SelectedCaptureSession session{platform, runtime};
    int transitions = 0;
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
    auto retired = std::make_shared<FakeStream>();
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

}  // namespace
}  // namespace scene
