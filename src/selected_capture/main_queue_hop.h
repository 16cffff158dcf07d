#pragma once

#include <memory>
#include <mutex>

#include "platform/runtime.h"

namespace scene {

// Carries work from any thread onto the main queue for an owner that may be
// destroyed before the work runs. The owner keeps the hop in a shared pointer
// and closes it, on the main queue, before it dies: from then on nothing is
// posted and nothing already posted runs, so posted tasks may capture the
// owner's `this`. Posting holds the hop's lock, so once `close` returned no
// thread is still handing work to the main queue on the owner's behalf.
class MainQueueHop : public std::enable_shared_from_this<MainQueueHop> {
public:
    explicit MainQueueHop(Queue& mainQueue) : mainQueue_(mainQueue) {}
    MainQueueHop(const MainQueueHop&) = delete;
    MainQueueHop& operator=(const MainQueueHop&) = delete;

    // Any thread.
    void post(Task task);
    void postAfter(double seconds, Task task);
    bool isOpen() const;

    // Main queue.
    void close();

private:
    Task guarded(Task task);

    mutable std::mutex mutex_;
    Queue& mainQueue_;
    bool open_ = true;
};

}  // namespace scene
