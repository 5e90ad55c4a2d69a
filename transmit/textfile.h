#pragma once

#include "base/rowsplitter.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <memory>
#include <optional>

class QIODevice;

namespace kirt {

// Text files as the program reads and writes them: one byte is one character of ISO-8859-1,
// whatever the file holds.

// The lines of a text, ended as RowSplitter ends rows (CR LF, a lone LF and a lone CR); a line
// break at the very end starts no further line, so an empty text has no lines.
QStringList SplitTextLines(const QString& text);

// A text written as a file: every line, the last one included, ends in CR LF.
QByteArray TextFileBytes(const QString& text);

// A name typed without an extension gets the default one ("HEX" gives "name.HEX").
QString WithDefaultSuffix(const QString& path, const QString& suffix);

// Reads a text from a device one row at a time, holding one chunk of it: a row as RowSplitter
// lays it out `width` characters wide, a line or a piece of one.
class TextRowReader
{
public:
    TextRowReader(QIODevice& device, int width, qsizetype chunkSize = 64 * 1024);

    // The next row without its line break, into *row when given; false at the end of the text
    // or when a read fails.
    bool next(QByteArray* row);
    bool failed() const { return m_failed; }
    // Reads on from another device, which holds what the first one still had to give.
    void setDevice(QIODevice& device) { m_device = &device; }

private:
    bool available();

    QIODevice* m_device;
    RowSplitter m_rows;
    qsizetype m_chunkSize;
    QByteArray m_chunk;
    qsizetype m_pos = 0;
    bool m_failed = false;
};

// The rows of a text: CountTextRows(device, w) is the number of rows TextRowReader gives, read
// in one pass; nullopt when a read fails.
std::optional<qint64> CountTextRows(QIODevice& device, int width);

// A file being sent. A file of N lines goes out in N + 1 ticks: each of the first N sends its
// line and CR LF, the last sends CR LF alone. Lines longer than MaxLineLength are sent in
// pieces, each followed by CR LF. The file stays open and each tick reads its own line, so a
// file of any size costs a chunk of memory; its lines are counted once, at the start.
class FileTransmit
{
public:
    static constexpr int MaxLineLength = 198;

    FileTransmit();
    ~FileTransmit();
    FileTransmit(const FileTransmit&) = delete;
    FileTransmit& operator=(const FileTransmit&) = delete;

    // Replaces whatever was being sent with the text of source, an open device that can go
    // back to its start. False, with errorString(), when it cannot be read; a transmit that was
    // running then goes on.
    bool start(std::unique_ptr<QIODevice> source);
    void clear();
    QString errorString() const { return m_error; }
    // Reads the rest from a private copy made now, so that the file itself may be rewritten
    // (saved over, or made a log) without changing what is sent. False when no copy could be
    // made; the transmit then goes on reading the file.
    bool keepContent();
    // What is being read: the file given to start, or the copy.
    const QIODevice* source() const { return m_source.get(); }

    // A tick is due: the transmit started and has not sent its closing CR LF yet.
    bool active() const { return m_active; }
    qint64 lineIndex() const { return m_index; }
    qint64 lineCount() const { return m_count; }

    // The bytes of the current tick: its line (empty one past the last) and CR LF.
    QByteArray currentTick() const;
    // Moves to the next tick; false once the tick that sends CR LF alone has passed. When the
    // file ends before its counted lines (it shrank meanwhile), the next tick is that last one.
    bool advance();

private:
    void readLine();

    std::unique_ptr<QIODevice> m_source;
    std::unique_ptr<TextRowReader> m_reader;
    QByteArray m_line; // the line of the current tick
    QString m_error;
    qint64 m_index = 0;
    qint64 m_count = 0;
    bool m_active = false;
};

} // namespace kirt
