#include "platform/x11/x11_desktop.h"

#include <xcb/dpms.h>
#include <xcb/randr.h>
#include <xcb/res.h>
#include <xcb/screensaver.h>
#include <xcb/xcb.h>
#include <xcb/xcb_ewmh.h>
#include <xcb/xcb_icccm.h>

#include <algorithm>
#include <cstdlib>
#include <map>
#include <string_view>

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

}  // namespace

std::shared_ptr<X11Desktop> X11Desktop::open(const std::string& displayName) {
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
    return std::shared_ptr<X11Desktop>(new X11Desktop(connection, std::move(ewmh), screen));
}

X11Desktop::X11Desktop(xcb_connection_t* connection, std::unique_ptr<xcb_ewmh_connection_t> ewmh, int screen)
    : connection_(connection), ewmh_(std::move(ewmh)), screen_(screen), root_(ewmh_->screens[screen]->root) {
    opacityAtom_ = internAtom("_NET_WM_WINDOW_OPACITY");
    edidAtom_ = internAtom("EDID");
    activeWindowAtom_ = ewmh_->_NET_ACTIVE_WINDOW;

    // Monitors set up or taken down by hand reconfigure the root and send
    // nothing else; plugged and unplugged ones also send RandR events.
    const std::uint32_t rootEvents = XCB_EVENT_MASK_PROPERTY_CHANGE | XCB_EVENT_MASK_STRUCTURE_NOTIFY;
    xcb_change_window_attributes(connection_, root_, XCB_CW_EVENT_MASK, &rootEvents);
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

void X11Desktop::takeWaitingEvents() {
    std::lock_guard lock(mutex_);
    takeEvents();
}

void X11Desktop::takeEvents() {
    while (xcb_generic_event_t* event = xcb_poll_for_event(connection_)) {
        const std::uint8_t type = event->response_type & 0x7F;
        if (type == XCB_CONFIGURE_NOTIFY ||
            (randrEvents_ != 0 &&
             (type == randrEvents_ + XCB_RANDR_SCREEN_CHANGE_NOTIFY || type == randrEvents_ + XCB_RANDR_NOTIFY)))
            monitors_.reset();
        if (screenSaverEvents_ != 0 && type == screenSaverEvents_ + XCB_SCREENSAVER_NOTIFY) screenLocked_.reset();
        if (type == XCB_PROPERTY_NOTIFY) {
            const auto* change = reinterpret_cast<const xcb_property_notify_event_t*>(event);
            if (change->window != root_) {
                kept_.erase(change->window);
            } else if (change->atom == activeWindowAtom_) {
                activeWindowPID_.reset();
            }
        }
        std::free(event);
    }
    // A lost connection answers nothing, as every request would.
    if (xcb_connection_has_error(connection_) != 0) {
        kept_.clear();
        monitors_.reset();
        screenLocked_.reset();
        activeWindowPID_.reset();
    }
}

xcb_atom_t X11Desktop::internAtom(std::string_view name) {
    auto reply = own(xcb_intern_atom_reply(
        connection_, xcb_intern_atom(connection_, 0, static_cast<std::uint16_t>(name.size()), name.data()), nullptr));
    return reply ? reply->atom : xcb_atom_t{XCB_ATOM_NONE};
}

X11Desktop::~X11Desktop() {
    xcb_ewmh_connection_wipe(ewmh_.get());
    xcb_disconnect(connection_);
}

std::optional<std::int32_t> X11Desktop::pidOf(std::uint32_t window) {
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

std::string X11Desktop::atomName(xcb_atom_t atom) {
    if (!atomNames_.contains(atom)) nameAtoms({atom});
    return atomNames_[atom];
}

// The window list is read in stages, and each stage sends all of its
// requests before it waits for the first reply: a handful of round trips per
// read, whatever the number of windows, where asking one question at a time
// would wait on the server some ten times per window. What windows say of
// themselves in properties is kept until they change one, so a read asks
// most windows only where they are.
std::vector<ClientWindow> X11Desktop::onScreenWindows(ClassNames classNames) {
    std::lock_guard lock(mutex_);
    xcb_ewmh_connection_t* ewmh = ewmh_.get();

    std::vector<Rect> screens;
    for (const Monitor& monitor : keptMonitors()) screens.push_back(monitor.bounds);

    // The desktop shown, the managed windows bottom to top and the root's
    // children.
    const auto desktopCookie = xcb_ewmh_get_current_desktop(ewmh, screen_);
    const auto stackingCookie = xcb_ewmh_get_client_list_stacking(ewmh, screen_);
    const auto treeCookie = xcb_query_tree(connection_, root_);

    std::uint32_t currentDesktop = 0;
    const bool knowsDesktop = xcb_ewmh_get_current_desktop_reply(ewmh, desktopCookie, &currentDesktop, nullptr) != 0;
    std::vector<xcb_window_t> clients;
    xcb_ewmh_get_windows_reply_t stacking;
    if (xcb_ewmh_get_client_list_stacking_reply(ewmh, stackingCookie, &stacking, nullptr) != 0) {
        clients.assign(stacking.windows, stacking.windows + stacking.windows_len);
        xcb_ewmh_get_windows_reply_wipe(&stacking);
    }
    std::vector<xcb_window_t> children;
    if (auto tree = own(xcb_query_tree_reply(connection_, treeCookie, nullptr))) {
        const xcb_window_t* first = xcb_query_tree_children(tree.get());
        children.assign(first, first + xcb_query_tree_children_length(tree.get()));
    }

    // Where a window is, and what it says of itself unless that is kept.
    struct PropertyQuestions {
        xcb_get_property_cookie_t types, states, extents, pid, opacity, desktop;
    };
    struct Questions {
        xcb_window_t id = XCB_WINDOW_NONE;
        std::optional<PropertyQuestions> properties;
        std::optional<xcb_get_property_cookie_t> wmClass;
        xcb_get_geometry_cookie_t geometry{};
        xcb_translate_coordinates_cookie_t origin{};
    };
    const auto ask = [&](xcb_window_t id) {
        Questions asked;
        asked.id = id;
        const auto known = kept_.find(id);
        if (known == kept_.end()) {
            // Watched before it is read: a change in between comes as an
            // event, and the window is read again.
            const std::uint32_t events = XCB_EVENT_MASK_PROPERTY_CHANGE;
            xcb_change_window_attributes(connection_, id, XCB_CW_EVENT_MASK, &events);
            asked.properties =
                PropertyQuestions{xcb_ewmh_get_wm_window_type(ewmh, id),
                                  xcb_ewmh_get_wm_state(ewmh, id),
                                  xcb_ewmh_get_frame_extents(ewmh, id),
                                  xcb_ewmh_get_wm_pid(ewmh, id),
                                  xcb_get_property(connection_, 0, id, opacityAtom_, XCB_ATOM_CARDINAL, 0, 1),
                                  xcb_ewmh_get_wm_desktop(ewmh, id)};
        }
        if (classNames == ClassNames::read && (known == kept_.end() || !known->second.className))
            asked.wmClass = xcb_get_property(connection_, 0, id, XCB_ATOM_WM_CLASS, XCB_ATOM_STRING, 0, 256);
        asked.geometry = xcb_get_geometry(connection_, id);
        asked.origin = xcb_translate_coordinates(connection_, id, root_, 0, 0);
        return asked;
    };
    // The window's properties, taken from the replies when they were asked
    // (once: the questions are spent after).
    const auto properties = [&](Questions& asked) -> KeptProperties& {
        KeptProperties& kept = kept_[asked.id];
        if (asked.properties) {
            const PropertyQuestions& question = *asked.properties;
            kept = KeptProperties{};
            xcb_ewmh_get_atoms_reply_t atoms;
            if (xcb_ewmh_get_wm_window_type_reply(ewmh, question.types, &atoms, nullptr) != 0) {
                kept.types.assign(atoms.atoms, atoms.atoms + atoms.atoms_len);
                xcb_ewmh_get_atoms_reply_wipe(&atoms);
            }
            if (xcb_ewmh_get_wm_state_reply(ewmh, question.states, &atoms, nullptr) != 0) {
                kept.states.assign(atoms.atoms, atoms.atoms + atoms.atoms_len);
                xcb_ewmh_get_atoms_reply_wipe(&atoms);
            }
            if (xcb_ewmh_get_frame_extents_reply(ewmh, question.extents, &kept.extents, nullptr) == 0)
                kept.extents = {};
            std::uint32_t value = 0;
            if (xcb_ewmh_get_wm_pid_reply(ewmh, question.pid, &value, nullptr) != 0 && value != 0)
                kept.pid = static_cast<std::int32_t>(value);
            auto opacity = own(xcb_get_property_reply(connection_, question.opacity, nullptr));
            if (opacity && xcb_get_property_value_length(opacity.get()) >= 4)
                kept.opacity = *static_cast<const std::uint32_t*>(xcb_get_property_value(opacity.get()));
            if (xcb_ewmh_get_wm_desktop_reply(ewmh, question.desktop, &value, nullptr) != 0) kept.desktop = value;
            asked.properties.reset();
        }
        if (asked.wmClass) {
            auto wmClass = own(xcb_get_property_reply(connection_, *asked.wmClass, nullptr));
            kept.className = wmClass ? classNameOf(*wmClass) : std::string();
            asked.wmClass.reset();
        }
        return kept;
    };

    // Which of them are viewable: pop-ups the manager never sees (viewable
    // override-redirect children of the root, which stack above managed
    // frames) front to back, then the managed windows of this desktop. The
    // questions about every managed window go with its attributes, which
    // saves a round trip for the few that turn out hidden; pop-ups are
    // asked about once they are found, when there are any.
    std::vector<xcb_get_window_attributes_cookie_t> childAttributes;
    for (auto it = children.rbegin(); it != children.rend(); ++it)
        childAttributes.push_back(xcb_get_window_attributes(connection_, *it));
    std::vector<std::pair<xcb_get_window_attributes_cookie_t, Questions>> clientQuestions;
    for (auto it = clients.rbegin(); it != clients.rend(); ++it)
        clientQuestions.emplace_back(xcb_get_window_attributes(connection_, *it), ask(*it));
    std::vector<ClientWindow> candidates;
    std::vector<Questions> questions;
    for (std::size_t i = 0; i < childAttributes.size(); ++i) {
        auto attributes = own(xcb_get_window_attributes_reply(connection_, childAttributes[i], nullptr));
        if (!attributes || attributes->override_redirect == 0 || attributes->map_state != XCB_MAP_STATE_VIEWABLE)
            continue;
        ClientWindow window;
        window.traits.overrideRedirect = true;
        window.facts.number = children[children.size() - 1 - i];
        questions.push_back(ask(window.facts.number));
        candidates.push_back(std::move(window));
    }
    for (auto& [attributesCookie, asked] : clientQuestions) {
        auto attributes = own(xcb_get_window_attributes_reply(connection_, attributesCookie, nullptr));
        const KeptProperties& kept = properties(asked);
        const bool elsewhere =
            knowsDesktop && kept.desktop && *kept.desktop != 0xFFFFFFFFu && *kept.desktop != currentDesktop;
        if (!attributes || attributes->map_state != XCB_MAP_STATE_VIEWABLE || elsewhere) {
            xcb_discard_reply(connection_, asked.geometry.sequence);
            xcb_discard_reply(connection_, asked.origin.sequence);
            continue;
        }
        ClientWindow window;
        window.facts.number = asked.id;
        questions.push_back(asked);
        candidates.push_back(std::move(window));
    }

    std::vector<ClientWindow> shown;
    std::vector<const KeptProperties*> shownProperties;
    for (std::size_t i = 0; i < candidates.size(); ++i) {
        ClientWindow& window = candidates[i];
        const KeptProperties& kept = properties(questions[i]);
        window.facts.pid = kept.pid;
        window.facts.opacity = kept.opacity;
        if (kept.className) window.className = *kept.className;
        auto geometry = own(xcb_get_geometry_reply(connection_, questions[i].geometry, nullptr));
        auto origin = own(xcb_translate_coordinates_reply(connection_, questions[i].origin, nullptr));
        if (!geometry || !origin) continue;  // gone since the list was read
        // The frame belongs to the window as the user sees it.
        const xcb_ewmh_get_extents_reply_t& extents = kept.extents;
        window.facts.bounds =
            Rect{static_cast<double>(origin->dst_x) - extents.left, static_cast<double>(origin->dst_y) - extents.top,
                 static_cast<double>(geometry->width) + extents.left + extents.right,
                 static_cast<double>(geometry->height) + extents.top + extents.bottom};
        if (!isShownOnMonitors(window.facts.bounds, screens)) continue;
        shown.push_back(std::move(window));
        shownProperties.push_back(&kept);
    }

    // The names of atoms not met before, then the windows the list shows.
    std::vector<xcb_atom_t> unnamed;
    for (const KeptProperties* kept : shownProperties)
        for (const auto* atoms : {&kept->types, &kept->states})
            for (const xcb_atom_t atom : *atoms)
                if (!atomNames_.contains(atom) && std::find(unnamed.begin(), unnamed.end(), atom) == unnamed.end())
                    unnamed.push_back(atom);
    nameAtoms(unnamed);
    std::vector<ClientWindow> listed;
    std::vector<KeptProperties*> listedProperties;
    for (std::size_t i = 0; i < shown.size(); ++i) {
        ClientWindow& window = shown[i];
        for (const xcb_atom_t atom : shownProperties[i]->types) window.traits.types.push_back(atomNames_[atom]);
        for (const xcb_atom_t atom : shownProperties[i]->states) window.traits.states.push_back(atomNames_[atom]);
        if (!isListed(window.traits)) continue;
        window.facts.level = windowLevel(window.traits);
        listed.push_back(std::move(window));
        listedProperties.push_back(&kept_[listed.back().facts.number]);
    }

    // Owners of windows that do not say whose they are, from the server's
    // knowledge of its local clients; asked once per window.
    std::vector<std::pair<std::size_t, xcb_res_query_client_ids_cookie_t>> owners;
    for (std::size_t i = 0; i < listed.size(); ++i) {
        if (listed[i].facts.pid || listedProperties[i]->ownerAsked) continue;
        xcb_res_client_id_spec_t query{listed[i].facts.number, XCB_RES_CLIENT_ID_MASK_LOCAL_CLIENT_PID};
        owners.emplace_back(i, xcb_res_query_client_ids(connection_, 1, &query));
    }
    for (const auto& [index, cookie] : owners) {
        auto reply = own(xcb_res_query_client_ids_reply(connection_, cookie, nullptr));
        listed[index].facts.pid = reply ? localClientPID(*reply) : std::nullopt;
        listedProperties[index]->pid = listed[index].facts.pid;
        listedProperties[index]->ownerAsked = true;
    }

    // Windows no longer on the lists are forgotten; one that comes back is
    // read afresh.
    std::erase_if(kept_, [&](const auto& entry) {
        const xcb_window_t id = entry.first;
        return std::find(clients.begin(), clients.end(), id) == clients.end() &&
               std::none_of(candidates.begin(), candidates.end(),
                            [id](const ClientWindow& window) { return window.facts.number == id; });
    });
    return listed;
}

void X11Desktop::nameAtoms(const std::vector<xcb_atom_t>& atoms) {
    std::vector<xcb_get_atom_name_cookie_t> cookies;
    for (const xcb_atom_t atom : atoms) cookies.push_back(xcb_get_atom_name(connection_, atom));
    for (std::size_t i = 0; i < atoms.size(); ++i) {
        std::string name;
        if (auto reply = own(xcb_get_atom_name_reply(connection_, cookies[i], nullptr)))
            name.assign(xcb_get_atom_name_name(reply.get()), xcb_get_atom_name_name_length(reply.get()));
        atomNames_.emplace(atoms[i], std::move(name));
    }
}

void X11Desktop::readTraits(ClientWindow& window) {
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

void X11Desktop::readClassName(ClientWindow& window) {
    auto wmClass = own(xcb_get_property_reply(
        connection_, xcb_get_property(connection_, 0, window.facts.number, XCB_ATOM_WM_CLASS, XCB_ATOM_STRING, 0, 256),
        nullptr));
    if (wmClass) window.className = classNameOf(*wmClass);
}

std::optional<std::int32_t> X11Desktop::activeWindowPID(Answer answer) {
    std::lock_guard lock(mutex_);
    takeEvents();
    if (activeWindowPID_ && answer == Answer::kept) return *activeWindowPID_;
    xcb_window_t active = XCB_WINDOW_NONE;
    std::optional<std::int32_t> pid;
    if (xcb_ewmh_get_active_window_reply(ewmh_.get(), xcb_ewmh_get_active_window(ewmh_.get(), screen_), &active,
                                         nullptr) != 0 &&
        active != XCB_WINDOW_NONE)
        pid = pidOf(active);
    // A window says whose it is before it is shown, so its owner stays.
    if (xcb_connection_has_error(connection_) == 0) activeWindowPID_ = pid;
    return pid;
}

std::vector<Monitor> X11Desktop::monitors() {
    std::lock_guard lock(mutex_);
    return keptMonitors();
}

std::vector<Monitor> X11Desktop::keptMonitors() {
    takeEvents();
    if (monitors_) return *monitors_;
    auto read = readMonitors();
    if (randrEvents_ != 0 && xcb_connection_has_error(connection_) == 0) monitors_ = read;
    return read;
}

std::vector<Monitor> X11Desktop::readMonitors() {
    std::vector<Monitor> result;
    for (const RandRMonitor& monitor : readRandRMonitors(connection_, root_))
        result.push_back({monitor.id, monitor.bounds, atomName(monitor.name)});
    return result;
}

bool X11Desktop::screenLocked() {
    std::lock_guard lock(mutex_);
    takeEvents();
    if (screenLocked_) return *screenLocked_;
    auto reply =
        own(xcb_screensaver_query_info_reply(connection_, xcb_screensaver_query_info(connection_, root_), nullptr));
    const bool locked = reply && reply->state == XCB_SCREENSAVER_STATE_ON;
    if (reply && screenSaverEvents_ != 0) screenLocked_ = locked;
    return locked;
}

std::uint16_t X11Desktop::pointerMask() {
    std::lock_guard lock(mutex_);
    auto reply = own(xcb_query_pointer_reply(connection_, xcb_query_pointer(connection_, root_), nullptr));
    return reply ? reply->mask : 0;
}

std::vector<std::uint32_t> X11Desktop::clientList() {
    std::lock_guard lock(mutex_);
    std::vector<std::uint32_t> result;
    xcb_ewmh_get_windows_reply_t clients;
    if (xcb_ewmh_get_client_list_reply(ewmh_.get(), xcb_ewmh_get_client_list(ewmh_.get(), screen_), &clients,
                                       nullptr) != 0) {
        result.assign(clients.windows, clients.windows + clients.windows_len);
        xcb_ewmh_get_windows_reply_wipe(&clients);
    }
    return result;
}

std::optional<std::uint32_t> X11Desktop::currentDesktop() {
    std::lock_guard lock(mutex_);
    std::uint32_t desktop = 0;
    if (xcb_ewmh_get_current_desktop_reply(ewmh_.get(), xcb_ewmh_get_current_desktop(ewmh_.get(), screen_), &desktop,
                                           nullptr) == 0)
        return std::nullopt;
    return desktop;
}

std::optional<ClientWindow> X11Desktop::client(std::uint32_t window) {
    std::lock_guard lock(mutex_);
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

std::vector<std::uint8_t> X11Desktop::outputEDID(std::uint32_t output) {
    std::lock_guard lock(mutex_);
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

std::optional<bool> X11Desktop::displaysAsleep() {
    std::lock_guard lock(mutex_);
    const xcb_query_extension_reply_t* extension = xcb_get_extension_data(connection_, &xcb_dpms_id);
    if (extension == nullptr || extension->present == 0) return std::nullopt;
    auto info = own(xcb_dpms_info_reply(connection_, xcb_dpms_info(connection_), nullptr));
    if (!info) return std::nullopt;
    return info->state != 0 && info->power_level != XCB_DPMS_DPMS_MODE_ON;
}

}  // namespace scene::x11
