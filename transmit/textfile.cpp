#include "transmit/textfile.h"

#include <QIODevice>
#include <QTemporaryFile>

#include <algorithm>
#include <limits>
#include <utility>

namespace kirt {

QStringList SplitTextLines(const QString& text)
{
    // Lines are rows too wide ever to wrap.
    RowSplitter rows(std::numeric_limits<int>::max());
    QStringList lines;
    QString line;
    bool open = false;
    for (qsizetype pos = 0; pos < text.size();) {
        const RowSplitter::Piece piece = rows.next(text.constData() + pos, text.size() - pos);
        line += QStringView(text).mid(pos, piece.length);
        open = open || piece.length > 0;
        pos += piece.consumed;
        if (piece.end == RowSplitter::End::Line) {
            lines << std::exchange(line, QString());
            open = false;
        }
    }
    if (open)
        lines << line;
    return lines;
}

QByteArray TextFileBytes(const QString& text)
{
    QByteArray bytes;
    bytes.reserve(text.size() + text.size() / 8 + 2);
    for (const QString& line : SplitTextLines(text)) {
        bytes += line.toLatin1();
        bytes += "\r\n";
    }
    return bytes;
}

QString WithDefaultSuffix(const QString& path, const QString& suffix)
{
    const qsizetype slash = path.lastIndexOf(u'/');
    const QString name = path.mid(slash + 1);
    if (name.isEmpty() || name.contains(u'.'))
        return path;
    return path + u'.' + suffix;
}

// TextRowReader

TextRowReader::TextRowReader(QIODevice& device, int width, qsizetype chunkSize)
    : m_device(&device), m_rows(width), m_chunkSize(std::max<qsizetype>(chunkSize, 1))
{
    // These rows are the pieces that go on the wire, each a fixed width whatever the text.
    m_rows.setWordWrap(false);
}

bool TextRowReader::available()
{
    if (m_pos < m_chunk.size())
        return true;
    if (m_failed)
        return false;
    m_chunk.resize(m_chunkSize);
    const qint64 got = m_device->read(m_chunk.data(), m_chunkSize);
    m_chunk.resize(static_cast<qsizetype>(std::max<qint64>(got, 0)));
    m_pos = 0;
    if (got < 0)
        m_failed = true;
    return got > 0;
}

bool TextRowReader::next(QByteArray* row)
{
    if (row)
        row->clear();
    // Each call gives a whole row, so the next one starts empty even where the text ended.
    m_rows.setRowLength(0);
    bool started = false;
    while (available()) {
        const char* from = m_chunk.constData() + m_pos;
        const RowSplitter::Piece piece = m_rows.next(from, m_chunk.size() - m_pos);
        if (piece.end == RowSplitter::End::Wrap)
            return true;
        if (row)
            row->append(from, piece.length);
        m_pos += piece.consumed;
        if (piece.end == RowSplitter::End::Line)
            return true;
        started = started || piece.length > 0;
    }
    // The text ends inside this row (or could not be read further: failed() tells).
    return started;
}

std::optional<qint64> CountTextRows(QIODevice& device, int width)
{
    TextRowReader reader(device, width);
    qint64 rows = 0;
    while (reader.next(nullptr))
        ++rows;
    if (reader.failed())
        return std::nullopt;
    return rows;
}

// FileTransmit

FileTransmit::FileTransmit() = default;
FileTransmit::~FileTransmit() = default;

bool FileTransmit::start(std::unique_ptr<QIODevice> source)
{
    m_error.clear();
    if (!source || source->isSequential()) {
        m_error = QStringLiteral("Not a regular file");
        return false;
    }
    const std::optional<qint64> count =
        source->seek(0) ? CountTextRows(*source, MaxLineLength) : std::nullopt;
    if (!count || !source->seek(0)) {
        m_error = source->errorString();
        return false;
    }
    m_source = std::move(source);
    // A tick needs one line; a small chunk also shows a change to the file soon.
    m_reader = std::make_unique<TextRowReader>(*m_source, MaxLineLength, 4096);
    m_count = *count;
    m_index = 0;
    m_active = true;
    readLine();
    return true;
}

bool FileTransmit::keepContent()
{
    if (!m_active || !m_source)
        return true;
    auto copy = std::make_unique<QTemporaryFile>();
    if (!copy->open())
        return false;
    // The reader has read the source up to its position; the rest goes into the copy.
    const qint64 from = m_source->pos();
    QByteArray chunk(64 * 1024, Qt::Uninitialized);
    qint64 got = 0;
    while ((got = m_source->read(chunk.data(), chunk.size())) > 0) {
        if (copy->write(chunk.constData(), got) != got)
            break;
    }
    if (got != 0 || !copy->seek(0)) {
        m_source->seek(from);
        return false;
    }
    m_reader->setDevice(*copy);
    m_source = std::move(copy);
    return true;
}

void FileTransmit::clear()
{
    m_reader.reset();
    m_source.reset();
    m_line.clear();
    m_index = 0;
    m_count = 0;
    m_active = false;
}

void FileTransmit::readLine()
{
    m_line.clear();
    if (m_index >= m_count)
        return;
    if (!m_reader->next(&m_line)) {
        // The file is shorter than it was when counted: what is left is the closing tick.
        m_index = m_count;
        m_line.clear();
    }
}

QByteArray FileTransmit::currentTick() const
{
    QByteArray bytes;
    if (m_active)
        bytes = m_line;
    bytes += "\r\n";
    return bytes;
}

bool FileTransmit::advance()
{
    if (!m_active)
        return false;
    ++m_index;
    if (m_index > m_count) {
        // Done: the file is let go at once, the figures stay for a look.
        m_reader.reset();
        m_source.reset();
        m_line.clear();
        m_active = false;
        return false;
    }
    readLine();
    return true;
}

} // namespace kirt
