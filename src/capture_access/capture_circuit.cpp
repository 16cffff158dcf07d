#include "capture_access/capture_circuit.h"

#include <algorithm>
#include <array>
#include <filesystem>
#include <cstdio>
#include <string_view>
#include <system_error>

#include "platform/json_read.h"
#include "platform/records.h"

namespace scene {
namespace {

constexpr std::string_view kStateArgument = "--capture-state";
constexpr std::string_view kStatePathVariable = "VANTU_CAPTURE_STATE_PATH";

constexpr std::string_view kLegacyContent = "capture-paused";
constexpr std::string_view kVersionKey = "version";
constexpr std::string_view kReasonKey = "reason";
constexpr std::int64_t kOldestVersion = 1;
constexpr std::int64_t kNewestVersion = 3;

constexpr std::string_view kReasonUnknown = "unknown";
constexpr std::string_view kReasonLegacy = "legacy";
constexpr std::array<std::string_view, 4> kKnownReasons = {"permission", "timeout", "failure", "configuration"};

// A state file is a few hundred bytes. Anything past this is not one of ours,
// and reading it whole (a log, a device, a huge file) must not cost memory.
constexpr std::size_t kMaxStateFileBytes = 64 * 1024;

// C stdio rather than streams: reading a directory or a vanished file must be
// a plain failure, and file streams report some of those by throwing. A file
// larger than the limit is a failure too.
std::optional<std::string> readBytes(const std::string& path) {
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) return std::nullopt;
    std::string bytes;
    char chunk[4096];
    std::size_t count = 0;
    while (bytes.size() <= kMaxStateFileBytes && (count = std::fread(chunk, 1, sizeof chunk, file)) > 0)
        bytes.append(chunk, count);
    const bool failed = std::ferror(file) != 0 || bytes.size() > kMaxStateFileBytes;
    std::fclose(file);
    if (failed) return std::nullopt;
    return bytes;
}

// Whitespace and line breaks as Unicode counts them: companions written with
// text tools may pad the legacy word with any of these.
constexpr std::array<std::string_view, 25> kSpaces = {
    " ", "\t", "\n", "\v", "\f", "\r", "\xC2\x85", "\xC2\xA0", "\xE1\x9A\x80",
    "\xE2\x80\x80", "\xE2\x80\x81", "\xE2\x80\x82", "\xE2\x80\x83", "\xE2\x80\x84", "\xE2\x80\x85",
    "\xE2\x80\x86", "\xE2\x80\x87", "\xE2\x80\x88", "\xE2\x80\x89", "\xE2\x80\x8A", "\xE2\x80\xA8",
    "\xE2\x80\xA9", "\xE2\x80\xAF", "\xE2\x81\x9F", "\xE3\x80\x80"};

std::string_view trimmed(std::string_view text) {
    for (bool changed = true; changed;) {
        changed = false;
        for (const std::string_view space : kSpaces) {
            if (text.starts_with(space)) {
                text.remove_prefix(space.size());
                changed = true;
            }
            if (text.ends_with(space)) {
                text.remove_suffix(space.size());
                changed = true;
            }
        }
    }
    return text;
}

// Reason written by a current companion, or nothing when the content is not
// one of the versions we understand.
std::optional<std::string> reasonFromRecord(const std::string& bytes) {
    const Json record = Json::parse(bytes, nullptr, /*allow_exceptions=*/false);
    if (!record.is_object()) return std::nullopt;
    const auto version = json_read::integer(record, kVersionKey);
    const auto reason = json_read::string(record, kReasonKey);
    if (!version || *version < kOldestVersion || *version > kNewestVersion || !reason) return std::nullopt;
    if (std::find(kKnownReasons.begin(), kKnownReasons.end(), *reason) == kKnownReasons.end()) return std::nullopt;
    return reason;
}

}  // namespace

CaptureCircuit::CaptureCircuit(std::optional<std::string> path) : stateURL(std::move(path)) {
    if (!stateURL) return;
    std::error_code error;
    blocked = std::filesystem::exists(*stateURL, error);
    if (!blocked) return;

    // From here on any surprise keeps capture suspended: a file we cannot make
    // sense of must not be taken as permission to capture.
    reason = std::string(kReasonUnknown);
    const auto bytes = readBytes(*stateURL);
    if (!bytes) return;
    // The plain-text form is pure ASCII, so comparing bytes is comparing text.
    if (trimmed(*bytes) == kLegacyContent) {
        reason = std::string(kReasonLegacy);
        return;
    }
    if (auto known = reasonFromRecord(*bytes)) reason = std::move(known);
}

std::optional<std::string> CaptureCircuit::resolvePath(const Arguments& arguments, const Environment& environment) {
    // Argument 0 is the program path, never an option.
    for (std::size_t index = 1; index < arguments.size(); ++index) {
        if (arguments[index] != kStateArgument) continue;
        if (index + 1 < arguments.size()) return arguments[index + 1];
        return std::nullopt;
    }
    if (const auto it = environment.find(kStatePathVariable); it != environment.end()) return it->second;
    return std::nullopt;
}

}  // namespace scene
