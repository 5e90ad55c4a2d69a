#include "display/logfile.h"

#ifdef Q_OS_UNIX
#include <sys/stat.h>
#endif

namespace kirt {

bool LogFile::start(const QString& path)
{
    stop();
    m_error.clear();
    m_written = 0;
    m_path = path;
    m_file.setFileName(path);
    if (!m_file.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        m_error = m_file.errorString();
        return false;
    }
    m_file.close();
    // Unbuffered: each entry reaches the system when it is written, not at some later flush.
    // Appending: entries land at the end even if someone else shortened the file meanwhile.
    if (!m_file.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Unbuffered)) {
        m_error = m_file.errorString();
        return false;
    }
    return true;
}

bool LogFile::append(const QString& text)
{
    if (!m_file.isOpen())
        return fail(m_error.isEmpty() ? QStringLiteral("The log file is not open.") : m_error);
    const QByteArray bytes = text.toLatin1();
    if (!bytes.isEmpty()) {
        const qint64 done = m_file.write(bytes);
        if (done != bytes.size())
            return fail(m_file.errorString());
        m_written += done;
    }
    if (fileRemoved())
        return fail(QStringLiteral("The log file was removed."));
    return true;
}

void LogFile::stop()
{
    if (m_file.isOpen())
        m_file.close();
}

bool LogFile::fail(const QString& reason)
{
    m_error = reason.isEmpty() ? QStringLiteral("Unknown error") : reason;
    stop();
    return false;
}

bool LogFile::fileRemoved() const
{
#ifdef Q_OS_UNIX
    // Writes to a deleted file succeed and vanish with it; its link count tells.
    struct stat info
    {
    };
    return ::fstat(m_file.handle(), &info) == 0 && info.st_nlink == 0;
#else
    return false;
#endif
}

} // namespace kirt
