#pragma once

#include <optional>
#include <string>

#include "platform/records.h"
#include "platform/rect.h"
#include "tools/view/jpeg_frame.h"

namespace scene::view {

// Everything one picture shows: a snapshot line, the JPEG still taken with it
// (none: geometry on a plain background), the display rectangle the picture
// covers, and the viewer's own figures for the header.
struct ScenePicture {
    Json snapshot;
    std::optional<JpegFrame> frame;
    Rect display;
    std::optional<double> snapshotsPerSecond;  // none: a single pass
    std::string time;                          // when the picture was taken, as people read it
};

// The picture as a standalone SVG document: on top a band with the header and
// a legend of the layers drawn, below it the desktop, a nested document in
// display points relative to the display's origin (its view box is the
// display's size). Labels are placed so none covers another or leaves the
// desktop; records that lack the keys a shape needs are left out; every text
// from the snapshot is escaped.
std::string sceneSvg(const ScenePicture& picture);

}  // namespace scene::view
