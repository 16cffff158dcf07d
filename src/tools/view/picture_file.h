#pragma once

#include <optional>
#include <string>

namespace scene::view {

// Writes `text` to `path` through a temporary file beside it and a rename, so
// whoever watches the file never reads half a picture. The reason on failure.
std::optional<std::string> writePictureFile(const std::string& path, const std::string& text);

// "<dir>/view-0001.svg" for number 1: the names of a series.
std::string seriesPictureName(const std::string& directory, int number);

}  // namespace scene::view
