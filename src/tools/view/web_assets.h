#pragma once

#include <span>
#include <string_view>

namespace scene::view {

// One file of the live page (web/ beside this header), built into the program
// so the viewer needs nothing installed beside it and fetches nothing.
struct WebAsset {
    std::string_view name;  // the file's name, e.g. "live.js"
    std::string_view body;
};

// Defined in the source file the build writes from web/ (embed_web_assets.cmake).
std::span<const WebAsset> webAssets();

}  // namespace scene::view
