#include "core/window_records.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <string>

#include "core/system_windows.h"
#include "platform/json_object.h"
#include "platform/json_read.h"

namespace scene {
namespace {

constexpr int kDockBackdropLayer = 20;
constexpr double kDockBackdropMinimum = 300;
constexpr double kVisibleAlpha = 0.05;

constexpr const char* kOwnerPID = "kCGWindowOwnerPID";
constexpr const char* kNumber = "kCGWindowNumber";
constexpr const char* kLayer = "kCGWindowLayer";
constexpr const char* kBounds = "kCGWindowBounds";
constexpr const char* kAlpha = "kCGWindowAlpha";

constexpr const char* kNotificationCenterTag = "notification-center";
constexpr const char* kInputMethodCandidateTag = "input-method-candidate";

// Layers are compared as Int; values past Int32 only matter as "very high".
int clampedLayer(std::int64_t layer) { return static_cast<int>(std::clamp<std::int64_t>(layer, INT32_MIN, INT32_MAX)); }

}  // namespace

bool isWindowList(const Json& windowList) {
    if (!windowList.is_array()) return false;
    for (const Json& entry : windowList)
        if (!entry.is_object()) return false;
    return true;
}

WindowRecords buildWindowRecords(const Json& windowList, const WindowRecordFilter& filter) {
    WindowRecords result;
    if (!windowList.is_array()) return result;
    const std::size_t count = std::min(windowList.size(), kMaxWindowEntries);
    result.records.reserve(count);
    for (std::size_t i = 0; i < count; ++i) {
        const Json& entry = windowList[i];
        const auto pid = json_read::int32(entry, kOwnerPID);
        if (!pid) continue;
        if (filter.excludedPIDs.contains(*pid) || filter.annotationPIDs.contains(*pid) ||
            filter.companionPIDs.contains(*pid) || *pid == filter.ownPID)
            continue;

        const auto number = json_read::integer(entry, kNumber);
        const auto layer = json_read::integer(entry, kLayer);
        const Json* boundsValue = json_read::member(entry, kBounds);
        const auto bounds = boundsValue ? json_read::windowBounds(*boundsValue) : std::nullopt;
        // A rectangle of NaN or infinity is no rectangle: it would reach the
        // companion as null where it reads a number.
        if (!number || !layer || !bounds || !std::isfinite(bounds->x) || !std::isfinite(bounds->y) ||
            !std::isfinite(bounds->width) || !std::isfinite(bounds->height))
            continue;

        const double width = bounds->absWidth();
        const double height = bounds->absHeight();
        if (width < 1 || height < 1) continue;

        double alpha = 1.0;
        if (const auto given = json_read::looseDouble(entry, kAlpha)) {
            if (!(*given > kVisibleAlpha) || !std::isfinite(*given)) continue;
            alpha = *given;
        }

        if (filter.dockPIDs.contains(*pid) && *layer == kDockBackdropLayer && width > kDockBackdropMinimum &&
            height > kDockBackdropMinimum)
            continue;

        const bool notificationUI = filter.notificationCenterPIDs.contains(*pid);
        if (notificationUI && isNotificationCenterBackdrop(*bounds, clampedLayer(*layer),
                                                           std::string(kNotificationCenterBundleID), filter.displays)) {
            ++result.notificationBackdropsIgnored;
            continue;
        }

        const char* systemUI = notificationUI ? kNotificationCenterTag : nullptr;
        if (isInputMethodCandidate(*bounds, clampedLayer(*layer), true) && filter.isInputMethodOwner &&
            filter.isInputMethodOwner(*pid))
            systemUI = kInputMethodCandidateTag;

        Json record = sortedObject({{"alpha", alpha},
                                    {"height", height},
                                    {"id", std::to_string(*pid) + ":" + std::to_string(*number)},
                                    {"layer", *layer},
                                    {"pid", *pid}});
        if (systemUI != nullptr) record["systemUI"] = systemUI;
        auto& fields = record.get_ref<Json::object_t&>();
        fields.emplace_hint(fields.end(), "width", width);
        fields.emplace_hint(fields.end(), "x", bounds->x);
        fields.emplace_hint(fields.end(), "y", bounds->y);
        result.records.push_back(std::move(record));
    }
    return result;
}

}  // namespace scene
