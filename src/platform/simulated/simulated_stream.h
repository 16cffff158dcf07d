#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

#include "platform/pixel_pool.h"
#include "platform/runtime.h"
#include "platform/screen_capture.h"
#include "platform/simulated/capture_settings.h"
#include "platform/simulated/desktop.h"
#include "platform/simulated/gated_queue.h"

namespace scene::simulated {

class StreamRegistry;

// One capture stream of the simulated desktop. Behaves as the scene's `stream`
// settings say at each step: adding the output, starting and stopping, and the
// rate, status, latency and stalls of its frames. Frames show the filter's
// display while it is active. Complete and started frames carry BGRA pixels
// rendered from a copy of the model at the configured size (none for other
// pixel formats or beyond 16384 pixels a side); frames of other statuses carry
// none, as the service sends nothing new for them. At most `queueDepth`
// buffers are on their way to the output at once; later slots are skipped.
//
// Completions, delegate calls and rendering run on the service's private serial
// queue, sample buffers on the queue the output was added with. Queued work
// holds the stream weakly: destroying it at any time cancels what is pending,
// completions included. Once stopCapture returns nothing more is posted to
// the output's queue and buffers still queued there are dropped (a call to the
// output already under way finishes). The output and its queue must outlive
// the stream's capture: stop the stream before letting them go. Letting go of
// the stream is no stop: a frame slot under way holds it a moment longer and
// may still post its buffer. The delegate must outlive the stream.
// Create it with std::make_shared. Any thread.
class SimulatedStream final : public CaptureStream, public std::enable_shared_from_this<SimulatedStream> {
public:
    SimulatedStream(ContentFilter filter, StreamConfiguration configuration, StreamDelegate& delegate,
                    std::shared_ptr<Desktop> desktop, Clock& clock, std::shared_ptr<GatedQueue> service,
                    std::weak_ptr<StreamRegistry> registry);

    // Fails with the scene's `addOutputError`; a second output replaces the first.
    std::optional<PlatformError> addStreamOutput(StreamOutput& output, Queue& sampleHandlerQueue) override;
    // Completes with the scene's `startError`, or starts delivering. Starting a
    // running stream completes at once and changes nothing; a stream stopped
    // on its own may be started again.
    void startCapture(CaptureCompletion completion) override;
    // Delivery ends at once; the completion follows the scene's `stop`.
    void stopCapture(CaptureCompletion completion) override;

    const ContentFilter& filter() const { return filter_; }
    const StreamConfiguration& configuration() const { return configuration_; }
    bool running() const;
    // Orders running streams by their latest start: the newest is primary.
    std::optional<std::uint64_t> runningStart() const;

    // The scene's stream settings changed: a new rate applies from now.
    void settingsChanged();
    // Stops as if the service ended the stream, then tells the delegate.
    // False when the stream was not running.
    bool stopWithError(const PlatformError& error);

private:
    void begin(std::uint64_t request, std::optional<PlatformError> error, const CaptureCompletion& completion);
    // Under `mutex_`, which orders starts and stops, so the pool follows the
    // latest. A stream that does not run keeps no pixel storage: its owner
    // may hold on to it long after its last frame (a retired stream is kept
    // only to recognise its late callbacks).
    void setRunning(bool running);
    void scheduleTick(std::uint64_t chain, double delay);
    void tick(std::uint64_t chain);
    void retime();
    void deliver(std::uint64_t run, SampleBuffer buffer, double latency);

    const ContentFilter filter_;
    const StreamConfiguration configuration_;
    StreamDelegate& delegate_;
    const std::shared_ptr<Desktop> desktop_;
    Clock& clock_;
    const std::shared_ptr<GatedQueue> service_;
    const std::weak_ptr<StreamRegistry> registry_;
    const std::optional<DisplayID> display_;  // what the frames show

    mutable std::mutex mutex_;
    StreamOutput* output_ = nullptr;
    Queue* outputQueue_ = nullptr;
    bool running_ = false;
    std::uint64_t run_ = 0;    // bumped by every start and stop: older buffers and starts are stale
    std::uint64_t chain_ = 0;  // bumped by every new frame schedule: older ticks are stale
    std::uint64_t startNumber_ = 0;
    double lastSlot_ = 0;  // uptime the latest frame slot was due
    double nextDue_ = 0;   // uptime the pending slot is due
    int inFlight_ = 0;     // buffers on their way to the output queue

    const std::shared_ptr<PixelPool> pixels_;
};

}  // namespace scene::simulated
