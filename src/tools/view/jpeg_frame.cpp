#include "tools/view/jpeg_frame.h"

#include <turbojpeg.h>

#include "tools/view/base64_decode.h"

namespace scene::view {

std::optional<JpegFrame> jpegFrame(std::string_view base64) {
    const auto bytes = base64Decode(base64);
    if (!bytes || bytes->empty()) return std::nullopt;
    tjhandle handle = tjInitDecompress();
    if (handle == nullptr) return std::nullopt;
    int width = 0, height = 0, subsampling = 0, colorspace = 0;
    const int failed = tjDecompressHeader3(handle, bytes->data(), static_cast<unsigned long>(bytes->size()), &width,
                                           &height, &subsampling, &colorspace);
    tjDestroy(handle);
    if (failed != 0 || width <= 0 || height <= 0) return std::nullopt;
    return JpegFrame{std::string(base64), width, height};
}

}  // namespace scene::view
