#include "platform/standard_descriptors.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

namespace scene {
namespace {

// True when `fd` was closed and now holds /dev/null.
bool reserve(int fd, int mode) {
    if (::fcntl(fd, F_GETFD) != -1 || errno != EBADF) return false;
    // open() takes the lowest free number, which is `fd` itself when the
    // lower ones are open; otherwise the descriptor is moved there.
    const int opened = ::open("/dev/null", mode);
    if (opened < 0) return true;
    if (opened != fd) {
        ::dup2(opened, fd);
        ::close(opened);
    }
    return true;
}

}  // namespace

ClosedStandardDescriptors reserveStandardDescriptors() {
    ClosedStandardDescriptors closed;
    closed.input = reserve(STDIN_FILENO, O_RDONLY);
    closed.output = reserve(STDOUT_FILENO, O_WRONLY);
    closed.error = reserve(STDERR_FILENO, O_WRONLY);
    return closed;
}

}  // namespace scene
