#include "tools/view/live_page.h"

#include "platform/records.h"
#include "tools/view/layer_style.h"
#include "tools/view/request_filter.h"
#include "tools/view/web_assets.h"

namespace scene::view {
namespace {

constexpr std::string_view kPageFile = "live.html";
constexpr std::string_view kConfigMarker = "__VIEW_CONFIG__";

std::string contentType(std::string_view name) {
    const auto ends = [&](std::string_view suffix) {
        return name.size() >= suffix.size() && name.substr(name.size() - suffix.size()) == suffix;
    };
    if (ends(".html")) return "text/html; charset=utf-8";
    if (ends(".js")) return "text/javascript; charset=utf-8";
    if (ends(".css")) return "text/css; charset=utf-8";
    return "application/octet-stream";
}

const char* swatchName(LayerStyle::Swatch swatch) {
    switch (swatch) {
        case LayerStyle::Swatch::outline:
            return "outline";
        case LayerStyle::Swatch::filled:
            return "filled";
        case LayerStyle::Swatch::line:
            return "line";
    }
    return "line";
}

std::string configuration(const std::string& token) {
    Json layers = Json::array();
    for (int i = 0; i < kLayerCount; ++i) {
        const LayerStyle& style = layerStyle(static_cast<Layer>(i));
        layers.push_back({{"name", style.name},
                          {"meaning", style.meaning},
                          {"swatch", swatchName(style.swatch)},
                          {"colour", style.colour},
                          {"strokeWidth", style.strokeWidth},
                          {"dash", style.dash != nullptr ? Json(style.dash) : Json(nullptr)}});
    }
    Json commands = Json::array();
    for (const std::string_view command : forwardableCommands()) commands.push_back(command);
    std::string text = Json{{"token", token}, {"commands", commands}, {"layers", layers}}.dump();
    // Inside a script element only "</" could end it early; "<" appears in
    // JSON only within strings, where its escape reads the same.
    std::string safe;
    for (const char c : text) safe += c == '<' ? std::string("\\u003c") : std::string(1, c);
    return safe;
}

}  // namespace

std::vector<PageDocument> livePageDocuments(const std::string& token) {
    std::vector<PageDocument> documents;
    for (const WebAsset& asset : webAssets()) {
        std::string body(asset.body);
        std::string path = "/" + std::string(asset.name);
        if (asset.name == kPageFile) {
            path = "/";
            const std::size_t at = body.find(kConfigMarker);
            if (at != std::string::npos) body.replace(at, kConfigMarker.size(), configuration(token));
        }
        documents.push_back({std::move(path), contentType(asset.name), std::move(body)});
    }
    return documents;
}

}  // namespace scene::view
