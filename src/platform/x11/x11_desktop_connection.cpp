#include "platform/x11/x11_desktop_connection.h"

#include <poll.h>
#include <sys/socket.h>
#include <xcb/dpms.h>
#include <xcb/randr.h>
#include <xcb/res.h>
#include <xcb/screensaver.h>
#include <xcb/xcb_icccm.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>

#include "platform/x11/x11_monitors.h"

namespace scene::x11 {
namespace {

// Owns one reply; xcb hands them out with malloc.
template <typename T>
using Reply = std::unique_ptr<T, decltype(&std::free)>;

template <typename T>
Reply<T> own(T* reply) {
    return Reply<T>(reply, &std::free);
}

// A managed client is watched for what it says of itself and for its moves,
// mappings and end inside its frame; a pop-up's structure is the root's
// substructure, heard of anyway.
constexpr std::uint32_t kClientEvents = XCB_EVENT_MASK_PROPERTY_CHANGE | XCB_EVENT_MASK_STRUCTURE_NOTIFY;
constexpr std::uint32_t kPopUpEvents = XCB_EVENT_MASK_PROPERTY_CHANGE;
// Windows between a client and the root: a frame, perhaps a wrapper or two.
constexpr int kDeepestClient = 8;
// A window manager that does not say its name still answers to something.
constexpr std::string_view kUnnamedManager = "x11.window-manager";

// The class half of a WM_CLASS value, "instance\0class\0". Clients may leave
// out the final terminator, and the library's reader then runs past the
// property, so the two names are cut out within the value's own length.
std::string classNameOf(const xcb_get_property_reply_t& reply) {
    const auto* text = static_cast<const char*>(xcb_get_property_value(&reply));
    const std::string_view value(text, static_cast<std::size_t>(xcb_get_property_value_length(&reply)));
    const std::size_t instanceEnd = value.find('\0');
    if (instanceEnd == std::string_view::npos) return {};
    const std::string_view rest = value.substr(instanceEnd + 1);
    return std::string(rest.substr(0, rest.find('\0')));
}

// The local client pid in an answer to a client-id query.
std::optional<std::int32_t> localClientPID(const xcb_res_query_client_ids_reply_t& reply) {
    for (auto it = xcb_res_query_client_ids_ids_iterator(&reply); it.rem > 0; xcb_res_client_id_value_next(&it)) {
        // The value starts with the query it answers (a standard-layout first
        // member, so the two addresses are one).
        const auto& asked = *reinterpret_cast<const xcb_res_client_id_spec_t*>(it.data);
        if ((asked.mask & XCB_RES_CLIENT_ID_MASK_LOCAL_CLIENT_PID) != 0 &&
            xcb_res_client_id_value_value_length(it.data) >= 1)
            return static_cast<std::int32_t>(*xcb_res_client_id_value_value(it.data));
    }
    return std::nullopt;
}

// Four cardinals, left, right, top and bottom, as both extents properties
// hold them; zero when the window sets none.
Extents extentsOf(const xcb_get_property_reply_t* reply) {
    if (reply == nullptr || reply->format != 32 || xcb_get_property_value_length(reply) < 16) return {};
    const auto* values = static_cast<const std::uint32_t*>(xcb_get_property_value(reply));
    return Extents{static_cast<double>(values[0]), static_cast<double>(values[1]), static_cast<double>(values[2]),
                   static_cast<double>(values[3])};
}

void watch(xcb_connection_t* connection, xcb_window_t window, std::uint32_t events) {
    xcb_change_window_attributes(connection, window, XCB_CW_EVENT_MASK, &events);
}

}  // namespace

std::unique_ptr<DesktopConnection> DesktopConnection::open(const std::string& displayName, std::mutex& lock) {
    int screen = 0;
    xcb_connection_t* connection = xcb_connect(displayName.empty() ? nullptr : displayName.c_str(), &screen);
    if (connection == nullptr || xcb_connection_has_error(connection) != 0) {
        if (connection != nullptr) xcb_disconnect(connection);
        return nullptr;
    }
    auto ewmh = std::make_unique<xcb_ewmh_connection_t>();
    if (xcb_ewmh_init_atoms_replies(ewmh.get(), xcb_ewmh_init_atoms(connection, ewmh.get()), nullptr) == 0) {
        xcb_disconnect(connection);
        return nullptr;
    }
    if (screen < 0 || screen >= ewmh->nb_screens) {
        xcb_ewmh_connection_wipe(ewmh.get());
        xcb_disconnect(connection);
        return nullptr;
    }
    std::unique_ptr<DesktopConnection> desktop(new DesktopConnection(connection, std::move(ewmh), screen));
    DesktopConnection* const watched = desktop.get();
    desktop->events_ = std::thread([watched, &lock] { watched->watchEvents(lock); });
    return desktop;
}

DesktopConnection::DesktopConnection(xcb_connection_t* connection, std::unique_ptr<xcb_ewmh_connection_t> ewmh,
                                     int screen)
    : connection_(connection),
      socket_(xcb_get_file_descriptor(connection)),
      ewmh_(std::move(ewmh)),
      screen_(screen),
      root_(ewmh_->screens[screen]->root) {
    opacityAtom_ = internAtom("_NET_WM_WINDOW_OPACITY");
    shadowsAtom_ = internAtom("_GTK_FRAME_EXTENTS");
    edidAtom_ = internAtom("EDID");

    // The root's children come, go and move with substructure events; the
    // root itself is reconfigured when monitors set up or taken down by hand
    // change its size (plugged and unplugged ones also send RandR events).
    const std::uint32_t rootEvents =
        XCB_EVENT_MASK_PROPERTY_CHANGE | XCB_EVENT_MASK_STRUCTURE_NOTIFY | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY;
    watch(connection_, root_, rootEvents);
    if (const auto* randr = xcb_get_extension_data(connection_, &xcb_randr_id); randr && randr->present) {
        // Change events need a client that says which version it speaks.
        std::free(xcb_randr_query_version_reply(connection_, xcb_randr_query_version(connection_, 1, 5), nullptr));
        xcb_randr_select_input(connection_, root_,
                               XCB_RANDR_NOTIFY_MASK_SCREEN_CHANGE | XCB_RANDR_NOTIFY_MASK_CRTC_CHANGE |
                                   XCB_RANDR_NOTIFY_MASK_OUTPUT_CHANGE);
        randrEvents_ = randr->first_event;
    }
    if (const auto* saver = xcb_get_extension_data(connection_, &xcb_screensaver_id); saver && saver->present) {
        xcb_screensaver_select_input(connection_, root_, XCB_SCREENSAVER_EVENT_NOTIFY_MASK);
        screenSaverEvents_ = saver->first_event;
    }
    xcb_flush(connection_);
}

DesktopConnection::~DesktopConnection() {
    if (events_.joinable()) {
        // Wakes the thread wherever it waits on the server; the socket stays
        // open until the disconnect below, so its number cannot be reused
        // under the thread's feet.
        ::shutdown(socket_, SHUT_RDWR);
        events_.join();
    }
    xcb_ewmh_connection_wipe(ewmh_.get());
    xcb_disconnect(connection_);
}

// The thread only waits for the socket; the events are read and taken in
// under the lock. An event it held while waiting for the lock would be taken
// in after later ones that a pass took in meanwhile (a window unmapped and
// mapped again would stay unmapped), and a caller that asks without a pause
// could keep it waiting for as long as it asks.
void DesktopConnection::watchEvents(std::mutex& lock) {
    pollfd server{socket_, POLLIN, 0};
    for (;;) {
        if (::poll(&server, 1, -1) < 0 && errno != EINTR) break;
        std::lock_guard held(lock);
        // The readiness may be stale: a pass waiting for a reply has read
        // the events meanwhile and taken them in, or left them queued.
        while (xcb_generic_event_t* event = xcb_poll_for_event(connection_)) {
            handle(*event);
            std::free(event);
        }
        if (broken()) {
            forgetAll();
            return;
        }
    }
    std::lock_guard held(lock);
    forgetAll();
}

xcb_atom_t DesktopConnection::internAtom(std::string_view name) {
    auto reply = own(xcb_intern_atom_reply(
        connection_, xcb_intern_atom(connection_, 0, static_cast<std::uint16_t>(name.size()), name.data()), nullptr));
    return reply ? reply->atom : xcb_atom_t{XCB_ATOM_NONE};
}

void DesktopConnection::takeEvents() {
    while (xcb_generic_event_t* event = xcb_poll_for_queued_event(connection_)) {
        handle(*event);
        std::free(event);
    }
    if (broken()) forgetAll();
}

// A lost connection answers nothing, as every request would.
void DesktopConnection::forgetAll() {
    kept_.clear();
    placements_.clear();
    clients_.reset();
    currentDesktop_.reset();
    listChanged();
    monitors_.reset();
    screenLocked_.reset();
    activeWindowPID_.reset();
    windowManager_.reset();
}

void DesktopConnection::listChanged() {
    windows_.reset();
    classNamesRead_ = false;
    windowList_.reset();
}

bool DesktopConnection::watchedProperty(xcb_atom_t atom) const {
    return atom == ewmh_->_NET_WM_WINDOW_TYPE || atom == ewmh_->_NET_WM_STATE || atom == ewmh_->_NET_FRAME_EXTENTS ||
           atom == shadowsAtom_ || atom == ewmh_->_NET_WM_PID || atom == opacityAtom_ ||
           atom == ewmh_->_NET_WM_DESKTOP || atom == XCB_ATOM_WM_CLASS;
}

void DesktopConnection::handle(const xcb_generic_event_t& event) {
    const std::uint8_t type = event.response_type & 0x7F;
    // Sent by clients (the manager's notes to its clients among them): what
    // they say of a window's place is in the parent's coordinates or none.
    const bool sent = (event.response_type & 0x80) != 0;
    if (randrEvents_ != 0 &&
        (type == randrEvents_ + XCB_RANDR_SCREEN_CHANGE_NOTIFY || type == randrEvents_ + XCB_RANDR_NOTIFY)) {
        monitors_.reset();
        listChanged();
        return;
    }
    if (screenSaverEvents_ != 0 && type == screenSaverEvents_ + XCB_SCREENSAVER_NOTIFY) {
        screenLocked_.reset();
        return;
    }
    // The window an event tells about and the one it was selected on share
    // a place in every structure event but creation, which comes only for
    // the root's children.
    const auto& structure = reinterpret_cast<const xcb_map_notify_event_t&>(event);
    const bool ofRoot = type == XCB_CREATE_NOTIFY || structure.event == root_;
    switch (type) {
        case XCB_PROPERTY_NOTIFY: {
            const auto& change = reinterpret_cast<const xcb_property_notify_event_t&>(event);
            if (change.window == root_) {
                if (change.atom == ewmh_->_NET_ACTIVE_WINDOW) activeWindowPID_.reset();
                if (change.atom == ewmh_->_NET_SUPPORTING_WM_CHECK) windowManager_.reset();
                if (change.atom == ewmh_->_NET_CLIENT_LIST) {
                    clients_.reset();
                    listChanged();
                }
                if (change.atom == ewmh_->_NET_CURRENT_DESKTOP) {
                    currentDesktop_.reset();
                    listChanged();
                }
            } else if (watchedProperty(change.atom) && kept_.erase(change.window) > 0) {
                listChanged();
            }
            return;
        }
        case XCB_CONFIGURE_NOTIFY: {
            const auto& configured = reinterpret_cast<const xcb_configure_notify_event_t&>(event);
            if (configured.window == root_) {
                monitors_.reset();
                listChanged();
                return;
            }
            if (sent) return;
            if (!ofRoot) {
                if (const auto it = placements_.find(configured.window); it != placements_.end()) {
                    it->second.stale = true;
                    listChanged();
                }
                return;
            }
            // A frame that changes size may have moved its client inside it.
            const TopLevel* top = stacking_.find(configured.window);
            if (top != nullptr && (top->width != configured.width || top->height != configured.height)) {
                for (auto& [client, placement] : placements_)
                    if (placement.frame == configured.window) placement.stale = true;
            }
            break;
        }
        case XCB_MAP_NOTIFY:
        case XCB_UNMAP_NOTIFY:
            if (!ofRoot) {
                if (const auto it = placements_.find(structure.window); it != placements_.end()) {
                    it->second.mapped = type == XCB_MAP_NOTIFY;
                    listChanged();
                }
                return;
            }
            break;
        case XCB_DESTROY_NOTIFY:
            if (structure.window == activeWindow_) activeWindowPID_.reset();
            if (!ofRoot) {
                placements_.erase(structure.window);
                kept_.erase(structure.window);
                listChanged();
                return;
            }
            break;
        case XCB_REPARENT_NOTIFY:
            // A client in a new frame (its manager started again, say) is
            // found there afresh.
            if (placements_.erase(structure.window) > 0) listChanged();
            if (!ofRoot) return;
            break;
        case XCB_GRAVITY_NOTIFY:
            if (!ofRoot) {
                if (const auto it = placements_.find(structure.window); it != placements_.end()) {
                    it->second.stale = true;
                    listChanged();
                }
                return;
            }
            break;
        case XCB_CREATE_NOTIFY:
        case XCB_CIRCULATE_NOTIFY:
            break;
        default:
            return;
    }
    // Events from before the tree was read are in it already.
    if (event.full_sequence < stackingRead_) return;
    if (stacking_.apply(event) || !stacking_.synced()) listChanged();
}

void DesktopConnection::syncStacking() {
    const auto treeCookie = xcb_query_tree(connection_, root_);
    auto tree = own(xcb_query_tree_reply(connection_, treeCookie, nullptr));
    stackingRead_ = treeCookie.sequence;
    std::vector<xcb_window_t> children;
    if (tree) {
        const xcb_window_t* first = xcb_query_tree_children(tree.get());
        children.assign(first, first + xcb_query_tree_children_length(tree.get()));
    }
    std::vector<std::pair<xcb_get_geometry_cookie_t, xcb_get_window_attributes_cookie_t>> cookies;
    for (const xcb_window_t child : children)
        cookies.emplace_back(xcb_get_geometry(connection_, child), xcb_get_window_attributes(connection_, child));
    std::vector<TopLevel> tops;
    for (std::size_t i = 0; i < children.size(); ++i) {
        auto geometry = own(xcb_get_geometry_reply(connection_, cookies[i].first, nullptr));
        auto attributes = own(xcb_get_window_attributes_reply(connection_, cookies[i].second, nullptr));
        if (!geometry || !attributes) continue;  // gone since the tree was read: its end comes as an event
        tops.push_back({children[i], geometry->x, geometry->y, geometry->width, geometry->height,
                        geometry->border_width, attributes->map_state != XCB_MAP_STATE_UNMAPPED,
                        attributes->override_redirect != 0});
    }
    stacking_.reset(root_, std::move(tops));
}

void DesktopConnection::placeClients(const std::vector<xcb_window_t>& clients) {
    std::vector<std::pair<xcb_window_t, xcb_window_t>> walking;  // client, the window reached
    std::vector<std::pair<xcb_window_t, xcb_window_t>> framed;   // client, its root child
    for (const xcb_window_t client : clients) {
        const auto placed = placements_.find(client);
        if (placed == placements_.end()) {
            // Watched before it is read: a change in between comes as an
            // event, and the client is read again.
            watch(connection_, client, kClientEvents);
            walking.emplace_back(client, client);
        } else if (placed->second.stale) {
            framed.emplace_back(client, placed->second.frame);
        }
    }
    // Up the tree to the root, one level for every client at a time.
    for (int depth = 0; depth < kDeepestClient && !walking.empty(); ++depth) {
        std::vector<xcb_query_tree_cookie_t> cookies;
        for (const auto& [client, reached] : walking) cookies.push_back(xcb_query_tree(connection_, reached));
        std::vector<std::pair<xcb_window_t, xcb_window_t>> next;
        for (std::size_t i = 0; i < walking.size(); ++i) {
            auto tree = own(xcb_query_tree_reply(connection_, cookies[i], nullptr));
            if (!tree || tree->parent == XCB_WINDOW_NONE) continue;  // gone: the client list will tell
            if (tree->parent == root_) {
                framed.push_back(walking[i]);
            } else {
                next.emplace_back(walking[i].first, tree->parent);
            }
        }
        walking = std::move(next);
    }
    struct Questions {
        xcb_get_geometry_cookie_t geometry;
        xcb_translate_coordinates_cookie_t origin;
        xcb_get_window_attributes_cookie_t attributes;
    };
    std::vector<Questions> questions;
    for (const auto& [client, frame] : framed)
        questions.push_back({xcb_get_geometry(connection_, client),
                             xcb_translate_coordinates(connection_, client, frame, 0, 0),
                             xcb_get_window_attributes(connection_, client)});
    for (std::size_t i = 0; i < framed.size(); ++i) {
        const auto [client, frame] = framed[i];
        auto geometry = own(xcb_get_geometry_reply(connection_, questions[i].geometry, nullptr));
        auto origin = own(xcb_translate_coordinates_reply(connection_, questions[i].origin, nullptr));
        auto attributes = own(xcb_get_window_attributes_reply(connection_, questions[i].attributes, nullptr));
        if (!geometry || !origin || !attributes) {
            placements_.erase(client);
            continue;
        }
        // From the frame's inside corner to the client's; the frame's border
        // lies outside.
        const TopLevel* top = stacking_.find(frame);
        const int border = top != nullptr ? top->border : 0;
        placements_[client] = Placement{frame,
                                        origin->dst_x + border,
                                        origin->dst_y + border,
                                        geometry->width,
                                        geometry->height,
                                        attributes->map_state != XCB_MAP_STATE_UNMAPPED,
                                        false};
    }
}

void DesktopConnection::readProperties(const std::vector<xcb_window_t>& windows) {
    xcb_ewmh_connection_t* ewmh = ewmh_.get();
    struct Questions {
        xcb_get_property_cookie_t types, states, frame, shadows, pid, opacity, desktop;
    };
    std::vector<Questions> questions;
    for (const xcb_window_t id : windows)
        questions.push_back({xcb_ewmh_get_wm_window_type(ewmh, id), xcb_ewmh_get_wm_state(ewmh, id),
                             xcb_ewmh_get_frame_extents(ewmh, id),
                             xcb_get_property(connection_, 0, id, shadowsAtom_, XCB_ATOM_CARDINAL, 0, 4),
                             xcb_ewmh_get_wm_pid(ewmh, id),
                             xcb_get_property(connection_, 0, id, opacityAtom_, XCB_ATOM_CARDINAL, 0, 1),
                             xcb_ewmh_get_wm_desktop(ewmh, id)});
    for (std::size_t i = 0; i < windows.size(); ++i) {
        const Questions& question = questions[i];
        KeptProperties kept;
        xcb_ewmh_get_atoms_reply_t atoms;
        if (xcb_ewmh_get_wm_window_type_reply(ewmh, question.types, &atoms, nullptr) != 0) {
            kept.types.assign(atoms.atoms, atoms.atoms + atoms.atoms_len);
            xcb_ewmh_get_atoms_reply_wipe(&atoms);
        }
        if (xcb_ewmh_get_wm_state_reply(ewmh, question.states, &atoms, nullptr) != 0) {
            kept.states.assign(atoms.atoms, atoms.atoms + atoms.atoms_len);
            xcb_ewmh_get_atoms_reply_wipe(&atoms);
        }
        kept.frame = extentsOf(own(xcb_get_property_reply(connection_, question.frame, nullptr)).get());
        kept.shadows = extentsOf(own(xcb_get_property_reply(connection_, question.shadows, nullptr)).get());
        std::uint32_t value = 0;
        if (xcb_ewmh_get_wm_pid_reply(ewmh, question.pid, &value, nullptr) != 0 && value != 0)
            kept.pid = static_cast<std::int32_t>(value);
        auto opacity = own(xcb_get_property_reply(connection_, question.opacity, nullptr));
        if (opacity && xcb_get_property_value_length(opacity.get()) >= 4)
            kept.opacity = *static_cast<const std::uint32_t*>(xcb_get_property_value(opacity.get()));
        if (xcb_ewmh_get_wm_desktop_reply(ewmh, question.desktop, &value, nullptr) != 0) kept.desktop = value;
        kept_[windows[i]] = std::move(kept);
    }
}

// Owners of windows that do not say whose they are, from the server's
// knowledge of its local clients; asked once per window.
void DesktopConnection::askOwners(const std::vector<xcb_window_t>& windows) {
    std::vector<std::pair<xcb_window_t, xcb_res_query_client_ids_cookie_t>> owners;
    for (const xcb_window_t window : windows) {
        const KeptProperties& kept = kept_[window];
        if (kept.pid || kept.ownerAsked) continue;
        xcb_res_client_id_spec_t query{window, XCB_RES_CLIENT_ID_MASK_LOCAL_CLIENT_PID};
        owners.emplace_back(window, xcb_res_query_client_ids(connection_, 1, &query));
    }
    for (const auto& [window, cookie] : owners) {
        auto reply = own(xcb_res_query_client_ids_reply(connection_, cookie, nullptr));
        KeptProperties& kept = kept_[window];
        kept.pid = reply ? localClientPID(*reply) : std::nullopt;
        kept.ownerAsked = true;
    }
}

void DesktopConnection::readClassNames(std::vector<ClientWindow>& windows) {
    std::vector<std::pair<ClientWindow*, xcb_get_property_cookie_t>> asked;
    for (ClientWindow& window : windows) {
        KeptProperties& kept = kept_[window.facts.number];
        if (kept.className) {
            window.className = *kept.className;
        } else {
            asked.emplace_back(&window, xcb_get_property(connection_, 0, window.facts.number, XCB_ATOM_WM_CLASS,
                                                         XCB_ATOM_STRING, 0, 256));
        }
    }
    for (const auto& [window, cookie] : asked) {
        auto reply = own(xcb_get_property_reply(connection_, cookie, nullptr));
        window->className = reply ? classNameOf(*reply) : std::string();
        kept_[window->facts.number].className = window->className;
    }
}

// What has changed since the last read is asked for; everything else is
// known: a read after a move asks nothing, one after a new window a few round
// trips however many windows there are.
std::vector<ClientWindow> DesktopConnection::readWindows() {
    std::vector<Rect> screens;
    // The list is held here: one read while the server is lost is nobody
    // else's, and a range over the pointer's target would outlive it.
    const auto known = monitors();
    for (const Monitor& monitor : *known) screens.push_back(monitor.bounds);
    if (!stacking_.synced()) syncStacking();
    if (!clients_ || !currentDesktop_) {
        const auto clientsCookie = xcb_ewmh_get_client_list(ewmh_.get(), screen_);
        const auto desktopCookie = xcb_ewmh_get_current_desktop(ewmh_.get(), screen_);
        clients_.emplace();
        xcb_ewmh_get_windows_reply_t clients;
        if (xcb_ewmh_get_client_list_reply(ewmh_.get(), clientsCookie, &clients, nullptr) != 0) {
            clients_->assign(clients.windows, clients.windows + clients.windows_len);
            xcb_ewmh_get_windows_reply_wipe(&clients);
        }
        std::uint32_t desktop = 0;
        currentDesktop_ = xcb_ewmh_get_current_desktop_reply(ewmh_.get(), desktopCookie, &desktop, nullptr) != 0
                              ? std::optional<std::uint32_t>(desktop)
                              : std::nullopt;
    }
    const std::vector<xcb_window_t>& clients = *clients_;
    placeClients(clients);

    // The windows that may show, front to back: the clients in each mapped
    // frame, and mapped pop-ups.
    std::map<xcb_window_t, std::vector<xcb_window_t>> framed;
    for (const xcb_window_t client : clients)
        if (const auto it = placements_.find(client); it != placements_.end() && it->second.mapped)
            framed[it->second.frame].push_back(client);
    struct Candidate {
        xcb_window_t id;
        const TopLevel* top;
        const Placement* placement;  // none for a pop-up
    };
    std::vector<Candidate> candidates;
    std::vector<xcb_window_t> unread;
    const auto& tops = stacking_.bottomToTop();
    for (auto top = tops.rbegin(); top != tops.rend(); ++top) {
        if (!top->mapped) continue;
        if (const auto it = framed.find(top->id); it != framed.end()) {
            for (const xcb_window_t client : it->second) candidates.push_back({client, &*top, &placements_[client]});
        } else if (top->overrideRedirect) {
            if (!kept_.contains(top->id)) watch(connection_, top->id, kPopUpEvents);
            candidates.push_back({top->id, &*top, nullptr});
        }
    }
    for (const Candidate& candidate : candidates)
        if (!kept_.contains(candidate.id)) unread.push_back(candidate.id);
    readProperties(unread);

    // The names of atoms not met before, then the windows the list shows.
    std::vector<xcb_atom_t> unnamed;
    for (const Candidate& candidate : candidates)
        for (const auto* atoms : {&kept_[candidate.id].types, &kept_[candidate.id].states})
            for (const xcb_atom_t atom : *atoms)
                if (!atomNames_.contains(atom) && std::find(unnamed.begin(), unnamed.end(), atom) == unnamed.end())
                    unnamed.push_back(atom);
    nameAtoms(unnamed);
    std::vector<ClientWindow> listed;
    desktopWindow_ = XCB_WINDOW_NONE;
    for (const Candidate& candidate : candidates) {
        const KeptProperties& kept = kept_[candidate.id];
        ClientWindow window;
        window.facts.number = candidate.id;
        window.facts.pid = kept.pid;
        window.facts.opacity = kept.opacity;
        if (kept.className) window.className = *kept.className;
        window.traits.overrideRedirect = candidate.placement == nullptr;
        for (const xcb_atom_t atom : kept.types) window.traits.types.push_back(atomNames_[atom]);
        for (const xcb_atom_t atom : kept.states) window.traits.states.push_back(atomNames_[atom]);
        const Rect frame = candidate.top->outer();
        if (const Placement* placement = candidate.placement) {
            const std::optional<std::uint32_t>& shown = *currentDesktop_;
            if (shown && kept.desktop && *kept.desktop != 0xFFFFFFFFu && *kept.desktop != *shown) continue;
            const Rect client{frame.x + placement->left, frame.y + placement->top,
                              static_cast<double>(placement->width), static_cast<double>(placement->height)};
            window.facts.bounds = visibleBounds(client, kept.frame, kept.shadows, frame);
        } else {
            window.facts.bounds = visibleBounds(frame, {}, kept.shadows, frame);
        }
        if (!isShownOnMonitors(window.facts.bounds, screens)) continue;
        if (!isListed(window.traits)) {
            if (desktopWindow_ == XCB_WINDOW_NONE && candidate.placement != nullptr &&
                hasType(window.traits, "_NET_WM_WINDOW_TYPE_DESKTOP"))
                desktopWindow_ = candidate.id;
            continue;
        }
        window.facts.level = windowLevel(window.traits);
        listed.push_back(std::move(window));
    }

    std::vector<xcb_window_t> ownerless;
    for (const ClientWindow& window : listed)
        if (!window.facts.pid) ownerless.push_back(window.facts.number);
    askOwners(ownerless);
    for (ClientWindow& window : listed)
        if (!window.facts.pid) window.facts.pid = kept_[window.facts.number].pid;

    // Windows no longer on the lists are forgotten; one that comes back is
    // read afresh.
    const auto managed = [&](xcb_window_t id) {
        return std::find(clients.begin(), clients.end(), id) != clients.end();
    };
    std::erase_if(placements_, [&](const auto& entry) { return !managed(entry.first); });
    std::erase_if(kept_, [&](const auto& entry) {
        const TopLevel* top = stacking_.find(entry.first);
        return !managed(entry.first) && (top == nullptr || !top->overrideRedirect);
    });
    return listed;
}

const std::vector<ClientWindow>& DesktopConnection::onScreenWindows(ClassNames classNames) {
    if (!windows_) windows_ = readWindows();
    if (classNames == ClassNames::read && !classNamesRead_) {
        readClassNames(*windows_);
        classNamesRead_ = true;
    }
    return *windows_;
}

std::shared_ptr<const nlohmann::json> DesktopConnection::windowList() {
    const std::vector<ClientWindow>& windows = onScreenWindows(ClassNames::skip);
    if (!windowList_) {
        auto list = std::make_shared<nlohmann::json>(nlohmann::json::array());
        for (const ClientWindow& window : windows) list->push_back(windowListEntry(window.facts));
        windowList_ = std::move(list);
    }
    return windowList_;
}

void DesktopConnection::nameAtoms(const std::vector<xcb_atom_t>& atoms) {
    std::vector<xcb_get_atom_name_cookie_t> cookies;
    for (const xcb_atom_t atom : atoms) cookies.push_back(xcb_get_atom_name(connection_, atom));
    for (std::size_t i = 0; i < atoms.size(); ++i) {
        std::string name;
        if (auto reply = own(xcb_get_atom_name_reply(connection_, cookies[i], nullptr)))
            name.assign(xcb_get_atom_name_name(reply.get()), xcb_get_atom_name_name_length(reply.get()));
        atomNames_.emplace(atoms[i], std::move(name));
    }
}

std::string DesktopConnection::atomName(xcb_atom_t atom) {
    if (!atomNames_.contains(atom)) nameAtoms({atom});
    return atomNames_[atom];
}

std::optional<std::int32_t> DesktopConnection::pidOf(std::uint32_t window) {
    std::uint32_t pid = 0;
    if (xcb_ewmh_get_wm_pid_reply(ewmh_.get(), xcb_ewmh_get_wm_pid(ewmh_.get(), window), &pid, nullptr) != 0 &&
        pid != 0)
        return static_cast<std::int32_t>(pid);
    // Clients that do not say their pid are still known to the server when
    // they connected locally.
    xcb_res_client_id_spec_t query{window, XCB_RES_CLIENT_ID_MASK_LOCAL_CLIENT_PID};
    auto reply =
        own(xcb_res_query_client_ids_reply(connection_, xcb_res_query_client_ids(connection_, 1, &query), nullptr));
    return reply ? localClientPID(*reply) : std::nullopt;
}

std::optional<std::int32_t> DesktopConnection::activeWindowPID(Answer answer) {
    if (activeWindowPID_ && answer == Answer::kept) return *activeWindowPID_;
    xcb_window_t active = XCB_WINDOW_NONE;
    std::optional<std::int32_t> pid;
    if (xcb_ewmh_get_active_window_reply(ewmh_.get(), xcb_ewmh_get_active_window(ewmh_.get(), screen_), &active,
                                         nullptr) != 0 &&
        active != XCB_WINDOW_NONE) {
        // Managers leave the last window closed named as the active one;
        // watched first, so one destroyed after the check is heard of.
        watch(connection_, active, kClientEvents);
        if (own(xcb_get_window_attributes_reply(connection_, xcb_get_window_attributes(connection_, active), nullptr)))
            pid = pidOf(active);
    }
    activeWindow_ = active;
    // A window says whose it is before it is shown, so its owner stays.
    if (!broken()) activeWindowPID_ = pid;
    return pid;
}

std::optional<DesktopOwner> DesktopConnection::desktopOwner() {
    onScreenWindows(ClassNames::skip);
    if (desktopWindow_ != XCB_WINDOW_NONE) {
        askOwners({desktopWindow_});
        ClientWindow desktop;
        desktop.facts.number = desktopWindow_;
        std::vector<ClientWindow> named{desktop};
        readClassNames(named);
        if (const auto pid = kept_[desktopWindow_].pid) return DesktopOwner{*pid, named.front().className};
    }
    return windowManager();
}

std::optional<DesktopOwner> DesktopConnection::windowManager() {
    if (windowManager_) return *windowManager_;
    xcb_window_t check = XCB_WINDOW_NONE;
    std::optional<DesktopOwner> manager;
    if (xcb_ewmh_get_supporting_wm_check_reply(ewmh_.get(), xcb_ewmh_get_supporting_wm_check(ewmh_.get(), root_),
                                               &check, nullptr) != 0 &&
        check != XCB_WINDOW_NONE) {
        std::string name(kUnnamedManager);
        xcb_ewmh_get_utf8_strings_reply_t named;
        if (xcb_ewmh_get_wm_name_reply(ewmh_.get(), xcb_ewmh_get_wm_name(ewmh_.get(), check), &named, nullptr) != 0) {
            if (named.strings_len > 0) name.assign(named.strings, named.strings_len);
            xcb_ewmh_get_utf8_strings_reply_wipe(&named);
        }
        if (const auto pid = pidOf(check)) manager = DesktopOwner{*pid, std::move(name)};
    }
    if (!broken()) windowManager_ = manager;
    return manager;
}

std::shared_ptr<const std::vector<Monitor>> DesktopConnection::monitors() {
    if (monitors_) return monitors_;
    auto read = std::make_shared<const std::vector<Monitor>>(readMonitors());
    if (randrEvents_ != 0 && !broken()) monitors_ = read;
    return read;
}

std::vector<Monitor> DesktopConnection::readMonitors() {
    std::vector<Monitor> result;
    for (const RandRMonitor& monitor : readRandRMonitors(connection_, root_))
        result.push_back({monitor.id, monitor.bounds, atomName(monitor.name)});
    return result;
}

bool DesktopConnection::screenLocked() {
    if (screenLocked_) return *screenLocked_;
    auto reply =
        own(xcb_screensaver_query_info_reply(connection_, xcb_screensaver_query_info(connection_, root_), nullptr));
    const bool locked = reply && reply->state == XCB_SCREENSAVER_STATE_ON;
    if (reply && screenSaverEvents_ != 0) screenLocked_ = locked;
    return locked;
}

std::uint16_t DesktopConnection::pointerMask() {
    auto reply = own(xcb_query_pointer_reply(connection_, xcb_query_pointer(connection_, root_), nullptr));
    return reply ? reply->mask : 0;
}

std::vector<std::uint32_t> DesktopConnection::clientList() {
    std::vector<std::uint32_t> result;
    xcb_ewmh_get_windows_reply_t clients;
    if (xcb_ewmh_get_client_list_reply(ewmh_.get(), xcb_ewmh_get_client_list(ewmh_.get(), screen_), &clients,
                                       nullptr) != 0) {
        result.assign(clients.windows, clients.windows + clients.windows_len);
        xcb_ewmh_get_windows_reply_wipe(&clients);
    }
    return result;
}

std::optional<std::uint32_t> DesktopConnection::currentDesktop() {
    std::uint32_t desktop = 0;
    if (xcb_ewmh_get_current_desktop_reply(ewmh_.get(), xcb_ewmh_get_current_desktop(ewmh_.get(), screen_), &desktop,
                                           nullptr) == 0)
        return std::nullopt;
    return desktop;
}

void DesktopConnection::readTraits(ClientWindow& window) {
    const xcb_window_t id = window.facts.number;
    xcb_ewmh_get_atoms_reply_t atoms;
    if (xcb_ewmh_get_wm_window_type_reply(ewmh_.get(), xcb_ewmh_get_wm_window_type(ewmh_.get(), id), &atoms, nullptr) !=
        0) {
        for (std::uint32_t i = 0; i < atoms.atoms_len; ++i) window.traits.types.push_back(atomName(atoms.atoms[i]));
        xcb_ewmh_get_atoms_reply_wipe(&atoms);
    }
    if (xcb_ewmh_get_wm_state_reply(ewmh_.get(), xcb_ewmh_get_wm_state(ewmh_.get(), id), &atoms, nullptr) != 0) {
        for (std::uint32_t i = 0; i < atoms.atoms_len; ++i) window.traits.states.push_back(atomName(atoms.atoms[i]));
        xcb_ewmh_get_atoms_reply_wipe(&atoms);
    }
}

void DesktopConnection::readClassName(ClientWindow& window) {
    auto wmClass = own(xcb_get_property_reply(
        connection_, xcb_get_property(connection_, 0, window.facts.number, XCB_ATOM_WM_CLASS, XCB_ATOM_STRING, 0, 256),
        nullptr));
    if (wmClass) window.className = classNameOf(*wmClass);
}

std::optional<ClientWindow> DesktopConnection::client(std::uint32_t window) {
    auto attributes =
        own(xcb_get_window_attributes_reply(connection_, xcb_get_window_attributes(connection_, window), nullptr));
    if (!attributes) return std::nullopt;
    ClientWindow result;
    result.facts.number = window;
    result.traits.overrideRedirect = attributes->override_redirect != 0;
    readTraits(result);
    result.facts.level = windowLevel(result.traits);
    result.facts.pid = pidOf(window);
    readClassName(result);
    return result;
}

std::vector<std::uint8_t> DesktopConnection::outputEDID(std::uint32_t output) {
    if (edidAtom_ == XCB_ATOM_NONE) return {};
    // A base block and up to three extension blocks, in 32-bit units.
    constexpr std::uint32_t kLongs = 4 * 128 / 4;
    auto reply = own(xcb_randr_get_output_property_reply(
        connection_,
        xcb_randr_get_output_property(connection_, output, edidAtom_, XCB_GET_PROPERTY_TYPE_ANY, 0, kLongs, 0, 0),
        nullptr));
    if (!reply || reply->format != 8) return {};
    const std::uint8_t* data = xcb_randr_get_output_property_data(reply.get());
    return std::vector<std::uint8_t>(data, data + xcb_randr_get_output_property_data_length(reply.get()));
}

std::optional<bool> DesktopConnection::displaysAsleep() {
    const xcb_query_extension_reply_t* extension = xcb_get_extension_data(connection_, &xcb_dpms_id);
    if (extension == nullptr || extension->present == 0) return std::nullopt;
    auto info = own(xcb_dpms_info_reply(connection_, xcb_dpms_info(connection_), nullptr));
    if (!info) return std::nullopt;
    return info->state != 0 && info->power_level != XCB_DPMS_DPMS_MODE_ON;
}

}  // namespace scene::x11
