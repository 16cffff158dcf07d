#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "accessibility/control_sampler.h"
#include "accessibility/dock_sampler.h"
#include "capture_access/native_capture_access.h"
#include "core/selected_stills.h"
#include "core/snapshot_text.h"
#include "platform/platform.h"
#include "platform/process_environment.h"
#include "platform/records.h"
#include "platform/runtime.h"
#include "selected_capture/selected_capture_session.h"
#include "selected_support/selected_support_sampler.h"
#include "support/support_pixel_sampler.h"
#include "visual/visual_sampler.h"
#include "window_tops/window_top_sampler.h"

namespace scene {

// The process-wide variables of the sampling core. Owned by the main queue.
struct ProcessState {
    std::set<std::int32_t> excludedPIDs;
    bool once = false;
    std::int32_t parent = 0;
    bool paused = false;
    std::int64_t sampleCount = 0;
    std::set<std::int32_t> dockPIDs;
    std::set<std::int32_t> annotationPIDs;
    std::set<std::int32_t> companionPIDs;
    std::set<std::int32_t> notificationCenterPIDs;
    std::map<std::int32_t, bool> inputMethodOwners;
    bool visualEnabled = false;
    bool controlsEnabled = false;
    Records controls;
    double controlsAt = 0;
    std::string controlsStatus = "off";
    bool inputsEnabled = false;
    Records inputControls;
    double inputsAt = 0;
    std::optional<std::string> anchorID;
    std::int32_t frontPID = 0;
    std::optional<std::string> focusedID;
    std::optional<std::string> axFocusedID;
    std::int64_t revision = 0;
    std::int64_t spaceRevision = 0;
    double transitionUntil = 0;
    double spaceTransitionUntil = 0;
    std::vector<ObserverToken> workspaceObservers;
    std::unique_ptr<AXObserver> focusObserver;
    std::int32_t observedPID = 0;
};

// Values that live for one pass.
struct PassValues {
    Records records;
    int notificationBackdropsIgnored = 0;
    double now = 0;
    bool transitioning = false;
    bool spaceTransitioning = false;
    bool sessionSafe = false;
};

// The scene sampler process: its state, its samplers, the capture broker and
// the selected capture session, the pass timer and the command input. Built from
// a platform and a runtime; everything runs on the main queue except the input
// reader and the samplers' own queues.
class SceneSampler {
public:
    SceneSampler(const Arguments& arguments, const Environment& environment, Platform& platform, Runtime& runtime);
    ~SceneSampler();
    SceneSampler(const SceneSampler&) = delete;
    SceneSampler& operator=(const SceneSampler&) = delete;

    // Continuous mode: activation policy, workspace observers, capture hooks,
    // the pass timer and the standard-input reader.
    void start();

    void tick();
    // One sampling pass; ends with one line on standard output unless gated.
    void sample();
    std::string sceneKey() const;

    void invalidateScene(bool space, double delay = 0.16);
    void watchFocus(std::int32_t pid);

    // The command procedure: executes command lines in order, up to a "quit".
    void executeLines(const std::vector<std::string>& lines);

    // Writes one line; a closed standard output ends the process cleanly.
    void writeLine(std::string_view line);

    ProcessState state;

    // The shared objects of the process, one each.
    NativeCaptureAccess capture;
    SelectedCaptureSession session;

    VisualSampler visualSampler;
    SupportPixelSampler supportSampler;
    WindowTopSampler topSampler;
    SelectedSupportSampler selectedSupports;
    ControlSampler controlSampler;
    ControlSampler inputSampler;
    DockSampler dockSampler;
    SelectedStills stills;

private:
    void execute(const std::string& line);
    void handleApplicationEvent(const WorkspaceEvent& event);
    void handleSpaceChange();
    void handleFocusNotification(const Element& element, const std::string& notification);
    void installCaptureHooks();
    void setPassRate(std::int32_t milliseconds);

    // Pass steps.
    void refreshProcesses();
    void updateFrontApplication();
    void updateFocusedWindow(const Records& records);
    void dispatchControls(const PassValues& pass);
    void dispatchVisual(const PassValues& pass);
    void dispatchSupports(const PassValues& pass);
    void controlsCompleted(const std::string& key, const std::optional<std::string>& focused, Records items,
                           const std::string& status);
    void inputsCompleted(const std::string& key, Records items);
    bool isInputMethodOwner(std::int32_t pid);
    void takeWindowRecords(const std::shared_ptr<const Json>& windowList, PassValues& pass);
    const Json& composeSnapshot(PassValues& pass);

    void removeFocusObserver();

    Platform& platform_;
    Runtime& runtime_;
    SystemVersion system_;
    bool selectedCaptureSupported_ = false;  // system version 14.4 or later
    std::int32_t ownPID_ = 0;
    std::unique_ptr<RepeatingTimer> timer_;
    Json snapshot_ = Json::object();
    // What the window records now in the snapshot were built from. A pass that
    // finds the same list, the same displays and the same processes borrows
    // those records instead of building them again; most passes do, since the
    // window server hands out a new list only when a window changes.
    struct RecordsSource {
        // Watched, not held: an old list is freed when the window server lets
        // go of it, while its control block stays, so another list cannot
        // come to stand at the same place.
        std::weak_ptr<const Json> windowList;
        std::vector<Rect> displays;
        int notificationBackdropsIgnored = 0;
    };
    std::optional<RecordsSource> recordsSource_;
    // The line and the text of the snapshot's parts, reused pass after pass: a
    // line of a thousand windows grows past the allocator's mapping threshold,
    // and a fresh string each pass would map and fault in new pages every time.
    SnapshotText snapshotText_;
};

}  // namespace scene
