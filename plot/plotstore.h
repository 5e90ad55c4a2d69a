#pragma once

#include "plot/plotparser.h"

#include <QByteArray>
#include <QStringList>

#include <cstdint>
#include <vector>

namespace kirt {

// The collected samples: a receive time each and a value per series (NaN for a gap), the
// oldest dropped beyond the capacity. A series takes memory only once it has had a value.
class PlotStore
{
public:
    static constexpr std::size_t DefaultCapacity = 1'000'000;

    explicit PlotStore(std::size_t capacity = DefaultCapacity) : m_capacity(capacity) {}

    // seconds: the read time of the line's bytes, on any steady clock.
    void add(const PlotSample& sample, double seconds);
    void clear();

    std::size_t size() const { return m_count; }
    // The number of the i-th kept sample since the clear (they go on counting past drops).
    std::uint64_t sampleNumber(std::size_t i) const { return m_dropped + i; }
    // Seconds since the first sample since the clear.
    double time(std::size_t i) const { return m_times[slot(i)] - m_firstTime; }
    bool hasSeries(int series) const;
    // NaN for a gap.
    double value(int series, std::size_t i) const;

    // Every kept sample: a header "time" and the names, then a row each, the time in seconds
    // with millisecond resolution and an empty field for a gap.
    QByteArray csv(const QStringList& names) const;

private:
    std::size_t slot(std::size_t i) const { return (m_head + i) % m_capacity; }

    std::size_t m_capacity;
    std::size_t m_head = 0; // slot of the oldest kept sample
    std::size_t m_count = 0;
    std::uint64_t m_dropped = 0;
    double m_firstTime = 0;
    std::vector<double> m_times;
    std::vector<std::vector<double>> m_values =
        std::vector<std::vector<double>>(PlotSample::MaxSeries);
};

} // namespace kirt
