#pragma once

#include <memory>
#include <optional>
#include <vector>

#include "platform/runtime.h"
#include "platform/simulated/desktop.h"
#include "platform/simulated/scene_action.h"
#include "platform/simulated/timeline_schedule.h"

namespace scene::simulated {

// Plays a scene's timeline into the desktop on the main queue: one task per
// group of entries due at the same moment, each posted for its time after the
// start, so simultaneous entries keep their order whatever the queue does with
// equal deadlines. Owned by the platform; its tasks hold it weakly, so a
// destroyed platform just stops playing. Create with std::make_shared.
class TimelineDriver : public std::enable_shared_from_this<TimelineDriver> {
public:
    TimelineDriver(std::vector<TimedAction> timeline, std::optional<double> repeat, std::shared_ptr<Desktop> desktop,
                   Runtime& runtime);

    // Starts playing with time 0 at the runtime's current uptime.
    void start();

private:
    void scheduleNext();
    void playDue(double time);

    std::vector<SceneAction> actions_;
    TimelineSchedule schedule_;
    std::shared_ptr<Desktop> desktop_;
    Runtime& runtime_;
    double startedAt_ = 0;
};

}  // namespace scene::simulated
