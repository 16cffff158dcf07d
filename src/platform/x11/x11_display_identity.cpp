#include "platform/x11/x11_display_identity.h"

#include <array>

namespace scene::x11 {
namespace {

using Digest = unsigned __int128;

// 128-bit FNV parameters: offset basis 0x6c62272e07bb014262b821756295c58d,
// prime 2^88 + 2^8 + 0x3b.
constexpr Digest kOffsetBasis = (static_cast<Digest>(0x6c62272e07bb0142ull) << 64) | 0x62b821756295c58dull;
constexpr Digest kPrime = (static_cast<Digest>(1) << 88) | 0x13bu;

}  // namespace

std::string displayIdentityFromEDID(std::span<const std::uint8_t> edid) {
    Digest digest = kOffsetBasis;
    for (const std::uint8_t byte : edid) {
        digest ^= byte;
        digest *= kPrime;
    }
    std::array<std::uint8_t, 16> bytes{};
    for (int i = 15; i >= 0; --i) {
        bytes[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(digest & 0xFF);
        digest >>= 8;
    }
    bytes[6] = static_cast<std::uint8_t>((bytes[6] & 0x0F) | 0x80);  // version 8: custom
    bytes[8] = static_cast<std::uint8_t>((bytes[8] & 0x3F) | 0x80);  // RFC 4122 variant

    constexpr char kHex[] = "0123456789ABCDEF";
    std::string text;
    text.reserve(36);
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        if (i == 4 || i == 6 || i == 8 || i == 10) text += '-';
        text += kHex[bytes[i] >> 4];
        text += kHex[bytes[i] & 0x0F];
    }
    return text;
}

}  // namespace scene::x11
