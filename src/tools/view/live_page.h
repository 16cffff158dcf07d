#pragma once

#include <string>
#include <vector>

namespace scene::view {

// One document the live server serves.
struct PageDocument {
    std::string path;  // e.g. "/" or "/live.js"
    std::string contentType;
    std::string body;
};

// The live page: "/" is web/live.html with its configuration filled in (the
// command token, the commands it may send, and the layers with the styles the
// SVG pictures draw them in, so both look alike), and every other file of web/
// under its own name. Built once per run.
std::vector<PageDocument> livePageDocuments(const std::string& token);

}  // namespace scene::view
