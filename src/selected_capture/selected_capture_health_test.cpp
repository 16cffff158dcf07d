#include "selected_capture/selected_capture_health.h"

#include <limits>

#include <gtest/gtest.h>

namespace scene {
namespace {

using Action = SelectedCaptureHealth::Action;
constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

TEST(SelectedCaptureHealthTest, ActionAtTheStallLimit) {
    struct Case {
        const char* name;
        SelectedCaptureHealth health;
        double now;
        Action action;
    };
    const Case cases[] = {
        {"no first frame yet", {100, std::nullopt, std::nullopt, 0}, 111.9, Action::wait},
        {"no first frame at the limit", {100, std::nullopt, std::nullopt, 0}, 112.0, Action::replace},
        {"frames keep it waiting", {100, 105.0, 105.0, 0}, 116.9, Action::wait},
        {"frames stopped for the limit", {100, 105.0, 105.0, 0}, 117.0, Action::replace},
        {"last attempt still allowed", {100, std::nullopt, std::nullopt, 2}, 112.0, Action::replace},
        {"attempts used up", {100, std::nullopt, std::nullopt, 3}, 112.0, Action::exhausted},
    };
    for (Case c : cases) {
        SCOPED_TRACE(c.name);
        const int attempts = c.health.attempts;
        EXPECT_EQ(c.health.action(c.now, true), c.action);
        EXPECT_EQ(c.health.attempts, attempts) << "the session counts attempts, not the judgement";
    }
}

TEST(SelectedCaptureHealthTest, RestartsWhenNotEligibleOrTimeWentBack) {
    struct Case {
        const char* name;
        SelectedCaptureHealth health;
        double now;
        bool eligible;
    };
    const Case cases[] = {
        {"not eligible", {100, 105.0, 101.0, 2}, 200, false},
        {"before the last frame", {100, 105.0, 101.0, 2}, 104, true},
        {"before the start", {100, std::nullopt, std::nullopt, 2}, 99, true},
    };
    for (Case c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(c.health.action(c.now, c.eligible), Action::wait);
        EXPECT_EQ(c.health.began, c.now);
        EXPECT_EQ(c.health.lastFrame, std::nullopt);
        EXPECT_EQ(c.health.healthySince, std::nullopt);
        EXPECT_EQ(c.health.attempts, 2);
    }
}

TEST(SelectedCaptureHealthTest, ThirtySecondsOfSteadyFramesForgiveAttempts) {
    SelectedCaptureHealth health;
    health.attempts = 2;
    for (double t = 100.0; t < 130.0; t += 1.0) health.observe(t);
    EXPECT_EQ(health.attempts, 2);
    health.observe(130.0);
    EXPECT_EQ(health.attempts, 0);
    EXPECT_EQ(health.healthySince, 100.0);
}

TEST(SelectedCaptureHealthTest, GapsAndBackwardTimeStartANewRun) {
    struct Case {
        const char* name;
        double second;
        double healthySince;
    };
    const Case cases[] = {
        {"gap above the limit", 102.5, 102.5},
        {"gap at the limit", 102.0, 100.0},
        {"time went back", 99.0, 99.0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SelectedCaptureHealth health;
        health.observe(100.0);
        health.observe(c.second);
        EXPECT_EQ(health.healthySince, c.healthySince);
        EXPECT_EQ(health.lastFrame, c.second);
    }
}

TEST(SelectedFrameIsFreshTest, Rules) {
    struct Case {
        const char* name;
        double observed;
        std::uint64_t frameGeneration;
        double now;
        bool paused;
        bool selecting;
        bool fresh;
    };
    const Case cases[] = {
        {"young frame", 0.0, 4, 0.69, false, false, true},
        {"same instant", 10.0, 4, 10.0, false, false, true},
        {"exactly at the limit", 0.0, 4, 0.7, false, false, false},
        {"just past the limit", 10.0, 4, 10.71, false, false, false},
        {"from the future", 10.5, 4, 10.0, false, false, false},
        {"older generation", 10.0, 3, 10.1, false, false, false},
        {"paused", 10.0, 4, 10.1, true, false, false},
        {"picker showing", 10.0, 4, 10.1, false, true, false},
        {"infinite now", 10.0, 4, kInf, false, false, false},
        {"observed not a number", kNaN, 4, 10.1, false, false, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(selectedFrameIsFresh(c.observed, c.frameGeneration, 4, c.now, c.paused, c.selecting), c.fresh);
    }
}

TEST(SelectedFailureTest, ClassifiesStreamErrors) {
    struct Case {
        const char* domain;
        long code;
        const char* state;
        bool lost;
    };
    const Case cases[] = {
        {"SCStreamErrorDomain", -3817, "stopped", false},
        {"SCStreamErrorDomain", -3815, "interrupted", false},
        {"SCStreamErrorDomain", -3801, "rejected", false},
        {"SCStreamErrorDomain", -3805, "failed", true},
        {"SCStreamErrorDomain", -3804, "failed", true},
        {"SCStreamErrorDomain", -3802, "failed", false},
        {"NSOSStatusErrorDomain", -3817, "failed", false},
        {"NSOSStatusErrorDomain", -3805, "failed", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.domain) + " " + std::to_string(c.code));
        EXPECT_EQ(selectedFailureState(c.domain, c.code), c.state);
        EXPECT_EQ(selectedConnectionWasLost(c.domain, c.code), c.lost);
    }
}

}  // namespace
}  // namespace scene
