#include "core/scene_model.h"

#include "platform/json_read.h"

namespace scene {
namespace {

constexpr const char* kScreenIsLocked = "CGSSessionScreenIsLocked";
constexpr const char* kOnConsole = "kCGSSessionOnConsoleKey";
constexpr const char* kLoginWindowBundleID = "com.apple.loginwindow";

}  // namespace

std::optional<std::string> focusCandidate(const Records& records, std::int32_t frontPID,
                                          const std::optional<std::string>& axFocusedID) {
    const Json* firstNormal = nullptr;
    const Json* firstLow = nullptr;
    bool axMatches = false;
    for (const Json& record : records) {
        if (json_read::int32(record, "pid") != frontPID) continue;
        const auto id = json_read::string(record, "id");
        if (axFocusedID && id == axFocusedID) axMatches = true;
        const auto layer = json_read::integer(record, "layer").value_or(0);
        const auto width = json_read::looseDouble(record, "width").value_or(0);
        if (!firstNormal && layer == 0 && width > 80) firstNormal = &record;
        if (!firstLow && layer < 9) firstLow = &record;
    }
    if (axMatches) return axFocusedID;
    if (firstNormal) return json_read::string(*firstNormal, "id");
    if (firstLow) return json_read::string(*firstLow, "id");
    return std::nullopt;
}

bool isSessionSafe(const std::optional<Json>& session, const std::optional<RunningApplication>& frontmost) {
    if (!session || !session->is_object()) return false;
    if (json_read::boolean(*session, kScreenIsLocked) == true) return false;
    if (!frontmost) return false;
    if (frontmost->bundleIdentifier == kLoginWindowBundleID) return false;
    return json_read::boolean(*session, kOnConsole) == true;
}

std::string sceneKey(std::int64_t revision, std::int32_t frontPID, const std::optional<std::string>& focusedID) {
    return std::to_string(revision) + ":" + std::to_string(frontPID) + ":" + focusedID.value_or("none");
}

}  // namespace scene
