#pragma once

#include <cstdint>
#include <span>
#include <string>

namespace scene::x11 {

// The identity of a monitor as its EDID block tells it: a 128-bit FNV-1a
// digest of the bytes, written as an upper-case UUID with the version and
// variant bits of a custom UUID. The same panel on any connector keeps its
// identity, and a different panel plugged into the same connector gets a new
// one, which is what the capture session's identity check is for.
std::string displayIdentityFromEDID(std::span<const std::uint8_t> edid);

}  // namespace scene::x11
