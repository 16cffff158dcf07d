#include "core/command_buffer.h"

namespace scene {

void CommandBuffer::append(std::string_view text) {
    if (discarding_) {
        std::size_t i = 0;
        for (; i < text.size(); ++i) {
            const bool ends = text[i] == '\n' && !discardedCR_;
            discardedCR_ = text[i] == '\r';
            if (ends) break;
        }
        if (i == text.size()) return;  // still inside the overlong line
        discarding_ = false;
        discardedCR_ = false;
        text.remove_prefix(i + 1);
    }
    buffer_.append(text);
}

std::optional<std::string> CommandBuffer::takeLine() {
    const std::size_t end = findLineEnd(scanned_);
    if (end == std::string::npos) {
        buffer_.erase(0, taken_);
        taken_ = 0;
        scanned_ = buffer_.size();
        if (buffer_.size() > limit_) discardOverlongLine();
        return std::nullopt;
    }
    std::string line = buffer_.substr(taken_, end - taken_);
    taken_ = end + 1;
    scanned_ = taken_;
    return line;
}

std::size_t CommandBuffer::findLineEnd(std::size_t from) const {
    for (std::size_t i = buffer_.find('\n', from); i != std::string::npos; i = buffer_.find('\n', i + 1)) {
        if (i == 0 || buffer_[i - 1] != '\r') return i;
    }
    return std::string::npos;
}

void CommandBuffer::discardOverlongLine() {
    discardedCR_ = buffer_.back() == '\r';
    buffer_.clear();
    scanned_ = 0;
    discarding_ = true;
}

}  // namespace scene
