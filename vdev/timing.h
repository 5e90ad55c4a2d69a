#pragma once

#include <chrono>

namespace kirt::vdev {

// Time as the steady clock counts it; the logic takes "now" as an argument so that tests can
// drive it without waiting.
using Nanos = std::chrono::nanoseconds;

inline Nanos steadyNow()
{
    return std::chrono::duration_cast<Nanos>(std::chrono::steady_clock::now().time_since_epoch());
}

} // namespace kirt::vdev
