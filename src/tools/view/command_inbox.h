#pragma once

#include <mutex>
#include <string>
#include <vector>

namespace scene::view {

// Commands the live server accepted, on their way from its connection threads
// to the viewer's loop, which alone writes to the sampler. The loop polls
// `descriptor()` beside the sampler's output; it is readable while commands
// wait. At most `capacity` wait at once: a page that clicks faster than the
// loop forwards loses the surplus, not memory. Thread-safe.
class CommandInbox {
public:
    explicit CommandInbox(std::size_t capacity);
    ~CommandInbox();
    CommandInbox(const CommandInbox&) = delete;
    CommandInbox& operator=(const CommandInbox&) = delete;

    bool valid() const { return descriptor_ >= 0; }
    int descriptor() const { return descriptor_; }

    // False when the inbox is full.
    bool post(std::string command);
    // Every waiting command, oldest first; the descriptor stops being readable.
    std::vector<std::string> take();

private:
    const std::size_t capacity_;
    const int descriptor_;
    std::mutex mutex_;
    std::vector<std::string> commands_;
};

}  // namespace scene::view
