#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/runtime.h"
#include "platform/x11/x11_desktop_connection.h"

namespace scene::x11 {

// The X server as the back-end's services share it: one connection
// (DesktopConnection) used under one lock, so services may be called from any
// thread; the replies are turned into plain values before the lock is
// released; the connection's own thread takes the server's events in under
// the same lock as they arrive.
//
// A server that goes away is no empty desktop: from the moment the connection
// breaks, every answer is "nothing" (no window list, no monitors, no session),
// and about once a second, when asked, the desktop tries to connect to the
// same display again. Each loss and each new connection is told once through
// `notice`. Services that keep connections of their own (the workspace
// watcher, the input counters) open new ones when `connections` moves.
class X11Desktop {
public:
    using ClassNames = DesktopConnection::ClassNames;
    using Answer = DesktopConnection::Answer;
    using Notice = std::function<void(std::string_view line)>;

    // Nothing when the display cannot be opened or lacks a root window.
    // `clock` spaces the attempts to connect again; `notice` writes a line on
    // standard error unless told otherwise.
    static std::shared_ptr<X11Desktop> open(const std::string& displayName, const Clock& clock,
                                            Notice notice = nullptr);
    ~X11Desktop();
    X11Desktop(const X11Desktop&) = delete;
    X11Desktop& operator=(const X11Desktop&) = delete;

    // Null while the server is lost.
    std::shared_ptr<const nlohmann::json> windowList();
    std::vector<ClientWindow> onScreenWindows(ClassNames classNames = ClassNames::read);
    std::optional<std::int32_t> activeWindowPID(Answer answer = Answer::kept);
    std::optional<DesktopOwner> desktopOwner();
    // Shared, never null.
    std::shared_ptr<const std::vector<Monitor>> monitors();
    // Nothing while the server is lost.
    std::optional<bool> screenLocked();
    std::uint16_t pointerMask();
    std::vector<std::uint32_t> clientList();
    std::optional<std::uint32_t> currentDesktop();
    std::optional<ClientWindow> client(std::uint32_t window);
    // Takes in the events waiting on the connection. The workspace watcher
    // calls it as the same events reach it, so that they do not pile up in
    // the server while nobody asks (a paused sampler).
    void takeWaitingEvents();
    std::vector<std::uint8_t> outputEDID(std::uint32_t output);
    std::optional<bool> displaysAsleep();

    // Connections made so far, the first included.
    std::uint64_t connections() const { return connections_.load(std::memory_order_acquire); }

private:
    X11Desktop(std::string displayName, const Clock& clock, Notice notice);
    // Runs `question` on the live connection, or answers `otherwise` while
    // there is none; a connection that broke meanwhile is given up.
    template <typename Question, typename Answered>
    Answered ask(Question&& question, Answered otherwise);
    // Under the lock: the live connection, after an attempt to connect again
    // when one is due.
    DesktopConnection* live();

    const std::string displayName_;
    const Clock& clock_;
    const Notice notice_;
    std::mutex mutex_;
    std::unique_ptr<DesktopConnection> connection_;  // under mutex_; none while the server is lost
    double nextAttempt_ = 0;                         // under mutex_; uptime of the next attempt to connect
    std::atomic<std::uint64_t> connections_{1};
    const std::shared_ptr<const std::vector<Monitor>> noMonitors_ = std::make_shared<const std::vector<Monitor>>();
};

}  // namespace scene::x11
