#include "display/logfile.h"

#ifdef Q_OS_UNIX
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <array>

namespace kirt {

bool LogFile::start(const QString& path)
{
    stop();
    m_error.clear();
    m_written = 0;
    m_pending.clear();
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
    // Readable: a file removed meanwhile is copied back from this descriptor.
    if (!m_file.open(QIODevice::ReadWrite | QIODevice::Append | QIODevice::Unbuffered)) {
        m_error = m_file.errorString();
        return false;
    }
    return true;
}

void LogFile::add(const QString& text)
{
    if (m_file.isOpen())
        m_pending += text.toLatin1();
}

bool LogFile::flush()
{
    if (!m_file.isOpen())
        return fail(m_error.isEmpty() ? QStringLiteral("The log file is not open.") : m_error);
    if (fileReplaced() && !remake())
        return false;
    if (m_pending.isEmpty())
        return true;
    const qint64 count = m_pending.size();
    const qint64 done = m_file.write(m_pending.constData(), count);
    m_pending.resize(0);
    if (done != count)
        return fail(m_file.errorString());
    m_written += done;
    return true;
}

bool LogFile::append(const QString& text)
{
    add(text);
    return flush();
}

bool LogFile::remake()
{
#ifdef Q_OS_UNIX
    // What was logged is still there behind the open descriptor: copy it to a new file at the
    // path, a block at a time, then go on appending there.
    QFile fresh(m_path);
    if (!fresh.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return fail(fresh.errorString());
    std::array<char, 64 * 1024> block{};
    off_t at = 0;
    for (;;) {
        const ssize_t got = ::pread(m_file.handle(), block.data(), block.size(), at);
        if (got < 0)
            return fail(m_file.errorString());
        if (got == 0)
            break;
        if (fresh.write(block.data(), got) != got)
            return fail(fresh.errorString());
        at += got;
    }
    if (!fresh.flush())
        return fail(fresh.errorString());
    fresh.close();
    m_file.close();
    m_file.setFileName(m_path);
    if (!openForAppend())
        return fail(m_error);
#endif
    return true;
}

void LogFile::stop()
{
    m_pending.clear();
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
