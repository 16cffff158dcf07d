#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <set>
#include <vector>

#include "platform/rect.h"
#include "platform/records.h"

namespace scene {

inline constexpr std::size_t kMaxWindowEntries = 1024;

// Whose windows the pass leaves out or marks, as known at this pass.
struct WindowRecordFilter {
    const std::set<std::int32_t>& excludedPIDs;
    const std::set<std::int32_t>& annotationPIDs;
    const std::set<std::int32_t>& companionPIDs;
    const std::set<std::int32_t>& dockPIDs;
    const std::set<std::int32_t>& notificationCenterPIDs;
    std::int32_t ownPID;
    const std::vector<Rect>& displays;
    // Whether a process runs from an input-method bundle (the caller caches it).
    std::function<bool(std::int32_t pid)> isInputMethodOwner;
};

struct WindowRecords {
    Records records;
    int notificationBackdropsIgnored = 0;
};

// Turns the raw window list (front to back) into window records: drops the
// excluded, invisible, malformed and backdrop windows and tags system UI. Only
// the first 1024 entries are looked at.
WindowRecords buildWindowRecords(const Json& windowList, const WindowRecordFilter& filter);

// The list is usable only as an array of dictionaries.
bool isWindowList(const Json& windowList);

}  // namespace scene
