#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace scene::view {

// The live view's browsers, each with a bounded queue of events to send. The
// viewer's loop publishes on its thread and never waits for a browser: a queue
// that is full loses its oldest event, so a slow browser drops snapshots
// instead of holding memory or the sampler's pace. Each browser's connection
// thread takes its events with `Subscription::next`. Thread-safe.
class EventHub {
public:
    using Event = std::shared_ptr<const std::string>;  // framed once, shared by every queue

    // What a connection thread takes at once.
    struct Batch {
        std::vector<Event> events;
        std::size_t dropped = 0;  // events this browser lost since the last batch
        bool closed = false;      // the hub is closing: end the stream
    };

    class Subscription {
    public:
        ~Subscription();
        Subscription(const Subscription&) = delete;
        Subscription& operator=(const Subscription&) = delete;

        // Waits until there are events, the hub closes or `timeout` passes.
        Batch next(std::chrono::milliseconds timeout);

    private:
        friend class EventHub;
        Subscription(EventHub& hub, int id) : hub_(hub), id_(id) {}
        EventHub& hub_;
        const int id_;
    };

    EventHub(std::size_t maxClients, std::size_t queueLength) : maxClients_(maxClients), queueLength_(queueLength) {}

    // A place for one more browser, its queue starting with the latest event of
    // each kind; nothing when every place is taken or the hub has closed. The
    // subscription must not outlive the hub.
    std::unique_ptr<Subscription> subscribe();

    // Queues `event` for every browser and keeps it as the latest of its kind.
    void publish(const std::string& kind, Event event);

    // Ends every stream; later subscriptions are refused.
    void close();

    std::size_t clients() const;

private:
    struct Client {
        std::vector<Event> queue;
        std::size_t dropped = 0;
    };

    void unsubscribe(int id);

    const std::size_t maxClients_;
    const std::size_t queueLength_;
    mutable std::mutex mutex_;
    std::condition_variable ready_;
    std::map<int, Client> clients_;
    std::map<std::string, Event> latest_;
    int nextId_ = 0;
    bool closed_ = false;
};

}  // namespace scene::view
