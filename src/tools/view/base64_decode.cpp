#include "tools/view/base64_decode.h"

#include <array>

namespace scene::view {
namespace {

constexpr std::uint8_t kInvalid = 0xFF;

constexpr std::array<std::uint8_t, 256> decodingTable() {
    std::array<std::uint8_t, 256> table{};
    table.fill(kInvalid);
    constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    for (std::uint8_t i = 0; i < 64; ++i) table[static_cast<unsigned char>(kAlphabet[i])] = i;
    return table;
}

constexpr auto kTable = decodingTable();

}  // namespace

std::optional<std::vector<std::uint8_t>> base64Decode(std::string_view text) {
    if (text.size() % 4 != 0) return std::nullopt;
    std::vector<std::uint8_t> bytes;
    bytes.reserve(text.size() / 4 * 3);
    for (std::size_t i = 0; i < text.size(); i += 4) {
        const bool last = i + 4 == text.size();
        // Padding only at the very end: "xx==" or "xxx=".
        const int padding = last ? (text[i + 3] == '=') + (text[i + 2] == '=' && text[i + 3] == '=') : 0;
        std::uint32_t n = 0;
        for (int k = 0; k < 4 - padding; ++k) {
            const std::uint8_t v = kTable[static_cast<unsigned char>(text[i + k])];
            if (v == kInvalid) return std::nullopt;
            n |= std::uint32_t{v} << (18 - 6 * k);
        }
        bytes.push_back(static_cast<std::uint8_t>(n >> 16));
        if (padding < 2) bytes.push_back(static_cast<std::uint8_t>(n >> 8));
        if (padding < 1) bytes.push_back(static_cast<std::uint8_t>(n));
    }
    return bytes;
}

}  // namespace scene::view
