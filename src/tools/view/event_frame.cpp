#include "tools/view/event_frame.h"

namespace scene::view {
namespace {

bool lineBreak(char c) { return c == '\n' || c == '\r'; }

std::string oneLine(std::string_view text) {
    std::string line(text);
    for (char& c : line)
        if (lineBreak(c)) c = ' ';
    return line;
}

}  // namespace

std::string serverSentEvent(std::string_view name, std::string_view data) {
    std::string event;
    event.reserve(data.size() + name.size() + 16);
    if (!name.empty()) event += "event: " + oneLine(name) + "\n";
    std::size_t start = 0;
    while (true) {
        std::size_t end = start;
        while (end < data.size() && !lineBreak(data[end])) ++end;
        event += "data: ";
        event.append(data, start, end - start);
        event += '\n';
        if (end == data.size()) break;
        start = end + (data[end] == '\r' && end + 1 < data.size() && data[end + 1] == '\n' ? 2 : 1);
    }
    event += '\n';
    return event;
}

std::string serverSentComment(std::string_view text) { return ": " + oneLine(text) + "\n\n"; }

std::string serverSentRetry(int milliseconds) { return "retry: " + std::to_string(milliseconds) + "\n\n"; }

}  // namespace scene::view
