#include "tools/view/xml_text.h"

#include <cstdint>

namespace scene::view {
namespace {

// Length of the well-formed UTF-8 sequence at the start of `text` and its code
// point, or 0 when it is not one (overlong forms, surrogates, past U+10FFFF).
std::size_t utf8Sequence(std::string_view text, std::uint32_t& codePoint) {
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned char lead = byte(0);
    std::size_t length = 0;
    std::uint32_t minimum = 0;
    if (lead < 0x80) {
        codePoint = lead;
        return 1;
    } else if ((lead & 0xE0) == 0xC0) {
        length = 2, codePoint = lead & 0x1F, minimum = 0x80;
    } else if ((lead & 0xF0) == 0xE0) {
        length = 3, codePoint = lead & 0x0F, minimum = 0x800;
    } else if ((lead & 0xF8) == 0xF0) {
        length = 4, codePoint = lead & 0x07, minimum = 0x10000;
    } else {
        return 0;
    }
    if (text.size() < length) return 0;
    for (std::size_t i = 1; i < length; ++i) {
        if ((byte(i) & 0xC0) != 0x80) return 0;
        codePoint = codePoint << 6 | (byte(i) & 0x3F);
    }
    if (codePoint < minimum || codePoint > 0x10FFFF || (codePoint >= 0xD800 && codePoint <= 0xDFFF)) return 0;
    return length;
}

bool allowedInXML(std::uint32_t c) {
    if (c < 0x20) return c == '\t' || c == '\n' || c == '\r';
    return c != 0xFFFE && c != 0xFFFF;
}

// Calls `take` with each character XML can hold (as its UTF-8 bytes) and "?"
// in place of each one it cannot.
template <typename Take>
void forEachAllowed(std::string_view text, Take take) {
    while (!text.empty()) {
        std::uint32_t c = 0;
        const std::size_t length = utf8Sequence(text, c);
        if (length == 0 || !allowedInXML(c)) {
            take('?', std::string_view("?"));
            text.remove_prefix(length == 0 ? 1 : length);
            continue;
        }
        take(c, text.substr(0, length));
        text.remove_prefix(length);
    }
}

}  // namespace

std::string xmlEscaped(std::string_view text) {
    std::string escaped;
    escaped.reserve(text.size());
    forEachAllowed(text, [&](std::uint32_t c, std::string_view bytes) {
        switch (c) {
            case '&':
                escaped += "&amp;";
                break;
            case '<':
                escaped += "&lt;";
                break;
            case '>':
                escaped += "&gt;";
                break;
            case '"':
                escaped += "&quot;";
                break;
            case '\'':
                escaped += "&apos;";
                break;
            default:
                escaped.append(bytes);
        }
    });
    return escaped;
}

std::string xmlAllowed(std::string_view text) {
    std::string allowed;
    allowed.reserve(text.size());
    forEachAllowed(text, [&](std::uint32_t, std::string_view bytes) { allowed.append(bytes); });
    return allowed;
}

}  // namespace scene::view
