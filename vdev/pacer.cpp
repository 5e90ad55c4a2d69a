#include "vdev/pacer.h"

#include <algorithm>

namespace kirt::vdev {

namespace {

// The rate and the gap are bounded so that credit never overflows 64 bits.
constexpr std::int64_t MaxRate = 100'000'000;
constexpr std::int64_t MaxGapNanos = 10'000'000'000;

} // namespace

Pacer::Pacer(std::int64_t bytesPerSecond, std::int64_t burst)
    : m_rate(std::clamp<std::int64_t>(bytesPerSecond, 1, MaxRate)),
      m_burst(std::clamp<std::int64_t>(burst, 1, MaxRate))
{
}

void Pacer::restart(Nanos now)
{
    m_credit = 0;
    m_last = now;
}

std::int64_t Pacer::available(Nanos now)
{
    const std::int64_t gap = std::clamp<std::int64_t>((now - m_last).count(), 0, MaxGapNanos);
    m_last = std::max(m_last, now);
    m_credit = std::min(m_credit + gap * m_rate, m_burst * NanosPerSecond);
    return m_credit / NanosPerSecond;
}

void Pacer::spend(std::int64_t bytes)
{
    m_credit -= bytes * NanosPerSecond;
}

Nanos Pacer::whenAvailable(std::int64_t bytes, Nanos now) const
{
    const std::int64_t missing = bytes * NanosPerSecond - m_credit;
    if (missing <= 0)
        return now;
    // Rounded up, so that the credit is really there at the time returned.
    return std::max(now, m_last + Nanos((missing + m_rate - 1) / m_rate));
}

} // namespace kirt::vdev
