#include "platform/simulated/stream_registry.h"

#include "platform/simulated/simulated_stream.h"

namespace scene::simulated {

void StreamRegistry::add(const std::shared_ptr<SimulatedStream>& stream) {
    std::lock_guard lock(mutex_);
    std::erase_if(streams_, [](const auto& weak) { return weak.expired(); });
    streams_.push_back(stream);
}

std::vector<std::shared_ptr<SimulatedStream>> StreamRegistry::live() const {
    std::vector<std::shared_ptr<SimulatedStream>> streams;
    std::lock_guard lock(mutex_);
    std::erase_if(streams_, [](const auto& weak) { return weak.expired(); });
    for (const auto& weak : streams_) {
        if (auto stream = weak.lock()) streams.push_back(std::move(stream));
    }
    return streams;
}

std::shared_ptr<SimulatedStream> StreamRegistry::primary() const {
    std::shared_ptr<SimulatedStream> newest;
    std::uint64_t newestStart = 0;
    for (auto& stream : live()) {
        const auto start = stream->runningStart();
        if (start && (!newest || *start > newestStart)) {
            newest = std::move(stream);
            newestStart = *start;
        }
    }
    return newest;
}

void StreamRegistry::settingsChanged() const {
    for (const auto& stream : live()) stream->settingsChanged();
}

void StreamRegistry::streamError(const PlatformError& error) const {
    if (const auto stream = primary()) stream->stopWithError(error);
}

}  // namespace scene::simulated
