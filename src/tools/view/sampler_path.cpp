#include "tools/view/sampler_path.h"

#include <filesystem>

namespace scene::view {
namespace {

constexpr const char* kSamplerName = "scene-sampler";

}  // namespace

std::string samplerPath(const ViewOptions& options) {
    if (options.sampler) return *options.sampler;
    std::error_code error;
    const auto self = std::filesystem::read_symlink("/proc/self/exe", error);
    if (error) return kSamplerName;
    return (self.parent_path() / kSamplerName).string();
}

}  // namespace scene::view
