#include "serial/termiosport.h"

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
#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace kirt {

namespace {

using Clock = std::chrono::steady_clock;

struct SpeedCode
{
    std::uint32_t rate;
    speed_t code;
};

constexpr std::array<SpeedCode, 29> SpeedCodes{{
    {50, B50},           {75, B75},           {110, B110},         {150, B150},
    {200, B200},         {300, B300},         {600, B600},         {1200, B1200},
    {1800, B1800},       {2400, B2400},       {4800, B4800},       {9600, B9600},
    {19200, B19200},     {38400, B38400},     {57600, B57600},     {115200, B115200},
    {230400, B230400},   {460800, B460800},   {500000, B500000},   {576000, B576000},
    {921600, B921600},   {1000000, B1000000}, {1152000, B1152000}, {1500000, B1500000},
    {2000000, B2000000}, {2500000, B2500000}, {3000000, B3000000}, {3500000, B3500000},
    {4000000, B4000000},
}};

bool speedCode(std::uint32_t rate, speed_t& code)
{
    for (const SpeedCode& entry : SpeedCodes) {
        if (entry.rate == rate) {
            code = entry.code;
            return true;
        }
    }
    return false;
}

QString systemText(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

// The group that owns the device, so the hint names the group that actually grants access.
QString owningGroup(const QString& devicePath)
{
    struct stat info
    {
    };
    if (::stat(QFile::encodeName(devicePath).constData(), &info) != 0)
        return {};
    std::vector<char> scratch(4096);
    struct group entry
    {
    };
    struct group* found = nullptr;
    if (::getgrgid_r(info.st_gid, &entry, scratch.data(), scratch.size(), &found) != 0 ||
        found == nullptr)
        return {};
    return QString::fromLocal8Bit(found->gr_name);
}

SerialStatus failure(SerialError error, int osError, QString hint = {})
{
    SerialStatus status;
    status.error = error;
    status.osError = osError;
    status.reason = osError != 0 ? systemText(osError) : QString();
    status.hint = std::move(hint);
    return status;
}

SerialStatus refused(SerialError error, QString reason)
{
    SerialStatus status;
    status.error = error;
    status.reason = std::move(reason);
    return status;
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
    case EPERM: {
        QString group = owningGroup(devicePath);
        if (group.isEmpty() || group == QLatin1String("root"))
            group = QStringLiteral("dialout");
        return failure(SerialError::PermissionDenied, osError,
                       QStringLiteral("Add your user to the group '%1' (sudo usermod -aG %1 "
                                      "$USER) and log in again.")
                           .arg(group));
    }
    case EBUSY:
    case EWOULDBLOCK:
        return failure(SerialError::Busy, osError,
                       QStringLiteral("Another program is using the device."));
    default:
        return failure(SerialError::Other, osError);
    }
}

SerialStatus notASerialDevice()
{
    return refused(SerialError::NotASerialDevice,
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

bool baudRateSupported(std::uint32_t baudRate)
{
    speed_t code = 0;
    if (speedCode(baudRate, code))
        return true;
    return baudRate != 0 && arbitrarySpeedAvailable();
}

namespace {

// Each helper below owns one concern of the line state: it clears its own bits, sets what
// the settings ask for, and says why when it cannot.

bool setDataBits(termios& state, std::uint8_t dataBits, QString& refusal)
{
    tcflag_t size = 0;
    switch (dataBits) {
    case 5:
        size = CS5;
        break;
    case 6:
        size = CS6;
        break;
    case 7:
        size = CS7;
        break;
    case 8:
        size = CS8;
        break;
    default:
        refusal =
            QStringLiteral("%1 data bits are not available on this system").arg(int{dataBits});
        return false;
    }
    state.c_cflag &= ~tcflag_t{CSIZE};
    state.c_cflag |= size;
    return true;
}

bool setStopBits(termios& state, std::uint8_t stopBits, QString& refusal)
{
    switch (stopBits) {
    case 0:
        state.c_cflag &= ~tcflag_t{CSTOPB};
        return true;
    case 2:
        state.c_cflag |= CSTOPB;
        return true;
    case 1:
        refusal = QStringLiteral("1.5 stop bits are not available on this system");
        return false;
    default:
        refusal = QStringLiteral("unknown stop bits setting %1").arg(int{stopBits});
        return false;
    }
}

bool setParity(termios& state, std::uint8_t parityChoice, QString& refusal)
{
    tcflag_t parity = 0;
    switch (parityChoice) {
    case 0:
        break;
    case 1:
        parity = PARENB | PARODD;
        break;
    case 2:
        parity = PARENB;
        break;
    case 3: // mark: stick parity, always 1
        parity = PARENB | CMSPAR | PARODD;
        break;
    case 4: // space: stick parity, always 0
        parity = PARENB | CMSPAR;
        break;
    default:
        refusal = QStringLiteral("unknown parity setting %1").arg(int{parityChoice});
        return false;
    }
    state.c_cflag &= ~tcflag_t{PARENB | PARODD | CMSPAR};
    state.c_cflag |= parity;
    return true;
}

bool setFlowControl(termios& state, FlowControl flow, QString& refusal)
{
    state.c_cflag &= ~CRTSCTS;
    state.c_iflag &= ~tcflag_t{IXON};
    switch (flow) {
    case FlowControl::None:
        // Input flow control stays as the device had it.
        return true;
    case FlowControl::Hardware:
        state.c_cflag |= CRTSCTS;
        state.c_iflag &= ~tcflag_t{IXOFF};
        return true;
    case FlowControl::Software:
        state.c_iflag |= IXON | IXOFF;
        state.c_iflag &= ~tcflag_t{IXANY};
        state.c_cc[VSTART] = 0x11; // DC1
        state.c_cc[VSTOP] = 0x13;  // DC3
        return true;
    }
    refusal = QStringLiteral("unknown flow control setting %1").arg(static_cast<int>(flow));
    return false;
}

// True when the rate has a speed constant; otherwise the speed bits stay as they were and
// the rate is set afterwards.
bool setSpeedCode(termios& state, std::uint32_t baudRate)
{
    speed_t code = 0;
    if (!speedCode(baudRate, code))
        return false;
    ::cfsetispeed(&state, code);
    ::cfsetospeed(&state, code);
    return true;
}

} // namespace

TermiosBuild buildTermios(const termios& current, const ComSettings& settings)
{
    TermiosBuild build;
    build.baudRate = settings.baudRate;

    termios state = current;
    ::cfmakeraw(&state);
    state.c_cflag |= CLOCAL | CREAD;
    state.c_cc[VMIN] = 1;
    state.c_cc[VTIME] = 0;
    if (!setDataBits(state, settings.dataBits, build.refusal) ||
        !setStopBits(state, settings.stopBits, build.refusal) ||
        !setParity(state, settings.parity, build.refusal) ||
        !setFlowControl(state, settings.flowControl, build.refusal))
        return build;

    if (!baudRateSupported(settings.baudRate)) {
        build.refusal =
            QStringLiteral("%1 baud is not available on this system").arg(settings.baudRate);
        return build;
    }
    build.customBaud = !setSpeedCode(state, settings.baudRate);

    build.state = state;
    build.ok = true;
    return build;
}

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

    const int wakeFd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (wakeFd < 0) {
        const int error = errno;
        ::ioctl(fd, TIOCNXCL);
        ::close(fd);
        return systemFailure(Step::WakeUp, error);
    }

    {
        const std::lock_guard lock(m_ioMutex);
        m_fd = fd;
        m_wakeFd = wakeFd;
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
        return refused(SerialError::SetStateFailed, build.refusal);

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
        return refused(SerialError::SetStateFailed,
                       QStringLiteral("the device did not take the requested data bits, "
                                      "parity or stop bits"));
    const bool sameFlow = (actual.c_cflag & CRTSCTS) == (asked.c_cflag & CRTSCTS) &&
                          (actual.c_iflag & (IXON | IXOFF)) == (asked.c_iflag & (IXON | IXOFF)) &&
                          actual.c_cc[VSTART] == asked.c_cc[VSTART] &&
                          actual.c_cc[VSTOP] == asked.c_cc[VSTOP];
    if (!sameFlow)
        return refused(SerialError::SetStateFailed,
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
        return refused(SerialError::SetStateFailed,
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

        std::array<pollfd, 2> watched{{{m_fd, POLLIN, 0}, {m_wakeFd, POLLIN, 0}}};
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
            std::uint64_t count = 0;
            [[maybe_unused]] const ssize_t drained = ::read(m_wakeFd, &count, sizeof count);
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
    wakeReader();
}

void TermiosPort::wakeReader()
{
    const std::uint64_t one = 1;
    [[maybe_unused]] const ssize_t written = ::write(m_wakeFd, &one, sizeof one);
}

void TermiosPort::close()
{
    if (!isOpen())
        return;
    // Neither tcflush nor close wakes a thread blocked in poll: the eventfd does, and the
    // closing flag makes sure the reader does not go back into poll.
    m_closing.store(true);
    wakeReader();

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
    ::close(m_wakeFd);
    m_fd = -1;
    m_wakeFd = -1;
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
