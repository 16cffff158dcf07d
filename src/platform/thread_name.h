#pragma once

#include <string_view>

namespace scene {

// Names the calling thread after `label`, cut to what the system keeps, so
// that a debugger or `top -H` tells the queues apart.
void nameCurrentThread(std::string_view label);

}  // namespace scene
