// Window-list entries of any shape: keys missing or of the wrong kind, numbers
// at the edges of their types, NaN and infinite bounds, lists that are not
// lists. The window server gives loosely typed dictionaries, so each entry
// must either become a well-formed window record or be dropped, and the pass
// must write a snapshot line whose windows are exactly those records.
//
// Input: the window list as JSON text (see `expanded` for how it spells what
// JSON cannot), which a whole sampler on the simulated desktop then receives
// from its window server.
#include <cstddef>
#include <cstdint>
#include <limits>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "core/scene_sampler.h"
#include "core/window_records.h"
#include "fuzz_inputs.h"
#include "platform/manual_runtime.h"
#include "platform/simulated/scene_loader.h"

namespace scene {
namespace {

using fuzz::require;

constexpr std::int32_t kDock = 10;
constexpr std::int32_t kNotificationCenter = 20;
constexpr std::int32_t kCompanion = 30;
constexpr std::int32_t kAgent = 40;
constexpr std::int32_t kAgentGuardian = 41;
constexpr std::int32_t kInputMethod = 60;
constexpr std::int32_t kExcluded = 70;
constexpr std::int32_t kOwn = 4242;

// Every process the pass treats specially is running, so the fuzzed entries
// meet each rule: backdrops, system UI, the companion's and agent's windows.
constexpr std::string_view kDesktop = R"({
  "format": 1,
  "displays": [{"id": 1, "bounds": [0, 0, 1440, 900]}, {"id": 2, "bounds": [1440, 0, 1920, 1080]}],
  "applications": [
    {"pid": 10, "bundleId": "com.apple.dock"},
    {"pid": 20, "bundleId": "com.apple.notificationcenterui"},
    {"pid": 30, "bundleId": "app.vantu.companion"},
    {"pid": 40, "bundleId": "app.vantu.agent"},
    {"pid": 41, "bundleId": "app.vantu.agent-guardian"},
    {"pid": 50, "bundleId": "com.example.editor"},
    {"pid": 60, "bundleId": "com.example.inputmethod", "bundlePath": "/Library/Input Methods/Example.app"}
  ],
  "frontmost": 50
})";

// The window server of the simulated desktop, except for the window list,
// which is the fuzzer's.
class FuzzedWindowServer final : public WindowServer {
public:
    FuzzedWindowServer(WindowServer& base, std::shared_ptr<const Json> list) : base_(base), list_(std::move(list)) {}

    std::shared_ptr<const Json> copyWindowList() override { return list_; }
    int dockWindowLevel() override { return base_.dockWindowLevel(); }
    std::optional<std::uint32_t> activeDisplayCount() override { return base_.activeDisplayCount(); }
    std::optional<std::vector<DisplayID>> activeDisplayList(std::uint32_t maxDisplays) override {
        return base_.activeDisplayList(maxDisplays);
    }
    Rect displayBounds(DisplayID display) override { return base_.displayBounds(display); }
    bool displayIsActive(DisplayID display) override { return base_.displayIsActive(display); }
    bool displayIsAsleep(DisplayID display) override { return base_.displayIsAsleep(display); }
    std::optional<std::string> displayUUID(DisplayID display) override { return base_.displayUUID(display); }
    std::optional<Json> sessionDictionary() override { return base_.sessionDictionary(); }
    bool leftButtonDown() override { return base_.leftButtonDown(); }
    std::uint64_t modifierFlags() override { return base_.modifierFlags(); }
    std::uint32_t eventCounter(InputEventType type) override { return base_.eventCounter(type); }
    bool preflightScreenCaptureAccess() override { return base_.preflightScreenCaptureAccess(); }

private:
    WindowServer& base_;
    std::shared_ptr<const Json> list_;
};

class FuzzedPlatform final : public Platform {
public:
    FuzzedPlatform(Platform& base, std::shared_ptr<const Json> list)
        : base_(base), windowServer_(base.windowServer(), std::move(list)) {}

    WindowServer& windowServer() override { return windowServer_; }
    Workspace& workspace() override { return base_.workspace(); }
    Accessibility& accessibility() override { return base_.accessibility(); }
    ScreenCapture& screenCapture() override { return base_.screenCapture(); }

private:
    Platform& base_;
    FuzzedWindowServer windowServer_;
};

constexpr std::size_t kLargestList = 1100;  // past the 1024 entries a pass looks at

// JSON cannot spell the numbers that break arithmetic, so the input names
// them, and a long list would not fit the input: both are written out here.
//   "NaN", "Infinity", "-Infinity"     any string value with this text
//   {"repeat": n, "entry": e}           an item: n copies of e
Json expanded(const Json& value) {
    if (value.is_string()) {
        const auto& text = value.get_ref<const std::string&>();
        if (text == "NaN") return std::numeric_limits<double>::quiet_NaN();
        if (text == "Infinity") return std::numeric_limits<double>::infinity();
        if (text == "-Infinity") return -std::numeric_limits<double>::infinity();
        return value;
    }
    if (value.is_object()) {
        Json object = Json::object();
        for (const auto& [key, member] : value.items()) object[key] = expanded(member);
        return object;
    }
    if (!value.is_array()) return value;
    Json array = Json::array();
    for (const Json& item : value) {
        const auto repeat = item.is_object() && item.size() == 2 ? item.find("repeat") : item.end();
        if (repeat != item.end() && repeat->is_number_unsigned() && item.contains("entry")) {
            const Json entry = expanded(item["entry"]);
            const std::size_t copies = std::min<std::size_t>(repeat->get<std::size_t>(), kLargestList);
            for (std::size_t i = 0; i < copies && array.size() < kLargestList; ++i) array.push_back(entry);
        } else if (array.size() < kLargestList) {
            array.push_back(expanded(item));
        }
    }
    return array;
}

void checkRecord(const Json& record) {
    static const std::set<std::string> kKeys = {"alpha", "height", "id", "layer", "pid", "width", "x", "y"};
    require(record.is_object(), "a window record is an object");
    std::set<std::string> keys;
    for (const auto& [key, value] : record.items())
        if (key != "systemUI") keys.insert(key);
    require(keys == kKeys, "a window record has exactly its keys");
    require(fuzz::numbersAreFinite(record), "window record numbers are finite");
    require(record["pid"].is_number_integer() && record["layer"].is_number_integer(), "pid and layer are integers");
    require(record["alpha"].is_number() && record["x"].is_number() && record["y"].is_number(), "numbers are numbers");

    const auto pid = record["pid"].get<std::int64_t>();
    require(pid != kCompanion && pid != kAgent && pid != kAgentGuardian && pid != kExcluded && pid != kOwn,
            "the companion's, the agent's, excluded and own windows are left out");
    const std::string& id = record["id"].get_ref<const std::string&>();
    const std::string prefix = std::to_string(pid) + ":";
    require(id.starts_with(prefix) && id.size() > prefix.size(), "id is pid:number");
    require(record["width"].get<double>() >= 1 && record["height"].get<double>() >= 1, "at least one point a side");
    require(record["alpha"].get<double>() > 0.05, "invisible windows are dropped");
    require(!(pid == kDock && record["layer"] == 20 && record["width"].get<double>() > 300 &&
              record["height"].get<double>() > 300),
            "Dock backdrops are dropped");
    if (const auto tag = record.find("systemUI"); tag != record.end()) {
        require((*tag == "notification-center" && pid == kNotificationCenter) ||
                    (*tag == "input-method-candidate" && pid == kInputMethod),
                "system UI tags only on system UI owners");
    }
}

void run(const std::uint8_t* data, std::size_t size) {
    const Json text = Json::parse(data, data + size, nullptr, /*allow_exceptions=*/false);
    if (text.is_discarded()) return;
    const auto list = std::make_shared<const Json>(expanded(text));

    // The records on their own, with the filter the pass will derive.
    const std::set<std::int32_t> excluded{kExcluded}, annotation{kAgent, kAgentGuardian}, companion{kCompanion},
        dock{kDock}, notification{kNotificationCenter};
    const std::vector<Rect> displays{{0, 0, 1440, 900}, {1440, 0, 1920, 1080}};
    const WindowRecords built =
        buildWindowRecords(*list, WindowRecordFilter{excluded, annotation, companion, dock, notification, kOwn,
                                                     displays, [](std::int32_t pid) { return pid == kInputMethod; }});
    require(built.records.size() <= kMaxWindowEntries, "at most 1024 records");
    for (const Json& record : built.records) checkRecord(record);

    // The same list through a whole pass, twice: the second pass sees the Dock
    // sampler's result for the list as well.
    ManualRuntime runtime;
    auto loaded = simulated::loadScene(kDesktop, "fuzz.json", runtime, simulated::ProcessFacts{kOwn, [] { return 1; }});
    require(loaded.platform != nullptr, "the fuzz desktop loads");
    FuzzedPlatform platform(*loaded.platform, list);
    auto sampler = std::make_unique<SceneSampler>(Arguments{"scene-sampler", std::to_string(kExcluded)}, Environment{},
                                                  platform, runtime);
    sampler->sample();
    runtime.advance(0.05);
    sampler->sample();
    runtime.runUntilIdle();

    const std::vector<std::string> lines = runtime.streams().takeLines();
    require(lines.size() == 2, "one line per pass");
    for (const std::string& line : lines) {
        const Json snapshot = fuzz::parseLine(line);
        require(snapshot.is_object(), "the line is a JSON object");
        if (snapshot.value("status", "") == "unavailable") {
            require(!isWindowList(*list), "only a list that is not one is unavailable");
            require(snapshot["windows"] == Json::array(), "no windows when unavailable");
            continue;
        }
        require(isWindowList(*list), "a list of dictionaries is available");
        require(snapshot["windows"] == Json(built.records), "the line's windows are the records");
        require(snapshot["notificationBackdropsIgnored"] == built.notificationBackdropsIgnored, "backdrops counted");
        for (const Json& dockRecord : snapshot["docks"]) {
            require(dockRecord.is_object() && dockRecord.value("id", "").starts_with("dock:"), "dock records");
            for (const char* key : {"x", "y", "width", "height"})
                require(dockRecord[key].is_number(), "dock record geometry is numbers");
        }
    }
}

}  // namespace
}  // namespace scene

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    scene::run(data, size);
    return 0;
}
