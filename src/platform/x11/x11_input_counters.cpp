#include "platform/x11/x11_input_counters.h"

#include <xcb/xinput.h>

#include <cstdlib>

namespace scene::x11 {
namespace {

constexpr std::uint32_t kLeftButton = 1;
constexpr std::uint32_t kRightButton = 3;
constexpr std::uint32_t kFirstWheelButton = 4;
constexpr std::uint32_t kLastWheelButton = 7;
constexpr std::uint32_t kPointerAxes = 0b11;

// Raw events need XInput 2.1 to reach the root whoever holds a grab; 2.2 is
// what every current server speaks.
constexpr std::uint16_t kMajorVersion = 2;
constexpr std::uint16_t kMinorVersion = 2;

constexpr InputEventType kCounted[] = {
    InputEventType::leftMouseDown, InputEventType::rightMouseDown, InputEventType::otherMouseDown,
    InputEventType::scrollWheel,   InputEventType::keyDown,        InputEventType::mouseMoved,
};

}  // namespace

std::optional<InputEventType> countedInputEvent(const RawInput& event) {
    switch (event.type) {
        case XCB_INPUT_RAW_KEY_PRESS:
            return InputEventType::keyDown;
        case XCB_INPUT_RAW_BUTTON_PRESS:
            if (event.detail == kLeftButton) return InputEventType::leftMouseDown;
            if (event.detail == kRightButton) return InputEventType::rightMouseDown;
            if (event.detail >= kFirstWheelButton && event.detail <= kLastWheelButton)
                return InputEventType::scrollWheel;
            return InputEventType::otherMouseDown;
        case XCB_INPUT_RAW_MOTION:
            if ((event.valuators & kPointerAxes) != 0) return InputEventType::mouseMoved;
            return std::nullopt;
        default:
            return std::nullopt;
    }
}

std::unique_ptr<X11InputCounters> X11InputCounters::start(const std::string& displayName) {
    auto thread = X11EventThread::open(displayName);
    if (!thread) return nullptr;
    xcb_connection_t* connection = thread->connection();
    const xcb_query_extension_reply_t* extension = xcb_get_extension_data(connection, &xcb_input_id);
    if (extension == nullptr || extension->present == 0) return nullptr;
    auto version = xcb_input_xi_query_version_reply(
        connection, xcb_input_xi_query_version(connection, kMajorVersion, kMinorVersion), nullptr);
    const bool recent =
        version != nullptr && (version->major_version > kMajorVersion ||
                               (version->major_version == kMajorVersion && version->minor_version >= kMinorVersion));
    std::free(version);
    if (!recent) return nullptr;

    // The master devices only: every slave's events reach the root once more
    // through its master, so selecting both would count each event twice.
    struct {
        xcb_input_event_mask_t header;
        std::uint32_t bits;
    } mask{{XCB_INPUT_DEVICE_ALL_MASTER, 1},
           XCB_INPUT_XI_EVENT_MASK_RAW_KEY_PRESS | XCB_INPUT_XI_EVENT_MASK_RAW_KEY_RELEASE |
               XCB_INPUT_XI_EVENT_MASK_RAW_BUTTON_PRESS | XCB_INPUT_XI_EVENT_MASK_RAW_BUTTON_RELEASE |
               XCB_INPUT_XI_EVENT_MASK_RAW_MOTION};
    xcb_generic_error_t* error =
        xcb_request_check(connection, xcb_input_xi_select_events_checked(connection, thread->root(), 1, &mask.header));
    if (error != nullptr) {
        std::free(error);
        return nullptr;
    }

    std::unique_ptr<X11InputCounters> counters(new X11InputCounters());
    counters->opcode_ = extension->major_opcode;
    counters->thread_ = std::move(thread);
    counters->thread_->start([self = counters.get()](xcb_connection_t* connection, const xcb_generic_event_t& event) {
        self->handle(connection, event);
    });
    return counters;
}

std::uint32_t X11InputCounters::count(InputEventType type) const {
    return counts_[slot(type)].load(std::memory_order_relaxed);
}

std::size_t X11InputCounters::slot(InputEventType type) {
    for (std::size_t i = 0; i < std::size(kCounted); ++i)
        if (kCounted[i] == type) return i;
    return 0;
}

void X11InputCounters::handle(xcb_connection_t*, const xcb_generic_event_t& event) {
    if ((event.response_type & 0x7F) != XCB_GE_GENERIC) return;
    const auto& generic = reinterpret_cast<const xcb_ge_generic_event_t&>(event);
    if (generic.extension != opcode_) return;
    // Every raw event shares the button event's layout.
    const auto& raw = reinterpret_cast<const xcb_input_raw_button_press_event_t&>(event);
    if (raw.event_type == XCB_INPUT_RAW_KEY_PRESS || raw.event_type == XCB_INPUT_RAW_KEY_RELEASE ||
        raw.event_type == XCB_INPUT_RAW_BUTTON_PRESS || raw.event_type == XCB_INPUT_RAW_BUTTON_RELEASE)
        presses_.fetch_add(1, std::memory_order_release);
    RawInput input{raw.event_type, raw.detail, 0};
    if (raw.valuators_len > 0) input.valuators = *xcb_input_raw_button_press_valuator_mask(&raw);
    if (const auto type = countedInputEvent(input)) counts_[slot(*type)].fetch_add(1, std::memory_order_relaxed);
}

}  // namespace scene::x11
