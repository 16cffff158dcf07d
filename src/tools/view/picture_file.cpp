#include "tools/view/picture_file.h"

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>

namespace scene::view {

std::optional<std::string> writePictureFile(const std::string& path, const std::string& text) {
    const std::string temporary = path + ".part-" + std::to_string(::getpid());
    {
        std::ofstream file(temporary, std::ios::binary | std::ios::trunc);
        if (!file) return "cannot write " + temporary + ": " + std::strerror(errno);
        file << text;
        file.flush();
        if (!file) {
            std::remove(temporary.c_str());
            return "cannot write " + temporary;
        }
    }
    if (std::rename(temporary.c_str(), path.c_str()) != 0) {
        const std::string reason = std::strerror(errno);
        std::remove(temporary.c_str());
        return "cannot write " + path + ": " + reason;
    }
    return std::nullopt;
}

std::string seriesPictureName(const std::string& directory, int number) {
    char name[32];
    std::snprintf(name, sizeof name, "view-%04d.svg", number);
    return directory.empty() || directory.back() == '/' ? directory + name : directory + "/" + name;
}

}  // namespace scene::view
