#include "platform/x11/x11_event_tracker.h"

#include <gtest/gtest.h>

#include "platform/x11/x11_workspace.h"

namespace scene::x11 {
namespace {

using Clients = ClientTracker::Clients;

const RunningApplication kTerminal{100, "XTerm"};

TEST(ClientTrackerTest, AnApplicationTerminatesWithItsLastClientAndLaunchesMakeNoEvent) {
    ClientTracker tracker;
    EXPECT_TRUE(tracker.update({{1, {100, "XTerm"}}, {2, {100, "XTerm"}}, {3, {200, "Gimp"}}}).empty());
    EXPECT_TRUE(tracker.update({{2, {100, "XTerm"}}, {3, {200, "Gimp"}}}).empty());
    const auto events = tracker.update({{3, {200, "Gimp"}}});
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].name, WorkspaceNotification::didTerminateApplication);
    EXPECT_EQ(events[0].application, kTerminal);
}

TEST(ClientTrackerTest, HidingCountsOnceEveryClientIsHiddenAndEndsWithAnyShownOne) {
    ClientTracker tracker;
    tracker.update({{1, {100, "XTerm", false}}, {2, {100, "XTerm", false}}});
    EXPECT_TRUE(tracker.update({{1, {100, "XTerm", true}}, {2, {100, "XTerm", false}}}).empty());

    auto events = tracker.update({{1, {100, "XTerm", true}}, {2, {100, "XTerm", true}}});
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].name, WorkspaceNotification::didHideApplication);
    EXPECT_EQ(events[0].application, kTerminal);

    // A new shown window of a hidden application shows it again.
    events = tracker.update({{1, {100, "XTerm", true}}, {2, {100, "XTerm", true}}, {4, {100, "XTerm", false}}});
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].name, WorkspaceNotification::didUnhideApplication);

    // Going while hidden is a termination, not an unhide.
    tracker.update({{1, {100, "XTerm", true}}});
    events = tracker.update({});
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].name, WorkspaceNotification::didTerminateApplication);
}

TEST(ClientTrackerTest, ADockClientMakesTheWholeProcessTheDock) {
    ClientTracker tracker;
    tracker.update({{1, {300, "Panel"}}, {2, {300, std::string(kDockBundleID)}}, {3, {400, std::nullopt}}});
    EXPECT_EQ(tracker.applications(),
              (std::map<std::int32_t, RunningApplication>{{300, {300, std::string(kDockBundleID)}},
                                                          {400, {400, std::nullopt}}}));
    const auto events = tracker.update({{3, {400, std::nullopt}}});
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].application, (RunningApplication{300, std::string(kDockBundleID)}));
}

}  // namespace
}  // namespace scene::x11
