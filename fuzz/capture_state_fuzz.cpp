// The capture pause state file with any content. The companion writes it and
// we only read it, once at start, so whatever is in it must come out as one of
// the reason words, and capture must stay suspended whenever the file exists.
//
// Input: the file's bytes, as they are.
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
#include <string_view>

#include "capture_access/capture_circuit.h"
#include "fuzz_inputs.h"

namespace scene {
namespace {

using fuzz::require;

constexpr std::array<std::string_view, 6> kReasons = {"permission", "configuration", "timeout",
                                                      "failure",    "unknown",       "legacy"};
constexpr std::string_view kLegacyWord = "capture-paused";
// The reader refuses to take in more than this; such a file is not one of ours.
constexpr std::size_t kLargestStateFile = 64 * 1024;

// The process's own scratch file: fuzzing jobs may share a temporary folder.
const std::string& statePath() {
    static const std::string path =
        (std::filesystem::temp_directory_path() / ("capture-state-fuzz-" + std::to_string(::getpid()))).string();
    return path;
}

// Unicode's White_Space code points, which is what the companion's text tools
// strip: read here as code points rather than the reader's byte patterns.
bool isSpace(std::uint32_t point) {
    return (point >= 0x09 && point <= 0x0D) || point == 0x20 || point == 0x85 || point == 0xA0 || point == 0x1680 ||
           (point >= 0x2000 && point <= 0x200A) || point == 0x2028 || point == 0x2029 || point == 0x202F ||
           point == 0x205F || point == 0x3000;
}

// Whether well-formed UTF-8 `text` is nothing but Unicode white space.
bool onlySpaces(std::string_view text) {
    std::size_t i = 0;
    while (i < text.size()) {
        const auto lead = static_cast<std::uint8_t>(text[i]);
        const int length = lead < 0x80 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
        std::uint32_t point = length == 1 ? lead : lead & (0x7F >> length);
        for (int k = 1; k < length; ++k) point = point << 6 | (static_cast<std::uint8_t>(text[i + k]) & 0x3F);
        if (!isSpace(point)) return false;
        i += length;
    }
    return true;
}

// The legacy form: "capture-paused" with nothing but white space around it.
bool isLegacyForm(std::string_view bytes) {
    if (!fuzz::isWellFormedUTF8(bytes)) return false;
    const std::size_t at = bytes.find(kLegacyWord);
    if (at == std::string_view::npos) return false;
    return onlySpaces(bytes.substr(0, at)) && onlySpaces(bytes.substr(at + kLegacyWord.size()));
}

// The reason a current companion's record names, when it is one we know.
std::optional<std::string> recordReason(std::string_view bytes) {
    const auto record = nlohmann::json::parse(bytes.begin(), bytes.end(), nullptr, /*allow_exceptions=*/false);
    if (!record.is_object()) return std::nullopt;
    const auto version = record.find("version");
    const auto reason = record.find("reason");
    if (version == record.end() || reason == record.end() || !reason->is_string()) return std::nullopt;
    // 2.0 counts as the integer 2, as a bridged number would.
    double number = 0;
    if (version->is_number_integer() && !version->is_number_unsigned())
        number = static_cast<double>(version->get<std::int64_t>());
    else if (version->is_number())
        number = version->get<double>();
    else
        return std::nullopt;
    if (number != 1 && number != 2 && number != 3) return std::nullopt;
    const auto word = reason->get<std::string>();
    if (word == "unknown" || word == "legacy") return std::nullopt;
    if (std::find(kReasons.begin(), kReasons.end(), word) == kReasons.end()) return std::nullopt;
    return word;
}

void run(const std::uint8_t* data, std::size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    const std::string& path = statePath();
    std::FILE* file = std::fopen(path.c_str(), "wb");
    require(file != nullptr, "the scratch state file can be written");
    require(std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size(), "the scratch state file is written");
    std::fclose(file);

    const CaptureCircuit circuit(path);
    std::error_code ignored;
    std::filesystem::remove(path, ignored);

    require(circuit.blocked, "an existing state file suspends capture");
    require(circuit.stateURL == path, "the path is kept as given");
    require(circuit.reason.has_value(), "an existing state file always has a reason");
    require(std::find(kReasons.begin(), kReasons.end(), *circuit.reason) != kReasons.end(), "a known reason word");

    std::string expected = "unknown";
    if (bytes.size() > kLargestStateFile) {
        // stays unknown
    } else if (isLegacyForm(bytes)) {
        expected = "legacy";
    } else if (const auto reason = recordReason(bytes)) {
        expected = *reason;
    }
    require(*circuit.reason == expected, "the reason the file's content gives");
}

}  // namespace
}  // namespace scene

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    scene::run(data, size);
    return 0;
}
