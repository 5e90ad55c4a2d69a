#include "transmit/textfile.h"

#include <QIODevice>
#include <QTemporaryFile>

#include <algorithm>
#include <cstring>

namespace kirt {

QStringList SplitTextLines(const QString& text)
{
    QStringList lines;
    qsizetype start = 0;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text[i];
        if (c != u'\r' && c != u'\n')
            continue;
        lines << text.mid(start, i - start);
        if (c == u'\r' && i + 1 < text.size() && text[i + 1] == u'\n')
            ++i;
        start = i + 1;
    }
    if (start < text.size())
        lines << text.mid(start);
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
    : m_device(&device), m_width(std::max(width, 1)), m_chunkSize(std::max<qsizetype>(chunkSize, 1))
{
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

bool TextRowReader::takeBreak()
{
    const char c = m_chunk[m_pos];
    if (c != '\r' && c != '\n')
        return false;
    ++m_pos;
    m_pendingCr = c == '\r';
    return true;
}

bool TextRowReader::next(QByteArray* row)
{
    if (row)
        row->clear();
    if (!available())
        return false;
    if (m_pendingCr) {
        m_pendingCr = false;
        if (m_chunk[m_pos] == '\n') {
            ++m_pos;
            if (!available())
                return false;
        }
    }
    qsizetype taken = 0;
    while (available()) {
        const char* from = m_chunk.constData() + m_pos;
        const auto span =
            static_cast<std::size_t>(std::min(m_width - taken, m_chunk.size() - m_pos));
        // The nearer of the two break characters ends the row.
        const void* lf = std::memchr(from, '\n', span);
        const auto* cr = static_cast<const char*>(std::memchr(from, '\r', span));
        const char* end = static_cast<const char*>(lf);
        if (!end || (cr && cr < end))
            end = cr;
        const qsizetype length = end ? end - from : static_cast<qsizetype>(span);
        if (row)
            row->append(from, length);
        m_pos += length;
        taken += length;
        if (end)
            return takeBreak();
        if (taken == m_width) {
            // A break right after a full piece ends the line, not a further empty row.
            if (available())
                takeBreak();
            return true;
        }
    }
    // The text ends inside this row (or could not be read further: failed() tells).
    return true;
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
