#include "platform/atspi/atspi_event_loop.h"

#include <future>

#include "platform/atspi/glib_handoff.h"
#include "platform/thread_name.h"

namespace scene::atspi {

struct AtspiEventLoop::Subscription {
    std::shared_ptr<AtspiBus> bus;
    SignalHandler handler;
    guint id = 0;
};

namespace {

void deliver(GDBusConnection*, const gchar* sender, const gchar* path, const gchar* interface, const gchar* member,
             GVariant* body, gpointer data) {
    const auto& handler = *static_cast<const SignalHandler*>(data);
    handler(BusSignal{sender != nullptr ? sender : "", path != nullptr ? path : "",
                      interface != nullptr ? interface : "", member != nullptr ? member : "", body});
}

gboolean runTask(gpointer data) {
    takeOver(data);
    (*static_cast<std::function<void()>*>(data))();
    return G_SOURCE_REMOVE;
}

}  // namespace

AtspiEventLoop::AtspiEventLoop() : context_(g_main_context_new()), loop_(g_main_loop_new(context_, FALSE)) {
    thread_ = std::thread([this] {
        nameCurrentThread("scene.atspi");
        g_main_context_push_thread_default(context_);
        g_main_loop_run(loop_);
        g_main_context_pop_thread_default(context_);
    });
}

AtspiEventLoop::~AtspiEventLoop() {
    unsubscribeAll();
    g_main_loop_quit(loop_);
    thread_.join();
    g_main_loop_unref(loop_);
    g_main_context_unref(context_);
}

void AtspiEventLoop::run(std::function<void()> task) {
    std::promise<void> done;
    std::function<void()> wrapped = [&] {
        task();
        done.set_value();
    };
    handOver(&wrapped);
    g_main_context_invoke(context_, runTask, &wrapped);
    done.get_future().wait();
}

void AtspiEventLoop::subscribe(const std::shared_ptr<AtspiBus>& bus, const char* interface, const char* member,
                               const char* path, SignalHandler handler) {
    run([&] {
        auto subscription = std::make_unique<Subscription>();
        subscription->bus = bus;
        subscription->handler = std::move(handler);
        // Subscribed here, on the loop's thread, so that it delivers here.
        subscription->id =
            g_dbus_connection_signal_subscribe(bus->connection(), nullptr, interface, member, path, nullptr,
                                               G_DBUS_SIGNAL_FLAGS_NONE, deliver, &subscription->handler, nullptr);
        subscriptions_.push_back(std::move(subscription));
    });
}

void AtspiEventLoop::unsubscribeAll() {
    run([&] {
        for (const auto& subscription : subscriptions_)
            g_dbus_connection_signal_unsubscribe(subscription->bus->connection(), subscription->id);
        // Unsubscribed on the delivering thread: no handler runs after this.
        subscriptions_.clear();
    });
}

}  // namespace scene::atspi
