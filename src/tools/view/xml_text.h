#pragma once

#include <string>
#include <string_view>

namespace scene::view {

// Text made safe for XML character data and quoted attribute values: the five
// markup characters become entities, and whatever XML 1.0 does not allow at all
// becomes "?": control characters other than tab, line feed and carriage
// return, U+FFFE and U+FFFF, and bytes that are not well-formed UTF-8. Ids and
// roles come from other processes, so every string written into a picture goes
// through here.
std::string xmlEscaped(std::string_view text);

// The same text with only those replacements made: what a picture will show,
// as well-formed UTF-8, so it can be measured and shortened before escaping.
std::string xmlAllowed(std::string_view text);

}  // namespace scene::view
