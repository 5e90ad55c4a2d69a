#include "plot/plotfeed.h"

namespace kirt {

void PlotFeed::received(const std::uint8_t* bytes, std::size_t count, Clock::time_point readAt)
{
    const double seconds = std::chrono::duration<double>(readAt.time_since_epoch()).count();
    m_parser.feed(reinterpret_cast<const char*>(bytes), count, [&](const PlotSample& sample) {
        m_store.add(sample, seconds);
        ++m_generation;
    });
}

void PlotFeed::clear()
{
    m_parser.clear(true);
    m_store.clear();
    ++m_generation;
}

} // namespace kirt
