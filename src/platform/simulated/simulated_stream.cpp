#include "platform/simulated/simulated_stream.h"

#include <algorithm>
#include <cmath>
#include <string>
#include <utility>

#include "platform/simulated/capture_words.h"
#include "platform/simulated/frame_renderer.h"
#include "platform/simulated/stream_registry.h"

namespace scene::simulated {
namespace {

// No display refreshes faster; also keeps an absurd `fps` from spinning.
constexpr double kShortestFrameInterval = 1.0 / 120;
// Frames beyond these sizes carry no pixels rather than a huge allocation.
constexpr int kLongestSide = 16384;
constexpr long long kMostPixels = 8192LL * 8192;
// Frame statuses whose buffers carry pixels: complete and started.
constexpr long kStatusComplete = 0;
constexpr long kStatusStarted = 4;
// Pixel storage a running stream keeps, lent and idle. Intake copies a buffer
// and lets it go long before the next slot, so one is all a steady stream
// needs; frames that overlap take more for that while only.
constexpr std::size_t kKeptStorages = 1;

double frameInterval(const StreamSettings& settings, const StreamConfiguration& configuration) {
    double interval = settings.fps > 0 ? 1.0 / settings.fps : 0;
    if (configuration.minimumFrameInterval > interval) interval = configuration.minimumFrameInterval;
    if (!std::isfinite(interval)) return kShortestFrameInterval;  // also NaN: not a usable rate
    return std::max(interval, kShortestFrameInterval);
}

Json rectDictionary(const Rect& rect) {
    Json dictionary = Json::object();
    dictionary[kRectX] = rect.x;
    dictionary[kRectY] = rect.y;
    dictionary[kRectWidth] = rect.width;
    dictionary[kRectHeight] = rect.height;
    return dictionary;
}

bool renderable(const StreamConfiguration& configuration) {
    return configuration.pixelFormat == kPixelFormatBGRA && configuration.width >= 1 && configuration.height >= 1 &&
           configuration.width <= kLongestSide && configuration.height <= kLongestSide &&
           static_cast<long long>(configuration.width) * configuration.height <= kMostPixels;
}

PlatformError streamError(long code) { return {std::string(kStreamErrorDomain), code}; }

// What one frame slot needs from the model, copied under the desktop's lock.
struct FrameSource {
    StreamSettings settings;
    std::optional<Rect> display;      // none: the display is gone or inactive
    std::optional<FrameScene> scene;  // when the frame carries pixels
};

}  // namespace

SimulatedStream::SimulatedStream(ContentFilter filter, StreamConfiguration configuration, StreamDelegate& delegate,
                                 std::shared_ptr<Desktop> desktop, Clock& clock, std::shared_ptr<GatedQueue> service,
                                 std::weak_ptr<StreamRegistry> registry)
    : filter_(std::move(filter)),
      configuration_(std::move(configuration)),
      delegate_(delegate),
      desktop_(std::move(desktop)),
      clock_(clock),
      service_(std::move(service)),
      registry_(std::move(registry)),
      display_(desktop_->read([this](const DesktopModel& model) { return filterDisplay(model, filter_); })),
      pixels_(std::make_shared<PixelPool>(0)) {}

std::optional<PlatformError> SimulatedStream::addStreamOutput(StreamOutput& output, Queue& sampleHandlerQueue) {
    const auto failure = desktop_->read([](const DesktopModel& model) { return model.stream.addOutputError; });
    if (failure) return streamError(*failure);
    std::lock_guard lock(mutex_);
    output_ = &output;
    outputQueue_ = &sampleHandlerQueue;
    return std::nullopt;
}

void SimulatedStream::startCapture(CaptureCompletion completion) {
    const auto failure = desktop_->read([](const DesktopModel& model) { return model.stream.startError; });
    std::uint64_t request = 0;
    {
        std::lock_guard lock(mutex_);
        request = run_;
    }
    std::optional<PlatformError> error;
    if (failure) error = streamError(*failure);
    service_->post([weak = weak_from_this(), request, error, completion = std::move(completion)] {
        if (const auto self = weak.lock()) self->begin(request, error, completion);
    });
}

void SimulatedStream::begin(std::uint64_t request, std::optional<PlatformError> error,
                            const CaptureCompletion& completion) {
    if (!error) {
        std::optional<std::uint64_t> chain;
        {
            std::lock_guard lock(mutex_);
            // A stop that came after the request wins; a running stream stays as it is.
            if (!running_ && run_ == request) {
                setRunning(true);
                ++run_;
                const auto registry = registry_.lock();
                startNumber_ = registry ? registry->nextStart() : 0;
                chain = ++chain_;
                lastSlot_ = nextDue_ = clock_.uptime();
            }
        }
        // Posted, so the completion below runs before the first frame.
        if (chain) scheduleTick(*chain, 0);
    }
    if (completion) completion(error);
}

void SimulatedStream::stopCapture(CaptureCompletion completion) {
    const auto [behaviour, code] =
        desktop_->read([](const DesktopModel& model) { return std::pair(model.stream.stop, model.stream.stopCode); });
    {
        std::lock_guard lock(mutex_);
        setRunning(false);
        ++run_;
        ++chain_;
    }
    if (behaviour == StreamSettings::Stop::hangs || !completion) return;
    std::optional<PlatformError> error;
    if (behaviour == StreamSettings::Stop::fails) error = streamError(code);
    service_->post([weak = weak_from_this(), error, completion = std::move(completion)] {
        if (weak.lock()) completion(error);
    });
}

void SimulatedStream::setRunning(bool running) {
    running_ = running;
    pixels_->setKeep(running ? kKeptStorages : 0);
}

bool SimulatedStream::running() const {
    std::lock_guard lock(mutex_);
    return running_;
}

std::optional<std::uint64_t> SimulatedStream::runningStart() const {
    std::lock_guard lock(mutex_);
    if (!running_) return std::nullopt;
    return startNumber_;
}

void SimulatedStream::settingsChanged() {
    service_->post([weak = weak_from_this()] {
        if (const auto self = weak.lock()) self->retime();
    });
}

bool SimulatedStream::stopWithError(const PlatformError& error) {
    {
        std::lock_guard lock(mutex_);
        if (!running_) return false;
        setRunning(false);
        ++run_;
        ++chain_;
    }
    service_->post([weak = weak_from_this(), error] {
        if (const auto self = weak.lock()) self->delegate_.didStopWithError(*self, error);
    });
    return true;
}

void SimulatedStream::scheduleTick(std::uint64_t chain, double delay) {
    service_->postAfter(std::max(0.0, delay), [weak = weak_from_this(), chain] {
        if (const auto self = weak.lock()) self->tick(chain);
    });
}

// A faster rate counts from the latest frame slot, not from the next one the
// old rate had planned; a slower one keeps that next slot.
void SimulatedStream::retime() {
    const auto settings = desktop_->read([](const DesktopModel& model) { return model.stream; });
    const double now = clock_.uptime();
    std::uint64_t chain = 0;
    double due = 0;
    {
        std::lock_guard lock(mutex_);
        if (!running_) return;
        chain = ++chain_;
        due = nextDue_ = std::max(now, std::min(nextDue_, lastSlot_ + frameInterval(settings, configuration_)));
    }
    scheduleTick(chain, due - now);
}

void SimulatedStream::tick(std::uint64_t chain) {
    const bool wantsPixels = renderable(configuration_);
    FrameSource source = desktop_->read([this, wantsPixels](const DesktopModel& model) {
        FrameSource source{model.stream, std::nullopt, std::nullopt};
        const DisplayModel* display = display_ ? model.display(*display_) : nullptr;
        if (display == nullptr || !display->active) return source;
        source.display = display->bounds;
        const long status = model.stream.status;
        if (wantsPixels && (status == kStatusComplete || status == kStatusStarted))
            source.scene = frameScene(model, *display_);
        return source;
    });
    const double now = clock_.uptime();

    std::uint64_t run = 0;
    {
        std::lock_guard lock(mutex_);
        if (!running_ || chain != chain_) return;
        // Slots keep to their grid; after a late tick the next one is a whole
        // interval away rather than a burst.
        lastSlot_ = nextDue_;
        nextDue_ = lastSlot_ + frameInterval(source.settings, configuration_);
        if (nextDue_ <= now) nextDue_ = now + frameInterval(source.settings, configuration_);
        scheduleTick(chain, nextDue_ - now);
        const bool wanted = source.settings.deliver && source.display && outputQueue_ != nullptr;
        if (!wanted || inFlight_ >= std::max(1, configuration_.queueDepth)) return;
        run = run_;
    }

    const Rect& display = *source.display;
    SampleBuffer buffer;
    Json attachments = Json::object();
    attachments[kFrameInfoStatus] = source.settings.status;
    attachments[kFrameInfoContentRect] = rectDictionary({0, 0, display.absWidth(), display.absHeight()});
    attachments[kFrameInfoScreenRect] = rectDictionary(display);
    attachments[kFrameInfoScaleFactor] = display.absWidth() > 0 ? configuration_.width / display.absWidth() : 0.0;
    attachments[kFrameInfoContentScale] = 1.0;
    buffer.attachments = std::move(attachments);
    if (source.scene) {
        PixelBuffer pixels;
        pixels.pixelFormat = configuration_.pixelFormat;
        pixels.width = configuration_.width;
        pixels.height = configuration_.height;
        pixels.bytesPerRow = static_cast<std::size_t>(pixels.width) * 4;
        auto storage = pixels_->take(pixels.bytesPerRow * static_cast<std::size_t>(pixels.height));
        renderFrame(*source.scene, pixels.width, pixels.height, storage->data(), pixels.bytesPerRow);
        pixels.bytes = std::move(storage);
        buffer.imageBuffer = std::move(pixels);
    }
    // Posted under the lock: once stopCapture returns, nothing more reaches
    // the output's queue, so its owner may then let it go.
    std::lock_guard lock(mutex_);
    if (!running_ || run != run_ || outputQueue_ == nullptr) return;
    ++inFlight_;
    outputQueue_->post(
        [weak = weak_from_this(), run, buffer = std::move(buffer), latency = source.settings.latency]() mutable {
            if (const auto self = weak.lock()) self->deliver(run, std::move(buffer), latency);
        });
}

void SimulatedStream::deliver(std::uint64_t run, SampleBuffer buffer, double latency) {
    StreamOutput* output = nullptr;
    {
        std::lock_guard lock(mutex_);
        --inFlight_;
        if (!running_ || run != run_) return;
        output = output_;
    }
    if (output == nullptr) return;
    buffer.presentationTime = clock_.uptime() - latency;
    output->didOutputSampleBuffer(*this, buffer);
}

}  // namespace scene::simulated
