#include "capture_access/capture_circuit.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <string_view>

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

// The state file's bytes; nothing when it cannot be read, is larger than the
// limit, or is not a regular file. Only a regular file is read at all: a named
// pipe nobody writes to, a socket or a terminal would hold start-up for ever,
// and a device could hand out bytes without end. The file is opened without
// waiting and looked at again once open, so that what was swapped in after
// the first look is not read either.
std::optional<std::string> readBytes(const std::string& path) {
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) return std::nullopt;
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) return std::nullopt;
    std::string bytes;
    bool failed = ::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode);
    char chunk[4096];
    while (!failed && bytes.size() <= kMaxStateFileBytes) {
        const ssize_t count = ::read(fd, chunk, sizeof chunk);
        if (count == 0) break;
        if (count < 0 && errno == EINTR) continue;
        if (count < 0) failed = true;
        if (count > 0) bytes.append(chunk, static_cast<std::size_t>(count));
    }
    ::close(fd);
    if (failed || bytes.size() > kMaxStateFileBytes) return std::nullopt;
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
    // Whatever stands at the path suspends capture, a directory or a pipe as
    // much as a file; a path that names nothing (a dangling link included)
    // does not.
    struct stat info {};
    blocked = ::stat(stateURL->c_str(), &info) == 0;
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
