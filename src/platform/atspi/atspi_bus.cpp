#include "platform/atspi/atspi_bus.h"

#include <sys/stat.h>

#include <cmath>

#include "platform/accessibility.h"

namespace scene::atspi {
namespace {

// Each call queued ahead of another in a batch may hold it up by this much:
// a toolkit answers a simple call in well under a millisecond.
constexpr double kQueuedCallAllowance = 0.001;

int milliseconds(double seconds) { return std::max(1, static_cast<int>(std::lround(seconds * 1000))); }

struct Batch {
    std::vector<BusReply>* replies;
    std::size_t pending;
};

struct Slot {
    Batch* batch;
    std::size_t index;
};

void batchReply(GObject* source, GAsyncResult* result, gpointer data) {
    std::unique_ptr<Slot> slot(static_cast<Slot*>(data));
    GError* error = nullptr;
    GVariant* body = g_dbus_connection_call_finish(G_DBUS_CONNECTION(source), result, &error);
    BusReply& reply = (*slot->batch->replies)[slot->index];
    if (body != nullptr) {
        reply = {ax_error::success, VariantPtr(body)};
    } else {
        reply = {resultCode(error), nullptr};
        g_error_free(error);
    }
    slot->batch->pending -= 1;
}

GDBusCallFlags flags(const BusCall& call) {
    return call.autoStart ? G_DBUS_CALL_FLAGS_NONE : G_DBUS_CALL_FLAGS_NO_AUTO_START;
}

}  // namespace

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

std::shared_ptr<AtspiBus> AtspiBus::open(const std::string& address) {
    GError* error = nullptr;
    GDBusConnection* connection = g_dbus_connection_new_for_address_sync(
        address.c_str(),
        static_cast<GDBusConnectionFlags>(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                          G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
        nullptr, nullptr, &error);
    if (connection == nullptr) {
        g_error_free(error);
        return nullptr;
    }
    // A bus that goes away is noticed as a closed connection, never as the
    // end of this process.
    g_dbus_connection_set_exit_on_close(connection, FALSE);
    return std::shared_ptr<AtspiBus>(new AtspiBus(connection));
}

AtspiBus::~AtspiBus() {
    g_dbus_connection_close_sync(connection_, nullptr, nullptr);
    g_object_unref(connection_);
}

BusReply AtspiBus::call(const BusCall& call, double timeout) {
    GError* error = nullptr;
    GVariant* body = g_dbus_connection_call_sync(connection_, call.destination.c_str(), call.path.c_str(),
                                                 call.interface, call.method, call.parameters, nullptr, flags(call),
                                                 milliseconds(timeout), nullptr, &error);
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
    GMainContext* context = g_main_context_new();
    g_main_context_push_thread_default(context);
    Batch batch{&replies, calls.size()};
    for (std::size_t index = 0; index < calls.size(); ++index) {
        const BusCall& one = calls[index];
        g_dbus_connection_call(connection_, one.destination.c_str(), one.path.c_str(), one.interface, one.method,
                               one.parameters, nullptr, flags(one),
                               milliseconds(timeout + static_cast<double>(index) * kQueuedCallAllowance), nullptr,
                               batchReply, new Slot{&batch, index});
    }
    // Every call ends in a reply, an error or its time-out, so this ends.
    while (batch.pending > 0) g_main_context_iteration(context, TRUE);
    g_main_context_pop_thread_default(context);
    g_main_context_unref(context);
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
