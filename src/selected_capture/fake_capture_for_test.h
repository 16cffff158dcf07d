#pragma once

// A scriptable desktop for the selected capture's tests: displays, the login
// session, sleep and wake notifications, the picker and capture streams. The
// test drives it from its own thread, which is also where ManualRuntime runs
// every queue; answers come back "from any thread", that is, straight away.

#include <cmath>
#include <cstdlib>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/manual_runtime.h"
#include "platform/platform.h"
#include "platform/runtime.h"
#include "selected_capture/selected_capture_session.h"

namespace scene::capture_fakes {

class FakeWindowServer final : public WindowServer {
public:
    struct Display {
        Rect bounds;
        bool active = true;
        std::optional<std::string> uuid;
        bool asleep = false;
    };
    std::map<DisplayID, Display> displays;
    std::optional<nlohmann::json> session = nlohmann::json{{"kCGSSessionOnConsoleKey", true}};

    Rect displayBounds(DisplayID id) override { return find(id) ? find(id)->bounds : Rect::null(); }
    bool displayIsActive(DisplayID id) override { return find(id) && find(id)->active; }
    bool displayIsAsleep(DisplayID id) override { return find(id) && find(id)->asleep; }
    std::optional<std::string> displayUUID(DisplayID id) override { return find(id) ? find(id)->uuid : std::nullopt; }
    std::optional<nlohmann::json> sessionDictionary() override { return session; }

    // The session has no business with the rest.
    std::shared_ptr<const nlohmann::json> copyWindowList() override { std::abort(); }
    int dockWindowLevel() override { std::abort(); }
    std::optional<std::uint32_t> activeDisplayCount() override { std::abort(); }
    std::optional<std::vector<DisplayID>> activeDisplayList(std::uint32_t) override { std::abort(); }
    bool leftButtonDown() override { std::abort(); }
    std::uint64_t modifierFlags() override { std::abort(); }
    std::uint32_t eventCounter(InputEventType) override { std::abort(); }
    bool preflightScreenCaptureAccess() override { std::abort(); }

private:
    const Display* find(DisplayID id) const {
        const auto it = displays.find(id);
        return it == displays.end() ? nullptr : &it->second;
    }
};

class FakeWorkspace final : public Workspace {
public:
    SystemVersion version{15, 2, 0};
    std::vector<Screen> screenList;
    std::optional<std::string> ownBundleID;
    std::map<ObserverToken, std::pair<WorkspaceNotification, std::function<void(const WorkspaceEvent&)>>> observers;

    // Delivers a notification as the main queue would.
    void notify(WorkspaceNotification name) {
        const auto current = observers;  // a handler may remove observers
        for (const auto& [token, observer] : current)
            if (observer.first == name) observer.second(WorkspaceEvent{name, std::nullopt});
    }

    std::optional<RunningApplication> runningApplication(std::int32_t pid) override {
        if (pid != processIdentifier()) return std::nullopt;
        return RunningApplication{pid, ownBundleID};
    }
    std::vector<Screen> screens() override { return screenList; }
    ObserverToken addObserver(WorkspaceNotification name, std::function<void(const WorkspaceEvent&)> handler) override {
        observers[++lastToken_] = {name, std::move(handler)};
        return lastToken_;
    }
    void removeObserver(ObserverToken token) override { observers.erase(token); }
    std::int32_t processIdentifier() override { return 4242; }
    SystemVersion systemVersion() override { return version; }

    std::optional<RunningApplication> frontmostApplication() override { std::abort(); }
    std::vector<RunningApplication> runningApplications(std::string_view) override { std::abort(); }
    std::optional<std::string> bundlePath(std::int32_t) override { std::abort(); }
    void setActivationPolicy(ActivationPolicy) override { std::abort(); }
    std::string homeDirectory() override { std::abort(); }
    std::int32_t parentProcessIdentifier() override { std::abort(); }

private:
    ObserverToken lastToken_ = 0;
};

// A stream that records what it is asked and answers as the test says.
class FakeStream final : public CaptureStream {
public:
    enum class Answer { succeed, fail, never };

    FakeStream(ContentFilter filter, StreamConfiguration configuration, StreamDelegate& delegate)
        : filter(std::move(filter)), configuration(std::move(configuration)), delegate_(&delegate) {}

    std::optional<PlatformError> addStreamOutput(StreamOutput& output, Queue& queue) override {
        output_ = &output;
        queue_ = &queue;
        return std::nullopt;
    }
    void startCapture(CaptureCompletion completion) override {
        ++startRequests;
        answer(startAnswer, std::move(completion), pendingStart);
    }
    void stopCapture(CaptureCompletion completion) override {
        ++stopRequests;
        answer(stopAnswer, std::move(completion), pendingStop);
    }

    // Hands a buffer to the output queue, as the capture service does.
    void deliver(SampleBuffer buffer) {
        if (queue_ == nullptr) return;
        queue_->post([this, buffer = std::move(buffer)] { output_->didOutputSampleBuffer(*this, buffer); });
    }
    void stopWithError(const PlatformError& error) { delegate_->didStopWithError(*this, error); }
    StreamDelegate& delegate() { return *delegate_; }

    const ContentFilter filter;
    const StreamConfiguration configuration;
    Answer startAnswer = Answer::succeed;
    Answer stopAnswer = Answer::succeed;
    PlatformError answerError{"SCStreamErrorDomain", -3802};
    int startRequests = 0;
    int stopRequests = 0;
    CaptureCompletion pendingStart;  // held when told never to answer
    CaptureCompletion pendingStop;

private:
    void answer(Answer how, CaptureCompletion completion, CaptureCompletion& held) {
        switch (how) {
            case Answer::succeed:
                completion(std::nullopt);
                break;
            case Answer::fail:
                completion(answerError);
                break;
            case Answer::never:
                held = std::move(completion);
                break;
        }
    }

    StreamDelegate* delegate_;
    StreamOutput* output_ = nullptr;
    Queue* queue_ = nullptr;
};

class FakePicker final : public ContentSharingPicker {
public:
    std::vector<PickerObserver*> observers;
    std::optional<PickerConfiguration> configuration;
    bool active = false;
    int presentedForDisplay = 0;
    std::vector<CaptureStream*> presentedForStreams;

    void update(const ContentFilter& filter, CaptureStream* stream = nullptr) {
        for (auto* observer : observers) observer->pickerDidUpdate(filter, stream);
    }
    void cancel(CaptureStream* stream = nullptr) {
        for (auto* observer : observers) observer->pickerDidCancel(stream);
    }
    void failStart(const PlatformError& error) {
        for (auto* observer : observers) observer->pickerStartDidFail(error);
    }

    void addObserver(PickerObserver& observer) override { observers.push_back(&observer); }
    void removeObserver(PickerObserver& observer) override { std::erase(observers, &observer); }
    void setConfiguration(const PickerConfiguration& value) override { configuration = value; }
    void setActive(bool value) override { active = value; }
    void presentForDisplayContent() override { ++presentedForDisplay; }
    void presentForStream(CaptureStream& stream) override { presentedForStreams.push_back(&stream); }
};

class FakeScreenCapture final : public ScreenCapture {
public:
    explicit FakeScreenCapture(Runtime& runtime) : runtime_(runtime) {}

    FakePicker picker;
    std::vector<std::shared_ptr<FakeStream>> streams;  // every stream created, oldest first
    // For streams created from now on.
    FakeStream::Answer startAnswer = FakeStream::Answer::succeed;
    FakeStream::Answer stopAnswer = FakeStream::Answer::succeed;
    double hostClockOffset = 500;  // host clock = uptime + this

    ContentSharingPicker& sharedPicker() override { return picker; }
    std::shared_ptr<CaptureStream> createStream(const ContentFilter& filter, const StreamConfiguration& configuration,
                                                StreamDelegate& delegate) override {
        streams.push_back(std::make_shared<FakeStream>(filter, configuration, delegate));
        streams.back()->startAnswer = startAnswer;
        streams.back()->stopAnswer = stopAnswer;
        return streams.back();
    }
    double hostTimeNow() override { return runtime_.clock().uptime() + hostClockOffset; }

private:
    Runtime& runtime_;
};

class FakeCapturePlatform final : public Platform {
public:
    explicit FakeCapturePlatform(Runtime& runtime) : capture(runtime) {}

    FakeWindowServer server;
    FakeWorkspace workspaceFake;
    FakeScreenCapture capture;

    WindowServer& windowServer() override { return server; }
    Workspace& workspace() override { return workspaceFake; }
    Accessibility& accessibility() override { std::abort(); }
    ScreenCapture& screenCapture() override { return capture; }
};

// A buffer of the given frame status; complete and started frames carry four
// pixels, which stand in for the display: the session never compares a frame's
// size with its configuration.
inline SampleBuffer sampleBuffer(int status, double presentationTime) {
    SampleBuffer sample;
    sample.attachments = nlohmann::json{{"SCStreamFrameInfoStatus", status}};
    sample.presentationTime = presentationTime;
    if (status == 0 || status == 4) {
        PixelBuffer pixels;
        pixels.width = 2;
        pixels.height = 2;
        pixels.bytesPerRow = 8;
        pixels.bytes = std::make_shared<const std::vector<std::uint8_t>>(16, std::uint8_t{0x80});
        sample.imageBuffer = pixels;
    }
    return sample;
}

// A session on the fake desktop with display 7 (1512 x 982 points) attached,
// and the steps the tests take with it.
struct SessionHarness {
    static constexpr DisplayID kDisplay = 7;
    static constexpr double kPassInterval = 1.0 / 30;
    static inline const Rect kBounds{0, 0, 1512, 982};

    SessionHarness() {
        platform.server.displays[kDisplay] = {kBounds, true, "DISPLAY-7"};
        session.onTransition = [this] { ++transitions; };
    }

    static ContentFilter displayFilter(DisplayID display = kDisplay, Rect rect = kBounds) {
        return ContentFilter{ContentFilter::Style::display, rect, {display}};
    }

    // The user opens the picker and chooses the display; the stream is
    // created and started.
    void choose(const ContentFilter& filter = displayFilter()) {
        session.select();
        runtime.runUntilIdle();
        platform.capture.picker.update(filter);
        runtime.runUntilIdle();
    }

    FakeStream& newest() { return *platform.capture.streams.back(); }
    FakeStream& primary() { return static_cast<FakeStream&>(*session.stream); }

    SampleBuffer buffer(int status, double age = 0) {
        return sampleBuffer(status, platform.capture.hostTimeNow() - age);
    }

    // A buffer from the primary stream, taken in at once.
    void deliver(int status = 0, double age = 0) {
        primary().deliver(buffer(status, age));
        runtime.runUntilIdle();
    }

    // Sampling passes every 33 ms for `seconds`, as the sampling pass drives
    // the session; `eachPass` runs before each.
    void passes(double seconds, const std::function<void()>& eachPass = {}) {
        const int count = static_cast<int>(std::lround(seconds / kPassInterval));
        for (int i = 0; i < count; ++i) {
            runtime.advance(kPassInterval);
            if (eachPass) eachPass();
            session.setPaused(!safe);
            session.checkDisplay();
        }
    }

    std::vector<std::string> eventNames() const {
        std::vector<std::string> names;
        for (const auto& event : session.events) names.push_back(event.at("event").get<std::string>());
        return names;
    }

    ManualRuntime runtime;
    FakeCapturePlatform platform{runtime};
    SelectedCaptureSession session{platform, runtime};
    int transitions = 0;
    bool safe = true;  // whether the passes find the login session safe to capture
};

}  // namespace scene::capture_fakes
