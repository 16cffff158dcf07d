#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "accessibility/control_sampler.h"
#include "accessibility/dock_side.h"
#include "platform/platform.h"
#include "platform/rect.h"
#include "platform/records.h"
#include "platform/runtime.h"

namespace scene {

// The Dock's shelves, one record per display edge the Dock occupies. Found in
// the window list each pass when the Dock shows a window there, otherwise read
// through Accessibility on `queue`, rate-limited. All fields are main-queue
// state; the Accessibility read only sees copies of its arguments.
class DockSampler {
public:
    struct Display {
        DisplayID id = 0;
        Rect bounds;
    };

    DockSampler(Platform& platform, Runtime& runtime);
    // Joins the queue's thread before the state its tasks use goes away.
    ~DockSampler();
    DockSampler(const DockSampler&) = delete;
    DockSampler& operator=(const DockSampler&) = delete;

    std::unique_ptr<Queue> queue;
    ControlSampler structure;  // only for its attribute and frame reads
    Records items;
    std::string status = "starting";
    bool busy = false;
    double started = 0;   // uptime of the last Accessibility read start
    double received = 0;  // uptime `items` was last replaced by a real result

    // `windows` is the pass's raw window list, before any record is built.
    void sample(const std::set<std::int32_t>& pids, const Json& windows);

    // `window` names the shelf's window where its display has more than one
    // shelf (panels of a desktop); the Dock's one shelf on a display is
    // "dock:<display>".
    static Json dictionary(const Rect& rect, std::uint32_t display, const std::string& side,
                           std::optional<std::int64_t> window = std::nullopt);
    // The record of `rect` on the first display it sits along an edge of.
    static std::optional<Json> placed(const Rect& rect, const std::vector<Display>& displays);

private:
    // A shelf as found in the window list, before it becomes a record.
    struct Shelf {
        Rect rect;  // within its display
        DisplayID display = 0;
        std::string side;
        std::optional<std::int64_t> window;  // the window's number, when the list gives one
        // Alike when their records would be written alike: the record's
        // numbers compared bit for bit.
        bool operator==(const Shelf& other) const;
    };

    std::vector<Display> displays() const;
    std::vector<Shelf> windowShelves(const std::set<std::int32_t>& pids, const Json& windows,
                                     const std::vector<Display>& displays) const;
    Records accessibilityShelves(const std::set<std::int32_t>& pids, const std::vector<Display>& displays) const;
    static Records records(const std::vector<Shelf>& shelves);

    Platform& platform_;
    Runtime& runtime_;
    // The window shelves `items` was last built from: while the Dock stands
    // still, each pass finds the same ones and keeps the records it has.
    std::vector<Shelf> itemShelves_;
};

}  // namespace scene
