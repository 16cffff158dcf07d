#include "core/jpeg_encoder.h"

#include <turbojpeg.h>

namespace scene {

std::optional<std::vector<std::uint8_t>> encodeJPEG(const Image& image, int quality) {
    if (image.empty()) return std::nullopt;
    tjhandle handle = tjInitCompress();
    if (handle == nullptr) return std::nullopt;
    unsigned char* output = nullptr;
    unsigned long size = 0;
    const int failed = tjCompress2(handle, image.row(0), image.width(), static_cast<int>(image.stride()),
                                   image.height(), TJPF_BGRA, &output, &size, TJSAMP_420, quality, TJFLAG_FASTDCT);
    std::optional<std::vector<std::uint8_t>> result;
    if (failed == 0 && output != nullptr) result.emplace(output, output + size);
    tjFree(output);
    tjDestroy(handle);
    return result;
}

}  // namespace scene
