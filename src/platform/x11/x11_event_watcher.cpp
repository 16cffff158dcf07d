#include "platform/x11/x11_event_watcher.h"

#include <algorithm>
#include <cstdlib>

#include "platform/x11/x11_workspace.h"

namespace scene::x11 {
namespace {

constexpr std::string_view kHiddenState = "_NET_WM_STATE_HIDDEN";

void watchProperties(xcb_connection_t* connection, xcb_window_t window) {
    const std::uint32_t mask = XCB_EVENT_MASK_PROPERTY_CHANGE;
    xcb_change_window_attributes(connection, window, XCB_CW_EVENT_MASK, &mask);
}

}  // namespace

std::unique_ptr<X11EventWatcher> X11EventWatcher::start(const std::string& displayName,
                                                        std::shared_ptr<X11Desktop> desktop, Identify identify,
                                                        Deliver deliver) {
    auto thread = X11EventThread::open(displayName);
    if (!thread) return nullptr;
    xcb_connection_t* connection = thread->connection();
    std::unique_ptr<X11EventWatcher> watcher(
        new X11EventWatcher(std::move(desktop), std::move(identify), std::move(deliver)));
    watcher->activeWindowAtom_ = internAtom(connection, "_NET_ACTIVE_WINDOW");
    watcher->currentDesktopAtom_ = internAtom(connection, "_NET_CURRENT_DESKTOP");
    watcher->clientListAtom_ = internAtom(connection, "_NET_CLIENT_LIST");
    watcher->stateAtom_ = internAtom(connection, "_NET_WM_STATE");

    // Watch first, then read: a change in between is seen twice at worst,
    // and the second time compares equal.
    watchProperties(connection, thread->root());
    roundTrip(connection);
    watcher->activePID_ = watcher->frontPID();
    watcher->currentDesktop_ = watcher->desktop_->currentDesktop();
    watcher->clientListChanged(connection);

    watcher->thread_ = std::move(thread);
    watcher->thread_->start([self = watcher.get()](xcb_connection_t* connection, const xcb_generic_event_t& event) {
        self->handle(connection, event);
    });
    return watcher;
}

void X11EventWatcher::handle(xcb_connection_t* connection, const xcb_generic_event_t& event) {
    desktop_->takeWaitingEvents();
    // Errors come from watching clients that went in the meantime; their
    // leaving shows in the client list.
    if ((event.response_type & 0x7F) != XCB_PROPERTY_NOTIFY) return;
    const auto& change = reinterpret_cast<const xcb_property_notify_event_t&>(event);
    if (change.window == thread_->root()) {
        if (change.atom == activeWindowAtom_) activeWindowChanged();
        if (change.atom == currentDesktopAtom_) currentDesktopChanged();
        if (change.atom == clientListAtom_) clientListChanged(connection);
    } else if (change.atom == stateAtom_) {
        clientStateChanged(change.window);
    }
}

std::optional<std::int32_t> X11EventWatcher::frontPID() {
    if (const auto pid = desktop_->activeWindowPID(X11Desktop::Answer::asked)) return pid;
    const auto owner = desktop_->desktopOwner();
    return owner ? std::optional<std::int32_t>(owner->pid) : std::nullopt;
}

void X11EventWatcher::activeWindowChanged() {
    const auto pid = frontPID();
    // Focus moving between windows of one application activates nothing;
    // focus on no window activates the desktop's owner, so coming back is an
    // activation too.
    if (pid == activePID_) return;
    activePID_ = pid;
    if (!pid) return;
    auto application = identify_(*pid);
    // A process whose windows are not listed (a lone dialog on its way up)
    // still names itself, so the logic can tell its own and excluded ones.
    if (!application) application = RunningApplication{*pid, std::nullopt};
    deliver_({WorkspaceNotification::didActivateApplication, std::move(application)});
}

void X11EventWatcher::currentDesktopChanged() {
    const auto current = desktop_->currentDesktop();
    if (!current || current == currentDesktop_) return;
    currentDesktop_ = current;
    deliver_({WorkspaceNotification::activeSpaceDidChange, std::nullopt});
}

void X11EventWatcher::clientListChanged(xcb_connection_t* connection) {
    const std::vector<std::uint32_t> windows = desktop_->clientList();
    const ClientTracker::Clients& known = tracker_.clients();
    std::vector<std::uint32_t> added;
    for (const std::uint32_t window : windows)
        if (!known.contains(window)) added.push_back(window);
    for (const std::uint32_t window : added) watchProperties(connection, window);
    if (!added.empty()) roundTrip(connection);

    ClientTracker::Clients next;
    for (const std::uint32_t window : windows) {
        if (const auto it = known.find(window); it != known.end()) {
            next.emplace(window, it->second);
        } else if (auto client = readClient(window)) {
            next.emplace(window, std::move(*client));
        }
    }
    tracked(tracker_.update(std::move(next)));
}

void X11EventWatcher::clientStateChanged(std::uint32_t window) {
    if (!tracker_.clients().contains(window)) return;
    auto client = readClient(window);
    if (!client) return;  // gone: the client list tells
    ClientTracker::Clients next = tracker_.clients();
    next[window] = std::move(*client);
    tracked(tracker_.update(std::move(next)));
}

std::optional<TrackedClient> X11EventWatcher::readClient(std::uint32_t window) {
    const auto client = desktop_->client(window);
    // A client that does not say whose it is belongs to no application.
    if (!client || !client->facts.pid) return std::nullopt;
    const auto& states = client->traits.states;
    return TrackedClient{*client->facts.pid, bundleIdentifierOf(*client),
                         std::find(states.begin(), states.end(), kHiddenState) != states.end()};
}

std::optional<RunningApplication> X11EventWatcher::application(std::int32_t pid) const {
    std::lock_guard lock(applicationsMutex_);
    const auto found = applications_.find(pid);
    if (found == applications_.end()) return std::nullopt;
    return found->second;
}

void X11EventWatcher::tracked(const std::vector<WorkspaceEvent>& events) {
    {
        auto applications = tracker_.applications();
        std::lock_guard lock(applicationsMutex_);
        applications_ = std::move(applications);
    }
    for (const auto& event : events) deliver_(event);
}

}  // namespace scene::x11
