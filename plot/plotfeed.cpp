#include "plot/plotfeed.h"

#include <algorithm>

namespace kirt {

PlotFeed::Clock::duration PlotFeed::lineUnderWayWindow() const
{
    // Three characters of the line (start bit, data bits, parity bit, stop bits) for the rest
    // of a line under way to show, and the few milliseconds a read takes to return.
    using namespace std::chrono;
    const double stopBits = m_line.stopBits == StopBits::One   ? 1.0
                            : m_line.stopBits == StopBits::Two ? 2.0
                                                               : 1.5;
    const double bits =
        1.0 + m_line.dataBits + (m_line.parity == Parity::None ? 0.0 : 1.0) + stopBits;
    const auto character = duration<double>(bits / std::max<std::uint32_t>(m_line.baudRate, 1));
    return duration_cast<Clock::duration>(3 * character) + milliseconds(10);
}

void PlotFeed::received(const std::uint8_t* bytes, std::size_t count, Clock::time_point readAt)
{
    // A read's time is all there is of its first byte; the bytes after it in the same read
    // came later still.
    if (m_awaitingFirstByte && count > 0) {
        m_awaitingFirstByte = false;
        if (readAt - m_clearedAt < lineUnderWayWindow())
            m_parser.skipLineUnderWay();
    }
    const double seconds = std::chrono::duration<double>(readAt.time_since_epoch()).count();
    m_parser.feed(reinterpret_cast<const char*>(bytes), count, [&](const PlotSample& sample) {
        m_store.add(sample, seconds);
        ++m_generation;
    });
}

void PlotFeed::clear(Clock::time_point at)
{
    m_parser.clear();
    m_clearedAt = at;
    m_awaitingFirstByte = true;
    m_store.clear();
    ++m_generation;
}

} // namespace kirt
