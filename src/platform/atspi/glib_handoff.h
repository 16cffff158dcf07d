#pragma once

#if defined(__SANITIZE_THREAD__)
#include <sanitizer/tsan_interface.h>
#endif

namespace scene::atspi {

// GLib hands our data to its other threads (the D-Bus worker, our event
// loop's) under its own locks, which the thread sanitizer does not see: GLib
// is not built with it. These mark such a hand-over for it: what one thread
// did before `handOver(p)` is seen by the thread that calls `takeOver(p)`
// after GLib gave it `p`. Outside the sanitizer they are nothing.
inline void handOver([[maybe_unused]] const void* data) {
#if defined(__SANITIZE_THREAD__)
    __tsan_release(const_cast<void*>(data));
#endif
}

inline void takeOver([[maybe_unused]] const void* data) {
#if defined(__SANITIZE_THREAD__)
    __tsan_acquire(const_cast<void*>(data));
#endif
}

}  // namespace scene::atspi
