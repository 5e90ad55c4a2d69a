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
    m_log.clear();
    m_flushed = 0;
    m_path = path;
    m_file.setFileName(path);
    if (!m_file.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        m_error = m_file.errorString();
        return false;
    }
    m_file.close();
    return openForAppend();
}

bool LogFile::openForAppend()
{
    // Unbuffered: each flush reaches the system when it is written, not at some later point.
    // Appending: entries land at the end even if someone else shortened the file meanwhile.
    if (!m_file.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Unbuffered)) {
        m_error = m_file.errorString();
        return false;
    }
    return true;
}

void LogFile::add(const QString& text)
{
    if (m_file.isOpen())
        m_log += text.toLatin1();
}

bool LogFile::flush()
{
    if (!m_file.isOpen())
        return fail(m_error.isEmpty() ? QStringLiteral("The log file is not open.") : m_error);
    if (fileReplaced())
        return writeAgain();
    if (m_flushed == m_log.size())
        return true;
    const qint64 count = m_log.size() - m_flushed;
    const qint64 done = m_file.write(m_log.constData() + m_flushed, count);
    if (done != count)
        return fail(m_file.errorString());
    m_flushed = m_log.size();
    m_written += done;
    return true;
}

bool LogFile::append(const QString& text)
{
    add(text);
    return flush();
}

bool LogFile::writeAgain()
{
    m_file.close();
    m_file.setFileName(m_path);
    if (!m_file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return fail(m_file.errorString());
    const qint64 done = m_file.write(m_log);
    if (done != m_log.size() || !m_file.flush())
        return fail(m_file.errorString());
    m_file.close();
    if (!openForAppend())
        return fail(m_error);
    m_written += m_log.size() - m_flushed;
    m_flushed = m_log.size();
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

bool LogFile::fileReplaced() const
{
#ifdef Q_OS_UNIX
    // Writes to a deleted file succeed and vanish with it; writes to a file no longer at the
    // path go where nobody looks. Either way the path must get the log again.
    struct stat open
    {
    };
    struct stat atPath
    {
    };
    if (::fstat(m_file.handle(), &open) != 0)
        return false;
    if (open.st_nlink == 0)
        return true;
    if (::stat(QFile::encodeName(m_path).constData(), &atPath) != 0)
        return true;
    return open.st_dev != atPath.st_dev || open.st_ino != atPath.st_ino;
#else
    return false;
#endif
}

} // namespace kirt
