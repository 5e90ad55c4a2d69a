#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <array>
#include <bitset>
#include <cstdint>
#include <functional>

namespace kirt {

// One received line turned into numbers: a value for each series the line has; a series the
// line lacks is a gap.
struct PlotSample
{
    static constexpr int MaxSeries = 16;
    std::array<double, MaxSeries> values{};
    std::bitset<MaxSeries> present;
};

// Received bytes as lines of numbers, as boards print them: "label:value" pairs separated by
// commas, blanks or tabs, or plain numbers separated by commas, semicolons, blanks or tabs,
// with an optional first line of names. A line ends at LF; a CR before it is dropped. Up to
// MaxSeries series, named by their label, by the names line, or "1".."16"; further columns are
// ignored. A line without a number is counted, never plotted as zero.
class PlotParser
{
public:
    using SampleOut = std::function<void(const PlotSample&)>;

    // Hands each complete line's sample to out; an unfinished line waits for its end.
    void feed(const char* bytes, std::size_t count, const SampleOut& out);
    // The series names, in column order.
    const QStringList& names() const { return m_names; }
    std::uint64_t skipped() const { return m_skipped; }
    // Forgets the names, the unfinished line and the count.
    void clear();
    // The bytes up to the next line end are the tail of a line begun before and are dropped.
    void skipLineUnderWay() { m_dropToLineEnd = true; }

    static constexpr std::size_t MaxLineLength = 4096; // a longer line is junk

private:
    void line(QByteArray text, const SampleOut& out);
    int seriesNamed(const QByteArray& label);

    QByteArray m_partial;
    bool m_overlong = false;
    bool m_dropToLineEnd = false;
    bool m_firstLine = true;
    bool m_namedByHeader = false;
    QStringList m_names;
    std::uint64_t m_skipped = 0;
};

} // namespace kirt
