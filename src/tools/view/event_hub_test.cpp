#include "tools/view/event_hub.h"

#include <gtest/gtest.h>

#include <thread>

namespace scene::view {
namespace {

using namespace std::chrono_literals;

EventHub::Event event(const std::string& text) { return std::make_shared<const std::string>(text); }

std::vector<std::string> texts(const EventHub::Batch& batch) {
    std::vector<std::string> result;
    for (const auto& e : batch.events) result.push_back(*e);
    return result;
}

TEST(EventHubTest, ASlowBrowserLosesItsOldestEventsAndIsToldHowMany) {
    EventHub hub(2, 3);
    hub.publish("status", event("s0"));
    auto slow = hub.subscribe();
    ASSERT_TRUE(slow);
    EXPECT_EQ(texts(slow->next(0ms)), (std::vector<std::string>{"s0"})) << "a new browser starts from the latest";

    for (int i = 1; i <= 5; ++i) hub.publish("snapshot", event("n" + std::to_string(i)));
    const auto batch = slow->next(0ms);
    EXPECT_EQ(texts(batch), (std::vector<std::string>{"n3", "n4", "n5"}));
    EXPECT_EQ(batch.dropped, 2u);
    EXPECT_EQ(slow->next(0ms).dropped, 0u);

    auto late = hub.subscribe();
    ASSERT_TRUE(late);
    EXPECT_EQ(texts(late->next(0ms)), (std::vector<std::string>{"n5", "s0"})) << "the latest of each kind";
}

TEST(EventHubTest, RefusesBrowsersBeyondItsPlacesAndEndsEveryStreamOnClose) {
    EventHub hub(2, 4);
    auto first = hub.subscribe();
    auto second = hub.subscribe();
    EXPECT_FALSE(hub.subscribe());
    second.reset();
    EXPECT_EQ(hub.clients(), 1u);
    EXPECT_TRUE(hub.subscribe()) << "a place is freed when its browser goes";

    // A connection thread waiting for events is woken by the close, not by
    // its timeout.
    std::thread waiting([&] { EXPECT_TRUE(first->next(std::chrono::hours(1)).closed); });
    hub.close();
    waiting.join();
    EXPECT_FALSE(hub.subscribe());
}

}  // namespace
}  // namespace scene::view
