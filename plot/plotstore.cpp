#include "plot/plotstore.h"

#include <QLocale>

#include <cmath>
#include <limits>

namespace kirt {

namespace {

constexpr double Gap = std::numeric_limits<double>::quiet_NaN();

} // namespace

void PlotExtent::take(double v)
{
    if (std::isnan(v))
        return;
    low = std::min(low, v);
    high = std::max(high, v);
}

void PlotExtent::take(const PlotExtent& other)
{
    low = std::min(low, other.low);
    high = std::max(high, other.high);
}

void PlotStore::add(const PlotSample& sample, double seconds)
{
    if (m_capacity == 0)
        return;
    if (m_count == 0 && m_dropped == 0)
        m_firstTime = seconds;
    std::size_t at = 0;
    if (m_count < m_capacity) {
        at = slot(m_count);
        ++m_count;
    } else {
        at = m_head; // the oldest goes
        m_head = (m_head + 1) % m_capacity;
        ++m_dropped;
    }
    if (m_times.size() <= at)
        m_times.resize(at + 1);
    m_times[at] = seconds;
    const std::uint64_t number = m_dropped + m_count - 1;
    for (int s = 0; s < PlotSample::MaxSeries; ++s) {
        std::vector<double>& column = m_values[static_cast<std::size_t>(s)];
        const bool present = sample.present[static_cast<std::size_t>(s)];
        if (column.empty() && !present)
            continue;
        // A series that starts late has gaps before its first value.
        if (column.size() <= at)
            column.resize(std::max(at + 1, m_times.size()), Gap);
        column[at] = present ? sample.values[static_cast<std::size_t>(s)] : Gap;
        std::vector<PlotExtent>& blocks = m_blocks[static_cast<std::size_t>(s)];
        if (blocks.empty())
            blocks.resize(m_blockSlots);
        PlotExtent& block = blocks[blockSlot(number)];
        if (number % BlockSize == 0)
            block = {};
        block.take(column[at]);
    }
}

void PlotStore::clear()
{
    m_head = 0;
    m_count = 0;
    m_dropped = 0;
    m_firstTime = 0;
    m_times.clear();
    m_times.shrink_to_fit();
    for (std::vector<double>& column : m_values) {
        column.clear();
        column.shrink_to_fit();
    }
    for (std::vector<PlotExtent>& blocks : m_blocks) {
        blocks.clear();
        blocks.shrink_to_fit();
    }
}

bool PlotStore::hasSeries(int series) const
{
    return series >= 0 && series < PlotSample::MaxSeries &&
           !m_values[static_cast<std::size_t>(series)].empty();
}

double PlotStore::value(int series, std::size_t i) const
{
    if (!hasSeries(series))
        return Gap;
    const std::vector<double>& column = m_values[static_cast<std::size_t>(series)];
    const std::size_t at = slot(i);
    return at < column.size() ? column[at] : Gap;
}

PlotExtent PlotStore::extent(int series, std::size_t from, std::size_t to) const
{
    PlotExtent extent;
    to = std::min(to, m_count);
    if (!hasSeries(series) || from >= to)
        return extent;
    const std::vector<PlotExtent>& blocks = m_blocks[static_cast<std::size_t>(series)];
    std::uint64_t n = m_dropped + from;
    const std::uint64_t end = m_dropped + to;
    // Single samples up to a block's start, whole blocks, single samples after the last.
    for (; n < end && n % BlockSize != 0; ++n)
        extent.take(value(series, static_cast<std::size_t>(n - m_dropped)));
    for (; n + BlockSize <= end; n += BlockSize)
        extent.take(blocks[blockSlot(n)]);
    for (; n < end; ++n)
        extent.take(value(series, static_cast<std::size_t>(n - m_dropped)));
    return extent;
}

std::size_t PlotStore::firstAtOrAfter(double x, bool time) const
{
    if (time) {
        std::size_t low = 0;
        std::size_t high = m_count;
        while (low < high) {
            const std::size_t mid = low + (high - low) / 2;
            if (this->time(mid) < x)
                low = mid + 1;
            else
                high = mid;
        }
        return low;
    }
    const double i = std::ceil(x) - static_cast<double>(m_dropped);
    return i <= 0 ? 0 : static_cast<std::size_t>(std::min(i, static_cast<double>(m_count)));
}

QByteArray PlotStore::csv(const QStringList& names) const
{
    // A series is there once it has had a value: a name alone (from a junk line's columns) is
    // no column.
    QList<int> columns;
    for (int s = 0; s < names.size(); ++s)
        if (hasSeries(s))
            columns << s;
    QByteArray out = "time";
    for (const int s : columns) {
        QString field = names[s];
        // A name with a separator or a quote is quoted, as CSV readers expect.
        if (field.contains(u',') || field.contains(u'"')) {
            field.replace(u'"', QStringLiteral("\"\""));
            field = u'"' + field + u'"';
        }
        out += ',' + field.toUtf8();
    }
    out += '\n';
    for (std::size_t i = 0; i < m_count; ++i) {
        out += QByteArray::number(time(i), 'f', 3);
        for (const int s : columns) {
            out += ',';
            const double v = value(s, i);
            if (!std::isnan(v))
                out += QByteArray::number(v, 'g', QLocale::FloatingPointShortest);
        }
        out += '\n';
    }
    return out;
}

} // namespace kirt
