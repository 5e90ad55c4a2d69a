#pragma once

#include "base/comsettings.h"
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
    // Drops the points, the names, the skipped count and the line under way, as of `at` (the
    // port opened, or CLEAR). The first line after it is dropped too when its first byte was
    // read so soon after `at` that the line may have begun before ("unt:17" is no series); a
    // line that begins after a pause is kept, a names line too.
    void clear(Clock::time_point at = Clock::now());
    // The port's line: how soon a byte may follow the one before.
    void setLineSettings(const ComSettings& line) { m_line = line; }
    // How long after a clear a byte may still belong to a line begun before it.
    Clock::duration lineUnderWayWindow() const;

    const PlotParser& parser() const { return m_parser; }
    const PlotStore& store() const { return m_store; }
    // Goes up with every new sample or clear, so a view knows when to draw again.
    std::uint64_t generation() const { return m_generation; }

private:
    PlotParser m_parser;
    PlotStore m_store;
    std::uint64_t m_generation = 0;
    ComSettings m_line;
    Clock::time_point m_clearedAt;
    bool m_awaitingFirstByte = false;
};

} // namespace kirt
