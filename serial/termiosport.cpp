#include "serial/termiosport.h"

#include "serial/deviceholders.h"
#include "serial/setspeed.h"

#include <QFile>

#include <array>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <utility>
#include <vector>

#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace kirt {

namespace {

using Clock = std::chrono::steady_clock;

QString systemText(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

// "crw-rw----", as ls writes the mode of a node.
QString modeText(mode_t mode)
{
    QString text = S_ISCHR(mode)   ? QStringLiteral("c")
                   : S_ISDIR(mode) ? QStringLiteral("d")
                                   : QStringLiteral("-");
    const char* letters = "rwx";
    for (int bit = 8; bit >= 0; --bit)
        text += (mode & (1U << bit)) ? QLatin1Char(letters[(8 - bit) % 3]) : QLatin1Char('-');
    return text;
}

} // namespace

// Who may open the device, so the hint names the owner, the group and the mode that decide,
// and the group to join only where joining it grants access.
QString permissionHint(const QString& devicePath)
{
    struct stat info
    {
    };
    if (::stat(QFile::encodeName(devicePath).constData(), &info) != 0)
        return {};
    std::vector<char> scratch(16384);
    struct passwd user
    {
    };
    struct passwd* owner = nullptr;
    const QString ownerName =
        ::getpwuid_r(info.st_uid, &user, scratch.data(), scratch.size(), &owner) == 0 && owner
            ? QString::fromLocal8Bit(owner->pw_name)
            : QString::number(info.st_uid);
    struct group entry
    {
    };
    struct group* found = nullptr;
    const QString groupName =
        ::getgrgid_r(info.st_gid, &entry, scratch.data(), scratch.size(), &found) == 0 && found
            ? QString::fromLocal8Bit(found->gr_name)
            : QString::number(info.st_gid);
    QString hint = QStringLiteral("The device belongs to user '%1' and group '%2', mode %3.")
                       .arg(ownerName, groupName, modeText(info.st_mode));
    const bool groupReadsAndWrites = (info.st_mode & (S_IRGRP | S_IWGRP)) == (S_IRGRP | S_IWGRP);
    if (groupReadsAndWrites && found && info.st_gid != 0)
        hint += QStringLiteral(" Add your user to the group '%1' (sudo usermod -aG %1 $USER) and "
                               "log in again.")
                    .arg(groupName);
    else
        hint += QStringLiteral(" Its group cannot open it: ask for access to the device (a udev "
                               "rule that gives it to a group of yours).");
    return hint;
}

namespace {

// A failing call's status: the system's text for its errno as the reason.
SerialStatus failure(SerialError error, int osError, QString hint = {})
{
    return SerialStatus::failed(error, osError != 0 ? systemText(osError) : QString(), osError,
                                std::move(hint));
}

// Where a system call of the backend failed; the same errno means different things in each.
enum class Step {
    Open,     // open, the advisory lock, exclusive use: the answer is about the device itself
    WakeUp,   // the eventfd beside the device
    GetState, // reading the line state
    SetState, // applying the line state, the rate or the modem lines, or reading them back
};

// Every failing call of the backend ends here: the step and errno give the error, the
// system's text and, where the user can do something about it, a hint.
SerialStatus systemFailure(Step step, int osError, const QString& devicePath = {})
{
    switch (step) {
    case Step::WakeUp:
        return failure(SerialError::Other, osError);
    case Step::GetState:
        return failure(SerialError::GetStateFailed, osError,
                       osError == ENOTTY ? QStringLiteral("The path is not a serial device.")
                                         : QString());
    case Step::SetState:
        return failure(SerialError::SetStateFailed, osError);
    case Step::Open:
        break;
    }

    switch (osError) {
    case ENOENT:
    case ENODEV:
    case ENXIO:
    case EIO:
    case ENOTDIR:
        return failure(SerialError::NotFound, osError,
                       QStringLiteral("Check that the device is connected, or map the port to "
                                      "the device it is on."));
    case EACCES:
    case EPERM:
        return failure(SerialError::PermissionDenied, osError, permissionHint(devicePath));
    case EBUSY:
    case EWOULDBLOCK: {
        SerialStatus busy = failure(SerialError::Busy, osError,
                                    QStringLiteral("Another program is using the device."));
        // Which one, when the process table tells; the reason is what a script's line shows.
        if (const QString holder = holderWords(deviceHolders(devicePath)); !holder.isEmpty())
            busy.reason += QStringLiteral(" - ") + holder;
        return busy;
    }
    default:
        return failure(SerialError::Other, osError);
    }
}

SerialStatus notASerialDevice()
{
    return SerialStatus::failed(SerialError::NotASerialDevice,
                                QStringLiteral("The path is not a serial device."));
}

// The multiplexer that makes pseudo-terminals, and the masters of the old scheme: their far
// end is a program, not a device.
bool isTerminalMaster(const struct stat& node)
{
    constexpr unsigned PtyMasterMajor = 2;
    constexpr unsigned TtyAuxMajor = 5;
    constexpr unsigned PtmxMinor = 2;
    const unsigned major = ::major(node.st_rdev);
    return major == PtyMasterMajor || (major == TtyAuxMajor && ::minor(node.st_rdev) == PtmxMinor);
}

int millisecondsUntil(Clock::time_point deadline)
{
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
    return left.count() > 0 ? static_cast<int>(left.count()) : 0;
}

bool unsupportedRequest(int error)
{
    // A request the device does not know: a pseudo-terminal has no modem lines, and a path
    // that is not a terminal has no exclusive flag (reading its state reports that).
    return error == ENOTTY || error == EINVAL || error == ENOTSUP;
}

} // namespace

TermiosPort::~TermiosPort()
{
    close();
}

SerialStatus TermiosPort::open(const QString& devicePath)
{
    if (isOpen())
        close();

    const QByteArray path = QFile::encodeName(devicePath);
    // Only a terminal device is opened: opening anything else may block (a FIFO), act on it,
    // or, for the pseudo-terminal multiplexer, make a new terminal.
    struct stat node = {};
    if (::stat(path.constData(), &node) == 0 && (!S_ISCHR(node.st_mode) || isTerminalMaster(node)))
        return notASerialDevice();
    // Non-blocking, so that a port waiting for carrier cannot hang the open; it stays so,
    // because every wait goes through poll.
    const int fd = ::open(path.constData(), O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0)
        return systemFailure(Step::Open, errno, devicePath);
    unsigned int ptyNumber = 0;
    if (!::isatty(fd) || ::ioctl(fd, TIOCGPTN, &ptyNumber) == 0) {
        ::close(fd);
        return notASerialDevice();
    }

    // The advisory lock first: failing here must not leave our exclusive flag on a device
    // that another program holds.
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int error = errno;
        ::close(fd);
        return systemFailure(Step::Open, error, devicePath);
    }
    if (::ioctl(fd, TIOCEXCL) != 0 && !unsupportedRequest(errno)) {
        const int error = errno;
        ::close(fd);
        return systemFailure(Step::Open, error, devicePath);
    }

    ReadWakeUp wakeUp;
    if (const int error = wakeUp.open(); error != 0) {
        ::ioctl(fd, TIOCNXCL);
        ::close(fd);
        return systemFailure(Step::WakeUp, error);
    }

    {
        const std::lock_guard lock(m_ioMutex);
        m_fd = fd;
        m_wake = wakeUp;
    }
    m_haveSaved = false;
    m_haveCurrent = false;
    m_closing.store(false);
    m_lost.store(false);
    m_open.store(true);
    return {};
}

SerialStatus TermiosPort::readState()
{
    if (!isOpen())
        return failure(SerialError::NotOpen, EBADF);
    termios state{};
    if (::tcgetattr(m_fd, &state) != 0)
        return systemFailure(Step::GetState, errno);
    m_current = state;
    m_haveCurrent = true;
    if (!m_haveSaved) {
        m_saved = state;
        m_haveSaved = true;
    }
    return {};
}

SerialStatus TermiosPort::applyState(const ComSettings& settings)
{
    if (!isOpen())
        return failure(SerialError::NotOpen, EBADF);
    m_readTimeoutMs.store(settings.readTimeoutMs);

    if (!m_haveCurrent) {
        const SerialStatus read = readState();
        if (!read.ok())
            return read;
    }

    const TermiosBuild build = buildTermios(m_current, settings);
    if (!build.ok)
        return SerialStatus::failed(SerialError::SetStateFailed, build.refusal);

    if (::tcsetattr(m_fd, TCSANOW, &build.state) != 0)
        return systemFailure(Step::SetState, errno);
    if (build.customBaud && !setArbitrarySpeed(m_fd, build.baudRate))
        return systemFailure(Step::SetState, errno);

    // tcsetattr succeeds when any part of the request took, so read back what did.
    const SerialStatus verified = verify(build);
    if (!verified.ok())
        return verified;

    int lines = TIOCM_DTR | TIOCM_RTS;
    if (::ioctl(m_fd, TIOCMBIC, &lines) != 0 && !unsupportedRequest(errno))
        return systemFailure(Step::SetState, errno);
    return {};
}

SerialStatus TermiosPort::verify(const TermiosBuild& wanted)
{
    termios actual{};
    if (::tcgetattr(m_fd, &actual) != 0)
        return systemFailure(Step::SetState, errno);

    const termios& asked = wanted.state;
    tcflag_t lineMask = CSIZE | CSTOPB | PARENB;
    if ((asked.c_cflag & PARENB) != 0)
        lineMask |= PARODD | CMSPAR;
    const tcflag_t inputMask =
        IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL | IXON | IXOFF;
    const tcflag_t localMask = ECHO | ECHONL | ICANON | ISIG | IEXTEN;
    const bool sameLine = (actual.c_cflag & lineMask) == (asked.c_cflag & lineMask) &&
                          (actual.c_iflag & inputMask) == (asked.c_iflag & inputMask) &&
                          (actual.c_lflag & localMask) == (asked.c_lflag & localMask) &&
                          (actual.c_oflag & OPOST) == (asked.c_oflag & OPOST) &&
                          actual.c_cc[VMIN] == asked.c_cc[VMIN] &&
                          actual.c_cc[VTIME] == asked.c_cc[VTIME];
    if (!sameLine)
        return SerialStatus::failed(
            SerialError::SetStateFailed,
            QStringLiteral("the device did not take the requested data bits, "
                           "parity or stop bits"));
    const bool sameFlow = (actual.c_cflag & CRTSCTS) == (asked.c_cflag & CRTSCTS) &&
                          (actual.c_iflag & (IXON | IXOFF)) == (asked.c_iflag & (IXON | IXOFF)) &&
                          actual.c_cc[VSTART] == asked.c_cc[VSTART] &&
                          actual.c_cc[VSTOP] == asked.c_cc[VSTOP];
    if (!sameFlow)
        return SerialStatus::failed(
            SerialError::SetStateFailed,
            QStringLiteral("the device did not take the requested flow control"));

    bool sameSpeed = true;
    if (!wanted.customBaud) {
        sameSpeed = ::cfgetospeed(&actual) == ::cfgetospeed(&asked) &&
                    ::cfgetispeed(&actual) == ::cfgetispeed(&asked);
    } else {
        std::uint32_t actualBaud = 0;
        if (!readArbitrarySpeed(m_fd, actualBaud))
            return systemFailure(Step::SetState, errno);
        // A UART reaches an odd rate only through its divisor; a few percent off is what a
        // receiver tolerates, more is a refusal.
        const double ratio = static_cast<double>(actualBaud) / wanted.baudRate;
        sameSpeed = ratio > 0.97 && ratio < 1.03;
    }
    if (!sameSpeed)
        return SerialStatus::failed(
            SerialError::SetStateFailed,
            QStringLiteral("the device did not take %1 baud").arg(wanted.baudRate));
    m_current = actual;
    return {};
}

int TermiosPort::readChunkWithin(std::uint8_t* buffer, std::size_t capacity, std::uint32_t waitMs)
{
    if (buffer == nullptr || capacity == 0)
        return -1;
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(waitMs);

    for (;;) {
        const std::unique_lock lock(m_ioMutex);
        if (m_fd < 0 || m_closing.load())
            return -1;

        std::array<pollfd, 2> watched{{{m_fd, POLLIN, 0}, {m_wake.fd(), POLLIN, 0}}};
        const int ready = ::poll(watched.data(), watched.size(), millisecondsUntil(deadline));
        if (ready < 0) {
            if (errno == EINTR)
                continue;
            return -1;
        }
        if (ready == 0)
            return 0;

        if ((watched[1].revents & POLLIN) != 0) {
            // A close leaves the wake-up pending, so every later read fails at once too.
            if (m_closing.load())
                return -1;
            m_wake.drain();
            return 0;
        }
        if ((watched[0].revents & POLLIN) != 0) {
            const ssize_t got = ::read(m_fd, buffer, capacity);
            if (got > 0)
                return static_cast<int>(got);
            if (got < 0 && (errno == EAGAIN || errno == EINTR))
                continue;
            // End of file on a terminal: the line hung up.
            return failedRead(got == 0 ? EIO : errno);
        }
        if ((watched[0].revents & (POLLERR | POLLHUP | POLLNVAL)) != 0)
            return failedRead((watched[0].revents & POLLNVAL) != 0 ? EBADF : EIO);
    }
}

int TermiosPort::failedRead(int error)
{
    // A hang-up, or the device vanished under the open descriptor: it will not come back on
    // this descriptor, so the reader stops instead of failing over and over.
    if (error == EIO || error == ENXIO || error == ENODEV)
        m_lost.store(true);
    return -1;
}

bool TermiosPort::deviceLost() const
{
    return m_lost.load();
}

std::size_t TermiosPort::writeBytes(const std::uint8_t* bytes, std::size_t count)
{
    if (!isOpen() || bytes == nullptr)
        return 0;
    // Writes have no time-out of their own; this bound only keeps a stuck device from
    // freezing the window. It counts from the last progress, so a long write to a slow
    // line is never cut while the device keeps taking bytes.
    std::size_t done = 0;
    Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(WriteWaitMs);
    while (done < count) {
        const ssize_t written = ::write(m_fd, bytes + done, count - done);
        if (written > 0) {
            done += static_cast<std::size_t>(written);
            deadline = Clock::now() + std::chrono::milliseconds(WriteWaitMs);
            continue;
        }
        if (written < 0 && errno == EINTR)
            continue;
        if (written < 0 && errno == EAGAIN) {
            pollfd room{m_fd, POLLOUT, 0};
            const int ready = ::poll(&room, 1, millisecondsUntil(deadline));
            if (ready < 0 && errno == EINTR)
                continue;
            if (ready <= 0 || (room.revents & POLLOUT) == 0)
                break;
            continue;
        }
        break;
    }
    return done;
}

std::size_t TermiosPort::writeAvailable(const std::uint8_t* bytes, std::size_t count)
{
    if (!isOpen() || bytes == nullptr)
        return 0;
    std::size_t done = 0;
    while (done < count) {
        const ssize_t written = ::write(m_fd, bytes + done, count - done);
        if (written > 0)
            done += static_cast<std::size_t>(written);
        else if (!(written < 0 && errno == EINTR))
            break; // full (EAGAIN) or failing: the caller tries again later
    }
    return done;
}

SerialStatus TermiosPort::setModemLine(ModemLine line, bool on)
{
    if (!isOpen())
        return failure(SerialError::NotOpen, EBADF);
    int bits = line == ModemLine::Dtr ? TIOCM_DTR : TIOCM_RTS;
    if (::ioctl(m_fd, on ? TIOCMBIS : TIOCMBIC, &bits) != 0 && !unsupportedRequest(errno))
        return systemFailure(Step::SetState, errno);
    return {};
}

SerialStatus TermiosPort::setBreak(bool on)
{
    if (!isOpen())
        return failure(SerialError::NotOpen, EBADF);
    if (::ioctl(m_fd, on ? TIOCSBRK : TIOCCBRK) != 0)
        return systemFailure(Step::SetState, errno);
    m_breakOn = on;
    return {};
}

ModemStatus TermiosPort::modemStatus()
{
    ModemStatus status;
    int bits = 0;
    if (!isOpen() || ::ioctl(m_fd, TIOCMGET, &bits) != 0)
        return status;
    status.available = true;
    status.cts = (bits & TIOCM_CTS) != 0;
    status.dsr = (bits & TIOCM_DSR) != 0;
    status.dcd = (bits & TIOCM_CAR) != 0;
    status.ri = (bits & TIOCM_RNG) != 0;
    return status;
}

void TermiosPort::purge()
{
    if (!isOpen())
        return;
    ::tcflush(m_fd, TCIOFLUSH);
    m_wake.wake();
}

void TermiosPort::close()
{
    if (!isOpen())
        return;
    // Neither tcflush nor close wakes a thread blocked in poll: the eventfd does, and the
    // closing flag makes sure the reader does not go back into poll.
    m_closing.store(true);
    m_wake.wake();

    const std::lock_guard lock(m_ioMutex);
    // A break left on would hold the line at space after the program let go of it.
    if (m_breakOn)
        ::ioctl(m_fd, TIOCCBRK);
    m_breakOn = false;
    if (m_haveSaved)
        ::tcsetattr(m_fd, TCSANOW, &m_saved);
    ::ioctl(m_fd, TIOCNXCL);
    closeDescriptors();
    m_open.store(false);
}

void TermiosPort::closeDescriptors()
{
    ::close(m_fd);
    m_wake.close();
    m_fd = -1;
    m_haveSaved = false;
    m_haveCurrent = false;
}

bool TermiosPort::isOpen() const
{
    return m_open.load();
}

std::uint32_t TermiosPort::readTimeoutMs() const
{
    return m_readTimeoutMs.load();
}

} // namespace kirt
