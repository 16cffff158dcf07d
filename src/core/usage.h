#pragma once

#include <string_view>

namespace scene {

// The version, as the build's project declares it.
std::string_view versionText();
// What "--help" prints: every option and every environment variable the
// program reads, and where the whole protocol is written down.
std::string_view usageText();

}  // namespace scene
