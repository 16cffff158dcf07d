#pragma once

#include <optional>
#include <vector>

#include "platform/rect.h"
#include "platform/screen_capture.h"
#include "platform/window_server.h"

namespace scene::simulated {

// How the content-sharing picker answers when presented. A plain value kept in
// the desktop model; the timeline's `picker` action changes it for next time.
struct PickerSettings {
    enum class Action { select, cancel, fail, none };

    Action action = Action::select;
    std::optional<DisplayID> display;                // the filter's display for "select"
    std::optional<std::vector<DisplayID>> displays;  // several included displays
    ContentFilter::Style style = ContentFilter::Style::display;
    std::optional<Rect> contentRect;  // none: the display's bounds
    double after = 0.2;               // seconds from presenting to the answer
    long code = -3801;                // error code for "fail"
};

// How capture streams behave. A plain value kept in the desktop model; the
// `stream` action changes running and future streams alike.
struct StreamSettings {
    enum class Stop { completes, hangs, fails };

    double fps = 5;
    long status = 0;  // frame status of delivered buffers
    double latency = 0.02;
    bool deliver = true;
    std::optional<long> addOutputError;
    std::optional<long> startError;
    Stop stop = Stop::completes;
    long stopCode = 0;  // the error of stop requests when `stop` is `fails`
};

}  // namespace scene::simulated
