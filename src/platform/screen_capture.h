#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "platform/platform_error.h"
#include "platform/rect.h"
#include "platform/window_server.h"

namespace scene {

class Queue;

inline constexpr std::uint32_t kPixelFormatBGRA = 1111970369;  // 'BGRA'

// What the user chose in the content-sharing picker.
struct ContentFilter {
    enum class Style { none, window, display, application };
    Style style = Style::display;
    Rect contentRect;
    std::vector<DisplayID> includedDisplays;  // reported from system version 15.2 on
};

struct StreamConfiguration {
    int width = 0;   // pixels
    int height = 0;  // pixels
    bool showsCursor = true;
    bool capturesAudio = false;
    bool shouldBeOpaque = false;
    std::uint32_t pixelFormat = kPixelFormatBGRA;
    std::string colorSpaceName;
    double minimumFrameInterval = 0;  // seconds
    int queueDepth = 3;
};

// Locked, read-only view of a frame's pixels.
struct PixelBuffer {
    std::uint32_t pixelFormat = kPixelFormatBGRA;
    int width = 0;
    int height = 0;
    std::size_t bytesPerRow = 0;
    // Nothing when the base address cannot be locked.
    std::shared_ptr<const std::vector<std::uint8_t>> bytes;
};

// One delivered frame. `attachments` is the first sample-attachment dictionary
// with the frame-info keys ("SCStreamFrameInfoStatus", ...ContentRect,
// ...ScreenRect, ...ScaleFactor, ...ContentScale), absent when the buffer has none.
struct SampleBuffer {
    bool valid = true;
    std::optional<nlohmann::json> attachments;
    double presentationTime = 0;  // host clock seconds
    std::optional<PixelBuffer> imageBuffer;
};

class CaptureStream;

class StreamOutput {
public:
    virtual ~StreamOutput() = default;
    // Runs on the queue the output was added with.
    virtual void didOutputSampleBuffer(CaptureStream& stream, const SampleBuffer& buffer) = 0;
};

class StreamDelegate {
public:
    virtual ~StreamDelegate() = default;
    // Any thread: the stream stopped on its own.
    virtual void didStopWithError(CaptureStream& stream, const PlatformError& error) = 0;
};

using CaptureCompletion = std::function<void(std::optional<PlatformError>)>;

// A capture stream of one filter. Completions arrive on any thread, once each.
class CaptureStream {
public:
    virtual ~CaptureStream() = default;
    virtual std::optional<PlatformError> addStreamOutput(StreamOutput& output, Queue& sampleHandlerQueue) = 0;
    virtual void startCapture(CaptureCompletion completion) = 0;
    virtual void stopCapture(CaptureCompletion completion) = 0;
};

struct PickerConfiguration {
    bool singleDisplayOnly = true;
    std::vector<std::string> excludedBundleIDs;
    bool allowsChangingSelectedContent = true;
};

// Receives the picker's answers, on any thread. `stream` is the stream the
// picker was presented for, when it was.
class PickerObserver {
public:
    virtual ~PickerObserver() = default;
    virtual void pickerDidUpdate(const ContentFilter& filter, CaptureStream* stream) = 0;
    virtual void pickerDidCancel(CaptureStream* stream) = 0;
    virtual void pickerStartDidFail(const PlatformError& error) = 0;
};

class ContentSharingPicker {
public:
    virtual ~ContentSharingPicker() = default;
    virtual void addObserver(PickerObserver& observer) = 0;
    virtual void removeObserver(PickerObserver& observer) = 0;
    virtual void setConfiguration(const PickerConfiguration& configuration) = 0;
    virtual void setActive(bool active) = 0;
    virtual void presentForDisplayContent() = 0;
    virtual void presentForStream(CaptureStream& stream) = 0;
};

// The screen-capture service: the shared picker, streams and the host clock.
class ScreenCapture {
public:
    virtual ~ScreenCapture() = default;
    virtual ContentSharingPicker& sharedPicker() = 0;
    virtual std::shared_ptr<CaptureStream> createStream(const ContentFilter& filter,
                                                        const StreamConfiguration& configuration,
                                                        StreamDelegate& delegate) = 0;
    // Host media clock, seconds; presentation times are on the same clock.
    virtual double hostTimeNow() = 0;
};

}  // namespace scene
