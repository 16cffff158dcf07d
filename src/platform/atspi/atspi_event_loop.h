#pragma once

#include <gio/gio.h>

#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "platform/atspi/atspi_bus.h"

namespace scene::atspi {

// One signal as it arrived: who sent it, about which object, and its body.
struct BusSignal {
    std::string sender;
    std::string path;
    std::string interface;
    std::string member;
    GVariant* body;  // owned by the bus for the duration of the handler
};

using SignalHandler = std::function<void(const BusSignal& signal)>;

// The thread that hears signals: a GLib main loop of its own on which every
// subscription delivers. Subscriptions last until `unsubscribeAll` or the
// end of the loop; handlers run on the loop's thread, one at a time.
class AtspiEventLoop {
public:
    AtspiEventLoop();
    // Ends the subscriptions, then the thread.
    ~AtspiEventLoop();
    AtspiEventLoop(const AtspiEventLoop&) = delete;
    AtspiEventLoop& operator=(const AtspiEventLoop&) = delete;

    // Signals from `bus` matching the interface and member (and path, when
    // given). Any thread; the subscription is in place when this returns.
    void subscribe(const std::shared_ptr<AtspiBus>& bus, const char* interface, const char* member, const char* path,
                   SignalHandler handler);
    void unsubscribeAll();

private:
    struct Subscription;
    // Runs `task` on the loop's thread and waits for it.
    void run(std::function<void()> task);

    GMainContext* context_;
    GMainLoop* loop_;
    std::vector<std::unique_ptr<Subscription>> subscriptions_;  // touched on the loop's thread only
    std::thread thread_;
};

}  // namespace scene::atspi
