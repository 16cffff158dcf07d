#pragma once

#include <gio/gio.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace scene::atspi {

struct VariantUnref {
    void operator()(GVariant* value) const { g_variant_unref(value); }
};
using VariantPtr = std::unique_ptr<GVariant, VariantUnref>;

// One method call: where it goes and what it carries. `parameters` may be
// floating; the call takes it.
struct BusCall {
    std::string destination;
    std::string path;
    const char* interface = nullptr;
    const char* method = nullptr;
    GVariant* parameters = nullptr;
    bool autoStart = false;  // only for asking the session bus to start the accessibility bus
};

// A reply: an accessibility result code (0 on success) and the reply's body.
struct BusReply {
    int code = 0;
    VariantPtr body;
    bool ok() const { return code == 0; }
};

// A connection to one message bus (the session bus or the accessibility bus),
// or straight to one application, and method calls on it that give up after
// a time-out. GDBus connections are thread-safe, so any thread may call; a
// batch waits on a context of its own.
class AtspiBus {
public:
    enum class Kind { messageBus, peer };
    // Nothing when nobody answers at `address`.
    static std::shared_ptr<AtspiBus> open(const std::string& address, Kind kind = Kind::messageBus);
    ~AtspiBus();
    AtspiBus(const AtspiBus&) = delete;
    AtspiBus& operator=(const AtspiBus&) = delete;

    BusReply call(const BusCall& call, double timeout);
    // All calls sent at once: the peer works through them back to back
    // instead of waiting for a round trip each, and the replies are taken
    // off the connection as they come, with one wake-up for the lot. A call
    // may wait behind those ahead of it, so the batch's time-out grows with
    // its size.
    std::vector<BusReply> callAll(const std::vector<BusCall>& calls, double timeout);

    bool closed() const;
    std::optional<std::string> uniqueName() const;
    GDBusConnection* connection() const { return connection_; }

private:
    struct Replies;
    AtspiBus(GDBusConnection* connection, Kind kind, Replies* replies, guint filter)
        : connection_(connection), kind_(kind), replies_(replies), filter_(filter) {}
    const char* destination(const BusCall& call) const;
    GDBusConnection* connection_;
    Kind kind_;
    Replies* replies_;  // the filter's, freed when it is removed
    guint filter_;
};

// The accessibility result code of a failed call: a peer that is gone is an
// invalid element, one that does not answer in time cannot complete, one
// without the method or interface does not support the attribute.
int resultCode(const GError* error);

// Where the session bus is, from its two usual environment variables;
// nothing when neither names one. Never an autolaunch address: looking for
// accessibility must not start a bus of its own.
std::optional<std::string> sessionBusAddress(const char* sessionBusVariable, const char* runtimeDirectory);

}  // namespace scene::atspi
