#pragma once

#include <QFile>
#include <QString>

namespace kirt {

// The file of the real-time log. Every entry is appended and handed to the system at once, so
// the file is complete up to the last logged byte even if the program ends abruptly, and a
// logged byte costs the same however long the log has grown. The file holds the log text
// byte for byte (one character is one byte of ISO-8859-1).
class LogFile
{
public:
    LogFile() = default;
    LogFile(const LogFile&) = delete;
    LogFile& operator=(const LogFile&) = delete;

    // Creates the file or empties an existing one. False, with errorString(), on failure.
    bool start(const QString& path);
    // False when the text could not be written whole or the file was removed meanwhile (the
    // text would go nowhere); the file is then closed and errorString() says why.
    bool append(const QString& text);
    void stop();

    bool isOpen() const { return m_file.isOpen(); }
    QString path() const { return m_path; }
    QString errorString() const { return m_error; }
    // Bytes written since start.
    qint64 written() const { return m_written; }

private:
    bool fail(const QString& reason);
    bool fileRemoved() const;

    QFile m_file;
    QString m_path;
    QString m_error;
    qint64 m_written = 0;
};

} // namespace kirt
