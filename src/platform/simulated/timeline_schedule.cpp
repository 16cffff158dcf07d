#include "platform/simulated/timeline_schedule.h"

#include <algorithm>
#include <functional>
#include <numeric>
#include <tuple>

namespace scene::simulated {

bool TimelineSchedule::Cursor::operator>(const Cursor& other) const {
    return std::tie(time, repetition, position) > std::tie(other.time, other.repetition, other.position);
}

TimelineSchedule::TimelineSchedule(const std::vector<double>& at, std::optional<double> period)
    : order_(at.size()), at_(at), period_(period) {
    std::iota(order_.begin(), order_.end(), std::size_t{0});
    std::stable_sort(order_.begin(), order_.end(), [this](std::size_t a, std::size_t b) { return at_[a] < at_[b]; });
    if (!order_.empty()) pending_.push(cursor(0, 0));
}

TimelineSchedule::Cursor TimelineSchedule::cursor(std::uint64_t repetition, std::size_t position) const {
    const double start = period_ ? static_cast<double>(repetition) * *period_ : 0;
    return {start + at_[order_[position]], repetition, position};
}

std::optional<TimelineSchedule::Occurrence> TimelineSchedule::peek() const {
    if (pending_.empty()) return std::nullopt;
    const Cursor& top = pending_.top();
    return Occurrence{top.time, order_[top.position], top.repetition};
}

std::optional<TimelineSchedule::Occurrence> TimelineSchedule::next() {
    const auto occurrence = peek();
    if (!occurrence) return std::nullopt;
    const Cursor top = pending_.top();
    pending_.pop();
    // Each repetition walks its entries one after another, and starts the next
    // repetition when it plays its first entry: at most a few cursors are
    // pending, however long the timeline runs.
    if (top.position + 1 < order_.size()) pending_.push(cursor(top.repetition, top.position + 1));
    if (top.position == 0 && period_) pending_.push(cursor(top.repetition + 1, 0));
    return occurrence;
}

}  // namespace scene::simulated
