#include "platform/x11/x11_desktop.h"

#include <unistd.h>

namespace scene::x11 {
namespace {

constexpr double kReconnectSeconds = 1.0;
constexpr std::string_view kLinePrefix = "scene-sampler: the X server of display \"";
constexpr std::string_view kLostEnding = "\" is lost; the window list is unavailable until it answers again";
constexpr std::string_view kBackEnding = "\" answers again";

void writeError(std::string_view line) {
    std::string text(line);
    text += '\n';
    // One write, so the line is never split by another writer's.
    const ssize_t written = ::write(STDERR_FILENO, text.data(), text.size());
    (void)written;
}

std::string noticeLine(const std::string& displayName, std::string_view ending) {
    std::string line(kLinePrefix);
    line += displayName;
    line += ending;
    return line;
}

}  // namespace

std::shared_ptr<X11Desktop> X11Desktop::open(const std::string& displayName, const Clock& clock, Notice notice) {
    std::shared_ptr<X11Desktop> desktop(new X11Desktop(displayName, clock, notice ? std::move(notice) : writeError));
    std::lock_guard lock(desktop->mutex_);
    desktop->connection_ = DesktopConnection::open(displayName, desktop->mutex_);
    if (!desktop->connection_) return nullptr;
    return desktop;
}

X11Desktop::X11Desktop(std::string displayName, const Clock& clock, Notice notice)
    : displayName_(std::move(displayName)), clock_(clock), notice_(std::move(notice)) {}

X11Desktop::~X11Desktop() {
    // Without the lock: the connection's event thread may be waiting for it.
    connection_.reset();
}

DesktopConnection* X11Desktop::live() {
    if (connection_) return connection_.get();
    const double now = clock_.uptime();
    if (now < nextAttempt_) return nullptr;
    nextAttempt_ = now + kReconnectSeconds;
    connection_ = DesktopConnection::open(displayName_, mutex_);
    if (!connection_) return nullptr;
    connections_.fetch_add(1, std::memory_order_acq_rel);
    notice_(noticeLine(displayName_, kBackEnding));
    return connection_.get();
}

template <typename Question, typename Answered>
Answered X11Desktop::ask(Question&& question, Answered otherwise) {
    std::unique_ptr<DesktopConnection> lost;  // closed last, outside the lock its event thread may wait for
    std::lock_guard lock(mutex_);
    DesktopConnection* connection = live();
    if (connection == nullptr) return otherwise;
    connection->takeEvents();
    Answered answer = question(*connection);
    // What the replies brought along is not left for the next caller: the
    // event thread is woken by the socket, which they emptied.
    connection->takeEvents();
    if (!connection->broken()) return answer;
    nextAttempt_ = clock_.uptime() + kReconnectSeconds;
    notice_(noticeLine(displayName_, kLostEnding));
    lost = std::move(connection_);
    return otherwise;
}

std::shared_ptr<const nlohmann::json> X11Desktop::windowList() {
    return ask([](DesktopConnection& c) { return c.windowList(); }, std::shared_ptr<const nlohmann::json>());
}

std::vector<ClientWindow> X11Desktop::onScreenWindows(ClassNames classNames) {
    return ask([classNames](DesktopConnection& c) { return c.onScreenWindows(classNames); },
               std::vector<ClientWindow>());
}

std::optional<std::int32_t> X11Desktop::activeWindowPID(Answer answer) {
    return ask([answer](DesktopConnection& c) { return c.activeWindowPID(answer); }, std::optional<std::int32_t>());
}

std::optional<DesktopOwner> X11Desktop::desktopOwner() {
    return ask([](DesktopConnection& c) { return c.desktopOwner(); }, std::optional<DesktopOwner>());
}

std::shared_ptr<const std::vector<Monitor>> X11Desktop::monitors() {
    return ask([](DesktopConnection& c) { return c.monitors(); }, noMonitors_);
}

std::optional<bool> X11Desktop::screenLocked() {
    return ask([](DesktopConnection& c) { return std::optional<bool>(c.screenLocked()); }, std::optional<bool>());
}

std::uint16_t X11Desktop::pointerMask() {
    return ask([](DesktopConnection& c) { return c.pointerMask(); }, std::uint16_t{0});
}

std::vector<std::uint32_t> X11Desktop::clientList() {
    return ask([](DesktopConnection& c) { return c.clientList(); }, std::vector<std::uint32_t>());
}

std::optional<std::uint32_t> X11Desktop::currentDesktop() {
    return ask([](DesktopConnection& c) { return c.currentDesktop(); }, std::optional<std::uint32_t>());
}

std::optional<ClientWindow> X11Desktop::client(std::uint32_t window) {
    return ask([window](DesktopConnection& c) { return c.client(window); }, std::optional<ClientWindow>());
}

void X11Desktop::takeWaitingEvents() {
    ask(
        [](DesktopConnection& c) {
            c.takeEvents();
            return true;
        },
        false);
}

std::vector<std::uint8_t> X11Desktop::outputEDID(std::uint32_t output) {
    return ask([output](DesktopConnection& c) { return c.outputEDID(output); }, std::vector<std::uint8_t>());
}

std::optional<bool> X11Desktop::displaysAsleep() {
    return ask([](DesktopConnection& c) { return c.displaysAsleep(); }, std::optional<bool>());
}

}  // namespace scene::x11
