#include "platform/simulated/timeline_driver.h"

#include <algorithm>

namespace scene::simulated {

namespace {

std::vector<double> times(const std::vector<TimedAction>& timeline) {
    std::vector<double> at;
    for (const auto& entry : timeline) at.push_back(entry.at);
    return at;
}

std::vector<SceneAction> actions(std::vector<TimedAction> timeline) {
    std::vector<SceneAction> all;
    for (auto& entry : timeline) all.push_back(std::move(entry.action));
    return all;
}

}  // namespace

TimelineDriver::TimelineDriver(std::vector<TimedAction> timeline, std::optional<double> repeat,
                               std::shared_ptr<Desktop> desktop, Runtime& runtime)
    : schedule_(times(timeline), repeat), desktop_(std::move(desktop)), runtime_(runtime) {
    actions_ = actions(std::move(timeline));
}

void TimelineDriver::start() {
    startedAt_ = runtime_.clock().uptime();
    scheduleNext();
}

void TimelineDriver::scheduleNext() {
    const auto next = schedule_.peek();
    if (!next) return;
    const double delay = std::max(0.0, startedAt_ + next->time - runtime_.clock().uptime());
    runtime_.mainQueue().postAfter(delay, [weak = weak_from_this(), time = next->time] {
        if (const auto driver = weak.lock()) driver->playDue(time);
    });
}

void TimelineDriver::playDue(double time) {
    while (const auto next = schedule_.peek()) {
        if (next->time != time) break;
        schedule_.next();
        desktop_->apply(actions_[next->entry]);
    }
    scheduleNext();
}

}  // namespace scene::simulated
