#include "tools/view/command_inbox.h"

#include <sys/eventfd.h>
#include <unistd.h>

#include <cstdint>

namespace scene::view {

CommandInbox::CommandInbox(std::size_t capacity)
    : capacity_(capacity), descriptor_(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}

CommandInbox::~CommandInbox() {
    if (descriptor_ >= 0) ::close(descriptor_);
}

bool CommandInbox::post(std::string command) {
    {
        std::lock_guard lock(mutex_);
        if (commands_.size() >= capacity_) return false;
        commands_.push_back(std::move(command));
    }
    const std::uint64_t one = 1;
    [[maybe_unused]] const ssize_t n = ::write(descriptor_, &one, sizeof one);
    return true;
}

std::vector<std::string> CommandInbox::take() {
    std::uint64_t count = 0;
    [[maybe_unused]] const ssize_t n = ::read(descriptor_, &count, sizeof count);
    std::lock_guard lock(mutex_);
    std::vector<std::string> taken;
    taken.swap(commands_);
    return taken;
}

}  // namespace scene::view
