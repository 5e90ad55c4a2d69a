#include "vdev/ptymaster.h"

#include <QFile>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

namespace kirt::vdev {

namespace {

QString failure(const char* step)
{
    return QStringLiteral("%1: %2").arg(QLatin1String(step),
                                        QString::fromLocal8Bit(std::strerror(errno)));
}

} // namespace

PtyMaster::~PtyMaster()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

bool PtyMaster::open(QString* error)
{
    const int fd = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        *error = failure("posix_openpt");
        return false;
    }
    char name[128] = {};
    if (::grantpt(fd) != 0 || ::unlockpt(fd) != 0 || ::ptsname_r(fd, name, sizeof name) != 0) {
        *error = failure("pseudo-terminal set-up");
        ::close(fd);
        return false;
    }
    // Opened and closed once: raw for whoever opens it next, and from now on a closed slave
    // shows as a hang-up on the master.
    const int slave = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK);
    if (slave < 0) {
        *error = failure(name);
        ::close(fd);
        return false;
    }
    termios state{};
    if (::tcgetattr(slave, &state) == 0) {
        ::cfmakeraw(&state);
        ::tcsetattr(slave, TCSANOW, &state);
    }
    ::close(slave);
    m_fd = fd;
    m_slavePath = QFile::decodeName(name);
    return true;
}

bool PtyMaster::peerOpen() const
{
    pollfd entry{m_fd, 0, 0};
    while (::poll(&entry, 1, 0) < 0)
        if (errno != EINTR)
            return false;
    return (entry.revents & (POLLHUP | POLLERR | POLLNVAL)) == 0;
}

qsizetype PtyMaster::read(char* buffer, qsizetype size)
{
    ssize_t got;
    do
        got = ::read(m_fd, buffer, static_cast<std::size_t>(size));
    while (got < 0 && errno == EINTR);
    return got > 0 ? got : -1;
}

qsizetype PtyMaster::write(const char* bytes, qsizetype size)
{
    ssize_t put;
    do
        put = ::write(m_fd, bytes, static_cast<std::size_t>(size));
    while (put < 0 && errno == EINTR);
    return put > 0 ? put : -1;
}

} // namespace kirt::vdev
