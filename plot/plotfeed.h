#pragma once

#include "plot/plotparser.h"
#include "plot/plotstore.h"

#include <chrono>
#include <cstdint>

namespace kirt {

// What the plot collects from the received bytes: lines parsed as they complete, each sample
// stamped with the read time of the bytes that ended its line.
class PlotFeed
{
public:
    using Clock = std::chrono::steady_clock;

    explicit PlotFeed(std::size_t capacity = PlotStore::DefaultCapacity) : m_store(capacity) {}

    void received(const std::uint8_t* bytes, std::size_t count, Clock::time_point readAt);
    // Drops the points, the names and the skipped count; the line under way is dropped too.
    void clear();

    const PlotParser& parser() const { return m_parser; }
    const PlotStore& store() const { return m_store; }
    // Goes up with every new sample or clear, so a view knows when to draw again.
    std::uint64_t generation() const { return m_generation; }

private:
    PlotParser m_parser;
    PlotStore m_store;
    std::uint64_t m_generation = 0;
};

} // namespace kirt
