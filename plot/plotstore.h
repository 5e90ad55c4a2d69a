#pragma once

#include "plot/plotparser.h"

#include <QByteArray>
#include <QStringList>

#include <cstdint>
#include <limits>
#include <vector>

namespace kirt {

// The lowest and highest value over some samples; empty when they are all gaps.
struct PlotExtent
{
    double low = std::numeric_limits<double>::infinity();
    double high = -std::numeric_limits<double>::infinity();

    bool empty() const { return low > high; }
    void take(double v);
    void take(const PlotExtent& other);
};

// The collected samples: a receive time each and a value per series (NaN for a gap), the
// oldest dropped beyond the capacity. A series takes memory only once it has had a value.
class PlotStore
{
public:
    static constexpr std::size_t DefaultCapacity = 1'000'000;

    explicit PlotStore(std::size_t capacity = DefaultCapacity)
        : m_capacity(capacity), m_blockSlots(capacity / BlockSize + 2)
    {
    }

    // seconds: the read time of the line's bytes, on any steady clock.
    void add(const PlotSample& sample, double seconds);
    void clear();

    std::size_t size() const { return m_count; }
    // The number of the i-th kept sample since the clear (they go on counting past drops).
    std::uint64_t sampleNumber(std::size_t i) const { return m_dropped + i; }
    // Seconds since the first sample since the clear.
    double time(std::size_t i) const { return m_times[slot(i)] - m_firstTime; }
    // The x of the i-th kept sample: its number, or its time.
    double x(std::size_t i, bool time) const
    {
        return time ? this->time(i) : static_cast<double>(sampleNumber(i));
    }
    bool hasSeries(int series) const;
    // NaN for a gap.
    double value(int series, std::size_t i) const;
    // Over the kept samples [from, to), in time proportional to the blocks it spans, so a view
    // of a million points can be reduced to its pixel columns every frame.
    PlotExtent extent(int series, std::size_t from, std::size_t to) const;
    // The first kept sample whose x (sample number, or seconds with time) is at or after x.
    std::size_t firstAtOrAfter(double x, bool time) const;

    // Every kept sample: a header "time" and the names of the series that have had a value,
    // then a row each, the time in seconds with millisecond resolution and an empty field for
    // a gap.
    QByteArray csv(const QStringList& names) const;

private:
    static constexpr std::uint64_t BlockSize = 64;
    std::size_t slot(std::size_t i) const { return (m_head + i) % m_capacity; }
    // The summary of the block of sample number n; slots are reused only by blocks that no
    // kept sample shares.
    std::size_t blockSlot(std::uint64_t n) const { return (n / BlockSize) % m_blockSlots; }

    std::size_t m_capacity;
    std::size_t m_head = 0; // slot of the oldest kept sample
    std::size_t m_count = 0;
    std::uint64_t m_dropped = 0;
    double m_firstTime = 0;
    std::vector<double> m_times;
    std::vector<std::vector<double>> m_values =
        std::vector<std::vector<double>>(PlotSample::MaxSeries);
    std::size_t m_blockSlots;
    std::vector<std::vector<PlotExtent>> m_blocks =
        std::vector<std::vector<PlotExtent>>(PlotSample::MaxSeries);
};

} // namespace kirt
