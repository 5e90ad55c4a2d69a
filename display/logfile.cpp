#include "display/logfile.h"

#include <QFile>
#include <QFileInfo>

#include <array>
#include <cerrno>
#include <cstring>
#include <utility>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace kirt {

namespace {

QString systemError()
{
    return QString::fromLocal8Bit(std::strerror(errno));
}

// Never waits: a device that cannot take a byte, or a FIFO without a reader, fails at once.
constexpr int LogFlags = O_RDWR | O_APPEND | O_NONBLOCK | O_CLOEXEC;

} // namespace

bool LogFile::start(const QString& path)
{
    stop();
    m_error.clear();
    m_written = 0;
    m_pending.clear();
    m_path = path;
    // A link the user chose leads to the file they meant; a link that appears later does not.
    const QFileInfo info(path);
    m_name = QFile::encodeName(info.isSymLink() && info.exists() ? info.canonicalFilePath() : path);
    const int fd = ::open(m_name.constData(), LogFlags | O_CREAT, 0666);
    if (fd < 0)
        return fail(systemError());
    struct stat opened = {};
    if (::fstat(fd, &opened) != 0 || S_ISFIFO(opened.st_mode) || S_ISDIR(opened.st_mode)) {
        ::close(fd);
        return fail(QStringLiteral("It is not a file the log can be written to."));
    }
    // Emptied once it is known to be a regular file; a device chosen as the log is left as is.
    if (S_ISREG(opened.st_mode) && ::ftruncate(fd, 0) != 0) {
        ::close(fd);
        return fail(systemError());
    }
    useDescriptor(fd);
    return true;
}

void LogFile::useDescriptor(int fd)
{
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = fd;
    struct stat opened = {};
    if (::fstat(fd, &opened) == 0) {
        m_device = opened.st_dev;
        m_inode = opened.st_ino;
    }
}

void LogFile::add(const QString& text)
{
    if (isOpen())
        m_pending += text.toLatin1();
}

bool LogFile::flush()
{
    if (!isOpen())
        return fail(m_error.isEmpty() ? QStringLiteral("The log file is not open.") : m_error);
    if (fileReplaced() && !remake())
        return false;
    const QByteArray bytes = std::exchange(m_pending, QByteArray());
    qsizetype done = 0;
    while (done < bytes.size()) {
        const ssize_t n =
            ::write(m_fd, bytes.constData() + done, static_cast<std::size_t>(bytes.size() - done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return fail(n < 0 ? systemError() : QStringLiteral("Nothing could be written."));
        done += n;
    }
    m_written += done;
    return true;
}

bool LogFile::append(const QString& text)
{
    add(text);
    return flush();
}

bool LogFile::copyInto(int fd)
{
    // What was logged is still there behind the open descriptor, a block at a time.
    std::array<char, 64 * 1024> block{};
    off_t at = 0;
    for (;;) {
        const ssize_t got = ::pread(m_fd, block.data(), block.size(), at);
        if (got < 0)
            return fail(systemError());
        if (got == 0)
            return true;
        for (ssize_t put = 0; put < got;) {
            const ssize_t n = ::write(fd, block.data() + put, static_cast<std::size_t>(got - put));
            if (n <= 0)
                return fail(n < 0 ? systemError() : QStringLiteral("Nothing could be written."));
            put += n;
        }
        at += got;
    }
}

bool LogFile::remake()
{
    struct stat atPath = {};
    if (::lstat(m_name.constData(), &atPath) != 0) {
        if (errno != ENOENT)
            return fail(systemError());
        // Removed: a new file at the path, never through a link someone made meanwhile.
        const int fd = ::open(m_name.constData(), LogFlags | O_CREAT | O_EXCL | O_NOFOLLOW, 0666);
        if (fd < 0)
            return fail(systemError());
        if (!copyInto(fd)) {
            ::close(fd);
            return false;
        }
        useDescriptor(fd);
        return true;
    }
    if (!S_ISREG(atPath.st_mode))
        return fail(QStringLiteral("The log file was replaced by something that is not a "
                                   "regular file; nothing was written to it."));
    // Another regular file: the complete log is written beside it and takes its place.
    QByteArray beside = m_name + ".XXXXXX";
    const int fd = ::mkstemp(beside.data());
    if (fd < 0)
        return fail(systemError());
    const mode_t mask = ::umask(0);
    ::umask(mask);
    const bool done = ::fchmod(fd, 0666 & ~mask) == 0 && copyInto(fd) &&
                      ::rename(beside.constData(), m_name.constData()) == 0;
    if (!done) {
        const QString reason = m_error.isEmpty() ? systemError() : m_error;
        ::close(fd);
        ::unlink(beside.constData());
        return fail(reason);
    }
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_APPEND | O_NONBLOCK);
    useDescriptor(fd);
    return true;
}

void LogFile::stop()
{
    m_pending.clear();
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
}

bool LogFile::fail(const QString& reason)
{
    m_error = reason.isEmpty() ? QStringLiteral("Unknown error") : reason;
    stop();
    return false;
}

bool LogFile::fileReplaced() const
{
    // Writes to a deleted file succeed and vanish with it; writes to a file no longer at the
    // path go where nobody looks. Either way the path must get the log again. The path is
    // looked at without following a link, so a link put there is never taken for the log.
    struct stat open = {};
    struct stat atPath = {};
    if (::fstat(m_fd, &open) != 0)
        return false;
    if (open.st_nlink == 0)
        return true;
    if (::lstat(m_name.constData(), &atPath) != 0)
        return true;
    return atPath.st_dev != m_device || atPath.st_ino != m_inode;
}

} // namespace kirt
