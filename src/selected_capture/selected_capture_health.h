#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace scene {

// Judges the selected display's stream once per sampling pass: wait, replace the
// transport, or give up. A plain value; the session owns one and touches it on
// the main queue only. Times are uptime seconds.
struct SelectedCaptureHealth {
    enum class Action { wait, replace, exhausted };

    // A stream may stay open and simply go quiet (display reconfigured, system
    // woke up); this long without a frame counts as a stall.
    static constexpr double kStallLimit = 12.0;
    static constexpr int kAttemptLimit = 3;
    // Frames further apart than this break a healthy run.
    static constexpr double kGapLimit = 2.0;
    // A healthy run this long forgives earlier recovery attempts.
    static constexpr double kHealthyReset = 30.0;
    // Frames older than this are not shown to samplers.
    static constexpr double kFreshLimit = 0.7;

    double began = 0;                    // start of the current attempt or eligible period
    std::optional<double> lastFrame;     // newest frame observed since `began`
    std::optional<double> healthySince;  // start of the current steady run
    int attempts = 0;                    // recoveries since the last long healthy run or new selection

    void begin(double now);
    // `now` is the frame's observation time, not the time of the call: thirty
    // seconds of frames at most two seconds apart forgive earlier attempts.
    void observe(double now);
    // While not eligible (paused, picker showing, display asleep) the stall
    // clock restarts, so a stall always counts from when frames could flow.
    // Never changes `attempts`: the session counts an attempt when it acts.
    Action action(double now, bool eligible);
};

// A published frame may be shown only while it belongs to the current
// generation, capture is neither paused nor being re-selected, and it is
// younger than the fresh limit.
bool selectedFrameIsFresh(double observed, std::uint64_t frameGeneration, std::uint64_t generation, double now,
                          bool paused, bool selecting);

// The session state a stream error leads to.
std::string selectedFailureState(std::string_view domain, long code);

// The connection to the capture service itself went away: the stream object is
// dead and only a new one can deliver again.
bool selectedConnectionWasLost(std::string_view domain, long code);

}  // namespace scene
