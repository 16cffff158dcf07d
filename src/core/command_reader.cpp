#include "core/command_reader.h"

#include "core/commands.h"

namespace scene {

std::vector<std::string> CommandReader::take(std::string_view chunk) {
    std::vector<std::string> lines;
    if (quitReceived()) return lines;
    const auto text = decoder_.decode(chunk);
    if (!text || text->empty()) return lines;
    buffer_.append(*text);
    while (auto line = buffer_.takeLine()) {
        const bool quit = *line == commands::kQuit;
        lines.push_back(std::move(*line));
        if (quit) {
            quit_.store(true, std::memory_order_relaxed);
            break;
        }
    }
    return lines;
}

}  // namespace scene
