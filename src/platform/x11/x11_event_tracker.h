#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "platform/workspace.h"

namespace scene::x11 {

// One managed client window as the workspace watcher last read it.
struct TrackedClient {
    std::int32_t pid = 0;
    std::optional<std::string> bundleIdentifier;  // what the window answers to (bundleIdentifierOf)
    bool hidden = false;                          // _NET_WM_STATE_HIDDEN
};

// The applications behind the managed clients and the events their comings
// and goings make: an application whose last client goes has terminated; one
// whose every client becomes hidden has been hidden, and a hidden one that
// shows a client again has been unhidden. Launches make no event of their
// own (the logic does not listen for them; the activation that usually
// follows is what it hears). A plain value; the workspace watcher owns one on
// its event thread.
class ClientTracker {
public:
    using Clients = std::map<std::uint32_t, TrackedClient>;  // by window

    const Clients& clients() const { return clients_; }
    // The application each process with a client answers as.
    std::map<std::int32_t, RunningApplication> applications() const;
    // Replaces what is known and returns the events the change makes, in
    // process-id order.
    std::vector<WorkspaceEvent> update(Clients next);

private:
    Clients clients_;
};

}  // namespace scene::x11
