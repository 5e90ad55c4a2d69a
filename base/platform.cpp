#include "base/platform.h"

#include <QFile>
#include <QObject>
#include <QSocketNotifier>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <utility>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace kirt::platform {

namespace {

QString systemReason()
{
    return QString::fromLocal8Bit(std::strerror(errno));
}

int g_interruptPipe[2] = {-1, -1};

extern "C" void onInterruptSignal(int)
{
    const char byte = 1;
    [[maybe_unused]] const ssize_t written = ::write(g_interruptPipe[1], &byte, 1);
}

FileStatus::Type typeOf(mode_t mode)
{
    using Type = FileStatus::Type;
    if (S_ISREG(mode))
        return Type::Regular;
    if (S_ISDIR(mode))
        return Type::Folder;
    if (S_ISFIFO(mode))
        return Type::Fifo;
    if (S_ISCHR(mode) || S_ISBLK(mode))
        return Type::Device;
    if (S_ISSOCK(mode))
        return Type::Socket;
    if (S_ISLNK(mode))
        return Type::Link;
    return Type::Other;
}

// The outcome of stat, lstat or fstat: 0 or the call's failure with errno set.
FileStatus statusOf(int result, const struct stat& found)
{
    FileStatus status;
    if (result != 0) {
        if (errno != ENOENT && errno != ENOTDIR) {
            status.type = FileStatus::Type::Failed;
            status.error = systemReason();
            status.loop = errno == ELOOP;
        }
        return status;
    }
    status.type = typeOf(found.st_mode);
    status.id = {static_cast<quint64>(found.st_dev), static_cast<quint64>(found.st_ino)};
    status.size = static_cast<qint64>(found.st_size);
    status.links = static_cast<qint64>(found.st_nlink);
    return status;
}

FileStatus descriptorStatus(int fd)
{
    struct stat found = {};
    if (fd < 0) {
        FileStatus status;
        status.type = FileStatus::Type::Failed;
        status.error = QStringLiteral("The file is not open.");
        return status;
    }
    return statusOf(::fstat(fd, &found), found);
}

} // namespace

FileStatus pathStatus(const QString& path, Links links)
{
    const QByteArray name = QFile::encodeName(path);
    struct stat found = {};
    const int result = links == Links::Follow ? ::stat(name.constData(), &found)
                                              : ::lstat(name.constData(), &found);
    return statusOf(result, found);
}

FileStatus fileStatus(const QFile& file)
{
    return descriptorStatus(file.handle());
}

// Never waits: a device that cannot take a byte, or a FIFO without a reader, fails at once.
constexpr int AppendFlags = O_RDWR | O_APPEND | O_NONBLOCK | O_CLOEXEC;

FileHandle FileHandle::openForAppend(const QString& path, Create create)
{
    FileHandle file;
    const int flags = create == Create::OnlyNew ? AppendFlags | O_CREAT | O_EXCL | O_NOFOLLOW
                                                : AppendFlags | O_CREAT;
    file.m_fd = ::open(QFile::encodeName(path).constData(), flags, 0666);
    if (file.m_fd < 0)
        file.failed();
    return file;
}

FileHandle FileHandle::createBeside(const QString& path)
{
    FileHandle file;
    QByteArray beside = QFile::encodeName(path) + ".XXXXXX";
    file.m_fd = ::mkostemp(beside.data(), O_APPEND | O_CLOEXEC);
    if (file.m_fd < 0) {
        file.failed();
        return file;
    }
    file.m_beside = beside;
    // mkstemp makes the file private; it is to be the log as an ordinary new file would be.
    const mode_t mask = ::umask(0);
    ::umask(mask);
    if (::fchmod(file.m_fd, 0666 & ~mask) != 0) {
        file.failed();
        file.close();
    }
    return file;
}

FileHandle::FileHandle(FileHandle&& other) noexcept
    : m_fd(std::exchange(other.m_fd, -1)), m_beside(std::exchange(other.m_beside, QByteArray())),
      m_error(std::exchange(other.m_error, QString()))
{
}

FileHandle& FileHandle::operator=(FileHandle&& other) noexcept
{
    if (this != &other) {
        close();
        m_fd = std::exchange(other.m_fd, -1);
        m_beside = std::exchange(other.m_beside, QByteArray());
        m_error = std::exchange(other.m_error, QString());
    }
    return *this;
}

FileStatus FileHandle::status() const
{
    return descriptorStatus(m_fd);
}

bool FileHandle::truncate()
{
    return ::ftruncate(m_fd, 0) == 0 || failed();
}

qint64 FileHandle::readAt(char* data, qint64 size, qint64 offset)
{
    const ssize_t got = ::pread(m_fd, data, static_cast<size_t>(size), static_cast<off_t>(offset));
    if (got < 0)
        failed();
    return got;
}

bool FileHandle::write(const char* data, qint64 size)
{
    for (qint64 done = 0; done < size;) {
        const ssize_t n = ::write(m_fd, data + done, static_cast<size_t>(size - done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return failed();
        if (n == 0) {
            m_error = QStringLiteral("Nothing could be written.");
            return false;
        }
        done += n;
    }
    return true;
}

bool FileHandle::replace(const QString& path)
{
    if (::rename(m_beside.constData(), QFile::encodeName(path).constData()) != 0)
        return failed();
    m_beside.clear();
    ::fcntl(m_fd, F_SETFL, ::fcntl(m_fd, F_GETFL) | O_NONBLOCK);
    return true;
}

void FileHandle::close()
{
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
    if (!m_beside.isEmpty())
        ::unlink(std::exchange(m_beside, QByteArray()).constData());
}

bool FileHandle::failed()
{
    m_error = systemReason();
    return false;
}

FileBytes readRegularFile(const QString& path, qint64 limit)
{
    FileBytes file;
    const int fd = ::open(QFile::encodeName(path).constData(),
                          O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        file.error = systemReason();
        return file;
    }
    struct stat opened = {};
    if (::fstat(fd, &opened) != 0) {
        file.error = systemReason();
    } else if (!S_ISREG(opened.st_mode)) {
        file.error = QStringLiteral("It is not a regular file.");
    } else {
        file.bytes.resize(static_cast<qsizetype>(limit));
        qsizetype got = 0;
        while (got < file.bytes.size()) {
            const ssize_t n =
                ::read(fd, file.bytes.data() + got, static_cast<size_t>(file.bytes.size() - got));
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0) {
                file.error = systemReason();
                break;
            }
            if (n == 0)
                break;
            got += n;
        }
        file.bytes.truncate(got);
    }
    ::close(fd);
    if (!file.error.isEmpty())
        file.bytes.clear();
    return file;
}

bool watchInterrupts(QObject* owner, std::function<void()> onInterrupt)
{
    if (g_interruptPipe[0] < 0 && ::pipe2(g_interruptPipe, O_CLOEXEC | O_NONBLOCK) != 0)
        return false;
    auto* notifier = new QSocketNotifier(g_interruptPipe[0], QSocketNotifier::Read, owner);
    QObject::connect(notifier, &QSocketNotifier::activated, owner, [call = std::move(onInterrupt)] {
        char drained[16];
        while (::read(g_interruptPipe[0], drained, sizeof drained) > 0) {
        }
        call();
    });
    std::signal(SIGINT, onInterruptSignal);
    std::signal(SIGTERM, onInterruptSignal);
    return true;
}

void stopWatchingInterrupts()
{
    std::signal(SIGINT, SIG_DFL);
    std::signal(SIGTERM, SIG_DFL);
}

std::int64_t residentBytes()
{
    std::FILE* statm = std::fopen("/proc/self/statm", "r");
    if (!statm)
        return 0;
    long long size = 0;
    long long resident = 0;
    const int read = std::fscanf(statm, "%lld %lld", &size, &resident);
    std::fclose(statm);
    return read == 2 ? resident * ::sysconf(_SC_PAGESIZE) : 0;
}

} // namespace kirt::platform
