#pragma once

#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace scene::view::testing {

// An element of a parsed document, with entities already replaced in its
// attribute values and text.
struct XmlElement {
    std::string name;
    std::map<std::string, std::string> attributes;
    std::string text;  // the character data directly inside, concatenated
    std::vector<XmlElement> children;

    std::string attribute(const std::string& key) const;
    bool hasClass(std::string_view word) const;
};

// A strict reader for the XML subset the pictures use: an optional XML
// declaration, one root element, elements with quoted attributes (no duplicate
// names), character data and the predefined and numeric entity references. Anything else — a stray "<" or "&", an
// unknown entity, crossed or unclosed tags, content after the root — is an error, described in `error`.
std::optional<XmlElement> parseXml(std::string_view text, std::string* error = nullptr);

// Every element below `root` (depth first, document order) with this name
// and, when `cssClass` is not empty, that class word.
std::vector<const XmlElement*> findAll(const XmlElement& root, std::string_view name, std::string_view cssClass = {});

}  // namespace scene::view::testing
