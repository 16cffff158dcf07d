#include "core/scene_sampler.h"

#include "core/command_line.h"
#include "core/command_reader.h"
#include "core/scene_model.h"

namespace scene {
namespace {

constexpr double kDefaultPassInterval = 0.033;
constexpr double kDefaultPassLeeway = 0.003;
constexpr const char* kInputIdentityPrefix = "input";
constexpr const char* kReady = "ready";
constexpr const char* kCapturePaused = "capture-paused";
constexpr const char* kSelectionChanged = "selection-changed";

}  // namespace

SceneSampler::SceneSampler(const Arguments& arguments, const Environment& environment, Platform& platform,
                           Runtime& runtime)
    : capture(arguments, environment),
      session(platform, runtime),
      visualSampler(runtime, capture, platform.workspace().systemVersion()),
      supportSampler(runtime.clock()),
      topSampler(runtime.clock()),
      selectedSupports(runtime),
      controlSampler(platform, runtime),
      inputSampler(platform, runtime, kInputIdentityPrefix),
      dockSampler(platform, runtime),
      stills(runtime, session, capture, platform.workspace().systemVersion().atLeast(14, 4),
             [this](std::string_view line) { writeLine(line); }),
      platform_(platform),
      runtime_(runtime),
      system_(platform.workspace().systemVersion()),
      selectedCaptureSupported_(system_.atLeast(14, 4)),
      ownPID_(platform.workspace().processIdentifier()) {
    const CommandLine commandLine = parseCommandLine(arguments);
    state.excludedPIDs = commandLine.excludedPIDs;
    state.once = commandLine.once;
    state.parent = platform.workspace().parentProcessIdentifier();
    state.visualEnabled = commandLine.visual;
    state.controlsEnabled = commandLine.controls;
}

SceneSampler::~SceneSampler() {
    runtime_.standardStreams().setWriteWaitCheck(nullptr);
    if (timer_) timer_->cancel();
    removeFocusObserver();
    for (const ObserverToken token : state.workspaceObservers) platform_.workspace().removeObserver(token);
}

void SceneSampler::start() {
    Workspace& workspace = platform_.workspace();
    workspace.setActivationPolicy(ActivationPolicy::prohibited);

    const auto onApplication = [this](const WorkspaceEvent& event) { handleApplicationEvent(event); };
    for (const auto name : {WorkspaceNotification::didActivateApplication, WorkspaceNotification::didHideApplication,
                            WorkspaceNotification::didUnhideApplication,
                            WorkspaceNotification::didTerminateApplication}) {
        state.workspaceObservers.push_back(workspace.addObserver(name, onApplication));
    }
    state.workspaceObservers.push_back(workspace.addObserver(
        WorkspaceNotification::activeSpaceDidChange, [this](const WorkspaceEvent&) { handleSpaceChange(); }));

    if (selectedCaptureSupported_) workspace.setActivationPolicy(ActivationPolicy::accessory);
    installCaptureHooks();

    timer_ = runtime_.makeTimer([this] { tick(); });
    timer_->schedule(0, kDefaultPassInterval, kDefaultPassLeeway);

    // The reader thread only decodes, cuts lines and forwards them; they are
    // executed on the main queue. A write the companion does not take stops
    // waiting once it has asked to quit or has gone away (the tick that would
    // notice cannot run while the write holds the main queue).
    auto reader = std::make_shared<CommandReader>();
    runtime_.standardStreams().setWriteWaitCheck([this, reader] {
        return !reader->quitReceived() && platform_.workspace().parentProcessIdentifier() == state.parent;
    });
    Runtime& runtime = runtime_;
    runtime_.standardStreams().startReading([this, &runtime, reader](std::string_view chunk) {
        if (chunk.empty()) {
            runtime.requestExit(0);
            return;
        }
        if (auto lines = reader->take(chunk); !lines.empty())
            runtime.mainQueue().post([this, lines = std::move(lines)] { executeLines(lines); });
    });
}

void SceneSampler::installCaptureHooks() {
    if (!selectedCaptureSupported_) {
        capture.selectedAvailable = [] { return false; };
        capture.selectedStatus = [] { return std::string(kCapturePaused); };
        return;
    }
    capture.selectedAvailable = [this] { return session.current().has_value(); };
    capture.selectedStatus = [this] {
        return std::string(session.displayState() == kReady ? kReady : kCapturePaused);
    };
    capture.selectedImage = [this](const Rect& rect, int width, int height,
                                   const NativeCaptureAccess::ImageCompletion& completion) {
        if (auto crop = session.crop(rect, width, height)) {
            completion(std::move(crop->first), std::nullopt, crop->second);
        } else {
            completion(std::nullopt, missingCropError(), std::nullopt);
        }
    };
    session.onTransition = [this] {
        invalidateScene(false, 0.16);
        supportSampler.reset(kSelectionChanged);
        topSampler.reset(kSelectionChanged);
        selectedSupports.reset(kSelectionChanged);
    };
}

void SceneSampler::tick() {
    if (platform_.workspace().parentProcessIdentifier() != state.parent) {
        runtime_.requestExit(0);
        return;
    }
    if (state.paused) return;
    sample();
}

std::string SceneSampler::sceneKey() const {
    return scene::sceneKey(state.revision, state.frontPID, state.focusedID);
}

void SceneSampler::writeLine(std::string_view line) {
    if (!runtime_.standardStreams().writeLine(line)) runtime_.requestExit(0);
}

void SceneSampler::setPassRate(std::int32_t milliseconds) {
    const double interval = milliseconds / 1000.0;
    if (timer_) timer_->schedule(interval, interval, 0.005);
}

}  // namespace scene
