#include "platform/x11/x11_input_counters.h"

#include <gtest/gtest.h>
#include <xcb/xinput.h>

namespace scene::x11 {
namespace {

TEST(CountedInputEventTest, PressesAndPointerMotionMoveTheirCountersOnly) {
    struct Case {
        RawInput event;
        std::optional<InputEventType> counted;
    };
    const Case cases[] = {
        {{XCB_INPUT_RAW_KEY_PRESS, 38, 0}, InputEventType::keyDown},
        {{XCB_INPUT_RAW_BUTTON_PRESS, 1, 0}, InputEventType::leftMouseDown},
        {{XCB_INPUT_RAW_BUTTON_PRESS, 3, 0}, InputEventType::rightMouseDown},
        {{XCB_INPUT_RAW_BUTTON_PRESS, 2, 0}, InputEventType::otherMouseDown},
        {{XCB_INPUT_RAW_BUTTON_PRESS, 8, 0}, InputEventType::otherMouseDown},  // back button
        {{XCB_INPUT_RAW_BUTTON_PRESS, 4, 0}, InputEventType::scrollWheel},
        {{XCB_INPUT_RAW_BUTTON_PRESS, 7, 0}, InputEventType::scrollWheel},
        {{XCB_INPUT_RAW_MOTION, 0, 0b01}, InputEventType::mouseMoved},
        {{XCB_INPUT_RAW_MOTION, 0, 0b10}, InputEventType::mouseMoved},
        // A smooth wheel turns scroll axes only; its clicks come as buttons 4 to 7.
        {{XCB_INPUT_RAW_MOTION, 0, 0b1100}, std::nullopt},
        {{XCB_INPUT_RAW_KEY_RELEASE, 38, 0}, std::nullopt},
        {{XCB_INPUT_RAW_BUTTON_RELEASE, 1, 0}, std::nullopt},
    };
    for (const auto& c : cases)
        EXPECT_EQ(countedInputEvent(c.event), c.counted) << "type " << c.event.type << " detail " << c.event.detail;
}

}  // namespace
}  // namespace scene::x11
