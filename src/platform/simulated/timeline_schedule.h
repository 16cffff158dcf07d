#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <queue>
#include <vector>

namespace scene::simulated {

// The order in which timeline entries play: by time; entries of equal time in
// file order; with a period, the whole timeline again every period, forever,
// an earlier repetition before a later one at equal times (entries later than
// the period overlap the next repetition). A plain value; the timeline driver
// owns one on the main queue.
class TimelineSchedule {
public:
    struct Occurrence {
        double time = 0;        // seconds after the start
        std::size_t entry = 0;  // index into the file's timeline
        std::uint64_t repetition = 0;
    };

    TimelineSchedule(const std::vector<double>& at, std::optional<double> period);

    std::optional<Occurrence> peek() const;
    std::optional<Occurrence> next();

private:
    struct Cursor {
        double time;
        std::uint64_t repetition;
        std::size_t position;  // into `order_`
        bool operator>(const Cursor& other) const;
    };

    Cursor cursor(std::uint64_t repetition, std::size_t position) const;

    std::vector<std::size_t> order_;  // entry indices sorted stably by time
    std::vector<double> at_;          // entry times, file order
    std::optional<double> period_;
    std::priority_queue<Cursor, std::vector<Cursor>, std::greater<>> pending_;
};

}  // namespace scene::simulated
