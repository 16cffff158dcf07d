#include "platform/simulated/timeline_schedule.h"

#include <gtest/gtest.h>

#include <utility>
#include <vector>

namespace scene::simulated {
namespace {

// The first `count` occurrences as (time, entry) pairs.
std::vector<std::pair<double, std::size_t>> play(TimelineSchedule schedule, std::size_t count) {
    std::vector<std::pair<double, std::size_t>> played;
    while (played.size() < count) {
        const auto next = schedule.next();
        if (!next) break;
        played.emplace_back(next->time, next->entry);
    }
    return played;
}

using Played = std::vector<std::pair<double, std::size_t>>;

TEST(TimelineScheduleTest, PlaysByTimeWithEqualTimesInFileOrder) {
    EXPECT_EQ(play(TimelineSchedule({2, 1, 2, 0, 1}, std::nullopt), 10),
              (Played{{0, 3}, {1, 1}, {1, 4}, {2, 0}, {2, 2}}));
}

TEST(TimelineScheduleTest, EndsWithoutPeriodAndNeverStartsWhenEmpty) {
    TimelineSchedule once({0.5}, std::nullopt);
    EXPECT_TRUE(once.next());
    EXPECT_FALSE(once.next());
    EXPECT_FALSE(once.peek());
    EXPECT_FALSE(TimelineSchedule({}, 2.0).peek());
}

TEST(TimelineScheduleTest, RepeatsTheWholeTimelineEveryPeriod) {
    EXPECT_EQ(play(TimelineSchedule({1, 0}, 2.0), 6), (Played{{0, 1}, {1, 0}, {2, 1}, {3, 0}, {4, 1}, {5, 0}}));
}

TEST(TimelineScheduleTest, EntriesBeyondThePeriodOverlapTheNextRepetition) {
    // Entry 1 at 3 s with a 2 s period: repetition k plays it at 2k + 3, after
    // the next repetition's first entry; at equal times the earlier repetition goes first.
    EXPECT_EQ(play(TimelineSchedule({0, 3}, 2.0), 7), (Played{{0, 0}, {2, 0}, {3, 1}, {4, 0}, {5, 1}, {6, 0}, {7, 1}}));
    EXPECT_EQ(play(TimelineSchedule({0, 2}, 2.0), 5), (Played{{0, 0}, {2, 1}, {2, 0}, {4, 1}, {4, 0}}));
}

TEST(TimelineScheduleTest, PeekShowsWhatNextReturns) {
    TimelineSchedule schedule({1, 1}, 5.0);
    for (int i = 0; i < 5; ++i) {
        const auto peeked = schedule.peek();
        const auto next = schedule.next();
        ASSERT_TRUE(peeked && next);
        EXPECT_EQ(peeked->time, next->time);
        EXPECT_EQ(peeked->entry, next->entry);
        EXPECT_EQ(peeked->repetition, next->repetition);
    }
}

}  // namespace
}  // namespace scene::simulated
