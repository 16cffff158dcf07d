#include "tools/view/view_run.h"

#include <poll.h>
#include <unistd.h>

#include <chrono>
#include <ctime>
#include <filesystem>

#include "platform/json_read.h"
#include "tools/view/display_bounds.h"
#include "tools/view/jpeg_frame.h"
#include "tools/view/picture_file.h"
#include "tools/view/child_ending.h"
#include "tools/view/sampler_child.h"
#include "tools/view/sampler_lines.h"
#include "tools/view/sampler_path.h"
#include "tools/view/snapshot_rate.h"
#include "tools/view/svg_writer.h"

namespace scene::view {
namespace {

using Clock = std::chrono::steady_clock;
using Seconds = std::chrono::duration<double>;

// The sampler's own words.
constexpr std::string_view kCaptureSelect = "capture-select";
constexpr std::string_view kCaptureSnapshot = "capture-snapshot ";
constexpr std::string_view kOnceArgument = "--once";
constexpr std::string_view kAllowScreenCapture = "--allow-screen-capture";
constexpr std::string_view kCaptureAccess = "captureAccess";
constexpr std::string_view kCaptureDisabled = "capture-disabled";
constexpr std::string_view kCaptureSession = "captureSession";

// A refused still is asked for again this much later: the sampler answers at
// once while it has no frame at all, as it has just after "capture-select".
constexpr std::chrono::milliseconds kRetryDelay{250};
constexpr const char* kPrefix = kViewPrefix;

std::string localTime() {
    const std::time_t now = std::time(nullptr);
    std::tm parts{};
    localtime_r(&now, &parts);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &parts);
    return text;
}

Clock::duration span(double seconds) { return std::chrono::duration_cast<Clock::duration>(Seconds(seconds)); }

// Reads the signal descriptor's pending record so it stops being readable.
void drainInterrupt(int interrupt) {
    char record[256];
    [[maybe_unused]] const ssize_t n = ::read(interrupt, record, sizeof record);
}

// One viewer run. Owns the child; lives on the main thread for one call of
// runSceneView.
class ViewLoop {
public:
    ViewLoop(const ViewOptions& options, const Environment& environment, int interrupt, std::ostream& errors)
        : options_(options),
          interrupt_(interrupt),
          errors_(errors),
          started_(Clock::now()),
          displays_(sceneDisplays(options.samplerArguments, environment)) {}

    int run() { return options_.mode == ViewOptions::Mode::once ? runOnce() : runContinuous(); }

private:
    struct Frame {
        JpegFrame jpeg;
        std::optional<std::uint32_t> displayID;
    };

    bool start(bool once) {
        std::vector<std::string> arguments{std::to_string(::getpid())};
        if (once) arguments.emplace_back(kOnceArgument);
        arguments.insert(arguments.end(), options_.samplerArguments.begin(), options_.samplerArguments.end());
        auto started = SamplerChild::start(samplerPath(options_), arguments);
        if (!started.child) {
            errors_ << kPrefix << started.error << '\n';
            return false;
        }
        child_ = std::move(started.child);
        return true;
    }

    int runOnce() {
        if (!start(true)) return 1;
        child_->closeInput();
        const auto deadline = Clock::now() + span(options_.frameTimeout);
        bool ended = false;
        while (!ended) {
            const auto now = Clock::now();
            if (now >= deadline) {
                errors_ << kPrefix << "the sampler's single pass took longer than " << options_.frameTimeout << " s\n";
                return finish(1);
            }
            const Wake wake = waitFor(waitMilliseconds(now, deadline));
            if (wake.interrupted) return finish(1, "interrupted before the picture was taken");
            if (wake.output) ended = !readOutput();
        }
        const auto status = child_->wait(kQuitPatience);
        if (!status || *status != 0) {
            errors_ << kPrefix << "scene-sampler --once ended with "
                    << (status ? statusText(*status) : std::string("no exit")) << '\n';
            return 1;
        }
        if (!snapshot_) {
            errors_ << kPrefix << "scene-sampler --once wrote no snapshot\n";
            return 1;
        }
        return writePicture(options_.out, std::nullopt) ? 0 : 1;
    }

    int runContinuous() {
        if (!start(false)) return 1;
        child_->send(kCaptureSelect);
        Clock::time_point due = started_ + span(options_.after);
        const auto every = span(options_.every);
        const auto frameTimeout = span(options_.frameTimeout);
        bool waiting = false;  // a picture is due and waits for its frame
        Clock::time_point frameDeadline;
        int written = 0;
        while (true) {
            const auto now = Clock::now();
            if (!waiting && now >= due) {
                waiting = true;
                frameDeadline = due + frameTimeout;
                frame_.reset();
                lastRefusal_.reset();
                request();
            }
            if (waiting && retryAt_ && now >= *retryAt_) request();
            if (waiting && frame_ && snapshot_) {
                const std::string path = options_.mode == ViewOptions::Mode::single
                                             ? options_.out
                                             : seriesPictureName(options_.outDir, ++written);
                if (!writePicture(path, frame_)) return finish(1);
                if (options_.mode == ViewOptions::Mode::single) return finish(0);
                waiting = false;
                due = std::max(due + every, now);
                continue;
            }
            if (waiting && now >= frameDeadline) {
                reportMissingFrame();
                return finish(1);
            }
            Clock::time_point wakeAt = waiting ? frameDeadline : due;
            if (retryAt_) wakeAt = std::min(wakeAt, *retryAt_);
            const Wake wake = waitFor(waitMilliseconds(now, wakeAt));
            if (wake.interrupted) {
                if (options_.mode == ViewOptions::Mode::series) return finish(0);
                return finish(1, "interrupted before the picture was taken");
            }
            if (wake.output && !readOutput()) {
                return childEndedEarly(*child_, errors_);
            }
        }
    }

    struct Wake {
        bool output = false;
        bool interrupted = false;
    };

    Wake waitFor(int milliseconds) {
        pollfd ready[2] = {{child_->outputDescriptor(), POLLIN, 0}, {interrupt_, POLLIN, 0}};
        const nfds_t count = interrupt_ >= 0 ? 2 : 1;
        if (::poll(ready, count, milliseconds) <= 0) return {};
        Wake wake;
        wake.output = ready[0].revents != 0;
        if (count == 2 && ready[1].revents != 0) {
            drainInterrupt(interrupt_);
            wake.interrupted = true;
        }
        return wake;
    }

    // False at the end of the child's output.
    bool readOutput() {
        std::vector<std::string> lines;
        const bool open = child_->readLines(lines);
        for (const auto& text : lines) take(text);
        return open;
    }

    void take(const std::string& text) {
        SamplerLine line = classifySamplerLine(text);
        if (line.kind == SamplerLine::Kind::snapshot) {
            rate_.observe(Seconds(Clock::now() - started_).count());
            snapshot_ = std::move(line.value);
            return;
        }
        if (line.kind != SamplerLine::Kind::captureReply) return;
        const auto reply = captureReply(line.value);
        if (!reply || !pendingRequest_ || reply->requestId != *pendingRequest_) return;
        pendingRequest_.reset();
        if (reply->image) {
            if (auto jpeg = jpegFrame(*reply->image)) {
                frame_ = Frame{std::move(*jpeg), reply->displayID};
                return;
            }
        }
        lastRefusal_ = reply->error.value_or("an image that is not a readable JPEG");
        retryAt_ = Clock::now() + kRetryDelay;
    }

    void request() {
        retryAt_.reset();
        pendingRequest_ = std::to_string(++requests_);
        child_->send(std::string(kCaptureSnapshot) + *pendingRequest_);
    }

    void reportMissingFrame() {
        errors_ << kPrefix << "no JPEG frame within " << options_.frameTimeout << " s: ";
        if (lastRefusal_)
            errors_ << "the sampler answered \"" << *lastRefusal_ << "\"";
        else
            errors_ << "the sampler did not answer";
        if (snapshot_) {
            if (const auto session = json_read::string(*snapshot_, kCaptureSession))
                errors_ << " (capture session \"" << *session << "\")";
            // The sampler says so itself when its configuration rules capture out.
            if (json_read::string(*snapshot_, kCaptureAccess) == kCaptureDisabled)
                errors_ << "; capture is disabled: give the sampler " << kAllowScreenCapture << " (after \"--\")";
        }
        errors_ << '\n';
    }

    bool writePicture(const std::string& path, const std::optional<Frame>& frame) {
        ScenePicture picture;
        picture.snapshot = *snapshot_;
        if (frame) picture.frame = frame->jpeg;
        DisplayClues clues;
        clues.given = options_.displayBounds;
        clues.frameScreenRect = frameScreenRect(*snapshot_);
        clues.displayID = frame && frame->displayID ? frame->displayID : selectedDisplay(*snapshot_);
        clues.sceneDisplays = displays_;
        if (frame) clues.frameSize = Size{double(frame->jpeg.width), double(frame->jpeg.height)};
        picture.display = displayBounds(clues);
        if (options_.mode != ViewOptions::Mode::once) picture.snapshotsPerSecond = rate_.perSecond();
        picture.time = localTime();
        if (const auto error = writePictureFile(path, sceneSvg(picture))) {
            errors_ << kPrefix << *error << '\n';
            return false;
        }
        return true;
    }

    // Quits the child; a child that had to be forced, or ended badly, turns a
    // success into a failure.
    int finish(int status, const char* reason = nullptr) {
        if (reason != nullptr) errors_ << kPrefix << reason << '\n';
        return quitChild(*child_, status, errors_);
    }

    const ViewOptions& options_;
    const int interrupt_;
    std::ostream& errors_;
    const Clock::time_point started_;
    const std::vector<SceneDisplay> displays_;
    std::unique_ptr<SamplerChild> child_;
    std::optional<Json> snapshot_;  // the latest snapshot line
    SnapshotRate rate_;
    std::optional<Frame> frame_;  // the still for the picture being taken
    std::uint64_t requests_ = 0;
    std::optional<std::string> pendingRequest_;
    std::optional<Clock::time_point> retryAt_;
    std::optional<std::string> lastRefusal_;
};

}  // namespace

int runSceneView(const ViewOptions& options, const Environment& environment, int interrupt, std::ostream& errors) {
    if (options.mode == ViewOptions::Mode::series) {
        std::error_code error;
        std::filesystem::create_directories(options.outDir, error);
        if (error) {
            errors << kPrefix << "cannot make " << options.outDir << ": " << error.message() << '\n';
            return 1;
        }
    }
    return ViewLoop(options, environment, interrupt, errors).run();
}

}  // namespace scene::view
