#include "serial/networkport.h"

#include "serial/rfc2217settings.h"
#include "serial/tcpconnect.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include <linux/sockios.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace kirt {

namespace {

using telnet::ComCommand;
using telnet::ComControl;

int millisecondsUntil(std::chrono::steady_clock::time_point deadline)
{
    const auto left =
        std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    return left.count() > 0 ? static_cast<int>(left.count()) : 0;
}

SerialStatus notOpen()
{
    return SerialStatus::failed(SerialError::NotOpen, QString::fromLocal8Bit(std::strerror(EBADF)),
                                EBADF);
}

} // namespace

NetworkPort::~NetworkPort()
{
    close();
}

SerialStatus NetworkPort::open(const QString& devicePath)
{
    if (isOpen())
        close();
    const NetworkAddressParse parsed = parseNetworkAddress(devicePath);
    if (!parsed.ok)
        return SerialStatus::failed(SerialError::NotFound, parsed.refusal, 0,
                                    QStringLiteral("Write the address as rfc2217://HOST:PORT or "
                                                   "tcp://HOST:PORT."));

    const TcpConnection connection = connectTcp(parsed.address, m_timing.connect, &m_cancelled);
    if (connection.fd < 0)
        return connection.status;
    ReadWakeUp wakeUp;
    if (const int error = wakeUp.open(); error != 0) {
        ::close(connection.fd);
        return SerialStatus::failed(SerialError::Other,
                                    QString::fromLocal8Bit(std::strerror(error)), error);
    }

    {
        const std::scoped_lock lock(m_readMutex, m_writeMutex, m_stateMutex);
        m_address = parsed.address;
        m_fd = connection.fd;
        m_wake = wakeUp;
        m_decoder.reset();
        m_rxQueue.clear();
        m_rxHead = 0;
        m_lastHeard = Clock::now();
        m_probeSentAt.reset();
        m_txPending.clear();
        m_txHead = 0;
        m_txBacklog.store(false);
        m_dropReason.clear();
        m_negotiation = {};
        m_replies = {};
        m_modemState.reset();
        m_hasLines = false;
    }
    m_closing.store(false);
    m_lost.store(false);
    m_dropped.store(false);
    m_purgeAsked.store(false);
    m_open.store(true);
    if (m_cancelled.load()) {
        // Cancelled while it connected: the close found nothing open yet.
        close();
        return SerialStatus::failed(SerialError::Other, QStringLiteral("cancelled"), ECANCELED);
    }
    if (telnet()) {
        telnet::Bytes start;
        {
            const std::lock_guard lock(m_stateMutex);
            start = m_negotiation.start();
        }
        send(start);
    }
    return {};
}

SerialStatus NetworkPort::readState()
{
    // The far port's state is only known through the replies to applyState.
    return isOpen() ? SerialStatus{} : notOpen();
}

SerialStatus NetworkPort::applyState(const ComSettings& settings)
{
    if (!isOpen())
        return notOpen();
    m_readTimeoutMs.store(settings.readTimeoutMs);
    if (!telnet())
        return {};

    const telnet::SettingsRequest request = telnet::settingsRequest(settings);
    if (request.bytes.empty())
        return SerialStatus::failed(SerialError::SetStateFailed, request.refusal);

    const Clock::time_point negotiated = Clock::now() + m_timing.answer;
    if (!waitForServer([this] { return m_negotiation.localSettled(telnet::OptionComPort); },
                       negotiated))
        return SerialStatus::failed(
            SerialError::SetStateFailed,
            m_lost.load() ? lossText()
                          : QStringLiteral("the server did not answer the request for "
                                           "serial port control (RFC 2217)"));
    {
        const std::lock_guard lock(m_stateMutex);
        if (!m_negotiation.local(telnet::OptionComPort))
            return SerialStatus::failed(
                SerialError::SetStateFailed,
                QStringLiteral("the server does not offer serial port control "
                               "(RFC 2217); use tcp:// for the bytes alone"));
        // Only replies to this request count.
        m_replies = {};
    }
    send(request.bytes);

    const bool answered = waitForServer([this] { return telnet::settingsAnswered(m_replies); },
                                        Clock::now() + m_timing.answer);
    if (m_lost.load())
        return SerialStatus::failed(SerialError::SetStateFailed, lossText());
    const std::lock_guard lock(m_stateMutex);
    // A server refuses a setting by leaving it unanswered while it answers the rest; one that
    // answered nothing at all was late.
    const bool silent = std::none_of(m_replies.begin(), m_replies.end(),
                                     [](const auto& reply) { return reply.has_value(); });
    if (!answered && silent)
        return SerialStatus::failed(
            SerialError::SetStateFailed,
            QStringLiteral("the server did not answer the line settings in time "
                           "(%1 ms)")
                .arg(m_timing.answer.count()));
    const QString refusal = telnet::settingsRefusal(settings, m_replies);
    if (!refusal.isEmpty())
        return SerialStatus::failed(SerialError::SetStateFailed, refusal);
    return {};
}

bool NetworkPort::waitForServer(const std::function<bool()>& answered, Clock::time_point deadline)
{
    // Short slices, so an answer read by the receive thread is seen soon after.
    constexpr std::chrono::milliseconds Slice{20};
    for (;;) {
        {
            const std::lock_guard lock(m_stateMutex);
            if (answered())
                return true;
        }
        const Clock::time_point now = Clock::now();
        if (now >= deadline || m_lost.load() || m_closing.load() || m_cancelled.load())
            return false;
        const Clock::time_point until = std::min(deadline, now + Slice);
        std::unique_lock reading(m_readMutex, std::try_to_lock);
        const std::size_t held = reading.owns_lock() ? m_rxQueue.size() - m_rxHead : 0;
        if (reading.owns_lock() && held < MaxHeldWhileWaiting) {
            // Decoding never makes more bytes than it reads, so the bound holds.
            std::array<std::uint8_t, 4096> buffer{};
            const std::size_t room = std::min(buffer.size(), MaxHeldWhileWaiting - held);
            const int got = receiveLocked(buffer.data(), room, until);
            if (got > 0)
                m_rxQueue.insert(m_rxQueue.end(), buffer.begin(), buffer.begin() + got);
        } else {
            if (reading.owns_lock())
                reading.unlock();
            std::unique_lock lock(m_stateMutex);
            m_stateChanged.wait_until(lock, until, answered);
        }
    }
}

int NetworkPort::readChunkWithin(std::uint8_t* buffer, std::size_t capacity, std::uint32_t waitMs)
{
    if (buffer == nullptr || capacity == 0)
        return -1;
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(waitMs);
    const std::lock_guard lock(m_readMutex);
    for (;;) {
        if (m_fd < 0 || m_closing.load())
            return -1;
        if (m_rxHead < m_rxQueue.size()) {
            // Taken from the front without moving the rest: each byte is copied once.
            const std::size_t n = std::min(capacity, m_rxQueue.size() - m_rxHead);
            std::copy_n(m_rxQueue.data() + m_rxHead, n, buffer);
            m_rxHead += n;
            if (m_rxHead == m_rxQueue.size()) {
                m_rxQueue.clear();
                m_rxHead = 0;
            }
            return static_cast<int>(n);
        }
        if (m_lost.load())
            return -1;
        const int got = receiveLocked(buffer, capacity, deadline);
        if (got == Woken)
            return m_closing.load() ? -1 : 0;
        if (got != 0)
            return got;
        if (Clock::now() >= deadline)
            return 0;
    }
}

int NetworkPort::receiveLocked(std::uint8_t* out, std::size_t capacity, Clock::time_point deadline)
{
    for (;;) {
        if (m_dropped.load())
            return lostLocked();
        Clock::time_point wakeAt = deadline;
        if (telnet() && !stillAliveLocked(Clock::now(), wakeAt))
            return lostLocked();

        const short outgoing = m_txBacklog.load() ? POLLOUT : 0;
        std::array<pollfd, 2> watched{
            {{m_fd, static_cast<short>(POLLIN | outgoing), 0}, {m_wake.fd(), POLLIN, 0}}};
        const int ready = ::poll(watched.data(), watched.size(), millisecondsUntil(wakeAt));
        if (ready < 0) {
            if (errno == EINTR)
                continue;
            return -1;
        }
        if ((watched[1].revents & POLLIN) != 0) {
            // A close leaves the wake-up pending, so every later read fails at once too.
            if (m_closing.load())
                return -1;
            m_wake.drain();
            if (m_purgeAsked.exchange(false))
                discardLocked();
            return Woken;
        }
        if ((watched[0].revents & POLLOUT) != 0) {
            const std::lock_guard writing(m_writeMutex);
            flushPendingLocked();
        }
        if ((watched[0].revents & (POLLIN | POLLHUP | POLLERR)) != 0) {
            const ssize_t got = ::recv(m_fd, out, capacity, MSG_DONTWAIT);
            if (got > 0) {
                // Acknowledged at once: a server that holds its next small segment until the
                // last is acknowledged (Nagle) would otherwise wait for our delayed ACK, up to
                // 40 ms, and a request from the device with it. The option does not stick.
                const int quick = 1;
                ::setsockopt(m_fd, IPPROTO_TCP, TCP_QUICKACK, &quick, sizeof quick);
                m_lastHeard = Clock::now();
                m_probeSentAt.reset();
                const std::size_t count = static_cast<std::size_t>(got);
                return static_cast<int>(telnet() ? decodeLocked(out, count) : count);
            }
            if (got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR))
                continue;
            // The server closed the connection, reset it, or the keep-alive gave up on it.
            return lostLocked();
        }
        if ((watched[0].revents & POLLNVAL) != 0)
            return lostLocked();
        if (ready == 0 && Clock::now() >= deadline)
            return 0;
    }
}

int NetworkPort::lostLocked()
{
    m_lost.store(true);
    const std::lock_guard lock(m_stateMutex);
    m_stateChanged.notify_all();
    return -1;
}

bool NetworkPort::stillAliveLocked(Clock::time_point now, Clock::time_point& wakeAt)
{
    {
        const std::lock_guard lock(m_stateMutex);
        if (!m_negotiation.local(telnet::OptionComPort))
            return true; // nothing to ask before the server takes the option
    }
    if (m_probeSentAt) {
        const Clock::time_point giveUp = *m_probeSentAt + m_timing.probeAnswer;
        if (now >= giveUp)
            return false;
        wakeAt = std::min(wakeAt, giveUp);
        return true;
    }
    // While our bytes wait for the peer, a question would queue behind them: a far port held
    // by its flow control may take minutes. The system's own time-out for unacknowledged
    // data watches that case; the line counts as quiet only once everything went out.
    int unacked = 0;
    if (m_txBacklog.load() || (::ioctl(m_fd, SIOCOUTQ, &unacked) == 0 && unacked > 0))
        m_lastHeard = now;
    const Clock::time_point probeAt = m_lastHeard + m_timing.quietProbe;
    if (now < probeAt) {
        wakeAt = std::min(wakeAt, probeAt);
        return true;
    }
    // The current rate is the one question every server answers; a telnet NOP would prove
    // nothing, as nothing answers it.
    send(telnet::setBaudRate(0));
    m_probeSentAt = now;
    wakeAt = std::min(wakeAt, now + m_timing.probeAnswer);
    return true;
}

std::size_t NetworkPort::decodeLocked(std::uint8_t* bytes, std::size_t count)
{
    m_events.clear();
    const std::size_t data = m_decoder.decode(bytes, count, bytes, m_events);
    if (m_events.empty())
        return data;

    telnet::Bytes answers;
    {
        const std::lock_guard lock(m_stateMutex);
        for (const telnet::Event& event : m_events) {
            switch (event.kind) {
            case telnet::Event::Kind::Negotiation: {
                const telnet::Bytes answer = m_negotiation.receive(event.verb, event.code);
                answers.insert(answers.end(), answer.begin(), answer.end());
                break;
            }
            case telnet::Event::Kind::Subnegotiation:
                if (const auto reply = telnet::comReply(event)) {
                    if (reply->command == ComCommand::NotifyModemState) {
                        m_modemState = static_cast<std::uint8_t>(reply->value);
                    } else {
                        m_hasLines = m_hasLines || telnet::showsModemLines(*reply);
                        telnet::recordReply(m_replies, *reply);
                    }
                }
                break;
            case telnet::Event::Kind::Command:
                break; // NOP, go-ahead and the like carry nothing for us
            }
        }
        m_stateChanged.notify_all();
    }
    if (!answers.empty())
        send(answers);
    return data;
}

void NetworkPort::discardLocked()
{
    m_rxQueue.clear();
    m_rxHead = 0;
    // What the socket holds now was read from the far port before its purge.
    std::array<std::uint8_t, 4096> buffer{};
    for (;;) {
        const ssize_t got = ::recv(m_fd, buffer.data(), buffer.size(), MSG_DONTWAIT);
        if (got <= 0)
            return;
        if (telnet())
            decodeLocked(buffer.data(), static_cast<std::size_t>(got));
    }
}

void NetworkPort::send(const telnet::Bytes& bytes)
{
    const std::lock_guard lock(m_writeMutex);
    if (m_fd < 0 || m_dropped.load())
        return;
    // What went out leaves the front once it is half the queue, so the queue holds about what
    // waits, at a cost linear in what passes through.
    if (m_txHead > 0 && 2 * m_txHead >= m_txPending.size()) {
        m_txPending.erase(m_txPending.begin(),
                          m_txPending.begin() + static_cast<std::ptrdiff_t>(m_txHead));
        m_txHead = 0;
    }
    m_txPending.insert(m_txPending.end(), bytes.begin(), bytes.end());
    if (!flushPendingLocked() && m_txPending.size() - m_txHead > MaxUnsent)
        dropLocked(QStringLiteral("the server does not read what Kirt sends it (%1 bytes wait)")
                       .arg(m_txPending.size() - m_txHead));
}

void NetworkPort::dropLocked(const QString& reason)
{
    // The reader sees the flag at its next turn; the shutdown ends a poll it waits in.
    m_dropReason = reason;
    m_dropped.store(true);
    m_lost.store(true);
    ::shutdown(m_fd, SHUT_RDWR);
    m_txPending.clear();
    m_txHead = 0;
    m_txBacklog.store(false);
}

QString NetworkPort::dropReason() const
{
    const std::lock_guard lock(m_writeMutex);
    return m_dropReason;
}

QString NetworkPort::lossText() const
{
    const QString reason = dropReason();
    return reason.isEmpty() ? QStringLiteral("the connection was closed") : reason;
}

bool NetworkPort::flushPendingLocked()
{
    while (m_txHead < m_txPending.size()) {
        const ssize_t sent = ::send(m_fd, m_txPending.data() + m_txHead,
                                    m_txPending.size() - m_txHead, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (sent > 0) {
            m_txHead += static_cast<std::size_t>(sent);
            continue;
        }
        if (sent < 0 && errno == EINTR)
            continue;
        if (sent < 0 && errno != EAGAIN && errno != EWOULDBLOCK)
            writeFailed(errno);
        m_txBacklog.store(true);
        return false;
    }
    m_txPending.clear();
    m_txHead = 0;
    m_txBacklog.store(false);
    return true;
}

void NetworkPort::writeFailed(int error)
{
    // The reader finds the same a moment later; saying so now keeps the writer from waiting.
    if (error == EPIPE || error == ECONNRESET || error == ETIMEDOUT || error == ENOTCONN ||
        error == EHOSTUNREACH || error == ENETUNREACH)
        m_lost.store(true);
}

std::size_t NetworkPort::sendData(const std::uint8_t* bytes, std::size_t count)
{
    if (!telnet()) {
        for (;;) {
            const ssize_t sent = ::send(m_fd, bytes, count, MSG_NOSIGNAL | MSG_DONTWAIT);
            if (sent >= 0)
                return static_cast<std::size_t>(sent);
            if (errno == EINTR)
                continue;
            if (errno != EAGAIN && errno != EWOULDBLOCK)
                writeFailed(errno);
            return 0;
        }
    }

    // Escaped a block at a time; a doubled IAC that the socket takes only half of is taken
    // as written, its second half kept for the next write.
    constexpr std::size_t Block = 16384;
    std::vector<std::uint8_t> encoded;
    encoded.reserve(2 * Block);
    std::size_t taken = 0;
    while (taken < count) {
        const std::size_t n = std::min(Block, count - taken);
        encoded.clear();
        telnet::appendEscaped(encoded, bytes + taken, n);
        ssize_t sent = -1;
        do
            sent = ::send(m_fd, encoded.data(), encoded.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
        while (sent < 0 && errno == EINTR);
        if (sent < 0) {
            if (errno != EAGAIN && errno != EWOULDBLOCK)
                writeFailed(errno);
            return taken;
        }
        if (static_cast<std::size_t>(sent) == encoded.size()) {
            taken += n;
            continue;
        }
        std::size_t position = 0;
        std::size_t i = 0;
        while (position < static_cast<std::size_t>(sent)) {
            position += bytes[taken + i] == telnet::Iac ? 2 : 1;
            ++i;
        }
        if (position > static_cast<std::size_t>(sent)) {
            m_txPending.push_back(telnet::Iac);
            m_txBacklog.store(true);
        }
        return taken + i;
    }
    return taken;
}

std::size_t NetworkPort::writeAvailable(const std::uint8_t* bytes, std::size_t count)
{
    if (!isOpen() || m_lost.load() || bytes == nullptr)
        return 0;
    const std::lock_guard lock(m_writeMutex);
    if (!flushPendingLocked())
        return 0;
    return sendData(bytes, count);
}

std::size_t NetworkPort::writeBytes(const std::uint8_t* bytes, std::size_t count)
{
    if (!isOpen() || bytes == nullptr)
        return 0;
    std::size_t done = 0;
    Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(WriteWaitMs);
    while (done < count && !m_lost.load()) {
        const std::size_t written = writeAvailable(bytes + done, count - done);
        if (written > 0) {
            done += written;
            deadline = Clock::now() + std::chrono::milliseconds(WriteWaitMs);
            continue;
        }
        pollfd room{m_fd, POLLOUT, 0};
        const int ready = ::poll(&room, 1, millisecondsUntil(deadline));
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready <= 0 || (room.revents & POLLOUT) == 0)
            break;
    }
    return done;
}

void NetworkPort::purge()
{
    if (!isOpen())
        return;
    if (telnet())
        send(telnet::purgeData(telnet::ComPurge::Both));
    {
        // Dropped here when no read is pending; otherwise by the reader, woken for it.
        std::unique_lock reading(m_readMutex, std::try_to_lock);
        if (reading.owns_lock())
            discardLocked();
        else
            m_purgeAsked.store(true);
    }
    m_wake.wake();
}

void NetworkPort::cancelOpen()
{
    m_cancelled.store(true);
    close();
}

void NetworkPort::close()
{
    if (!isOpen())
        return;
    m_closing.store(true);
    m_wake.wake();
    {
        const std::lock_guard lock(m_stateMutex);
        m_stateChanged.notify_all();
    }
    const std::scoped_lock lock(m_readMutex, m_writeMutex);
    closeDescriptors();
    m_open.store(false);
}

void NetworkPort::closeDescriptors()
{
    ::shutdown(m_fd, SHUT_RDWR);
    ::close(m_fd);
    m_wake.close();
    m_fd = -1;
    m_txPending.clear();
    m_txHead = 0;
    m_txBacklog.store(false);
    m_rxQueue.clear();
    m_rxHead = 0;
}

bool NetworkPort::isOpen() const
{
    return m_open.load();
}

std::uint32_t NetworkPort::readTimeoutMs() const
{
    return m_readTimeoutMs.load();
}

SerialStatus NetworkPort::setModemLine(ModemLine line, bool on)
{
    if (!isOpen())
        return notOpen();
    // A raw connection has no lines, which is not an error, as for a pseudo-terminal.
    if (telnet()) {
        const ComControl control = line == ModemLine::Dtr
                                       ? (on ? ComControl::DtrOn : ComControl::DtrOff)
                                       : (on ? ComControl::RtsOn : ComControl::RtsOff);
        send(telnet::setControl(control));
    }
    return {};
}

SerialStatus NetworkPort::setBreak(bool on)
{
    if (!isOpen())
        return notOpen();
    if (!telnet())
        return SerialStatus::failed(
            SerialError::SetStateFailed,
            QStringLiteral("a raw TCP connection cannot send a break; use rfc2217://"));
    send(telnet::setControl(on ? ComControl::BreakOn : ComControl::BreakOff));
    return {};
}

ModemStatus NetworkPort::modemStatus()
{
    ModemStatus result;
    if (!isOpen() || !telnet())
        return result;
    const std::lock_guard lock(m_stateMutex);
    // Only a server that reports the lines and answers for them has them to show.
    if (!m_modemState || !m_hasLines)
        return result;
    const std::uint8_t bits = *m_modemState;
    result.available = true;
    result.cts = (bits & telnet::ModemCts) != 0;
    result.dsr = (bits & telnet::ModemDsr) != 0;
    result.dcd = (bits & telnet::ModemCd) != 0;
    result.ri = (bits & telnet::ModemRi) != 0;
    return result;
}

bool NetworkPort::deviceLost() const
{
    return m_lost.load();
}

} // namespace kirt
