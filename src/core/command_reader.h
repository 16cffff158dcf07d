#pragma once

#include <atomic>
#include <string>
#include <string_view>
#include <vector>

#include "core/command_buffer.h"
#include "core/input_decoder.h"

namespace scene {

// What the standard-input reader makes of the companion's bytes: decoded text
// cut into command lines, for the main queue to execute in order. Cutting the
// lines here rather than on the main queue lets a "quit" be seen while the
// main queue is held up (in a write the companion does not read): the lines
// up to and including it are still executed in order there, and nothing after
// it is even looked at. Reader thread only, but `quitReceived` for any thread.
class CommandReader {
public:
    // The complete lines this chunk ends, in order; the last one is "quit"
    // when the companion asked to quit.
    std::vector<std::string> take(std::string_view chunk);
    bool quitReceived() const { return quit_.load(std::memory_order_relaxed); }

private:
    InputDecoder decoder_;
    CommandBuffer buffer_;
    std::atomic<bool> quit_{false};
};

}  // namespace scene
