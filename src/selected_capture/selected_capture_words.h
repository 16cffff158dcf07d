#pragma once

#include <string_view>

// The selected capture's own vocabulary: state words, event names, recovery
// reasons, and the stream errors it tells apart. Everything the session
// publishes is spelled here and nowhere else.
namespace scene::selected_words {

// States.
inline constexpr std::string_view kSelectionRequired = "selection-required";
inline constexpr std::string_view kSelecting = "selecting";
inline constexpr std::string_view kStarting = "starting";
inline constexpr std::string_view kReady = "ready";
inline constexpr std::string_view kInterrupted = "interrupted";
inline constexpr std::string_view kFailed = "failed";
inline constexpr std::string_view kStopped = "stopped";
inline constexpr std::string_view kRejected = "rejected";
inline constexpr std::string_view kSourceChanged = "source-changed";
inline constexpr std::string_view kUnsupportedSelection = "unsupported-selection";
// Reported in place of "ready" when the newest frame is no longer usable.
inline constexpr std::string_view kStale = "stale";

// Events besides the state words.
inline constexpr std::string_view kStartRequest = "start-request";
inline constexpr std::string_view kStartCompleted = "start-completed";
inline constexpr std::string_view kStartError = "start-error";
inline constexpr std::string_view kFirstFrame = "first-frame";
inline constexpr std::string_view kTransportRetiring = "transport-retiring";
inline constexpr std::string_view kTransportRetired = "transport-retired";

// Recovery reasons.
inline constexpr std::string_view kRecoveryExhausted = "recovery-exhausted";
inline constexpr std::string_view kConnectionLost = "connection-lost";
inline constexpr std::string_view kTransportStopTimeout = "transport-stop-timeout";
inline constexpr std::string_view kTransportStopError = "transport-stop-error";
inline constexpr std::string_view kStartWithoutFrames = "start-without-frames";
inline constexpr std::string_view kFramesStalled = "frames-stalled";

// The capture service's stream errors.
inline constexpr std::string_view kStreamErrorDomain = "SCStreamErrorDomain";
inline constexpr long kUserStoppedCode = -3817;
inline constexpr long kInterruptedCode = -3815;
inline constexpr long kDeclinedCode = -3801;
inline constexpr long kConnectionInvalidCode = -3805;
inline constexpr long kConnectionInterruptedCode = -3804;

// Keys of a sample buffer's frame-info attachments.
inline constexpr std::string_view kFrameStatusKey = "SCStreamFrameInfoStatus";
inline constexpr std::string_view kFrameContentRectKey = "SCStreamFrameInfoContentRect";
inline constexpr std::string_view kFrameScreenRectKey = "SCStreamFrameInfoScreenRect";
inline constexpr std::string_view kFrameScaleFactorKey = "SCStreamFrameInfoScaleFactor";
inline constexpr std::string_view kFrameContentScaleKey = "SCStreamFrameInfoContentScale";

// Frame statuses that carry pixels (complete, started) and the one that says
// nothing changed; every other status means no pixels can be shown.
inline constexpr int kFrameComplete = 0;
inline constexpr int kFrameIdle = 1;
inline constexpr int kFrameStarted = 4;

// Login-session dictionary keys.
inline constexpr std::string_view kScreenIsLockedKey = "CGSSessionScreenIsLocked";
inline constexpr std::string_view kOnConsoleKey = "kCGSSessionOnConsoleKey";

// The colour space the stream is asked to deliver in.
inline constexpr std::string_view kSRGBColorSpaceName = "kCGColorSpaceSRGB";

}  // namespace scene::selected_words
