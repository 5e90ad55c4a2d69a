#include "tests/support/ptydevice.h"

#include "serial/portmap.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QTimer>

#include <cerrno>
#include <cstdlib>

#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

namespace kirt {

PtyDevice::PtyDevice(int comNumber, Mapping mapping)
    : m_comNumber(comNumber), m_mapping(mapping),
      m_variable("KIRT_COM" + QByteArray::number(comNumber))
{
    m_hadPrevious = qEnvironmentVariableIsSet(m_variable.constData());
    if (m_hadPrevious)
        m_previousValue = qgetenv(m_variable.constData());
    if (m_mapping == Mapping::Link)
        qunsetenv(m_variable.constData());
    openPair(true);
}

PtyDevice::~PtyDevice()
{
    closeAll();
    if (m_mapping == Mapping::Link)
        QFile::remove(kirt::portLinkDirectory() + QLatin1Char('/') + portName());
    if (m_hadPrevious)
        qputenv(m_variable.constData(), m_previousValue);
    else
        qunsetenv(m_variable.constData());
}

QString PtyDevice::portName() const
{
    return QStringLiteral("COM%1").arg(m_comNumber);
}

bool PtyDevice::openPair(bool remap)
{
    const int master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master < 0)
        return false;
    char name[128] = {};
    if (::grantpt(master) != 0 || ::unlockpt(master) != 0 ||
        ::ptsname_r(master, name, sizeof name) != 0) {
        ::close(master);
        return false;
    }
    // Raw on the master sets the line the program will find: no echo, no translation.
    termios state{};
    if (::tcgetattr(master, &state) == 0) {
        ::cfmakeraw(&state);
        ::tcsetattr(master, TCSANOW, &state);
    }
    ::fcntl(master, F_SETFL, ::fcntl(master, F_GETFL) | O_NONBLOCK);

    m_slaveHold = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK);
    m_master = master;
    m_slavePath = QFile::decodeName(name);
    if (remap)
        this->remap();
    return true;
}

void PtyDevice::remap()
{
    if (m_mapping == Mapping::Variable) {
        qputenv(m_variable.constData(), QFile::encodeName(m_slavePath));
        return;
    }
    // A new link in one step, as kirt-vdev puts it there: the program never finds it missing.
    const QString folder = kirt::portLinkDirectory();
    QDir().mkpath(folder);
    const QString link = folder + QLatin1Char('/') + portName();
    const QString temporary = link + QStringLiteral(".new");
    QFile::remove(temporary);
    if (QFile::link(m_slavePath, temporary))
        ::rename(QFile::encodeName(temporary).constData(), QFile::encodeName(link).constData());
}

void PtyDevice::closeAll()
{
    if (m_master >= 0)
        ::close(m_master);
    if (m_slaveHold >= 0)
        ::close(m_slaveHold);
    m_master = -1;
    m_slaveHold = -1;
}

bool PtyDevice::send(const QByteArray& bytes, int timeoutMs)
{
    qsizetype done = 0;
    bool failed = false;
    // The terminal's queue holds a few kilobytes; the rest goes in as the program reads,
    // which may need the main thread, so events are served meanwhile.
    const auto writeMore = [&] {
        while (!failed && done < bytes.size()) {
            if (m_master < 0) {
                failed = true;
                break;
            }
            const ssize_t written = ::write(m_master, bytes.constData() + done,
                                            static_cast<std::size_t>(bytes.size() - done));
            if (written > 0)
                done += written;
            else if (written < 0 && errno == EINTR)
                continue;
            else {
                failed = written == 0 || errno != EAGAIN;
                break;
            }
        }
        return failed || done == bytes.size();
    };
    waitUntil(writeMore, timeoutMs);
    return !failed && done == bytes.size();
}

QByteArray PtyDevice::receive(int atLeast, int timeoutMs)
{
    QByteArray got;
    const auto readMore = [&] {
        char buffer[4096];
        ssize_t n = 0;
        while (m_master >= 0 && (n = ::read(m_master, buffer, sizeof buffer)) > 0)
            got.append(buffer, n);
        return got.size() >= atLeast;
    };
    waitUntil(readMore, timeoutMs);
    return got;
}

int PtyDevice::pendingForProgram() const
{
    int queued = 0;
    if (m_slaveHold < 0 || ::ioctl(m_slaveHold, FIONREAD, &queued) != 0)
        return -1;
    return queued;
}

void PtyDevice::closeMaster()
{
    // The slave stays held: its number is not given to another pseudo-terminal (of a test
    // running beside this one) while the program waits for its device to come back.
    if (m_master >= 0)
        ::close(m_master);
    m_master = -1;
}

bool PtyDevice::reopen(bool remap)
{
    closeAll();
    return openPair(remap);
}

bool PtyDevice::waitUntil(const std::function<bool()>& condition, int timeoutMs)
{
    // Unlike a wait that sleeps between checks, the loop here wakes for every posted event,
    // so the receive thread's blocking hand-overs are served as fast as they come.
    const auto met = [&] {
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        return condition();
    };
    if (met())
        return true;
    QEventLoop loop;
    QTimer check;
    check.setInterval(1);
    const QDeadlineTimer deadline(timeoutMs);
    bool result = false;
    QObject::connect(&check, &QTimer::timeout, &loop, [&] {
        result = met();
        if (result || deadline.hasExpired())
            loop.quit();
    });
    check.start();
    loop.exec();
    return result;
}

void PtyDevice::serveEvents(int ms)
{
    waitUntil([] { return false; }, ms);
}

} // namespace kirt
