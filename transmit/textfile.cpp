#include "transmit/textfile.h"

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

void FileTransmit::start(const QString& fileText)
{
    m_lines.clear();
    for (const QString& line : SplitTextLines(fileText)) {
        if (line.size() <= MaxLineLength) {
            m_lines << line;
            continue;
        }
        for (qsizetype from = 0; from < line.size(); from += MaxLineLength)
            m_lines << line.mid(from, MaxLineLength);
    }
    m_index = 0;
    m_active = true;
}

void FileTransmit::clear()
{
    m_lines.clear();
    m_index = 0;
    m_active = false;
}

QByteArray FileTransmit::currentTick() const
{
    QByteArray bytes;
    if (m_active && m_index < m_lines.size())
        bytes = m_lines[m_index].toLatin1();
    bytes += "\r\n";
    return bytes;
}

bool FileTransmit::advance()
{
    if (!m_active)
        return false;
    ++m_index;
    if (m_index > m_lines.size())
        m_active = false;
    return m_active;
}

} // namespace kirt
