#include "vdev/streams.h"

#include <chrono>
#include <cmath>

namespace kirt::vdev {

QByteArray statusLine(std::uint64_t sequence, Nanos uptime)
{
    const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(uptime).count();
    return QByteArrayLiteral("STATUS ") +
           QByteArray::number(static_cast<qulonglong>(sequence % 100000)).rightJustified(5, '0') +
           QByteArrayLiteral(" UP ") + QByteArray::number(seconds / 3600).rightJustified(2, '0') +
           ':' + QByteArray::number(seconds / 60 % 60).rightJustified(2, '0') + ':' +
           QByteArray::number(seconds % 60).rightJustified(2, '0') + QByteArrayLiteral(" OK\r\n");
}

namespace {

// count bytes of an endless run of lines; a line cut at the end of one call goes on in the next.
template <typename NextLine>
QByteArray cutFromLines(QByteArray& rest, qsizetype count, NextLine nextLine)
{
    QByteArray out;
    out.reserve(count);
    while (out.size() < count) {
        if (rest.isEmpty())
            rest = nextLine();
        const qsizetype take = std::min(count - out.size(), rest.size());
        out += rest.first(take);
        rest.remove(0, take);
    }
    return out;
}

} // namespace

QByteArray TextStream::next(qsizetype count)
{
    return cutFromLines(m_rest, count, [this]() -> QByteArray {
        return QByteArray::number(static_cast<qulonglong>(m_line++ % 1000000))
                   .rightJustified(6, '0') +
               QByteArrayLiteral(" THE QUICK BROWN FOX JUMPS OVER THE LAZY DOG\r\n");
    });
}

QByteArray PlotStream::next(qsizetype count)
{
    return cutFromLines(m_rest, count, [this]() -> QByteArray {
        constexpr double Pi = 3.14159265358979323846;
        const double sine = std::sin(2 * Pi * static_cast<double>(m_line % 100) / 100.0);
        // A small linear congruential step: repeatable noise, the same at every run.
        m_noise = m_noise * 6364136223846793005ULL + 1442695040888963407ULL;
        const double noise = static_cast<double>(m_noise >> 40) / double(1 << 24) - 0.5;
        const QByteArray line =
            "sine:" + QByteArray::number(sine, 'f', 3) +
            ",ramp:" + QByteArray::number(static_cast<qulonglong>(m_line % 100)) +
            ",noise:" + QByteArray::number(noise, 'f', 2) +
            ",count:" + QByteArray::number(static_cast<qulonglong>(m_line)) + "\r\n";
        ++m_line;
        return line;
    });
}

QByteArray RandomStream::next(qsizetype count)
{
    QByteArray out(count, Qt::Uninitialized);
    for (qsizetype i = 0; i < count; ++i) {
        if (m_wordBytesLeft == 0) {
            // splitmix64: tiny, fast and good enough for line noise; eight bytes per step.
            std::uint64_t z = (m_state += 0x9E3779B97F4A7C15ULL);
            z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
            z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
            m_word = z ^ (z >> 31);
            m_wordBytesLeft = 8;
        }
        out[i] = static_cast<char>(m_word & 0xFF);
        m_word >>= 8;
        --m_wordBytesLeft;
    }
    return out;
}

} // namespace kirt::vdev
