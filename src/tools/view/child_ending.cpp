#include "tools/view/child_ending.h"

namespace scene::view {

std::string statusText(int status) {
    return status >= 0 ? "status " + std::to_string(status) : "signal " + std::to_string(-status);
}

int quitChild(SamplerChild& child, int status, std::ostream& errors) {
    const auto ending = child.stop(kQuitPatience);
    if (!ending.forced && ending.status == 0) return status;
    errors << kViewPrefix << "scene-sampler "
           << (ending.forced ? "did not quit when asked and was stopped, " : "quit with ") << statusText(ending.status)
           << '\n';
    return status == 0 ? 1 : status;
}

int childEndedEarly(SamplerChild& child, std::ostream& errors) {
    const auto status = child.wait(kQuitPatience);
    errors << kViewPrefix << "scene-sampler exited early with "
           << (status ? statusText(*status) : std::string("its output closed")) << '\n';
    return 1;
}

}  // namespace scene::view
