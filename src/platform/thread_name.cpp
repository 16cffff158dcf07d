#include "platform/thread_name.h"

#include <pthread.h>

#include <string>

namespace scene {

void nameCurrentThread(std::string_view label) {
    // Linux keeps 15 characters of a thread name; longer names are refused.
    const std::string name(label.substr(0, 15));
#if defined(__APPLE__)
    pthread_setname_np(name.c_str());
#else
    pthread_setname_np(pthread_self(), name.c_str());
#endif
}

}  // namespace scene
