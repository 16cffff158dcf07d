#include "tools/view/label_placement.h"

#include <algorithm>
#include <cstdint>

namespace scene::view {
namespace {

constexpr std::string_view kEllipsis = "\xe2\x80\xa6";

// The code point at the start of well-formed UTF-8 `text` and its length.
std::uint32_t codePoint(std::string_view text, std::size_t& length) {
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned char lead = byte(0);
    length = lead < 0x80 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
    length = std::min(length, text.size());
    std::uint32_t c = length == 1 ? lead : lead & (0x7F >> length);
    for (std::size_t i = 1; i < length; ++i) c = c << 6 | (byte(i) & 0x3F);
    return c;
}

// Characters a monospace font draws two columns wide: the East Asian scripts
// and the pictographs.
bool wide(std::uint32_t c) {
    return (c >= 0x1100 && c <= 0x115F) || (c >= 0x2E80 && c <= 0xA4CF) || (c >= 0xAC00 && c <= 0xD7A3) ||
           (c >= 0xF900 && c <= 0xFAFF) || (c >= 0xFE30 && c <= 0xFE4F) || (c >= 0xFF00 && c <= 0xFF60) ||
           (c >= 0xFFE0 && c <= 0xFFE6) || (c >= 0x1F300 && c <= 0x1FAFF) || (c >= 0x20000 && c <= 0x3FFFD);
}

double columnWidth(double size) { return kCharacterWidth * size; }

bool overlap(const Rect& a, const Rect& b) {
    return a.x < b.x + b.width && b.x < a.x + a.width && a.y < b.y + b.height && b.y < a.y + a.height;
}

// The box at `spot`, moved the least that puts it inside `bounds`; none when
// it is larger than `bounds`.
std::optional<Rect> boxAt(const LabelSpot& spot, const Size& size, const Rect& bounds) {
    if (size.width > bounds.width || size.height > bounds.height) return std::nullopt;
    const double x = spot.at.x - spot.alignX * size.width;
    const double y = spot.at.y - spot.alignY * size.height;
    return Rect{std::clamp(x, bounds.x, bounds.x + bounds.width - size.width),
                std::clamp(y, bounds.y, bounds.y + bounds.height - size.height), size.width, size.height};
}

}  // namespace

Size textSize(std::string_view text, double size) {
    double columns = 0;
    for (std::size_t length = 0; !text.empty(); text.remove_prefix(length))
        columns += wide(codePoint(text, length)) ? 2 : 1;
    return {2 * kOutline + columns * columnWidth(size), 2 * kOutline + kLineHeight * size};
}

std::string fittedText(std::string_view text, double size, double width) {
    if (textSize(text, size).width <= width) return std::string(text);
    double used = 2 * kOutline + columnWidth(size);  // the ellipsis
    std::size_t head = 0;
    for (std::size_t length = 0; head < text.size(); head += length) {
        const double advance = (wide(codePoint(text.substr(head), length)) ? 2 : 1) * columnWidth(size);
        if (used + advance > width) break;
        used += advance;
    }
    return std::string(text.substr(0, head)) + std::string(kEllipsis);
}

Point textBaseline(const Rect& box, double size) { return {box.x + kOutline, box.y + kOutline + kBaseline * size}; }

std::vector<PlacedLabel> placeLabels(const std::vector<LabelRequest>& requests, const Rect& area) {
    const Rect bounds = area.standardized();
    std::vector<PlacedLabel> placed;
    const auto free = [&](const Rect& box) {
        return std::none_of(placed.begin(), placed.end(),
                            [&](const PlacedLabel& other) { return overlap(box, other.box); });
    };
    for (std::size_t index = 0; index < requests.size(); ++index) {
        const LabelRequest& request = requests[index];
        bool done = false;
        for (const std::string* variant : {&request.text, &request.shortText}) {
            if (variant->empty()) continue;
            const std::string text = fittedText(*variant, request.size, bounds.width);
            const Size size = textSize(text, request.size);
            for (const LabelSpot& spot : request.spots) {
                const auto box = boxAt(spot, size, bounds);
                if (!box || !free(*box)) continue;
                placed.push_back({index, text, *box});
                done = true;
                break;
            }
            if (done) break;
        }
    }
    return placed;
}

}  // namespace scene::view
