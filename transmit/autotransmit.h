#pragma once

#include "base/benchcounts.h"

#include <QString>

#include <array>
#include <cstddef>
#include <functional>
#include <optional>

namespace kirt {

// Interval in milliseconds for each position 0..15 of the interval slider.
inline constexpr std::array<int, 16> AutoIntervalTable{20,  50,  100, 200,  300,  400,  500,  600,
                                                       700, 800, 900, 1000, 2000, 3000, 4000, 5000};

// The table entry for a slider position; a position outside the slider's range is held to
// its nearest end rather than read outside the table.
int autoIntervalMs(int sliderPosition);

// "<ms>ms", the caption under "Interval Time (ms)".
QString autoTimeCaption(int sliderPosition);

// Which transmit lines the auto-transmit timer sends, and where it is in that cycle. The
// window owns the timer and calls tick() on each of its ticks.
class AutoTransmitCycle
{
public:
    static constexpr int LineCount = TransmitLineCount;

    // The lines whose auto box is on, flags[0] being line 1; the list keeps ascending order.
    // The position is left alone: a running cycle is stopped before the list changes.
    void rebuild(const std::array<bool, LineCount>& autoOn);

    // One timer tick: hands the next marked line to `send`, then moves past it. The position
    // moves only after the send, so a status line recomposed by the send names the line
    // being sent. Returns false, calling nothing, when no line is marked.
    bool tick(const std::function<void(int line)>& send);

    // A stopped cycle starts again from the first marked line.
    void stop() { m_position = 0; }

    // The line at the position, the first one when the position has run past the end;
    // nothing when no line is marked.
    std::optional<int> currentLine() const;

    bool isEmpty() const { return m_count == 0; }
    int count() const { return static_cast<int>(m_count); }
    int position() const { return static_cast<int>(m_position); }

private:
    std::array<int, LineCount> m_lines{};
    std::size_t m_count = 0;
    std::size_t m_position = 0;
};

} // namespace kirt
