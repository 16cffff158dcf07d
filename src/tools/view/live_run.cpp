#include "tools/view/live_run.h"

#include <poll.h>
#include <unistd.h>

#include <chrono>

#include "platform/json_read.h"
#include "tools/view/base64_decode.h"
#include "tools/view/command_inbox.h"
#include "tools/view/display_bounds.h"
#include "tools/view/event_frame.h"
#include "tools/view/event_hub.h"
#include "tools/view/jpeg_frame.h"
#include "tools/view/live_page.h"
#include "tools/view/live_server.h"
#include "tools/view/request_filter.h"
#include "tools/view/child_ending.h"
#include "tools/view/sampler_child.h"
#include "tools/view/sampler_lines.h"
#include "tools/view/sampler_path.h"
#include "tools/view/snapshot_thinning.h"

namespace scene::view {
namespace {

using Clock = std::chrono::steady_clock;
using Seconds = std::chrono::duration<double>;

// The sampler's own words.
constexpr std::string_view kCaptureSelect = "capture-select";
constexpr std::string_view kCaptureSnapshot = "capture-snapshot ";
constexpr std::string_view kPause = "pause";
constexpr std::string_view kResume = "resume";
constexpr std::string_view kCaptureSession = "captureSession";
constexpr std::string_view kReady = "ready";
constexpr std::string_view kStale = "stale";
// The page's event names.
constexpr const char* kSnapshotEvent = "snapshot";
constexpr const char* kStillEvent = "still";
constexpr const char* kStatusEvent = "status";

constexpr double kSnapshotsPerSecond = 30;
constexpr auto kStillInterval = std::chrono::milliseconds(500);
// The sampler answers every still request within about two seconds; one that
// is lost anyway must not stop the stills for good.
constexpr auto kStillPatience = std::chrono::seconds(5);
constexpr auto kStatusInterval = std::chrono::seconds(1);
constexpr std::size_t kMaxBrowsers = 4;
// Events a browser may fall behind by before it loses the oldest: at thirty
// snapshots a second, about a quarter of a second.
constexpr std::size_t kQueueLength = 8;
constexpr std::size_t kInboxCapacity = 16;
constexpr const char* kPrefix = kViewPrefix;

Json rectJson(const Rect& rect) {
    return {{"x", rect.minX()}, {"y", rect.minY()}, {"width", rect.width}, {"height", rect.height}};
}

EventHub::Event framed(const char* name, const std::string& data) {
    return std::make_shared<const std::string>(serverSentEvent(name, data));
}

// One live view run. Owns the child, the server and what they share; lives on
// the main thread for one call of runLiveView, and alone writes to the child.
class LiveLoop {
public:
    LiveLoop(const ViewOptions& options, const Environment& environment, int interrupt, std::ostream& out,
             std::ostream& errors)
        : options_(options),
          interrupt_(interrupt),
          out_(out),
          errors_(errors),
          started_(Clock::now()),
          displays_(sceneDisplays(options.samplerArguments, environment)),
          hub_(kMaxBrowsers, kQueueLength),
          inbox_(kInboxCapacity),
          thinning_(kSnapshotsPerSecond) {}

    int run() {
        const std::string token = mintToken();
        if (token.empty() || !inbox_.valid()) return fail("cannot set up the live view (no random token or event)");
        auto started = LiveServer::start({options_.port, token, livePageDocuments(token)}, hub_, inbox_);
        if (!started.server) return fail(started.error);
        server_ = std::move(started.server);

        // The sampler leaves out the windows of the process ids it is given:
        // this one's, as a companion passes its own.
        std::vector<std::string> arguments{std::to_string(::getpid())};
        arguments.insert(arguments.end(), options_.samplerArguments.begin(), options_.samplerArguments.end());
        auto child = SamplerChild::start(samplerPath(options_), arguments);
        if (!child.child) return fail(child.error);
        child_ = std::move(child.child);
        child_->send(kCaptureSelect);

        out_ << "http://127.0.0.1:" << server_->port() << "/" << std::endl;
        return loop();
    }

private:
    int loop() {
        auto nextStatus = Clock::now() + kStatusInterval;
        auto nextStill = Clock::now();
        while (true) {
            const auto now = Clock::now();
            if (now >= nextStatus) {
                publishStatus(now);
                nextStatus = std::max(nextStatus + kStatusInterval, now);
            }
            if (stillRequest_ && now - stillAsked_ >= kStillPatience) stillRequest_.reset();
            const bool wantStill = !stillRequest_ && capturing() && hub_.clients() > 0;
            if (wantStill && now >= nextStill) {
                requestStill(now);
                nextStill = now + kStillInterval;
            }
            auto wakeAt = nextStatus;
            if (wantStill) wakeAt = std::min(wakeAt, std::max(nextStill, now));

            pollfd ready[3] = {
                {child_->outputDescriptor(), POLLIN, 0}, {inbox_.descriptor(), POLLIN, 0}, {interrupt_, POLLIN, 0}};
            const nfds_t count = interrupt_ >= 0 ? 3 : 2;
            if (::poll(ready, count, waitMilliseconds(now, wakeAt)) <= 0) continue;
            if (count == 3 && ready[2].revents != 0) return finish(0);
            if (ready[1].revents != 0) forwardCommands();
            if (ready[0].revents != 0 && !readOutput()) {
                server_->stop();
                return childEndedEarly(*child_, errors_);
            }
        }
    }

    bool capturing() const { return captureSession_ == kReady || captureSession_ == kStale; }

    void forwardCommands() {
        for (const std::string& command : inbox_.take()) {
            if (!child_->send(command)) continue;
            if (command == kPause) paused_ = true;
            if (command == kResume) paused_ = false;
        }
    }

    // False at the end of the child's output.
    bool readOutput() {
        lines_.clear();
        const bool open = child_->readLines(lines_);
        for (std::string& text : lines_) take(text);
        return open;
    }

    void take(std::string& text) {
        SamplerLine line = classifySamplerLine(text);
        if (line.kind == SamplerLine::Kind::snapshot) {
            ++snapshotsSinceStatus_;
            captureSession_ = json_read::string(line.value, kCaptureSession).value_or("");
            if (thinning_.admit(Seconds(Clock::now() - started_).count()))
                publishSnapshot(line.value, text);
            else
                ++thinned_;
            return;
        }
        if (line.kind == SamplerLine::Kind::captureReply) takeStill(line.value);
    }

    // The line goes to the page as the sampler wrote it; the viewer adds the
    // display it covers, a sequence number and how many snapshots it left out
    // since the one before.
    void publishSnapshot(const Json& snapshot, const std::string& text) {
        DisplayClues clues;
        clues.given = options_.displayBounds;
        clues.frameScreenRect = frameScreenRect(snapshot);
        clues.displayID = stillDisplay_ ? stillDisplay_ : selectedDisplay(snapshot);
        clues.sceneDisplays = displays_;
        clues.frameSize = stillSize_;
        std::string data = "{\"display\":" + rectJson(displayBounds(clues)).dump() +
                           ",\"seq\":" + std::to_string(++published_) + ",\"snapshot\":";
        data += text;
        data += ",\"thinned\":" + std::to_string(thinned_) + '}';
        thinned_ = 0;
        hub_.publish(kSnapshotEvent, framed(kSnapshotEvent, data));
    }

    void requestStill(Clock::time_point now) {
        stillRequest_ = std::to_string(++stillRequests_);
        stillAsked_ = now;
        child_->send(std::string(kCaptureSnapshot) + *stillRequest_);
    }

    void takeStill(const Json& value) {
        const auto reply = captureReply(value);
        if (!reply || !stillRequest_ || reply->requestId != *stillRequest_) return;
        stillRequest_.reset();
        if (!reply->image) return;  // refused: asked again at the next turn
        const auto frame = jpegFrame(*reply->image);
        auto bytes = frame ? base64Decode(*reply->image) : std::nullopt;
        if (!bytes) return;
        server_->setStill(std::make_shared<const std::string>(bytes->begin(), bytes->end()));
        stillDisplay_ = reply->displayID;
        stillSize_ = Size{double(frame->width), double(frame->height)};
        Json notice = {{"seq", ++stills_}, {"width", frame->width}, {"height", frame->height}};
        notice["displayID"] = reply->displayID ? Json(*reply->displayID) : Json(nullptr);
        notice["observedAtMS"] = reply->observedAtMS ? Json(*reply->observedAtMS) : Json(nullptr);
        hub_.publish(kStillEvent, framed(kStillEvent, notice.dump()));
    }

    void publishStatus(Clock::time_point now) {
        const double span = Seconds(now - lastStatus_.value_or(started_)).count();
        lastStatus_ = now;
        const Json status = {{"linesPerSecond", span > 0 ? double(snapshotsSinceStatus_) / span : 0.0},
                             {"paused", paused_},
                             {"browsers", hub_.clients()},
                             {"samplerPid", child_->pid()}};
        snapshotsSinceStatus_ = 0;
        hub_.publish(kStatusEvent, framed(kStatusEvent, status.dump()));
    }

    int fail(const std::string& why) {
        errors_ << kPrefix << why << '\n';
        if (server_) server_->stop();
        return 1;
    }

    // Stops serving, then quits the child; a child that had to be forced, or
    // ended badly, turns a success into a failure.
    int finish(int status) {
        server_->stop();
        return quitChild(*child_, status, errors_);
    }

    const ViewOptions& options_;
    const int interrupt_;
    std::ostream& out_;
    std::ostream& errors_;
    const Clock::time_point started_;
    const std::vector<SceneDisplay> displays_;
    EventHub hub_;
    CommandInbox inbox_;
    std::unique_ptr<LiveServer> server_;  // stopped before the hub and the inbox go
    std::unique_ptr<SamplerChild> child_;
    SnapshotThinning thinning_;
    std::vector<std::string> lines_;
    std::string captureSession_;
    bool paused_ = false;
    std::uint64_t published_ = 0;
    std::uint64_t thinned_ = 0;  // snapshots left out since the last one published
    std::uint64_t stills_ = 0;
    std::uint64_t stillRequests_ = 0;
    std::optional<std::string> stillRequest_;
    Clock::time_point stillAsked_;
    std::optional<std::uint32_t> stillDisplay_;
    std::optional<Size> stillSize_;
    std::size_t snapshotsSinceStatus_ = 0;
    std::optional<Clock::time_point> lastStatus_;
};

}  // namespace

int runLiveView(const ViewOptions& options, const Environment& environment, int interrupt, std::ostream& out,
                std::ostream& errors) {
    return LiveLoop(options, environment, interrupt, out, errors).run();
}

}  // namespace scene::view
