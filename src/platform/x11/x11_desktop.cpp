#include "platform/x11/x11_desktop.h"

#include <xcb/dpms.h>
#include <xcb/randr.h>
#include <xcb/res.h>
#include <xcb/screensaver.h>
#include <xcb/xcb.h>
#include <xcb/xcb_ewmh.h>
#include <xcb/xcb_icccm.h>

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

std::string atomName(xcb_connection_t* connection, xcb_atom_t atom, std::map<xcb_atom_t, std::string>& names) {
    if (const auto it = names.find(atom); it != names.end()) return it->second;
    auto reply = own(xcb_get_atom_name_reply(connection, xcb_get_atom_name(connection, atom), nullptr));
    std::string name;
    if (reply) name.assign(xcb_get_atom_name_name(reply.get()), xcb_get_atom_name_name_length(reply.get()));
    names.emplace(atom, name);
    return name;
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
    if (!reply) return std::nullopt;
    for (auto it = xcb_res_query_client_ids_ids_iterator(reply.get()); it.rem > 0; xcb_res_client_id_value_next(&it)) {
        // The value starts with the query it answers (a standard-layout first
        // member, so the two addresses are one).
        const auto& asked = *reinterpret_cast<const xcb_res_client_id_spec_t*>(it.data);
        if ((asked.mask & XCB_RES_CLIENT_ID_MASK_LOCAL_CLIENT_PID) != 0 &&
            xcb_res_client_id_value_value_length(it.data) >= 1)
            return static_cast<std::int32_t>(*xcb_res_client_id_value_value(it.data));
    }
    return std::nullopt;
}

std::vector<ClientWindow> X11Desktop::onScreenWindows() {
    std::lock_guard lock(mutex_);
    std::vector<ClientWindow> result;
    std::map<xcb_atom_t, std::string> names;

    std::uint32_t currentDesktop = 0;
    const bool knowsDesktop =
        xcb_ewmh_get_current_desktop_reply(ewmh_.get(), xcb_ewmh_get_current_desktop(ewmh_.get(), screen_),
                                           &currentDesktop, nullptr) != 0;

    xcb_ewmh_get_windows_reply_t stacking;
    std::vector<xcb_window_t> clients;
    if (xcb_ewmh_get_client_list_stacking_reply(ewmh_.get(), xcb_ewmh_get_client_list_stacking(ewmh_.get(), screen_),
                                                &stacking, nullptr) != 0) {
        clients.assign(stacking.windows, stacking.windows + stacking.windows_len);
        xcb_ewmh_get_windows_reply_wipe(&stacking);
    }

    // Pop-ups the manager never sees: viewable override-redirect children of
    // the root, which stack above managed frames.
    auto tree = own(xcb_query_tree_reply(connection_, xcb_query_tree(connection_, root_), nullptr));
    if (tree) {
        const xcb_window_t* children = xcb_query_tree_children(tree.get());
        const int count = xcb_query_tree_children_length(tree.get());
        for (int i = count - 1; i >= 0; --i) {
            auto attributes = own(xcb_get_window_attributes_reply(
                connection_, xcb_get_window_attributes(connection_, children[i]), nullptr));
            if (!attributes || attributes->override_redirect == 0 || attributes->map_state != XCB_MAP_STATE_VIEWABLE)
                continue;
            ClientWindow window;
            window.traits.overrideRedirect = true;
            window.facts.number = children[i];
            result.push_back(std::move(window));
        }
    }
    for (auto it = clients.rbegin(); it != clients.rend(); ++it) {
        auto attributes =
            own(xcb_get_window_attributes_reply(connection_, xcb_get_window_attributes(connection_, *it), nullptr));
        if (!attributes || attributes->map_state != XCB_MAP_STATE_VIEWABLE) continue;
        std::uint32_t desktop = 0;
        if (knowsDesktop &&
            xcb_ewmh_get_wm_desktop_reply(ewmh_.get(), xcb_ewmh_get_wm_desktop(ewmh_.get(), *it), &desktop, nullptr) !=
                0 &&
            desktop != 0xFFFFFFFFu && desktop != currentDesktop)
            continue;
        ClientWindow window;
        window.facts.number = *it;
        result.push_back(std::move(window));
    }

    std::vector<Rect> screens;
    for (const auto& monitor : readMonitors()) screens.push_back(monitor.bounds);

    std::vector<ClientWindow> listed;
    for (auto& window : result) {
        const xcb_window_t id = window.facts.number;
        readTraits(window, names);
        if (!isListed(window.traits)) continue;

        auto geometry = own(xcb_get_geometry_reply(connection_, xcb_get_geometry(connection_, id), nullptr));
        if (!geometry) continue;  // gone since the list was read
        auto origin = own(xcb_translate_coordinates_reply(
            connection_, xcb_translate_coordinates(connection_, id, root_, 0, 0), nullptr));
        if (!origin) continue;
        // The frame belongs to the window as the user sees it.
        xcb_ewmh_get_extents_reply_t extents{};
        if (xcb_ewmh_get_frame_extents_reply(ewmh_.get(), xcb_ewmh_get_frame_extents(ewmh_.get(), id), &extents,
                                             nullptr) == 0)
            extents = {};
        window.facts.bounds =
            Rect{static_cast<double>(origin->dst_x) - extents.left, static_cast<double>(origin->dst_y) - extents.top,
                 static_cast<double>(geometry->width) + extents.left + extents.right,
                 static_cast<double>(geometry->height) + extents.top + extents.bottom};
        if (!isShownOnMonitors(window.facts.bounds, screens)) continue;
        window.facts.level = windowLevel(window.traits);
        window.facts.pid = pidOf(id);

        auto opacity = own(xcb_get_property_reply(
            connection_, xcb_get_property(connection_, 0, id, opacityAtom_, XCB_ATOM_CARDINAL, 0, 1), nullptr));
        if (opacity && xcb_get_property_value_length(opacity.get()) >= 4)
            window.facts.opacity = *static_cast<const std::uint32_t*>(xcb_get_property_value(opacity.get()));
        readClassName(window);
        listed.push_back(std::move(window));
    }
    return listed;
}

void X11Desktop::readTraits(ClientWindow& window, std::map<xcb_atom_t, std::string>& names) {
    const xcb_window_t id = window.facts.number;
    xcb_ewmh_get_atoms_reply_t atoms;
    if (xcb_ewmh_get_wm_window_type_reply(ewmh_.get(), xcb_ewmh_get_wm_window_type(ewmh_.get(), id), &atoms, nullptr) !=
        0) {
        for (std::uint32_t i = 0; i < atoms.atoms_len; ++i)
            window.traits.types.push_back(atomName(connection_, atoms.atoms[i], names));
        xcb_ewmh_get_atoms_reply_wipe(&atoms);
    }
    if (xcb_ewmh_get_wm_state_reply(ewmh_.get(), xcb_ewmh_get_wm_state(ewmh_.get(), id), &atoms, nullptr) != 0) {
        for (std::uint32_t i = 0; i < atoms.atoms_len; ++i)
            window.traits.states.push_back(atomName(connection_, atoms.atoms[i], names));
        xcb_ewmh_get_atoms_reply_wipe(&atoms);
    }
}

void X11Desktop::readClassName(ClientWindow& window) {
    // WM_CLASS is "instance\0class\0", but clients may leave out the final
    // terminator; the library's reader then runs past the property, so the
    // two names are cut out within the value's own length.
    auto wmClass = own(xcb_get_property_reply(
        connection_, xcb_get_property(connection_, 0, window.facts.number, XCB_ATOM_WM_CLASS, XCB_ATOM_STRING, 0, 256),
        nullptr));
    if (!wmClass) return;
    const auto* text = static_cast<const char*>(xcb_get_property_value(wmClass.get()));
    const std::string_view value(text, static_cast<std::size_t>(xcb_get_property_value_length(wmClass.get())));
    const std::size_t instanceEnd = value.find('\0');
    if (instanceEnd == std::string_view::npos) return;
    const std::string_view rest = value.substr(instanceEnd + 1);
    const std::string_view name = rest.substr(0, rest.find('\0'));
    if (!name.empty()) window.className = std::string(name);
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
        auto name = own(xcb_get_atom_name_reply(connection_, xcb_get_atom_name(connection_, it.data->name), nullptr));
        if (name) monitor.name.assign(xcb_get_atom_name_name(name.get()), xcb_get_atom_name_name_length(name.get()));
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
    std::map<xcb_atom_t, std::string> names;
    readTraits(result, names);
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
