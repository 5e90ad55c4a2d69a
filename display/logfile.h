#pragma once

#include "base/platform.h"

#include <QByteArray>
#include <QString>

namespace kirt {

// The file of the real-time log. Entries are collected and handed to the system together at
// each flush, so the file is complete up to the last flush even if the program ends
// abruptly, and a logged byte costs the same however long the log has grown. The file holds
// the log text byte for byte (one character is one byte of ISO-8859-1).
//
// Nothing is kept in memory beyond the entries of one flush. A file removed by someone else
// while logging is made again at its path, a regular file put in its place is replaced by the
// complete log, both copied from the descriptor still open on the old file (whose contents
// stay readable after a removal). Anything else put at the path (a link, a FIFO, a folder, a
// device) ends the log: nothing is written to it or through it. No open or write ever waits.
class LogFile
{
public:
    LogFile() = default;
    ~LogFile() { stop(); }
    LogFile(const LogFile&) = delete;
    LogFile& operator=(const LogFile&) = delete;

    // Creates the file or empties an existing one. False, with errorString(), on failure.
    bool start(const QString& path);
    // Collects text for the next flush.
    void add(const QString& text);
    // Writes what was collected. False when the log could not be written whole, also not
    // again at its path; the file is then closed and errorString() says why.
    bool flush();
    // add, then flush.
    bool append(const QString& text);
    void stop();

    bool isOpen() const { return m_file.isOpen(); }
    QString path() const { return m_path; }
    QString errorString() const { return m_error; }
    // Bytes of log text written since start.
    qint64 written() const { return m_written; }

private:
    bool fail(const QString& reason);
    bool fileReplaced() const;
    bool remake();
    bool copyInto(platform::FileHandle& to);
    void use(platform::FileHandle file);

    platform::FileHandle m_file;
    platform::FileId m_id; // the open file, to know it again at the path
    QString m_path;        // as the user chose it
    QString m_name;        // the file it names (a link chosen by the user is followed once)
    QString m_error;
    QByteArray m_pending; // entries since the last flush
    qint64 m_written = 0;
};

} // namespace kirt
