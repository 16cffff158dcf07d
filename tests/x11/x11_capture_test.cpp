// Screen capture of a real X desktop: the picker and streams in-process, and
// supports confirmed from captured pixels by the scene-sampler binary.
#include <gtest/gtest.h>
#include <sys/uio.h>
#include <xcb/randr.h>
#include <xcb/xcbext.h>

#include <condition_variable>
#include <cstring>
#include <functional>
#include <memory>
#include <mutex>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

#include "child_process.h"
#include "platform/asio_runtime.h"
#include "platform/x11/x11_capture_source.h"
#include "platform/x11/x11_platform.h"
#include "x_session_for_test.h"
#include "x_window_for_test.h"

namespace scene::x11 {
namespace {

using namespace std::chrono_literals;
using Json = nlohmann::json;
using testing::eventually;
using testing::screenPixel;
using testing::SolidWindow;
using Answers = std::vector<std::optional<PlatformError>>;

constexpr std::uint32_t kRed = 0xFF0000;
constexpr std::uint32_t kLightGray = 0xD0D0D0;
constexpr std::uint32_t kTeal = 0x208080;
constexpr std::uint32_t kOpaque = 0xFF000000;

// Everything the capture service tells the test, from any thread, and a wait
// for it that gives up after a deadline.
class Recorder final : public PickerObserver, public StreamOutput, public StreamDelegate {
public:
    struct Seen {
        std::vector<ContentFilter> filters;
        std::vector<CaptureStream*> pickedFor;
        std::vector<PlatformError> pickerFailures;
        Answers starts;
        Answers stops;
        std::vector<PlatformError> endedOnTheirOwn;
        int frames = 0;
        std::optional<SampleBuffer> lastFrame;
        int markers = 0;
    };

    void pickerDidUpdate(const ContentFilter& filter, CaptureStream* stream) override {
        change([&](Seen& s) { s.filters.push_back(filter), s.pickedFor.push_back(stream); });
    }
    void pickerDidCancel(CaptureStream*) override {}
    void pickerStartDidFail(const PlatformError& error) override {
        change([&](Seen& s) { s.pickerFailures.push_back(error); });
    }
    void didOutputSampleBuffer(CaptureStream&, const SampleBuffer& buffer) override {
        change([&](Seen& s) { ++s.frames, s.lastFrame = buffer; });
    }
    void didStopWithError(CaptureStream&, const PlatformError& error) override {
        change([&](Seen& s) { s.endedOnTheirOwn.push_back(error); });
    }
    CaptureCompletion startAnswer() {
        return [this](std::optional<PlatformError> error) { change([&](Seen& s) { s.starts.push_back(error); }); };
    }
    CaptureCompletion stopAnswer() {
        return [this](std::optional<PlatformError> error) { change([&](Seen& s) { s.stops.push_back(error); }); };
    }
    // Counts once `queue` has run everything posted to it before.
    void mark(Queue& queue) {
        queue.post([this] { change([](Seen& s) { ++s.markers; }); });
    }

    bool await(const std::function<bool(const Seen&)>& condition) {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, 10s, [&] { return condition(seen_); });
    }
    Seen seen() {
        std::lock_guard lock(mutex_);
        return seen_;
    }

private:
    void change(const std::function<void(Seen&)>& update) {
        std::lock_guard lock(mutex_);
        update(seen_);
        changed_.notify_all();
    }

    std::mutex mutex_;
    std::condition_variable changed_;
    Seen seen_;
};

StreamConfiguration configuration(int width, int height) {
    StreamConfiguration configuration;
    configuration.width = width;
    configuration.height = height;
    configuration.minimumFrameInterval = 0.2;
    return configuration;
}

ContentFilter displayFilter(const Rect& bounds, std::vector<DisplayID> displays = {}) {
    return ContentFilter{ContentFilter::Style::display, bounds, std::move(displays)};
}

// The BGRA pixel at (x, y) of a delivered frame as 0xAARRGGBB.
std::uint32_t framePixel(const PixelBuffer& buffer, int x, int y) {
    const std::uint8_t* p = buffer.bytes->data() + static_cast<std::size_t>(y) * buffer.bytesPerRow + x * 4;
    return std::uint32_t{p[3]} << 24 | std::uint32_t{p[2]} << 16 | std::uint32_t{p[1]} << 8 | p[0];
}

class X11CaptureTest : public testing::XSessionTest {
protected:
    void SetUp() override {
        XSessionTest::SetUp();
        if (IsSkipped() || HasFatalFailure()) return;
        runtime_ = std::make_unique<AsioRuntime>();
        capture_ = std::make_unique<X11ScreenCapture>(*runtime_, display_);
        output_ = runtime_->makeSerialQueue("test.output");
        // Monitors set up by hand need a client that speaks RandR 1.5.
        std::free(xcb_randr_query_version_reply(connection_, xcb_randr_query_version(connection_, 1, 5), nullptr));
    }
    void TearDown() override {
        capture_.reset();
        output_.reset();
        XSessionTest::TearDown();
    }

    // A monitor set up by hand over part of the screen, with no output; the
    // window server numbers it by its name. The request is put together
    // here: the library's own form of it sends a malformed length.
    DisplayID addMonitor(const std::string& name, const testing::WindowPlace& place) {
        auto atom = xcb_intern_atom_reply(
            connection_, xcb_intern_atom(connection_, 0, static_cast<std::uint16_t>(name.size()), name.c_str()),
            nullptr);
        xcb_randr_monitor_info_t monitor{};
        monitor.name = atom->atom;
        std::free(atom);
        monitor.x = static_cast<std::int16_t>(place.x);
        monitor.y = static_cast<std::int16_t>(place.y);
        monitor.width = static_cast<std::uint16_t>(place.width);
        monitor.height = static_cast<std::uint16_t>(place.height);
        // xcb fills in the opcodes and the length; then come the window and the monitor.
        std::uint8_t request[8 + sizeof monitor] = {};
        const xcb_window_t window = root();
        std::memcpy(request + 4, &window, 4);
        std::memcpy(request + 8, &monitor, sizeof monitor);
        iovec parts[3] = {{}, {}, {request, sizeof request}};
        const xcb_protocol_request_t kind{1, &xcb_randr_id, XCB_RANDR_SET_MONITOR, 1};
        xcb_generic_error_t* error =
            xcb_request_check(connection_, {xcb_send_request(connection_, XCB_REQUEST_CHECKED, parts + 2, &kind)});
        EXPECT_EQ(error, nullptr);
        EXPECT_EQ(xcb_connection_has_error(connection_), 0);
        std::free(error);
        return monitor.name;
    }
    void removeMonitor(DisplayID name) {
        xcb_randr_delete_monitor(connection_, root(), name);
        xcb_flush(connection_);
    }
    // Returns once the server has moved it.
    void movePointer(int x, int y) {
        xcb_warp_pointer(connection_, XCB_WINDOW_NONE, root(), 0, 0, 0, 0, static_cast<std::int16_t>(x),
                         static_cast<std::int16_t>(y));
        std::free(xcb_query_pointer_reply(connection_, xcb_query_pointer(connection_, root()), nullptr));
    }
    xcb_window_t root() const { return ewmh_.screens[0]->root; }

    std::unique_ptr<AsioRuntime> runtime_;
    std::unique_ptr<X11ScreenCapture> capture_;
    std::unique_ptr<Queue> output_;
};

TEST_F(X11CaptureTest, PickerOffersTheMonitorUnderThePointerAsTheWindowServerNumbersIt) {
    const DisplayID right = addMonitor("CAPTURE-RIGHT", {640, 0, 640, 800});
    const auto platform = X11Platform::open(display_, *runtime_);
    ASSERT_TRUE(platform);
    const auto displays = platform->windowServer().activeDisplayList(8);
    ASSERT_TRUE(displays && displays->size() == 2);
    const DisplayID whole = displays->front() == right ? displays->back() : displays->front();

    Recorder recorder;
    ContentSharingPicker& picker = capture_->sharedPicker();
    picker.addObserver(recorder);
    picker.setActive(true);
    // Over the monitor set up by hand, which lies inside the whole screen's.
    movePointer(900, 400);
    picker.presentForDisplayContent();
    ASSERT_TRUE(recorder.await([](const auto& seen) { return seen.filters.size() == 1; }));
    movePointer(100, 100);
    const auto stream = capture_->createStream(displayFilter({0, 0, 1280, 800}), configuration(1280, 800), recorder);
    picker.presentForStream(*stream);
    ASSERT_TRUE(recorder.await([](const auto& seen) { return seen.filters.size() == 2; }));
    picker.removeObserver(recorder);

    const Recorder::Seen seen = recorder.seen();
    EXPECT_EQ(seen.filters[0].style, ContentFilter::Style::display);
    EXPECT_EQ(seen.filters[0].includedDisplays, std::vector<DisplayID>{right});
    EXPECT_EQ(seen.filters[0].contentRect, (Rect{640, 0, 640, 800}));
    EXPECT_EQ(platform->windowServer().displayBounds(right), seen.filters[0].contentRect);
    EXPECT_EQ(seen.pickedFor[0], nullptr);
    EXPECT_EQ(seen.filters[1].includedDisplays, std::vector<DisplayID>{whole});
    EXPECT_EQ(seen.filters[1].contentRect, (Rect{0, 0, 1280, 800}));
    EXPECT_EQ(seen.pickedFor[1], stream.get());
    EXPECT_TRUE(seen.pickerFailures.empty());
}

TEST_F(X11CaptureTest, StreamDeliversTheScreenAtTheConfiguredSizeAndStopsOnce) {
    const SolidWindow red(connection_, ewmh_, {200, 100, 300, 200}, kRed, false);
    ASSERT_TRUE(eventually([&] { return screenPixel(connection_, 350, 200) == kRed; }));

    Recorder recorder;
    // No display named: the monitor is the one whose bounds the filter gives.
    auto stream = capture_->createStream(displayFilter({0, 0, 1280, 800}), configuration(640, 400), recorder);
    ASSERT_EQ(stream->addStreamOutput(recorder, *output_), std::nullopt);
    stream->stopCapture(recorder.stopAnswer());  // never started: answered without error
    stream->startCapture(recorder.startAnswer());
    ASSERT_TRUE(recorder.await([](const auto& seen) { return seen.frames >= 1; }));
    stream->stopCapture(recorder.stopAnswer());
    ASSERT_TRUE(recorder.await([](const auto& seen) { return seen.stops.size() == 2; }));
    const double now = capture_->hostTimeNow();

    const Recorder::Seen seen = recorder.seen();
    EXPECT_EQ(seen.starts, (Answers{std::nullopt}));
    EXPECT_EQ(seen.stops, (Answers{std::nullopt, std::nullopt}));
    const SampleBuffer& frame = *seen.lastFrame;
    ASSERT_TRUE(frame.attachments);
    const Json& attachments = *frame.attachments;
    EXPECT_EQ(attachments["SCStreamFrameInfoStatus"], 0);
    EXPECT_EQ(attachments["SCStreamFrameInfoScreenRect"],
              (Json{{"X", 0.0}, {"Y", 0.0}, {"Width", 1280.0}, {"Height", 800.0}}));
    EXPECT_EQ(attachments["SCStreamFrameInfoContentRect"], attachments["SCStreamFrameInfoScreenRect"]);
    EXPECT_EQ(attachments["SCStreamFrameInfoScaleFactor"], 0.5);
    EXPECT_EQ(attachments["SCStreamFrameInfoContentScale"], 1.0);
    // On the service's own clock: a moment ago, not in 1970 or the future.
    EXPECT_GE(now - frame.presentationTime, 0.0);
    EXPECT_LT(now - frame.presentationTime, 10.0);

    ASSERT_TRUE(frame.imageBuffer);
    const PixelBuffer& pixels = *frame.imageBuffer;
    EXPECT_EQ(pixels.pixelFormat, kPixelFormatBGRA);
    ASSERT_EQ(pixels.width, 640);
    ASSERT_EQ(pixels.height, 400);
    ASSERT_EQ(pixels.bytesPerRow, 640u * 4);
    ASSERT_GE(pixels.bytes->size(), pixels.bytesPerRow * 400);
    EXPECT_EQ(framePixel(pixels, 175, 100), kOpaque | kRed) << "the window, at half the screen's scale";
    EXPECT_EQ(framePixel(pixels, 50, 25), kOpaque | *screenPixel(connection_, 100, 50)) << "the desktop, opaque";

    // Stopped, it starts again; let go while it runs, it ends its capture
    // untold, and once the output's queue has run what it held nothing more
    // arrives.
    stream->startCapture(recorder.startAnswer());
    ASSERT_TRUE(recorder.await([&](const auto& later) { return later.frames > seen.frames; }));
    stream.reset();
    recorder.mark(*output_);
    ASSERT_TRUE(recorder.await([](const auto& later) { return later.markers == 1; }));
    const Recorder::Seen after = recorder.seen();
    EXPECT_EQ(after.starts.size(), 2u);
    EXPECT_EQ(after.stops.size(), 2u);
}

TEST_F(X11CaptureTest, SharedMemoryAndPlainRepliesReadTheSamePixels) {
    const SolidWindow teal(connection_, ewmh_, {10, 20, 64, 48}, kTeal, false);
    ASSERT_TRUE(eventually([&] { return screenPixel(connection_, 40, 40) == kTeal; }));
    const auto shared = X11CaptureSource::open(display_, displayFilter({0, 0, 1280, 800}), true);
    const auto plain = X11CaptureSource::open(display_, displayFilter({0, 0, 1280, 800}), false);
    ASSERT_TRUE(shared.source && plain.source);
    EXPECT_TRUE(shared.source->sharingMemory()) << "a local server with the extension takes the segment";
    EXPECT_FALSE(plain.source->sharingMemory());

    const auto pool = std::make_shared<PixelPool>(2);
    const auto fromShared = shared.source->grab(1280, 800, *pool);
    const auto fromPlain = plain.source->grab(1280, 800, *pool);
    ASSERT_TRUE(fromShared.pixels && fromPlain.pixels);
    EXPECT_TRUE(*fromShared.pixels == *fromPlain.pixels);
    std::uint32_t word = 0;
    std::memcpy(&word, fromShared.pixels->data() + (40 * 1280 + 40) * 4, 4);
    EXPECT_EQ(word, kOpaque | kTeal);
}

// The window server keeps the monitors it has read until the server says
// they changed.
TEST_F(X11CaptureTest, TheWindowServerFollowsMonitorsSetUpAndTakenDown) {
    const auto platform = X11Platform::open(display_, *runtime_);
    ASSERT_TRUE(platform);
    WindowServer& server = platform->windowServer();
    ASSERT_EQ(server.activeDisplayCount(), 1u);
    const DisplayID part = addMonitor("KEPT-PART", {0, 0, 640, 400});
    EXPECT_TRUE(eventually([&] { return server.activeDisplayCount() == 2u; }));
    EXPECT_EQ(server.displayBounds(part), (Rect{0, 0, 640, 400}));
    removeMonitor(part);
    EXPECT_TRUE(eventually([&] { return server.activeDisplayCount() == 1u; }));
    EXPECT_FALSE(server.displayIsActive(part));
}

TEST_F(X11CaptureTest, StreamEndsOnItsOwnOnceWhenItsMonitorOrServerGoes) {
    const DisplayID part = addMonitor("CAPTURE-PART", {0, 0, 640, 400});
    Recorder recorder;
    auto stream = capture_->createStream(displayFilter({0, 0, 640, 400}, {part}), configuration(640, 400), recorder);
    stream->addStreamOutput(recorder, *output_);
    stream->startCapture(recorder.startAnswer());
    ASSERT_TRUE(recorder.await([](const auto& seen) { return seen.frames >= 1; }));
    removeMonitor(part);
    ASSERT_TRUE(recorder.await([](const auto& seen) { return !seen.endedOnTheirOwn.empty(); }));
    EXPECT_EQ(recorder.seen().endedOnTheirOwn[0], captureError(kCaptureMonitorGone));
    // Ended, it stops at once without error, and cannot start on a monitor
    // that is no more.
    stream->stopCapture(recorder.stopAnswer());
    stream->startCapture(recorder.startAnswer());
    ASSERT_TRUE(recorder.await([](const auto& seen) { return seen.starts.size() == 2 && seen.stops.size() == 1; }));
    EXPECT_EQ(recorder.seen().stops, (Answers{std::nullopt}));
    EXPECT_EQ(recorder.seen().starts[1], captureError(kCaptureNoMonitor));

    auto whole = capture_->createStream(displayFilter({0, 0, 1280, 800}), configuration(320, 200), recorder);
    whole->addStreamOutput(recorder, *output_);
    whole->startCapture(recorder.startAnswer());
    const int before = recorder.seen().frames;
    ASSERT_TRUE(recorder.await([&](const auto& seen) { return seen.frames > before; }));
    server_.reset();
    ASSERT_TRUE(recorder.await([](const auto& seen) { return seen.endedOnTheirOwn.size() == 2; }));
    EXPECT_EQ(recorder.seen().endedOnTheirOwn[1], captureError(kCaptureConnectionLost));
    // Once each: destroying the streams joins whatever they still had to say.
    stream.reset();
    whole.reset();
    EXPECT_EQ(recorder.seen().endedOnTheirOwn.size(), 2u);
}

bool hasProof(const Json& snapshot, const std::string& owner, bool topContourOnly) {
    for (const Json& proof : snapshot["supportProofs"])
        if (proof["ownerId"] == owner &&
            (!topContourOnly || (proof["side"] == "top" && proof["source"] == "selected-contour")))
            return true;
    return false;
}

std::optional<Rect> windowBounds(const Json& snapshot, const std::string& id) {
    for (const Json& window : snapshot["windows"])
        if (window["id"] == id)
            return Rect{window["x"].get<double>(), window["y"].get<double>(), window["width"].get<double>(),
                        window["height"].get<double>()};
    return std::nullopt;
}

// The binary on this desktop: after "capture-select" it confirms supports on
// the outline of a window in front, and none for a window hidden behind it.
using X11CaptureProcessTest = testing::XSessionTest;

TEST_F(X11CaptureProcessTest, SelectedCaptureConfirmsTheFrontWindowTopAndNothingForACoveredWindow) {
    const SolidWindow behind(connection_, ewmh_, {300, 260, 200, 100}, kTeal, true);
    ASSERT_TRUE(eventually([&] { return screenPixel(connection_, 400, 310) == kTeal; }));
    const SolidWindow front(connection_, ewmh_, {200, 200, 600, 400}, kLightGray, true);
    ASSERT_TRUE(eventually([&] { return screenPixel(connection_, 400, 310) == kLightGray; }));

    scene::testing::ChildProcess process({{"--allow-screen-capture"}, {{"DISPLAY", display_}}, false});
    ASSERT_TRUE(process.readLine());
    process.write("capture-select\n");
    std::optional<Json> confirmed;
    Json last;
    const auto deadline = std::chrono::steady_clock::now() + 10s;
    while (!confirmed && std::chrono::steady_clock::now() < deadline) {
        const auto line = process.readLine(1s);
        if (!line) continue;
        last = Json::parse(*line);
        if (!last.contains("kind") && hasProof(last, front.recordId(), true)) confirmed = last;
    }
    ASSERT_TRUE(confirmed) << "session " << last["captureSession"] << " verification " << last["supportVerification"]
                           << " windows " << last["windows"];
    const auto frontBounds = windowBounds(*confirmed, front.recordId());
    const auto behindBounds = windowBounds(*confirmed, behind.recordId());
    ASSERT_TRUE(frontBounds && behindBounds);
    ASSERT_EQ(frontBounds->intersection(*behindBounds), *behindBounds) << "the window behind is fully covered";
    EXPECT_FALSE(hasProof(*confirmed, behind.recordId(), false));
    for (const std::string& line : process.readLinesFor(1s))
        EXPECT_FALSE(hasProof(Json::parse(line), behind.recordId(), false));
    process.write("quit\n");
    EXPECT_EQ(process.wait(), 0);
}

}  // namespace
}  // namespace scene::x11
