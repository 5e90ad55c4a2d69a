#include "serial/tcpconnect.h"

#include <condition_variable>
#include <cstring>
#include <memory>
#include <mutex>
#include <thread>

#include <cerrno>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace kirt {

namespace {

using Clock = std::chrono::steady_clock;

// getaddrinfo cannot be given a deadline, so it runs on a thread of its own; when the
// deadline passes first, the thread finishes on its own and its answer is dropped.
struct Lookup
{
    std::mutex mutex;
    std::condition_variable done;
    bool finished = false;
    int result = 0;
    int osError = 0;
    addrinfo* addresses = nullptr;

    ~Lookup()
    {
        if (addresses != nullptr)
            ::freeaddrinfo(addresses);
    }
};

QString systemText(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

int millisecondsUntil(Clock::time_point deadline)
{
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
    return left.count() > 0 ? static_cast<int>(left.count()) : 0;
}

void setOption(int fd, int level, int name, int value)
{
    // Tuning only: a system without one of these still carries the bytes.
    ::setsockopt(fd, level, name, &value, sizeof value);
}

void tune(int fd)
{
    // A serial line drains slowly: a queue of megabytes in the system, which it grows to by
    // itself, would hold minutes of bytes that no purge takes back and hide a stalled port
    // from the writer.
    setOption(fd, SOL_SOCKET, SO_SNDBUF, SendBufferBytes);
    setOption(fd, SOL_SOCKET, SO_RCVBUF, ReceiveBufferBytes);
    setOption(fd, IPPROTO_TCP, TCP_NODELAY, 1);
    setOption(fd, SOL_SOCKET, SO_KEEPALIVE, 1);
    setOption(fd, IPPROTO_TCP, TCP_KEEPIDLE, KeepAliveIdleS);
    setOption(fd, IPPROTO_TCP, TCP_KEEPINTVL, KeepAliveIntervalS);
    setOption(fd, IPPROTO_TCP, TCP_KEEPCNT, KeepAliveProbeCount);
    setOption(fd, IPPROTO_TCP, TCP_USER_TIMEOUT, static_cast<int>(UnackedLimitMs));
}

// One address within the deadline: the socket, or -1 with errno set.
// Waits are cut into slices this long, so a cancel is seen soon.
constexpr std::chrono::milliseconds CancelSlice{20};

bool isCancelled(const std::atomic<bool>* cancelled)
{
    return cancelled && cancelled->load();
}

int connectOne(const addrinfo& address, Clock::time_point deadline,
               const std::atomic<bool>* cancelled)
{
    const int fd = ::socket(address.ai_family, address.ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC,
                            address.ai_protocol);
    if (fd < 0)
        return -1;
    if (::connect(fd, address.ai_addr, address.ai_addrlen) != 0 && errno != EINPROGRESS) {
        const int error = errno;
        ::close(fd);
        errno = error;
        return -1;
    }
    for (;;) {
        pollfd watched{fd, POLLOUT, 0};
        const int ready =
            ::poll(&watched, 1, millisecondsUntil(std::min(deadline, Clock::now() + CancelSlice)));
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready == 0 && isCancelled(cancelled)) {
            ::close(fd);
            errno = ECANCELED;
            return -1;
        }
        if (ready == 0 && Clock::now() < deadline)
            continue;
        int error = ready == 0 ? ETIMEDOUT : errno;
        if (ready > 0) {
            socklen_t size = sizeof error;
            if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &size) != 0)
                error = errno;
        }
        if (ready > 0 && error == 0)
            return fd;
        ::close(fd);
        errno = error;
        return -1;
    }
}

QString where(const NetworkAddress& address)
{
    return address.host.contains(u':')
               ? QStringLiteral("[%1]:%2").arg(address.host).arg(address.port)
               : QStringLiteral("%1:%2").arg(address.host).arg(address.port);
}

} // namespace

TcpConnection connectTcp(const NetworkAddress& address, std::chrono::milliseconds timeout,
                         const std::atomic<bool>* cancelled)
{
    const Clock::time_point deadline = Clock::now() + timeout;
    TcpConnection connection;

    auto lookup = std::make_shared<Lookup>();
    const QByteArray host = address.host.toUtf8();
    const QByteArray service = QByteArray::number(address.port);
    std::thread([lookup, host, service] {
        addrinfo hints{};
        hints.ai_family = AF_UNSPEC;
        hints.ai_socktype = SOCK_STREAM;
        hints.ai_flags = AI_NUMERICSERV;
        addrinfo* found = nullptr;
        const int result = ::getaddrinfo(host.constData(), service.constData(), &hints, &found);
        const int osError = errno;
        const std::lock_guard lock(lookup->mutex);
        lookup->result = result;
        lookup->osError = osError;
        lookup->addresses = found;
        lookup->finished = true;
        lookup->done.notify_all();
    }).detach();

    std::unique_lock lock(lookup->mutex);
    const auto found = [&lookup] { return lookup->finished; };
    while (!found() && !isCancelled(cancelled) && Clock::now() < deadline)
        lookup->done.wait_until(lock, std::min(deadline, Clock::now() + CancelSlice), found);
    if (!found() && isCancelled(cancelled)) {
        connection.status =
            SerialStatus::failed(SerialError::Other, QStringLiteral("cancelled"), ECANCELED);
        return connection;
    }
    if (!found()) {
        connection.status = SerialStatus::failed(
            SerialError::NotFound, QStringLiteral("looking up %1 took too long").arg(address.host),
            ETIMEDOUT, QStringLiteral("Check the host name and the name service."));
        return connection;
    }
    if (lookup->result != 0) {
        const bool system = lookup->result == EAI_SYSTEM;
        const QString text = system ? systemText(lookup->osError)
                                    : QString::fromLocal8Bit(::gai_strerror(lookup->result));
        connection.status = SerialStatus::failed(
            SerialError::NotFound, QStringLiteral("%1: %2").arg(address.host, text),
            system ? lookup->osError : 0, QStringLiteral("Check the host name."));
        return connection;
    }

    int lastError = ETIMEDOUT;
    for (const addrinfo* entry = lookup->addresses; entry != nullptr; entry = entry->ai_next) {
        const int fd = connectOne(*entry, deadline, cancelled);
        if (fd >= 0) {
            tune(fd);
            connection.fd = fd;
            return connection;
        }
        lastError = errno;
        if (millisecondsUntil(deadline) == 0 || lastError == ECANCELED)
            break;
    }

    QString hint;
    SerialError error = SerialError::NotFound;
    switch (lastError) {
    case ECONNREFUSED:
        hint = QStringLiteral("Check that the server runs and listens on port %1 of %2.")
                   .arg(address.port)
                   .arg(address.host);
        break;
    case ETIMEDOUT:
    case ENETUNREACH:
    case EHOSTUNREACH:
        hint = QStringLiteral("Check the address and that %1 can be reached from here.")
                   .arg(address.host);
        break;
    case EACCES:
    case EPERM:
        error = SerialError::PermissionDenied;
        hint = QStringLiteral("A firewall rule of this machine may refuse the connection.");
        break;
    default:
        error = SerialError::Other;
        break;
    }
    connection.status = SerialStatus::failed(
        error, QStringLiteral("%1: %2").arg(where(address), systemText(lastError)), lastError,
        hint);
    return connection;
}

} // namespace kirt
