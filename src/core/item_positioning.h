#pragma once

#include "platform/records.h"

namespace scene {

// Moves item records (controls, inputs, visual edges) measured in an earlier
// pass along with their windows. Items whose window is gone, or changed size by
// 4 points or more, are dropped; the rest keep their order.
Records positioned(const Records& items, const Records& windows);

}  // namespace scene
