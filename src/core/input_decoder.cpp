#include "core/input_decoder.h"

#include <cstdint>

namespace scene {
namespace {

// Length of the sequence a lead byte starts, 0 when it cannot start one.
int sequenceLength(std::uint8_t lead) {
    if (lead < 0x80) return 1;
    if (lead >= 0xC2 && lead <= 0xDF) return 2;
    if (lead >= 0xE0 && lead <= 0xEF) return 3;
    if (lead >= 0xF0 && lead <= 0xF4) return 4;
    return 0;
}

bool isContinuation(std::uint8_t byte) { return (byte & 0xC0) == 0x80; }

// Checks the sequence at `data` of `length` bytes, of which `available` are
// present. Returns true when what is present is a valid (possibly unfinished)
// sequence: no overlongs, no surrogates, nothing above U+10FFFF.
bool validPrefix(const std::uint8_t* data, int length, int available) {
    for (int i = 1; i < available; ++i)
        if (!isContinuation(data[i])) return false;
    if (available >= 2) {
        const std::uint8_t lead = data[0];
        const std::uint8_t second = data[1];
        if (lead == 0xE0 && second < 0xA0) return false;  // overlong
        if (lead == 0xED && second > 0x9F) return false;  // surrogate
        if (lead == 0xF0 && second < 0x90) return false;  // overlong
        if (lead == 0xF4 && second > 0x8F) return false;  // above U+10FFFF
    }
    return length > 0;
}

}  // namespace

std::optional<std::string> InputDecoder::decode(std::string_view chunk) {
    std::string carried = std::move(carry_);
    carry_.clear();
    if (!carried.empty()) {
        if (auto text = decodeWhole(carried + std::string(chunk), carry_)) return text;
        // The carried bytes were not the start of a character that this chunk
        // finishes: losing them must not cost the chunk's own commands.
        carry_.clear();
    }
    return decodeWhole(std::string(chunk), carry_);
}

std::optional<std::string> InputDecoder::decodeWhole(std::string bytes, std::string& carry) {
    const auto* data = reinterpret_cast<const std::uint8_t*>(bytes.data());
    const std::size_t size = bytes.size();
    std::size_t i = 0;
    while (i < size) {
        const int length = sequenceLength(data[i]);
        if (length == 0) return std::nullopt;
        const std::size_t available = std::min<std::size_t>(length, size - i);
        if (!validPrefix(data + i, length, static_cast<int>(available))) return std::nullopt;
        if (available < static_cast<std::size_t>(length)) {
            // An unfinished character at the very end: keep it for the next chunk.
            carry.assign(bytes, i, std::string::npos);
            bytes.resize(i);
            return bytes;
        }
        i += length;
    }
    return bytes;
}

}  // namespace scene
