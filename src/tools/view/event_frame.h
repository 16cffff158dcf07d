#pragma once

#include <string>
#include <string_view>

namespace scene::view {

// The text of one server-sent event: its name (none: the browser's default
// "message"), the data split at every line break (line feed, carriage return,
// or the pair) into "data:" lines, so the browser joins them back with line
// feeds, and the blank line that ends the event. A name holding a line break
// would start a field of its own, so its breaks become spaces.
std::string serverSentEvent(std::string_view name, std::string_view data);

// A comment line, which the browser ignores: it keeps the stream moving so a
// closed connection shows up as a failed write. Line breaks become spaces.
std::string serverSentComment(std::string_view text);

// The field that tells the browser how long to wait before it reconnects.
std::string serverSentRetry(int milliseconds);

}  // namespace scene::view
