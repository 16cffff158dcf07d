#include "platform/x11/x11_monitors.h"

#include <xcb/randr.h>

#include <cstdlib>
#include <memory>

namespace scene::x11 {

std::vector<RandRMonitor> readRandRMonitors(xcb_connection_t* connection, xcb_window_t root) {
    std::vector<RandRMonitor> result;
    const std::unique_ptr<xcb_randr_get_monitors_reply_t, decltype(&std::free)> reply(
        xcb_randr_get_monitors_reply(connection, xcb_randr_get_monitors(connection, root, 1), nullptr), &std::free);
    if (!reply) return result;
    for (auto it = xcb_randr_get_monitors_monitors_iterator(reply.get()); it.rem > 0;
         xcb_randr_monitor_info_next(&it)) {
        RandRMonitor monitor;
        monitor.id = xcb_randr_monitor_info_outputs_length(it.data) > 0 ? xcb_randr_monitor_info_outputs(it.data)[0]
                                                                        : it.data->name;
        monitor.bounds = Rect{static_cast<double>(it.data->x), static_cast<double>(it.data->y),
                              static_cast<double>(it.data->width), static_cast<double>(it.data->height)};
        monitor.name = it.data->name;
        monitor.primary = it.data->primary != 0;
        result.push_back(monitor);
    }
    return result;
}

}  // namespace scene::x11
