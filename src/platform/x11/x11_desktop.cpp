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
// would wait on the server some ten times per window.
std::vector<ClientWindow> X11Desktop::onScreenWindows(ClassNames classNames) {
    std::lock_guard lock(mutex_);
    xcb_ewmh_connection_t* ewmh = ewmh_.get();

    // The desktop shown, the managed windows bottom to top, the root's
    // children and the monitors.
    const auto desktopCookie = xcb_ewmh_get_current_desktop(ewmh, screen_);
    const auto stackingCookie = xcb_ewmh_get_client_list_stacking(ewmh, screen_);
    const auto treeCookie = xcb_query_tree(connection_, root_);
    const auto monitorsCookie = xcb_randr_get_monitors(connection_, root_, 1);

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
    std::vector<Rect> screens;
    if (auto reply = own(xcb_randr_get_monitors_reply(connection_, monitorsCookie, nullptr))) {
        for (auto it = xcb_randr_get_monitors_monitors_iterator(reply.get()); it.rem > 0;
             xcb_randr_monitor_info_next(&it))
            screens.push_back(Rect{static_cast<double>(it.data->x), static_cast<double>(it.data->y),
                                   static_cast<double>(it.data->width), static_cast<double>(it.data->height)});
    }

    // Which of them are viewable: pop-ups the manager never sees (viewable
    // override-redirect children of the root, which stack above managed
    // frames) front to back, then the managed windows of this desktop.
    std::vector<xcb_get_window_attributes_cookie_t> childAttributes;
    for (auto it = children.rbegin(); it != children.rend(); ++it)
        childAttributes.push_back(xcb_get_window_attributes(connection_, *it));
    std::vector<xcb_get_window_attributes_cookie_t> clientAttributes;
    std::vector<xcb_get_property_cookie_t> clientDesktops;
    for (auto it = clients.rbegin(); it != clients.rend(); ++it) {
        clientAttributes.push_back(xcb_get_window_attributes(connection_, *it));
        if (knowsDesktop) clientDesktops.push_back(xcb_ewmh_get_wm_desktop(ewmh, *it));
    }
    std::vector<ClientWindow> candidates;
    for (std::size_t i = 0; i < childAttributes.size(); ++i) {
        auto attributes = own(xcb_get_window_attributes_reply(connection_, childAttributes[i], nullptr));
        if (!attributes || attributes->override_redirect == 0 || attributes->map_state != XCB_MAP_STATE_VIEWABLE)
            continue;
        ClientWindow window;
        window.traits.overrideRedirect = true;
        window.facts.number = children[children.size() - 1 - i];
        candidates.push_back(std::move(window));
    }
    for (std::size_t i = 0; i < clientAttributes.size(); ++i) {
        auto attributes = own(xcb_get_window_attributes_reply(connection_, clientAttributes[i], nullptr));
        std::uint32_t desktop = 0;
        const bool elsewhere = knowsDesktop &&
                               xcb_ewmh_get_wm_desktop_reply(ewmh, clientDesktops[i], &desktop, nullptr) != 0 &&
                               desktop != 0xFFFFFFFFu && desktop != currentDesktop;
        if (!attributes || attributes->map_state != XCB_MAP_STATE_VIEWABLE || elsewhere) continue;
        ClientWindow window;
        window.facts.number = clients[clients.size() - 1 - i];
        candidates.push_back(std::move(window));
    }

    // Everything about each of them.
    struct Questions {
        xcb_get_property_cookie_t types, states, extents, pid, opacity;
        std::optional<xcb_get_property_cookie_t> wmClass;
        xcb_get_geometry_cookie_t geometry;
        xcb_translate_coordinates_cookie_t origin;
    };
    std::vector<Questions> questions;
    for (const ClientWindow& window : candidates) {
        const xcb_window_t id = window.facts.number;
        std::optional<xcb_get_property_cookie_t> wmClass;
        if (classNames == ClassNames::read)
            wmClass = xcb_get_property(connection_, 0, id, XCB_ATOM_WM_CLASS, XCB_ATOM_STRING, 0, 256);
        questions.push_back({xcb_ewmh_get_wm_window_type(ewmh, id), xcb_ewmh_get_wm_state(ewmh, id),
                             xcb_ewmh_get_frame_extents(ewmh, id), xcb_ewmh_get_wm_pid(ewmh, id),
                             xcb_get_property(connection_, 0, id, opacityAtom_, XCB_ATOM_CARDINAL, 0, 1), wmClass,
                             xcb_get_geometry(connection_, id), xcb_translate_coordinates(connection_, id, root_, 0, 0)});
    }
    std::vector<ClientWindow> shown;
    std::vector<std::vector<xcb_atom_t>> typeAtoms;
    std::vector<std::vector<xcb_atom_t>> stateAtoms;
    for (std::size_t i = 0; i < candidates.size(); ++i) {
        ClientWindow& window = candidates[i];
        const Questions& asked = questions[i];
        std::vector<xcb_atom_t> types;
        std::vector<xcb_atom_t> states;
        xcb_ewmh_get_atoms_reply_t atoms;
        if (xcb_ewmh_get_wm_window_type_reply(ewmh, asked.types, &atoms, nullptr) != 0) {
            types.assign(atoms.atoms, atoms.atoms + atoms.atoms_len);
            xcb_ewmh_get_atoms_reply_wipe(&atoms);
        }
        if (xcb_ewmh_get_wm_state_reply(ewmh, asked.states, &atoms, nullptr) != 0) {
            states.assign(atoms.atoms, atoms.atoms + atoms.atoms_len);
            xcb_ewmh_get_atoms_reply_wipe(&atoms);
        }
        // The frame belongs to the window as the user sees it.
        xcb_ewmh_get_extents_reply_t extents{};
        if (xcb_ewmh_get_frame_extents_reply(ewmh, asked.extents, &extents, nullptr) == 0) extents = {};
        std::uint32_t pid = 0;
        if (xcb_ewmh_get_wm_pid_reply(ewmh, asked.pid, &pid, nullptr) != 0 && pid != 0)
            window.facts.pid = static_cast<std::int32_t>(pid);
        auto opacity = own(xcb_get_property_reply(connection_, asked.opacity, nullptr));
        if (opacity && xcb_get_property_value_length(opacity.get()) >= 4)
            window.facts.opacity = *static_cast<const std::uint32_t*>(xcb_get_property_value(opacity.get()));
        if (asked.wmClass) {
            if (auto wmClass = own(xcb_get_property_reply(connection_, *asked.wmClass, nullptr)))
                window.className = classNameOf(*wmClass);
        }
        auto geometry = own(xcb_get_geometry_reply(connection_, asked.geometry, nullptr));
        auto origin = own(xcb_translate_coordinates_reply(connection_, asked.origin, nullptr));
        if (!geometry || !origin) continue;  // gone since the list was read
        window.facts.bounds =
            Rect{static_cast<double>(origin->dst_x) - extents.left, static_cast<double>(origin->dst_y) - extents.top,
                 static_cast<double>(geometry->width) + extents.left + extents.right,
                 static_cast<double>(geometry->height) + extents.top + extents.bottom};
        if (!isShownOnMonitors(window.facts.bounds, screens)) continue;
        shown.push_back(std::move(window));
        typeAtoms.push_back(std::move(types));
        stateAtoms.push_back(std::move(states));
    }

    // The names of atoms not met before, then the windows the list shows.
    std::vector<xcb_atom_t> unnamed;
    for (const auto* lists : {&typeAtoms, &stateAtoms})
        for (const auto& atoms : *lists)
            for (const xcb_atom_t atom : atoms)
                if (!atomNames_.contains(atom) && std::find(unnamed.begin(), unnamed.end(), atom) == unnamed.end())
                    unnamed.push_back(atom);
    nameAtoms(unnamed);
    std::vector<ClientWindow> listed;
    for (std::size_t i = 0; i < shown.size(); ++i) {
        ClientWindow& window = shown[i];
        for (const xcb_atom_t atom : typeAtoms[i]) window.traits.types.push_back(atomNames_[atom]);
        for (const xcb_atom_t atom : stateAtoms[i]) window.traits.states.push_back(atomNames_[atom]);
        if (!isListed(window.traits)) continue;
        window.facts.level = windowLevel(window.traits);
        listed.push_back(std::move(window));
    }

    // Owners of windows that do not say whose they are, from the server's
    // knowledge of its local clients.
    std::vector<std::pair<std::size_t, xcb_res_query_client_ids_cookie_t>> owners;
    for (std::size_t i = 0; i < listed.size(); ++i) {
        if (listed[i].facts.pid) continue;
        xcb_res_client_id_spec_t query{listed[i].facts.number, XCB_RES_CLIENT_ID_MASK_LOCAL_CLIENT_PID};
        owners.emplace_back(i, xcb_res_query_client_ids(connection_, 1, &query));
    }
    for (const auto& [index, cookie] : owners) {
        if (auto reply = own(xcb_res_query_client_ids_reply(connection_, cookie, nullptr)))
            listed[index].facts.pid = localClientPID(*reply);
    }
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
        for (std::uint32_t i = 0; i < atoms.atoms_len; ++i)
            window.traits.types.push_back(atomName(atoms.atoms[i]));
        xcb_ewmh_get_atoms_reply_wipe(&atoms);
    }
    if (xcb_ewmh_get_wm_state_reply(ewmh_.get(), xcb_ewmh_get_wm_state(ewmh_.get(), id), &atoms, nullptr) != 0) {
        for (std::uint32_t i = 0; i < atoms.atoms_len; ++i)
            window.traits.states.push_back(atomName(atoms.atoms[i]));
        xcb_ewmh_get_atoms_reply_wipe(&atoms);
    }
}

void X11Desktop::readClassName(ClientWindow& window) {
    auto wmClass = own(xcb_get_property_reply(
        connection_, xcb_get_property(connection_, 0, window.facts.number, XCB_ATOM_WM_CLASS, XCB_ATOM_STRING, 0, 256),
        nullptr));
    if (wmClass) window.className = classNameOf(*wmClass);
}

std::optional<std::int32_t> X11Desktop::activeWindowPID() {
    std::lock_guard lock(mutex_);
    xcb_window_t active = XCB_WINDOW_NONE;
    if (xcb_ewmh_get_active_window_reply(ewmh_.get(), xcb_ewmh_get_active_window(ewmh_.get(), screen_), &active,
                                         nullptr) == 0 ||
        active == XCB_WINDOW_NONE)
        return std::nullopt;
    return pidOf(active);
}

std::vector<Monitor> X11Desktop::monitors() {
    std::lock_guard lock(mutex_);
    return readMonitors();
}

std::vector<Monitor> X11Desktop::readMonitors() {
    std::vector<Monitor> result;
    auto reply = own(xcb_randr_get_monitors_reply(connection_, xcb_randr_get_monitors(connection_, root_, 1), nullptr));
    if (!reply) return result;
    for (auto it = xcb_randr_get_monitors_monitors_iterator(reply.get()); it.rem > 0;
         xcb_randr_monitor_info_next(&it)) {
        Monitor monitor;
        monitor.bounds = Rect{static_cast<double>(it.data->x), static_cast<double>(it.data->y),
                              static_cast<double>(it.data->width), static_cast<double>(it.data->height)};
        const xcb_randr_output_t* outputs = xcb_randr_monitor_info_outputs(it.data);
        // A monitor with no output (set up by hand) falls back to its name atom.
        monitor.id = xcb_randr_monitor_info_outputs_length(it.data) > 0 ? outputs[0] : it.data->name;
        monitor.name = atomName(it.data->name);
        result.push_back(std::move(monitor));
    }
    return result;
}

bool X11Desktop::screenLocked() {
    std::lock_guard lock(mutex_);
    auto reply =
        own(xcb_screensaver_query_info_reply(connection_, xcb_screensaver_query_info(connection_, root_), nullptr));
    return reply && reply->state == XCB_SCREENSAVER_STATE_ON;
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
