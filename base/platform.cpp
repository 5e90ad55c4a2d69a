#include "base/platform.h"

#include <QFile>
#include <QObject>
#include <QSocketNotifier>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>

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

} // namespace

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
