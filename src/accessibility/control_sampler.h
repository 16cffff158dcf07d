#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/accessibility.h"
#include "platform/platform.h"
#include "platform/records.h"
#include "platform/rect.h"
#include "platform/runtime.h"

namespace scene {

// Walks the front application's focused window through Accessibility and
// reports its visible controls, or only its text inputs. `schedule` and the
// completion run on the main queue and touch only `busy` and `lastStarted`; the
// walk and all walk state (identities, references, the resumable input walk)
// belong to `queue`.
class ControlSampler {
public:
    // An element still to visit, the visible region its containers leave it,
    // and how deep below the window it sits.
    struct WalkEntry {
        Element element;
        Rect clip;
        int depth = 0;
    };

    struct ScanResult {
        std::optional<std::string> windowID;  // the window record the walk matched
        Records items;
        std::string status;
    };

    using Completion =
        std::function<void(std::string key, std::optional<std::string> focused, Records items, std::string status)>;

    ControlSampler(Platform& platform, Runtime& runtime, std::string identityPrefix = "ax");
    // Joins the queue's thread before the state its tasks use goes away.
    ~ControlSampler();
    ControlSampler(const ControlSampler&) = delete;
    ControlSampler& operator=(const ControlSampler&) = delete;

    std::string identityPrefix;
    std::unique_ptr<Queue> queue;
    bool busy = false;
    double lastStarted = 0;  // uptime of the last walk start; 0 lets the next one start at once
    std::string lastKey;     // scene key the walk state below belongs to
    int serial = 0;
    std::vector<std::pair<Element, std::string>> identities;
    std::map<std::string, Element> references;  // identity -> element of the last completed walk
    std::vector<WalkEntry> inputPending;        // where an unfinished input walk resumes
    std::vector<WalkEntry> inputKnown;          // inputs the last input walk found, looked at first
    std::optional<Rect> inputWindow;            // window frame the input walk state was taken in
    std::set<std::string> roles;
    std::set<std::string> inputs;

    // At most one walk at a time and walk starts at least 0.16 s apart; calls in
    // between are dropped, the pass asks again soon. The completion runs on the
    // main queue with the key given here.
    void schedule(std::int32_t pid, const Records& windows, const std::string& key,
                  const std::optional<std::string>& anchor, bool inputsOnly, Completion completion);
    // The walk itself; runs on `queue`.
    ScanResult scan(std::int32_t pid, const Records& windows, const std::string& key,
                    const std::optional<std::string>& anchor, bool inputsOnly);

    // Read errors are absent values: a single unreadable element never ends a walk.
    std::optional<AXValue> attribute(const Element& element, std::string_view name) const;
    // Only frames with positive extent; zero-sized elements cannot be stood on or seen.
    std::optional<Rect> frame(const Element& element) const;
    static Json dictionary(const Rect& rect);

    // Stable while the element stays known and the scene key holds.
    std::string identity(const Element& element, const std::string& windowID);
    bool belongs(const Element& element, const Element& ancestor, int limit) const;

private:
    struct Walk;

    std::string role(const Element& element) const;
    // The focused window's clip where the anchor sits: the window frame narrowed
    // by every container on the anchor's parent chain.
    Rect anchorClip(const Element& anchor, const Walk& walk, double deadline) const;
    void visit(Walk& walk, const WalkEntry& entry);
    void consider(Walk& walk, const WalkEntry& entry, const std::string& role, const Rect& own, const Rect& clip);
    std::vector<Element> children(const Element& element, bool inputsOnly) const;

    Platform& platform_;
    Runtime& runtime_;
};

}  // namespace scene
