#pragma once

#include <mutex>

#include "platform/runtime.h"

namespace scene::simulated {

// A serial queue that objects of uncertain lifetime may hold on to: it forwards
// to a queue owned elsewhere until `close`, and drops what it is given after.
// A serial queue must not be destroyed by one of its own tasks (its thread
// would join itself), so the owner keeps the target queue and destroys it after
// closing the gate; holders of the gate never own the thread. Any thread.
class GatedQueue final : public Queue {
public:
    explicit GatedQueue(Queue& target) : target_(&target) {}

    void post(Task task) override;
    void postAfter(double seconds, Task task) override;
    // Once this returns nothing more reaches the target.
    void close();

private:
    std::mutex mutex_;
    Queue* target_;
};

}  // namespace scene::simulated
