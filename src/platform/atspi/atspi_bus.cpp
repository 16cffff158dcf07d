#include "platform/atspi/atspi_bus.h"

#include <sys/stat.h>

#include <chrono>
#include <cmath>
#include <condition_variable>
#include <map>
#include <mutex>

#include "platform/accessibility.h"
#include "platform/atspi/glib_handoff.h"

namespace scene::atspi {
namespace {

// Each call queued ahead of another in a batch may hold it up by this much:
// a toolkit answers a simple call in well under a millisecond.
constexpr double kQueuedCallAllowance = 0.001;

int milliseconds(double seconds) { return std::max(1, static_cast<int>(std::lround(seconds * 1000))); }

GDBusCallFlags flags(const BusCall& call) {
    return call.autoStart ? G_DBUS_CALL_FLAGS_NONE : G_DBUS_CALL_FLAGS_NO_AUTO_START;
}

}  // namespace

// Replies to batched calls, taken off the connection as they arrive. The
// connection's filter runs on its worker thread and may outlive the bus by
// a moment, so this has a life of its own, ended by the filter's removal.
struct AtspiBus::Replies {
    struct Waiting {
        std::vector<BusReply>* replies;
        std::size_t index;
        std::size_t* pending;
    };
    std::mutex mutex;
    std::condition_variable arrived;
    std::map<guint32, Waiting> waiting;  // by the call's serial

    static GDBusMessage* filter(GDBusConnection*, GDBusMessage* message, gboolean incoming, gpointer data) {
        if (!incoming) return message;
        const GDBusMessageType type = g_dbus_message_get_message_type(message);
        if (type != G_DBUS_MESSAGE_TYPE_METHOD_RETURN && type != G_DBUS_MESSAGE_TYPE_ERROR) return message;
        auto* self = static_cast<Replies*>(data);
        takeOver(self);
        std::lock_guard lock(self->mutex);
        const auto found = self->waiting.find(g_dbus_message_get_reply_serial(message));
        if (found == self->waiting.end()) return message;
        BusReply& reply = (*found->second.replies)[found->second.index];
        if (type == G_DBUS_MESSAGE_TYPE_ERROR) {
            GError* error = nullptr;
            g_dbus_message_to_gerror(message, &error);
            reply = {resultCode(error), nullptr};
            g_error_free(error);
        } else {
            GVariant* body = g_dbus_message_get_body(message);
            reply = {0, VariantPtr(body != nullptr ? g_variant_ref(body) : g_variant_ref_sink(g_variant_new("()")))};
        }
        *found->second.pending -= 1;
        self->waiting.erase(found);
        self->arrived.notify_all();
        // Taken: nobody else waits for it.
        g_object_unref(message);
        return nullptr;
    }
};

int resultCode(const GError* error) {
    if (error == nullptr) return ax_error::failure;
    if (error->domain == G_IO_ERROR) {
        if (error->code == G_IO_ERROR_TIMED_OUT) return ax_error::cannotComplete;
        if (error->code == G_IO_ERROR_CLOSED) return ax_error::invalidElement;
    }
    if (error->domain == G_DBUS_ERROR) {
        switch (error->code) {
            case G_DBUS_ERROR_TIMEOUT:
            case G_DBUS_ERROR_TIMED_OUT:
            case G_DBUS_ERROR_NO_REPLY:
                return ax_error::cannotComplete;
            case G_DBUS_ERROR_SERVICE_UNKNOWN:
            case G_DBUS_ERROR_NAME_HAS_NO_OWNER:
            case G_DBUS_ERROR_UNKNOWN_OBJECT:
            case G_DBUS_ERROR_DISCONNECTED:
                return ax_error::invalidElement;
            case G_DBUS_ERROR_UNKNOWN_METHOD:
            case G_DBUS_ERROR_UNKNOWN_INTERFACE:
            case G_DBUS_ERROR_UNKNOWN_PROPERTY:
                return ax_error::attributeUnsupported;
            default:
                break;
        }
    }
    return ax_error::failure;
}

std::shared_ptr<AtspiBus> AtspiBus::open(const std::string& address, Kind kind) {
    GError* error = nullptr;
    const auto flags = kind == Kind::messageBus ? G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                                      G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION
                                                : G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT;
    GDBusConnection* connection = g_dbus_connection_new_for_address_sync(
        address.c_str(), static_cast<GDBusConnectionFlags>(flags), nullptr, nullptr, &error);
    if (connection == nullptr) {
        g_error_free(error);
        return nullptr;
    }
    // A bus that goes away is noticed as a closed connection, never as the
    // end of this process.
    g_dbus_connection_set_exit_on_close(connection, FALSE);
    auto* replies = new Replies();
    handOver(replies);
    const guint filter = g_dbus_connection_add_filter(connection, Replies::filter, replies, [](gpointer data) {
        takeOver(data);
        delete static_cast<Replies*>(data);
    });
    return std::shared_ptr<AtspiBus>(new AtspiBus(connection, kind, replies, filter));
}

AtspiBus::~AtspiBus() {
    handOver(replies_);
    g_dbus_connection_remove_filter(connection_, filter_);
    g_dbus_connection_close_sync(connection_, nullptr, nullptr);
    g_object_unref(connection_);
}

// A peer is the only one on its connection: calls name no destination.
const char* AtspiBus::destination(const BusCall& call) const {
    return kind_ == Kind::peer ? nullptr : call.destination.c_str();
}

BusReply AtspiBus::call(const BusCall& call, double timeout) {
    GError* error = nullptr;
    GVariant* body =
        g_dbus_connection_call_sync(connection_, destination(call), call.path.c_str(), call.interface, call.method,
                                    call.parameters, nullptr, flags(call), milliseconds(timeout), nullptr, &error);
    if (body == nullptr) {
        BusReply reply{resultCode(error), nullptr};
        g_error_free(error);
        return reply;
    }
    return {0, VariantPtr(body)};
}

std::vector<BusReply> AtspiBus::callAll(const std::vector<BusCall>& calls, double timeout) {
    std::vector<BusReply> replies(calls.size());
    if (calls.empty()) return replies;
    if (calls.size() == 1) {
        replies[0] = call(calls[0], timeout);
        return replies;
    }
    // Sent under the lock, so that no reply finds its call not yet listed.
    std::unique_lock lock(replies_->mutex);
    std::size_t pending = 0;
    for (std::size_t index = 0; index < calls.size(); ++index) {
        const BusCall& one = calls[index];
        GDBusMessage* message =
            g_dbus_message_new_method_call(destination(one), one.path.c_str(), one.interface, one.method);
        if (one.parameters != nullptr) g_dbus_message_set_body(message, one.parameters);
        if (!one.autoStart) g_dbus_message_set_flags(message, G_DBUS_MESSAGE_FLAGS_NO_AUTO_START);
        guint32 serial = 0;
        GError* error = nullptr;
        if (g_dbus_connection_send_message(connection_, message, G_DBUS_SEND_MESSAGE_FLAGS_NONE, &serial, &error)) {
            replies_->waiting[serial] = {&replies, index, &pending};
            pending += 1;
        } else {
            replies[index] = {resultCode(error), nullptr};
            g_error_free(error);
        }
        g_object_unref(message);
    }
    const auto deadline =
        std::chrono::steady_clock::now() +
        std::chrono::duration<double>(timeout + static_cast<double>(calls.size()) * kQueuedCallAllowance);
    replies_->arrived.wait_until(lock, deadline, [&] { return pending == 0; });
    // What has not come by now will not be waited for.
    std::erase_if(replies_->waiting, [&](const auto& entry) { return entry.second.pending == &pending; });
    for (auto& reply : replies)
        if (reply.ok() && !reply.body) reply = {ax_error::cannotComplete, nullptr};
    return replies;
}

bool AtspiBus::closed() const { return g_dbus_connection_is_closed(connection_) != FALSE; }

std::optional<std::string> AtspiBus::uniqueName() const {
    const char* name = g_dbus_connection_get_unique_name(connection_);
    if (name == nullptr) return std::nullopt;
    return std::string(name);
}

std::optional<std::string> sessionBusAddress(const char* sessionBusVariable, const char* runtimeDirectory) {
    if (sessionBusVariable != nullptr && *sessionBusVariable != '\0') return std::string(sessionBusVariable);
    if (runtimeDirectory == nullptr || *runtimeDirectory == '\0') return std::nullopt;
    // Where a user session's bus listens when the variable is not passed on.
    const std::string socket = std::string(runtimeDirectory) + "/bus";
    struct stat facts {};
    if (stat(socket.c_str(), &facts) != 0 || !S_ISSOCK(facts.st_mode)) return std::nullopt;
    return "unix:path=" + socket;
}

}  // namespace scene::atspi
