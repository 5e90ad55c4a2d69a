#pragma once

#include "vdev/timing.h"

#include <cstdint>

namespace kirt::vdev {

// Paces a stream at a given number of bytes per second: credit builds up with time and each
// byte sent spends one. Credit is capped, so a reader that stalls gets a short burst
// afterwards and not everything it missed.
class Pacer
{
public:
    // bytesPerSecond >= 1; burst is the most credit kept (at least one byte).
    Pacer(std::int64_t bytesPerSecond, std::int64_t burst);

    // Starts counting from now with no credit.
    void restart(Nanos now);
    // Bytes that may be sent at `now`.
    std::int64_t available(Nanos now);
    void spend(std::int64_t bytes);
    // When `bytes` of credit will be there (now, if they already are).
    Nanos whenAvailable(std::int64_t bytes, Nanos now) const;

    std::int64_t rate() const { return m_rate; }

private:
    static constexpr std::int64_t NanosPerSecond = 1'000'000'000;

    std::int64_t m_rate;
    std::int64_t m_burst;
    // Credit in billionths of a byte, so that no fraction is lost between calls.
    std::int64_t m_credit = 0;
    Nanos m_last{0};
};

} // namespace kirt::vdev
