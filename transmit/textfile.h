#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

namespace kirt {

// Text files as the program reads and writes them: one byte is one character of ISO-8859-1,
// whatever the file holds.

// The lines of a text: CR LF, a lone LF and a lone CR each end a line; a line break at the
// very end starts no further line, so an empty text has no lines.
QStringList SplitTextLines(const QString& text);

// A text written as a file: every line, the last one included, ends in CR LF.
QByteArray TextFileBytes(const QString& text);

// A name typed without an extension gets the default one ("HEX" gives "name.HEX").
QString WithDefaultSuffix(const QString& path, const QString& suffix);

// The lines of a file being sent. A file of N lines goes out in N + 1 ticks: each of the first
// N sends its line and CR LF, the last sends CR LF alone. Lines longer than MaxLineLength are
// sent in pieces, each followed by CR LF.
class FileTransmit
{
public:
    static constexpr int MaxLineLength = 198;

    // Replaces whatever was being sent.
    void start(const QString& fileText);
    void clear();

    // A tick is due: the transmit started and has not sent its closing CR LF yet.
    bool active() const { return m_active; }
    int lineIndex() const { return m_index; }
    int lineCount() const { return static_cast<int>(m_lines.size()); }

    // The bytes of the current tick: its line (empty one past the last) and CR LF.
    QByteArray currentTick() const;
    // Moves to the next tick; false once the tick that sends CR LF alone has passed.
    bool advance();

private:
    QStringList m_lines;
    int m_index = 0;
    bool m_active = false;
};

} // namespace kirt
