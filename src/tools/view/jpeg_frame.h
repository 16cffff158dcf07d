#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace scene::view {

// A JPEG still of the selected display as a reply carried it: the Base64 text
// (checked, so it can go into markup unchanged) and the picture's pixel size.
struct JpegFrame {
    std::string base64;
    int width = 0;
    int height = 0;
};

// Nothing when the text is not Base64 or the bytes are not a JPEG TurboJPEG can
// read the header of.
std::optional<JpegFrame> jpegFrame(std::string_view base64);

}  // namespace scene::view
