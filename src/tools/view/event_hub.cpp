#include "tools/view/event_hub.h"

namespace scene::view {

EventHub::Subscription::~Subscription() { hub_.unsubscribe(id_); }

EventHub::Batch EventHub::Subscription::next(std::chrono::milliseconds timeout) {
    std::unique_lock lock(hub_.mutex_);
    Client& client = hub_.clients_.at(id_);
    hub_.ready_.wait_for(lock, timeout, [&] { return hub_.closed_ || !client.queue.empty(); });
    Batch batch;
    batch.closed = hub_.closed_;
    batch.events.swap(client.queue);
    batch.dropped = client.dropped;
    client.dropped = 0;
    return batch;
}

std::unique_ptr<EventHub::Subscription> EventHub::subscribe() {
    std::lock_guard lock(mutex_);
    if (closed_ || clients_.size() >= maxClients_) return nullptr;
    const int id = nextId_++;
    Client& client = clients_[id];
    for (const auto& [kind, event] : latest_) client.queue.push_back(event);
    return std::unique_ptr<Subscription>(new Subscription(*this, id));
}

void EventHub::publish(const std::string& kind, Event event) {
    {
        std::lock_guard lock(mutex_);
        if (closed_) return;
        for (auto& [id, client] : clients_) {
            if (client.queue.size() >= queueLength_) {
                client.queue.erase(client.queue.begin());
                ++client.dropped;
            }
            client.queue.push_back(event);
        }
        latest_[kind] = std::move(event);
    }
    ready_.notify_all();
}

void EventHub::close() {
    {
        std::lock_guard lock(mutex_);
        closed_ = true;
    }
    ready_.notify_all();
}

std::size_t EventHub::clients() const {
    std::lock_guard lock(mutex_);
    return clients_.size();
}

void EventHub::unsubscribe(int id) {
    std::lock_guard lock(mutex_);
    clients_.erase(id);
}

}  // namespace scene::view
