#pragma once

#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "platform/pixel_pool.h"
#include "platform/runtime.h"
#include "platform/screen_capture.h"

namespace scene::x11 {

// A capture stream of one X monitor. Once started it reads the monitor on a
// thread of its own, over a connection of its own, at most five times a
// second (less often when the configuration's minimum frame interval is
// longer), and hands each grab to the output as a complete BGRA buffer of the
// configured size, on the queue the output was added with, stamped with the
// clock's uptime. At most `queueDepth` buffers are on their way at once; a grab
// due meanwhile is skipped.
//
// The capture thread answers start once it has found the monitor, and stop
// once it has let go of the server; a start of a running stream and a stop of
// one that is not running are answered at once on the calling thread. A
// monitor or connection lost while running ends the capture and tells the
// delegate, once. After stopCapture returns nothing more is posted to the
// output's queue and buffers still queued there are dropped (a call to the
// output already under way finishes): the output and its queue must outlive
// the capture, the delegate the stream. Destroying the stream ends its capture
// and joins the thread, answering stops still pending. Any thread.
class X11CaptureStream final : public CaptureStream, public std::enable_shared_from_this<X11CaptureStream> {
public:
    static std::shared_ptr<X11CaptureStream> create(std::string displayName, ContentFilter filter,
                                                    StreamConfiguration configuration, StreamDelegate& delegate,
                                                    Clock& clock);
    ~X11CaptureStream() override;
    X11CaptureStream(const X11CaptureStream&) = delete;
    X11CaptureStream& operator=(const X11CaptureStream&) = delete;

    // A second output replaces the first.
    std::optional<PlatformError> addStreamOutput(StreamOutput& output, Queue& sampleHandlerQueue) override;
    // A stream that ended, on request or on its own, may be started again.
    void startCapture(CaptureCompletion completion) override;
    void stopCapture(CaptureCompletion completion) override;

private:
    X11CaptureStream(std::string displayName, ContentFilter filter, StreamConfiguration configuration,
                     StreamDelegate& delegate, Clock& clock);
    // The capture thread of one run. Holds only `alive` of the stream: after
    // an answer it goes on only if the stream did not go with it.
    void capture(std::uint64_t run, const CaptureCompletion& started, const std::weak_ptr<X11CaptureStream>& alive);
    void deliver(std::uint64_t run, const SampleBuffer& buffer);
    // Under `mutex_`, which orders starts and ends, so the pool follows the
    // latest. A stream that does not run keeps no pixel storage: its owner
    // may hold on to it long after its last frame (a retired stream is kept
    // only to recognise its late callbacks).
    void setRunning(bool running);
    SampleBuffer sampleBuffer(const std::shared_ptr<std::vector<std::uint8_t>>& pixels, const Rect& bounds,
                              double presented) const;

    const std::string displayName_;
    const ContentFilter filter_;
    const StreamConfiguration configuration_;
    StreamDelegate& delegate_;
    Clock& clock_;
    const std::shared_ptr<PixelPool> pixels_;

    std::mutex mutex_;
    std::condition_variable wake_;  // a run ended: the capture thread stops waiting for its next grab
    std::thread thread_;            // the latest run's; joined before the next run starts
    StreamOutput* output_ = nullptr;
    Queue* outputQueue_ = nullptr;
    bool running_ = false;
    std::uint64_t run_ = 0;                 // bumped by every start and end: older runs and buffers are stale
    int inFlight_ = 0;                      // buffers on their way to the output queue
    std::vector<CaptureCompletion> stops_;  // stops of the running run, answered by its thread as it ends
};

}  // namespace scene::x11
