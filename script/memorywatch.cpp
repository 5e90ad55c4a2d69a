#include "script/memorywatch.h"

#include "base/platform.h"

namespace kirt {

std::int64_t MemoryWatch::residentBytes()
{
    return platform::residentBytes();
}

void MemoryWatch::start(std::int64_t boundBytes, std::function<void()> overBound)
{
    stop();
    m_stopping = false;
    m_peakGrowth = 0;
    // Growth, not the total: the window holds what it shows and grows while the script runs,
    // and only what came since the script began is the script's doing, near enough.
    m_start = residentBytes();
    m_thread = std::thread([this, boundBytes, call = std::move(overBound)]() mutable {
        watch(boundBytes, std::move(call));
    });
}

void MemoryWatch::stop()
{
    if (!m_thread.joinable())
        return;
    {
        const std::lock_guard lock(m_mutex);
        m_stopping = true;
    }
    m_wake.notify_all();
    m_thread.join();
}

void MemoryWatch::watch(std::int64_t boundBytes, std::function<void()> overBound)
{
    std::unique_lock lock(m_mutex);
    while (
        !m_wake.wait_for(lock, std::chrono::milliseconds(PollMs), [this] { return m_stopping; })) {
        const std::int64_t growth = residentBytes() - m_start;
        if (growth > m_peakGrowth)
            m_peakGrowth = growth;
        if (growth > boundBytes && overBound) {
            overBound();
            overBound = nullptr; // once; the looks go on for the peak
        }
    }
}

} // namespace kirt
