#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace scene {

// Collects standard-input text and cuts it into command lines. A line ends at a
// line feed that is not the second half of a carriage-return/line-feed pair:
// the pair is one character, so it does not end a line and stays in its text.
// Text without a line feed may not grow without bound: past `limit` bytes the
// unfinished line is thrown away, up to and including its line feed, and the
// lines after it are read as usual. One thread at a time.
class CommandBuffer {
public:
    static constexpr std::size_t kDefaultLimit = 64 * 1024;

    explicit CommandBuffer(std::size_t limit = kDefaultLimit) : limit_(limit) {}

    void append(std::string_view text);
    // The next complete line, without its line feed.
    std::optional<std::string> takeLine();

    // Text not yet taken as a line.
    std::string_view pending() const { return std::string_view(buffer_).substr(taken_); }

private:
    // Index of the first line-ending line feed at or after `from`, or npos.
    std::size_t findLineEnd(std::size_t from) const;
    void discardOverlongLine();

    std::size_t limit_;
    std::string buffer_;
    // Taken lines stay at the front until no line is left: erasing each one as
    // it is taken would move the rest of a chunk of short lines once per line.
    std::size_t taken_ = 0;
    std::size_t scanned_ = 0;   // bytes of buffer_ known to hold no line end
    bool discarding_ = false;   // inside a line that went past the limit
    bool discardedCR_ = false;  // the last discarded byte was a carriage return
};

}  // namespace scene
