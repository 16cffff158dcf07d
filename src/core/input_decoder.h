#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace scene {

// Turns raw standard-input chunks into UTF-8 text. A chunk may end inside a
// multi-byte character (pipes split wherever they like), so up to three bytes of
// an incomplete trailing sequence are carried into the next chunk instead of
// sinking the whole chunk. When the carry does not go on in the next chunk, it
// was a broken character of its own: it is dropped, and the chunk is decoded
// by itself. A chunk that is invalid for any other reason is dropped. Lives on
// the reader thread.
class InputDecoder {
public:
    // The decoded text of this chunk (possibly empty), or nothing when dropped.
    std::optional<std::string> decode(std::string_view chunk);

private:
    // The chunk's text, with the carry of what ends unfinished, or nothing.
    static std::optional<std::string> decodeWhole(std::string bytes, std::string& carry);

    std::string carry_;
};

}  // namespace scene
