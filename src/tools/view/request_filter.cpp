#include "tools/view/request_filter.h"

#include <sys/random.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <charconv>
#include <cstdint>

namespace scene::view {
namespace {

constexpr std::string_view kLoopback = "127.0.0.1";
constexpr std::string_view kLocalhost = "localhost";
constexpr std::string_view kScheme = "http://";

// The sampler's own words, the only ones the live view forwards.
constexpr std::array<std::string_view, 10> kCommands = {
    "pause",      "resume",      "capture-select", "capture-retry", "visual-on",
    "visual-off", "controls-on", "controls-off",   "inputs-on",     "inputs-off",
};

bool equalsIgnoringCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; };
               return lower(x) == lower(y);
           });
}

}  // namespace

bool hostAllowed(std::string_view host, int port) {
    const std::size_t colon = host.rfind(':');
    if (colon == std::string_view::npos) return false;
    const std::string_view name = host.substr(0, colon);
    const std::string_view digits = host.substr(colon + 1);
    int given = -1;
    const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), given);
    // from_chars takes no sign or space; a leading zero would still name the
    // port, but no browser writes one.
    if (digits.empty() || error != std::errc() || end != digits.data() + digits.size() || digits[0] == '0')
        return false;
    return given == port && (name == kLoopback || equalsIgnoringCase(name, kLocalhost));
}

bool originAllowed(std::optional<std::string_view> origin, int port) {
    if (!origin) return true;
    if (origin->substr(0, kScheme.size()) != kScheme) return false;
    return hostAllowed(origin->substr(kScheme.size()), port);
}

bool tokenMatches(std::string_view expected, std::string_view given) {
    if (expected.empty() || expected.size() != given.size()) return false;
    unsigned char difference = 0;
    for (std::size_t i = 0; i < expected.size(); ++i) difference |= static_cast<unsigned char>(expected[i] ^ given[i]);
    return difference == 0;
}

std::optional<std::string_view> forwardableCommand(std::string_view body) {
    const auto found = std::find(kCommands.begin(), kCommands.end(), body);
    if (found == kCommands.end()) return std::nullopt;
    return *found;
}

std::span<const std::string_view> forwardableCommands() { return kCommands; }

std::string mintToken() {
    std::array<std::uint8_t, 16> bytes{};
    std::size_t filled = 0;
    while (filled < bytes.size()) {
        const ssize_t n = ::getrandom(bytes.data() + filled, bytes.size() - filled, 0);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return {};
        filled += static_cast<std::size_t>(n);
    }
    constexpr char kDigits[] = "0123456789abcdef";
    std::string token;
    for (const std::uint8_t byte : bytes) {
        token += kDigits[byte >> 4];
        token += kDigits[byte & 0xf];
    }
    return token;
}

}  // namespace scene::view
