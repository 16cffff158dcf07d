#include "core/base64.h"

namespace scene {

std::string base64Encode(std::span<const std::uint8_t> bytes) {
    static constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string text;
    text.reserve((bytes.size() + 2) / 3 * 4);
    std::size_t i = 0;
    for (; i + 3 <= bytes.size(); i += 3) {
        const std::uint32_t n = bytes[i] << 16 | bytes[i + 1] << 8 | bytes[i + 2];
        text += kAlphabet[n >> 18 & 63];
        text += kAlphabet[n >> 12 & 63];
        text += kAlphabet[n >> 6 & 63];
        text += kAlphabet[n & 63];
    }
    const std::size_t rest = bytes.size() - i;
    if (rest > 0) {
        const std::uint32_t n = bytes[i] << 16 | (rest == 2 ? bytes[i + 1] << 8 : 0);
        text += kAlphabet[n >> 18 & 63];
        text += kAlphabet[n >> 12 & 63];
        text += rest == 2 ? kAlphabet[n >> 6 & 63] : '=';
        text += '=';
    }
    return text;
}

}  // namespace scene
