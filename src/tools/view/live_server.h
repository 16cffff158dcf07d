#pragma once

#include <memory>
#include <string>
#include <vector>

#include "tools/view/command_inbox.h"
#include "tools/view/event_hub.h"
#include "tools/view/live_page.h"

namespace scene::view {

// The live view's HTTP server, on 127.0.0.1 only. It serves the page, the
// event stream of the hub (one browser per place in it, 503 beyond), the
// latest still, and takes commands: only by POST, with the run's token, and
// only the words `forwardableCommand` lets through, which it posts to the
// inbox for the viewer's loop to forward. Requests naming another host are
// refused before any of that. The accept loop runs on a thread of its own,
// each connection on one of a fixed pool; the owner (the viewer's loop)
// starts and stops it, and keeps the hub and the inbox alive meanwhile.
class LiveServer {
public:
    struct Settings {
        int port = 0;  // 0: any free port
        std::string token;
        std::vector<PageDocument> documents;
    };
    struct Started {
        std::unique_ptr<LiveServer> server;
        std::string error;  // set when there is no server
    };

    static Started start(Settings settings, EventHub& hub, CommandInbox& inbox);

    ~LiveServer();
    LiveServer(const LiveServer&) = delete;
    LiveServer& operator=(const LiveServer&) = delete;

    int port() const;
    // The JPEG bytes "/still.jpg" serves from now on.
    void setStill(std::shared_ptr<const std::string> jpeg);
    // Closes the hub's streams, stops listening and waits for every connection
    // thread. Also done on destruction.
    void stop();

private:
    struct State;  // the library's server and what its handlers share
    explicit LiveServer(std::unique_ptr<State> state);
    std::unique_ptr<State> state_;
};

}  // namespace scene::view
