#include "display/displaytail.h"

#include "base/rowsplitter.h"

#include <QByteArray>
#include <QFile>

#include <algorithm>
#include <cstring>
#include <deque>

namespace kirt {

namespace {

bool isBreak(char c)
{
    return RowSplitter::isBreak(static_cast<unsigned char>(c));
}

// Bytes of a device read from the end towards the start, a chunk at a time.
class BackwardReader
{
public:
    BackwardReader(QIODevice& device, qint64 chunkSize)
        : m_device(device), m_chunkSize(std::max<qint64>(chunkSize, 1))
    {
    }

    bool failed() const { return m_failed; }

    char at(qint64 pos)
    {
        if (!holds(pos) && !load(pos))
            return '\0';
        return m_chunk[static_cast<qsizetype>(pos - m_base)];
    }

    // The position of the last CR or LF before end, or -1 when there is none.
    qint64 lastBreakBefore(qint64 end)
    {
        qint64 pos = end - 1;
        while (pos >= 0) {
            if (!holds(pos) && !load(pos))
                return -1;
            const qint64 found = std::max(lastOf('\n', pos, m_lf), lastOf('\r', pos, m_cr));
            if (found >= 0)
                return found;
            pos = m_base - 1;
        }
        return -1;
    }

    // Where the line break that ends at pos begins: a CR LF pair is one break.
    qint64 breakBegin(qint64 pos)
    {
        if (pos > 0 && at(pos) == '\n' && at(pos - 1) == '\r')
            return pos - 1;
        return pos;
    }

private:
    // A search of the loaded chunk up to `to` that found c last at `at` (-1: nowhere).
    struct Found
    {
        qint64 to = -1;
        qint64 at = -1;
    };

    // The last c at or before pos in the loaded chunk, or -1. Searches go down the chunk, so
    // an earlier one that covered pos answers as long as it found nothing after pos: each
    // byte is searched once per character, however short the lines.
    qint64 lastOf(char c, qint64 pos, Found& memo) const
    {
        if (memo.to >= pos && memo.at <= pos)
            return memo.at;
        const char* data = m_chunk.constData();
        const void* hit = ::memrchr(data, c, static_cast<std::size_t>(pos - m_base + 1));
        memo.to = pos;
        memo.at = hit ? m_base + (static_cast<const char*>(hit) - data) : -1;
        return memo.at;
    }

    bool holds(qint64 pos) const
    {
        return pos >= m_base && pos < m_base + static_cast<qint64>(m_chunk.size());
    }

    // Loads the chunk that ends with pos.
    bool load(qint64 pos)
    {
        const qint64 from = std::max<qint64>(0, pos + 1 - m_chunkSize);
        const qint64 length = pos + 1 - from;
        m_chunk.resize(static_cast<qsizetype>(length));
        m_base = from;
        m_lf = m_cr = Found{};
        if (m_failed || !m_device.seek(from) || m_device.read(m_chunk.data(), length) != length) {
            m_failed = true;
            m_chunk.clear();
            return false;
        }
        return true;
    }

    QIODevice& m_device;
    qint64 m_chunkSize;
    QByteArray m_chunk;
    qint64 m_base = 0;
    Found m_lf;
    Found m_cr;
    bool m_failed = false;
};

// Where the last `keep` rows of the line [start, end) begin, read forward as the display lays
// the line out (words do not split at the edge), and how many rows the line makes.
struct LineRows
{
    qint64 count = 0;
    std::deque<qint64> lastStarts;
};

std::optional<LineRows> rowsOfLongLine(QIODevice& device, qint64 start, qint64 end, int columns,
                                       qint64 keep, qint64 chunkSize)
{
    LineRows rows;
    const auto note = [&](qint64 rowStart) {
        ++rows.count;
        rows.lastStarts.push_back(rowStart);
        if (static_cast<qint64>(rows.lastStarts.size()) > keep)
            rows.lastStarts.pop_front();
    };
    note(start);
    RowSplitter splitter(columns);
    QByteArray chunk;
    for (qint64 pos = start; pos < end;) {
        const qint64 length = std::min(chunkSize, end - pos);
        chunk.resize(static_cast<qsizetype>(length));
        if (!device.seek(pos) || device.read(chunk.data(), length) != length)
            return std::nullopt;
        qsizetype at = 0;
        while (at < chunk.size()) {
            const RowSplitter::Piece piece =
                splitter.next(chunk.constData() + at, chunk.size() - at);
            if (piece.end == RowSplitter::End::Wrap)
                note(pos + at - piece.carried);
            at += piece.consumed;
        }
        pos += length;
    }
    return rows;
}

} // namespace

std::optional<qint64> DisplayTailStart(QIODevice& device, qint64 size, int columns,
                                       std::uint32_t rows, qint64 chunkSize)
{
    if (size <= 0)
        return 0;
    const qint64 width = std::max(columns, 1);
    const qint64 wanted = std::max<qint64>(rows, 1);
    BackwardReader bytes(device, chunkSize);

    // end: where the characters of the line being counted stop.
    qint64 end = size;
    if (isBreak(bytes.at(size - 1)))
        end = bytes.breakBegin(size - 1);
    qint64 counted = 0;
    while (!bytes.failed()) {
        const qint64 previousBreak = bytes.lastBreakBefore(end);
        if (bytes.failed())
            break;
        const qint64 start = previousBreak + 1;
        if (end - start <= width) {
            if (++counted >= wanted)
                return start;
        } else {
            // A long line: its rows depend on where its words fall.
            const auto line = rowsOfLongLine(device, start, end, columns, wanted - counted,
                                             std::max<qint64>(chunkSize, 1));
            if (!line)
                return std::nullopt;
            if (counted + line->count >= wanted)
                return line->lastStarts.front(); // its first rows are the ones not wanted
            counted += line->count;
        }
        if (previousBreak < 0)
            return 0;
        end = bytes.breakBegin(previousBreak);
    }
    return std::nullopt;
}

FileResult ReadDisplayTail(QFile& file, int columns, std::uint32_t rows)
{
    const qint64 size = file.size();
    const std::optional<qint64> start = DisplayTailStart(file, size, columns, rows);
    QByteArray bytes;
    if (start && file.seek(*start))
        bytes = file.read(size - *start);
    FileResult result;
    if (!start || bytes.size() != size - *start) {
        result.failure = FileFailure::Read;
        result.reason = file.errorString();
        return result;
    }
    result.text = QString::fromLatin1(bytes);
    return result;
}

} // namespace kirt
