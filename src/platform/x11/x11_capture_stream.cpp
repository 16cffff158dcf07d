#include "platform/x11/x11_capture_stream.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <system_error>
#include <utility>

#include "platform/x11/x11_capture_source.h"
#include "platform/x11/x11_capture_words.h"

namespace scene::x11 {
namespace {

// Selected capture never wants more; reading a whole monitor is not free.
constexpr double kShortestFrameInterval = 1.0 / 5;
// Frames beyond these sizes are refused rather than allocated.
constexpr int kLongestSide = 16384;
constexpr long long kMostPixels = 8192LL * 8192;
// Pixel storage a running stream keeps, lent and idle. Intake copies a buffer
// and lets it go long before the next grab is due, so one is all a steady
// stream needs; grabs that overlap take more for that while only.
constexpr std::size_t kKeptStorages = 1;

std::chrono::steady_clock::duration frameInterval(const StreamConfiguration& configuration) {
    double seconds = kShortestFrameInterval;
    // Also passes over NaN and an endless interval, neither a usable rate.
    if (std::isfinite(configuration.minimumFrameInterval) && configuration.minimumFrameInterval > seconds)
        seconds = configuration.minimumFrameInterval;
    return std::chrono::duration_cast<std::chrono::steady_clock::duration>(std::chrono::duration<double>(seconds));
}

bool producible(const StreamConfiguration& configuration) {
    return configuration.pixelFormat == kPixelFormatBGRA && configuration.width >= 1 && configuration.height >= 1 &&
           configuration.width <= kLongestSide && configuration.height <= kLongestSide &&
           static_cast<long long>(configuration.width) * configuration.height <= kMostPixels;
}

nlohmann::json rectDictionary(const Rect& rect) {
    nlohmann::json dictionary = nlohmann::json::object();
    dictionary[kRectX] = rect.x;
    dictionary[kRectY] = rect.y;
    dictionary[kRectWidth] = rect.width;
    dictionary[kRectHeight] = rect.height;
    return dictionary;
}

// Joins a finished run's thread, or lets it go when it is the calling thread:
// then it is inside one of its last answers and touches the stream no more.
void reap(std::thread& thread) {
    if (!thread.joinable()) return;
    if (thread.get_id() == std::this_thread::get_id()) {
        thread.detach();
    } else {
        thread.join();
    }
}

}  // namespace

std::shared_ptr<X11CaptureStream> X11CaptureStream::create(std::string displayName, ContentFilter filter,
                                                           StreamConfiguration configuration, StreamDelegate& delegate,
                                                           Clock& clock) {
    return std::shared_ptr<X11CaptureStream>(
        new X11CaptureStream(std::move(displayName), std::move(filter), std::move(configuration), delegate, clock));
}

X11CaptureStream::X11CaptureStream(std::string displayName, ContentFilter filter, StreamConfiguration configuration,
                                   StreamDelegate& delegate, Clock& clock)
    : displayName_(std::move(displayName)),
      filter_(std::move(filter)),
      configuration_(std::move(configuration)),
      delegate_(delegate),
      clock_(clock),
      pixels_(std::make_shared<PixelPool>(0)) {}

X11CaptureStream::~X11CaptureStream() {
    {
        std::lock_guard lock(mutex_);
        running_ = false;
        ++run_;
    }
    wake_.notify_all();
    reap(thread_);
    // Stops the thread did not get to: it ended with the stream, inside its
    // start answer.
    std::vector<CaptureCompletion> stops;
    {
        std::lock_guard lock(mutex_);
        stops.swap(stops_);
    }
    for (auto& stop : stops)
        if (stop) stop(std::nullopt);
}

void X11CaptureStream::setRunning(bool running) {
    running_ = running;
    pixels_->setKeep(running ? kKeptStorages : 0);
}

std::optional<PlatformError> X11CaptureStream::addStreamOutput(StreamOutput& output, Queue& sampleHandlerQueue) {
    std::lock_guard lock(mutex_);
    output_ = &output;
    outputQueue_ = &sampleHandlerQueue;
    return std::nullopt;
}

void X11CaptureStream::startCapture(CaptureCompletion completion) {
    std::thread finished;
    {
        std::lock_guard lock(mutex_);
        if (!running_) finished = std::move(thread_);
    }
    // Outside the lock: the finished run takes it on its way out.
    reap(finished);

    // Shared so that the answer survives a thread that could not be made.
    const auto answer = std::make_shared<CaptureCompletion>(std::move(completion));
    std::optional<PlatformError> failure;
    {
        std::lock_guard lock(mutex_);
        if (!running_) {
            setRunning(true);
            inFlight_ = 0;  // buffers of earlier runs no longer count
            const std::uint64_t run = ++run_;
            try {
                thread_ = std::thread([this, run, answer, alive = weak_from_this()] { capture(run, *answer, alive); });
                return;
            } catch (const std::system_error&) {
                setRunning(false);
                ++run_;
                failure = captureError(kCaptureNoThread);
            }
        }
    }
    // Already running (perhaps started from another thread meanwhile), or no
    // thread to run on.
    if (*answer) (*answer)(failure);
}

void X11CaptureStream::stopCapture(CaptureCompletion completion) {
    {
        std::lock_guard lock(mutex_);
        if (running_) {
            setRunning(false);
            ++run_;
            stops_.push_back(std::move(completion));
            wake_.notify_all();
            return;
        }
    }
    if (completion) completion(std::nullopt);
}

void X11CaptureStream::capture(std::uint64_t run, const CaptureCompletion& started,
                               const std::weak_ptr<X11CaptureStream>& alive) {
    std::optional<PlatformError> failure;
    X11CaptureSource::Opened opened;
    if (producible(configuration_)) {
        opened = X11CaptureSource::open(displayName_, filter_);
        if (!opened.source) failure = opened.error;
    } else {
        failure = captureError(kCaptureUnsupportedFormat);
    }
    std::vector<CaptureCompletion> stops;
    if (failure) {
        {
            std::lock_guard lock(mutex_);
            if (run_ == run) {
                setRunning(false);
                ++run_;
            }
            stops.swap(stops_);
        }
        if (started) started(failure);
        for (auto& stop : stops)
            if (stop) stop(std::nullopt);
        return;
    }
    if (started) started(std::nullopt);
    if (alive.expired()) return;

    std::unique_ptr<X11CaptureSource> source = std::move(opened.source);
    const auto interval = frameInterval(configuration_);
    const std::size_t depth = static_cast<std::size_t>(std::max(1, configuration_.queueDepth));
    auto due = std::chrono::steady_clock::now();
    std::optional<PlatformError> lost;
    for (;;) {
        bool room = false;
        {
            std::unique_lock lock(mutex_);
            if (wake_.wait_until(lock, due, [&] { return run_ != run; })) break;
            room = outputQueue_ != nullptr && static_cast<std::size_t>(inFlight_) < depth;
        }
        // Grabs keep to their grid; after a late one the next is a whole
        // interval away rather than a burst.
        const auto now = std::chrono::steady_clock::now();
        due += interval;
        if (due <= now) due = now + interval;
        if (!room) continue;

        X11CaptureSource::Grab grab = source->grab(configuration_.width, configuration_.height, *pixels_);
        const double presented = clock_.uptime();
        if (grab.error) {
            std::lock_guard lock(mutex_);
            if (run_ == run) {
                setRunning(false);
                ++run_;
                lost = grab.error;
            }
            break;
        }
        if (!grab.pixels) continue;
        SampleBuffer buffer = sampleBuffer(grab.pixels, grab.bounds, presented);
        grab.pixels.reset();
        // Posted under the lock: once stopCapture returns, nothing more
        // reaches the output's queue, so its owner may then let it go.
        std::lock_guard lock(mutex_);
        if (run_ != run) break;
        if (outputQueue_ == nullptr) continue;
        ++inFlight_;
        outputQueue_->post([weak = alive, run, buffer = std::move(buffer)] {
            if (const auto self = weak.lock()) self->deliver(run, buffer);
        });
    }

    {
        std::lock_guard lock(mutex_);
        stops.swap(stops_);
    }
    StreamDelegate& delegate = delegate_;
    // Let go of the server before anyone hears that capture ended.
    source.reset();
    if (lost) delegate.didStopWithError(*this, *lost);
    for (auto& stop : stops)
        if (stop) stop(std::nullopt);
}

SampleBuffer X11CaptureStream::sampleBuffer(const std::shared_ptr<std::vector<std::uint8_t>>& pixels,
                                            const Rect& bounds, double presented) const {
    SampleBuffer buffer;
    nlohmann::json attachments = nlohmann::json::object();
    attachments[kFrameInfoStatus] = kFrameStatusComplete;
    attachments[kFrameInfoContentRect] = rectDictionary({0, 0, bounds.absWidth(), bounds.absHeight()});
    attachments[kFrameInfoScreenRect] = rectDictionary(bounds);
    attachments[kFrameInfoScaleFactor] = bounds.absWidth() > 0 ? configuration_.width / bounds.absWidth() : 0.0;
    attachments[kFrameInfoContentScale] = 1.0;
    buffer.attachments = std::move(attachments);
    buffer.presentationTime = presented;
    PixelBuffer image;
    image.pixelFormat = kPixelFormatBGRA;
    image.width = configuration_.width;
    image.height = configuration_.height;
    image.bytesPerRow = static_cast<std::size_t>(configuration_.width) * 4;
    image.bytes = pixels;
    buffer.imageBuffer = std::move(image);
    return buffer;
}

void X11CaptureStream::deliver(std::uint64_t run, const SampleBuffer& buffer) {
    StreamOutput* output = nullptr;
    {
        std::lock_guard lock(mutex_);
        if (run != run_) return;
        --inFlight_;
        output = output_;
    }
    if (output != nullptr) output->didOutputSampleBuffer(*this, buffer);
}

}  // namespace scene::x11
