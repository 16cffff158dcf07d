#include "tools/view/xml_check_for_test.h"

#include <algorithm>
#include <cctype>
#include <sstream>

namespace scene::view::testing {
namespace {

class Reader {
public:
    explicit Reader(std::string_view text) : text_(text) {}

    std::optional<XmlElement> document(std::string* error) {
        if (startsWith("<?xml")) {
            const std::size_t end = text_.find("?>");
            if (end == std::string_view::npos) return fail("unterminated XML declaration", error);
            at_ = end + 2;
        }
        skipSpace();
        XmlElement root;
        if (!element(root)) return fail(problem_, error);
        skipSpace();
        if (at_ != text_.size()) return fail("content after the root element", error);
        return root;
    }

private:
    std::optional<XmlElement> fail(const std::string& what, std::string* error) {
        if (error != nullptr) {
            std::ostringstream message;
            message << what << " at byte " << at_;
            *error = message.str();
        }
        return std::nullopt;
    }

    bool problem(const std::string& what) {
        if (problem_.empty()) problem_ = what;
        return false;
    }

    bool startsWith(std::string_view prefix) const { return text_.substr(at_).starts_with(prefix); }

    void skipSpace() {
        while (at_ < text_.size() && std::isspace(static_cast<unsigned char>(text_[at_]))) ++at_;
    }

    static bool nameStart(char c) { return std::isalpha(static_cast<unsigned char>(c)) || c == '_' || c == ':'; }
    static bool nameChar(char c) {
        return nameStart(c) || std::isdigit(static_cast<unsigned char>(c)) || c == '-' || c == '.';
    }

    bool name(std::string& out) {
        if (at_ >= text_.size() || !nameStart(text_[at_])) return problem("expected a name");
        const std::size_t start = at_;
        while (at_ < text_.size() && nameChar(text_[at_])) ++at_;
        out = std::string(text_.substr(start, at_ - start));
        return true;
    }

    // An entity reference after its "&"; appends the character it stands for.
    bool reference(std::string& out) {
        const std::size_t end = text_.find(';', at_);
        if (end == std::string_view::npos || end - at_ > 10) return problem("unterminated entity reference");
        const std::string_view entity = text_.substr(at_, end - at_);
        at_ = end + 1;
        if (entity == "amp") return out += '&', true;
        if (entity == "lt") return out += '<', true;
        if (entity == "gt") return out += '>', true;
        if (entity == "quot") return out += '"', true;
        if (entity == "apos") return out += '\'', true;
        const bool hex = entity.starts_with("#x");
        const std::string_view digits = entity.substr(hex ? 2 : 1);
        const auto isDigit = [hex](char c) { return hex ? std::isxdigit(c) != 0 : std::isdigit(c) != 0; };
        if (entity.starts_with("#") && !digits.empty() && std::all_of(digits.begin(), digits.end(), isDigit))
            return out += '?', true;  // the tests never need the character itself
        return problem("unknown entity &" + std::string(entity) + ";");
    }

    // A control character below 0x20 other than tab, line feed and carriage
    // return is never allowed, not even escaped by accident.
    bool allowedCharacter(char c) {
        const auto byte = static_cast<unsigned char>(c);
        return byte >= 0x20 || c == '\t' || c == '\n' || c == '\r';
    }

    bool attributeValue(std::string& out) {
        if (at_ >= text_.size() || (text_[at_] != '"' && text_[at_] != '\'')) return problem("unquoted attribute");
        const char quote = text_[at_++];
        while (at_ < text_.size() && text_[at_] != quote) {
            const char c = text_[at_++];
            if (c == '<') return problem("\"<\" in an attribute value");
            if (!allowedCharacter(c)) return problem("control character in an attribute value");
            if (c == '&') {
                if (!reference(out)) return false;
            } else {
                out += c;
            }
        }
        if (at_ >= text_.size()) return problem("unterminated attribute value");
        ++at_;
        return true;
    }

    bool element(XmlElement& out) {
        if (at_ >= text_.size() || text_[at_] != '<') return problem("expected an element");
        ++at_;
        if (!name(out.name)) return false;
        while (true) {
            const std::size_t before = at_;
            skipSpace();
            if (startsWith("/>")) {
                at_ += 2;
                return true;
            }
            if (startsWith(">")) {
                ++at_;
                break;
            }
            if (at_ == before) return problem("expected space between attributes");
            std::string key, value;
            if (!name(key)) return false;
            skipSpace();
            if (!startsWith("=")) return problem("expected \"=\" after " + key);
            ++at_;
            skipSpace();
            if (!attributeValue(value)) return false;
            if (!out.attributes.emplace(key, value).second) return problem("duplicate attribute " + key);
        }
        // Content up to the matching end tag.
        while (true) {
            if (at_ >= text_.size()) return problem("unclosed element " + out.name);
            if (startsWith("</")) {
                at_ += 2;
                std::string closing;
                if (!name(closing)) return false;
                skipSpace();
                if (closing != out.name || !startsWith(">")) return problem("end tag " + closing + " for " + out.name);
                ++at_;
                return true;
            }
            if (text_[at_] == '<') {
                out.children.emplace_back();
                if (!element(out.children.back())) return false;
                continue;
            }
            const char c = text_[at_++];
            if (!allowedCharacter(c)) return problem("control character in text");
            if (c == '&') {
                if (!reference(out.text)) return false;
            } else {
                out.text += c;
            }
        }
    }

    std::string_view text_;
    std::size_t at_ = 0;
    std::string problem_;
};

void collect(const XmlElement& element, std::string_view name, std::string_view cssClass,
             std::vector<const XmlElement*>& found) {
    for (const XmlElement& child : element.children) {
        if (child.name == name && (cssClass.empty() || child.hasClass(cssClass))) found.push_back(&child);
        collect(child, name, cssClass, found);
    }
}

}  // namespace

std::string XmlElement::attribute(const std::string& key) const {
    const auto it = attributes.find(key);
    return it == attributes.end() ? std::string() : it->second;
}

bool XmlElement::hasClass(std::string_view word) const {
    std::istringstream words(attribute("class"));
    for (std::string w; words >> w;)
        if (w == word) return true;
    return false;
}

std::optional<XmlElement> parseXml(std::string_view text, std::string* error) { return Reader(text).document(error); }

std::vector<const XmlElement*> findAll(const XmlElement& root, std::string_view name, std::string_view cssClass) {
    std::vector<const XmlElement*> found;
    collect(root, name, cssClass, found);
    return found;
}

}  // namespace scene::view::testing
