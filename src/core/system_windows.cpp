#include "core/system_windows.h"

#include <algorithm>
#include <cmath>

namespace scene {
namespace {

constexpr int kNotificationBackdropLayer = 21;
constexpr double kBackdropTolerance = 2;

bool matchesWithin(const Rect& a, const Rect& b, double tolerance) {
    return std::fabs(a.minX() - b.minX()) <= tolerance && std::fabs(a.minY() - b.minY()) <= tolerance &&
           std::fabs(a.maxX() - b.maxX()) <= tolerance && std::fabs(a.maxY() - b.maxY()) <= tolerance;
}

// Resolves "." and ".." and collapses repeated separators, like a file URL's
// standardised path. ".." at the root stays at the root.
std::string standardizedPath(const std::string& path) {
    const bool absolute = !path.empty() && path.front() == '/';
    std::vector<std::string> pieces;
    std::size_t start = 0;
    while (start <= path.size()) {
        const std::size_t end = std::min(path.find('/', start), path.size());
        const std::string piece = path.substr(start, end - start);
        if (piece == "..") {
            if (!pieces.empty() && pieces.back() != "..") {
                pieces.pop_back();
            } else if (!absolute) {
                pieces.push_back(piece);
            }
        } else if (!piece.empty() && piece != ".") {
            pieces.push_back(piece);
        }
        start = end + 1;
    }
    std::string result = absolute ? "/" : "";
    for (std::size_t i = 0; i < pieces.size(); ++i) {
        if (i > 0) result += '/';
        result += pieces[i];
    }
    return result;
}

}  // namespace

std::vector<Rect> activeDisplayRects(WindowServer& windowServer) {
    const auto count = windowServer.activeDisplayCount();
    if (!count || *count == 0) return {};
    const auto displays = windowServer.activeDisplayList(*count);
    if (!displays) return {};
    const std::size_t agreed = std::min<std::size_t>(*count, displays->size());
    std::vector<Rect> rects;
    rects.reserve(agreed);
    for (std::size_t i = 0; i < agreed; ++i) rects.push_back(windowServer.displayBounds((*displays)[i]));
    return rects;
}

bool isNotificationCenterBackdrop(const Rect& rect, int layer, const std::optional<std::string>& bundleID,
                                  const std::vector<Rect>& displays) {
    if (bundleID != kNotificationCenterBundleID || layer != kNotificationBackdropLayer) return false;
    if (rect.isNull() || rect.isInfinite() || rect.absWidth() <= 0 || rect.absHeight() <= 0) return false;
    if (displays.empty()) return false;
    Rect all = Rect::null();
    for (const Rect& display : displays) all = all.unionWith(display);
    if (matchesWithin(rect, all, kBackdropTolerance)) return true;
    return std::any_of(displays.begin(), displays.end(),
                       [&](const Rect& display) { return matchesWithin(rect, display, kBackdropTolerance); });
}

bool isInputMethodCandidate(const Rect& rect, int layer, bool verifiedOwner) {
    if (layer < 20 || !verifiedOwner || rect.isNull() || rect.isInfinite()) return false;
    const double width = rect.absWidth();
    const double height = rect.absHeight();
    return width >= 16 && width <= 1200 && height >= 12 && height <= 320;
}

bool isInputMethodBundle(const std::optional<std::string>& path, const std::string& home) {
    if (!path) return false;
    const std::string standardized = standardizedPath(*path);
    const std::string roots[] = {"/System/Library/Input Methods/", "/Library/Input Methods/",
                                 home + "/Library/Input Methods/"};
    for (const std::string& root : roots) {
        if (standardized.compare(0, root.size(), root) != 0) continue;
        const std::string rest = standardized.substr(root.size());
        const std::size_t start = rest.find_first_not_of('/');
        if (start == std::string::npos) continue;
        const std::string first = rest.substr(start, rest.find('/', start) - start);
        if (first.size() >= 4 && first.compare(first.size() - 4, 4, ".app") == 0) return true;
    }
    return false;
}

}  // namespace scene
