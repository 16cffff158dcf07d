#include "platform/simulated/simulated_screen_capture.h"

namespace scene::simulated {

std::shared_ptr<CaptureStream> SimulatedScreenCapture::createStream(const ContentFilter&, const StreamConfiguration&,
                                                                    StreamDelegate&) {
    return nullptr;
}

double SimulatedScreenCapture::hostTimeNow() { return runtime_.clock().uptime(); }

}  // namespace scene::simulated
