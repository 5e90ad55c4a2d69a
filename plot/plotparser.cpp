#include "plot/plotparser.h"

#include <charconv>
#include <cmath>
#include <cstring>

namespace kirt {

namespace {

bool isSeparator(char c, bool pairs)
{
    return c == ',' || c == ' ' || c == '\t' || (!pairs && c == ';');
}

// The whole token as a number (integer, decimal or exponent form), or nothing. from_chars, not
// strtod: the application runs in the user's locale, where "0.707" may not be a number.
bool toNumber(const QByteArray& token, double& value)
{
    const char* begin = token.constData();
    const char* const end = begin + token.size();
    const char* digits = begin < end && (*begin == '+' || *begin == '-') ? begin + 1 : begin;
    // No "inf", "nan" or bare sign: a board prints none of them as a value.
    if (digits == end || !((*digits >= '0' && *digits <= '9') || *digits == '.'))
        return false;
    if (*begin == '+')
        ++begin; // from_chars takes a minus only
    const auto [stop, error] = std::from_chars(begin, end, value);
    return error == std::errc() && stop == end && std::isfinite(value);
}

QList<QByteArray> tokens(const QByteArray& text, bool pairs)
{
    QList<QByteArray> out;
    QByteArray current;
    for (const char c : text) {
        if (isSeparator(c, pairs)) {
            if (!current.isEmpty())
                out << current;
            current.clear();
        } else {
            current += c;
        }
    }
    if (!current.isEmpty())
        out << current;
    return out;
}

} // namespace

void PlotParser::clear()
{
    m_dropToLineEnd = false;
    m_partial.clear();
    m_overlong = false;
    m_firstLine = true;
    m_namedByHeader = false;
    m_names.clear();
    m_skipped = 0;
}

void PlotParser::feed(const char* bytes, std::size_t count, const SampleOut& out)
{
    const char* end = bytes + count;
    while (bytes < end) {
        const char* lf = static_cast<const char*>(
            std::memchr(bytes, '\n', static_cast<std::size_t>(end - bytes)));
        const char* stop = lf ? lf : end;
        const std::size_t piece = static_cast<std::size_t>(stop - bytes);
        if (static_cast<std::size_t>(m_partial.size()) + piece > MaxLineLength)
            m_overlong = true;
        else
            m_partial.append(bytes, static_cast<qsizetype>(piece));
        if (!lf)
            return;
        if (m_dropToLineEnd) {
            m_dropToLineEnd = false;
        } else if (m_overlong) {
            ++m_skipped;
            m_firstLine = false;
        } else {
            line(m_partial, out);
        }
        m_partial.clear();
        m_overlong = false;
        bytes = lf + 1;
    }
}

int PlotParser::seriesNamed(const QByteArray& label)
{
    const QString name = QString::fromUtf8(label);
    const qsizetype at = m_names.indexOf(name);
    if (at >= 0)
        return static_cast<int>(at);
    if (m_names.size() >= PlotSample::MaxSeries)
        return -1;
    m_names << name;
    return static_cast<int>(m_names.size() - 1);
}

void PlotParser::line(QByteArray text, const SampleOut& out)
{
    if (text.endsWith('\r'))
        text.chop(1);
    const bool first = m_firstLine;
    m_firstLine = false;
    PlotSample sample;
    if (text.contains(':')) {
        for (const QByteArray& pair : tokens(text, true)) {
            const qsizetype colon = pair.lastIndexOf(':');
            double value = 0;
            if (colon <= 0 || !toNumber(pair.mid(colon + 1), value))
                continue;
            const int series = seriesNamed(pair.left(colon));
            if (series < 0)
                continue;
            sample.values[static_cast<std::size_t>(series)] = value;
            sample.present.set(static_cast<std::size_t>(series));
        }
    } else {
        const QList<QByteArray> columns = tokens(text, false);
        int column = 0;
        bool anyNumber = false;
        for (const QByteArray& token : columns) {
            if (column >= PlotSample::MaxSeries)
                break;
            double value = 0;
            if (toNumber(token, value)) {
                sample.values[static_cast<std::size_t>(column)] = value;
                sample.present.set(static_cast<std::size_t>(column));
                anyNumber = true;
            }
            ++column;
        }
        // A first line of names, not a number among them, names the columns.
        if (first && !anyNumber && !columns.isEmpty()) {
            for (qsizetype i = 0; i < columns.size() && i < PlotSample::MaxSeries; ++i)
                m_names << QString::fromUtf8(columns[i]);
            m_namedByHeader = true;
            return;
        }
        for (int i = static_cast<int>(m_names.size()); i < column; ++i)
            m_names << QString::number(i + 1);
    }
    if (sample.present.none()) {
        ++m_skipped;
        return;
    }
    out(sample);
}

} // namespace kirt
