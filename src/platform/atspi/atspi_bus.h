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

// A connection to one message bus (the session bus or the accessibility bus)
// and method calls on it that give up after a time-out. GDBus connections are
// thread-safe, so any thread may call; a batch waits on a context of its own.
class AtspiBus {
public:
    // Nothing when the bus does not answer at `address`.
    static std::shared_ptr<AtspiBus> open(const std::string& address);
    ~AtspiBus();
    AtspiBus(const AtspiBus&) = delete;
    AtspiBus& operator=(const AtspiBus&) = delete;

    BusReply call(const BusCall& call, double timeout);
    // All calls sent at once and answered in order: the peer works through
    // them back to back instead of waiting for a round trip each. Call n
    // of a batch may wait behind the n before it, so its time-out grows
    // with its place in the batch.
    std::vector<BusReply> callAll(const std::vector<BusCall>& calls, double timeout);

    bool closed() const;
    std::optional<std::string> uniqueName() const;
    GDBusConnection* connection() const { return connection_; }

private:
    explicit AtspiBus(GDBusConnection* connection) : connection_(connection) {}
    GDBusConnection* connection_;
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
