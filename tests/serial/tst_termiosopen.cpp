// Opening and closing a port: failures, exclusive use, the line state given back on close.
#include "serial/termiosport.h"
#include "tests/support/columns.h"
#include "tests/support/ptyport.h"

#include <QFile>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <thread>

#include <fcntl.h>
#include <grp.h>
#include <signal.h>
#include <spawn.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using kirt::PtyDevice;
using kirt::SerialError;
using kirt::TermiosPort;
using kirt::test::openOver;
using kirt::test::settings8N1;

Q_DECLARE_METATYPE(kirt::SerialError)

namespace {

QString systemText(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

// Another program with the device open: sleep, with the device as its input.
pid_t spawnHolder(int fd)
{
    posix_spawn_file_actions_t actions;
    ::posix_spawn_file_actions_init(&actions);
    ::posix_spawn_file_actions_adddup2(&actions, fd, STDIN_FILENO);
    char sleep[] = "sleep";
    char seconds[] = "60";
    char* argv[] = {sleep, seconds, nullptr};
    pid_t pid = -1;
    const int error = ::posix_spawnp(&pid, "sleep", &actions, nullptr, argv, environ);
    ::posix_spawn_file_actions_destroy(&actions);
    return error == 0 ? pid : -1;
}

} // namespace

class TestTermiosOpen : public QObject
{
    Q_OBJECT

private slots:
    void openFailures_data();
    void openFailures();
    void secondOpenIsBusy();
    void busyOpenNamesTheHolder();
    void exclusiveAgainstPlainOpen();
    void closeRestoresTheLineState();
    void reopenAfterClose();
    void closeWhileAReaderIsBlocked();
    void permissionHintNamesWhatDecides();
};

void TestTermiosOpen::openFailures_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<bool>("atOpen"); // fails at open, else at readState
    kirt::test::columns<SerialError, int>({"error", "osError"});

    QTest::newRow("missing") << "/nonexistent/ttyKIRT" << true << SerialError::NotFound << ENOENT;
    QTest::newRow("empty path") << "" << true << SerialError::NotFound << ENOENT;
    // Never opened, or closed at once: what is not a terminal device, and terminal masters.
    for (const char* path : {"/", "/dev/null", "/dev/ptmx", "@file", "@fifo"})
        QTest::newRow(path) << path << true << SerialError::NotASerialDevice << 0;
    QTest::newRow("no permission") << "@private" << true << SerialError::PermissionDenied << EACCES;
}

void TestTermiosOpen::openFailures()
{
    QFETCH(QString, path);
    QFETCH(bool, atOpen);
    QFETCH(SerialError, error);
    QFETCH(int, osError);

    QTemporaryDir folder;
    if (path == QLatin1String("@private")) {
        if (::geteuid() == 0)
            QSKIP("root opens any file");
        path = folder.path() + QStringLiteral("/ttyPrivate");
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.close();
        QVERIFY(::chmod(QFile::encodeName(path).constData(), 0) == 0);
    }

    if (path == QLatin1String("@file") || path == QLatin1String("@fifo")) {
        const bool file = path == QLatin1String("@file");
        path = folder.path() + QStringLiteral("/ttyNot");
        QVERIFY(file ? QFile(path).open(QIODevice::WriteOnly)
                     : ::mkfifo(QFile::encodeName(path).constData(), 0600) == 0);
    }

    TermiosPort port;
    kirt::SerialStatus status = port.open(path);
    QCOMPARE(status.ok(), !atOpen);
    if (!atOpen) {
        QVERIFY(port.isOpen());
        status = port.readState();
        port.close();
    } else {
        QVERIFY(!port.isOpen());
    }
    QCOMPARE(status.error, error);
    QCOMPARE(status.osError, osError);
    const bool notSerial = error == SerialError::NotASerialDevice;
    QCOMPARE(status.reason,
             notSerial ? QStringLiteral("The path is not a serial device.") : systemText(osError));
    if (error != SerialError::Other && !notSerial)
        QVERIFY(!status.hint.isEmpty());
    if (error == SerialError::PermissionDenied)
        QVERIFY(status.hint.contains(QLatin1String("group")));
}

void TestTermiosOpen::secondOpenIsBusy()
{
    PtyDevice device;
    TermiosPort first;
    QVERIFY(openOver(first, device, settings8N1()));

    TermiosPort second;
    const kirt::SerialStatus status = second.open(device.slavePath());
    QCOMPARE(status.error, SerialError::Busy);
    QVERIFY(!status.reason.isEmpty());
    QVERIFY(!status.hint.isEmpty());
    // The holder is this process, which is never named: nothing more is said.
    QCOMPARE(status.reason, systemText(status.osError));
    QVERIFY(!second.isOpen());

    // Released on close.
    first.close();
    QVERIFY(second.open(device.slavePath()).ok());
}

void TestTermiosOpen::busyOpenNamesTheHolder()
{
    PtyDevice device;
    const int held = ::open(QFile::encodeName(device.slavePath()).constData(),
                            O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK);
    QVERIFY(held >= 0);
    // Locked and exclusive, as a terminal program holds its port; the lock keeps root out too.
    QVERIFY(::flock(held, LOCK_EX | LOCK_NB) == 0);
    QVERIFY(::ioctl(held, TIOCEXCL) == 0);
    std::vector<pid_t> holders;
    const auto release = qScopeGuard([&] {
        ::close(held);
        for (const pid_t pid : holders) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, nullptr, 0);
        }
    });
    // The device's own name and a link to it, as a by-id name is.
    QTemporaryDir folder;
    const QString link = folder.path() + QStringLiteral("/usb-Maker_Device-if00");
    QVERIFY(QFile::link(device.slavePath(), link));
    for (const char* more : {"", ", and 1 other"}) {
        const pid_t holder = spawnHolder(held);
        QVERIFY(holder > 0);
        holders.push_back(holder);
        const pid_t first = *std::min_element(holders.begin(), holders.end());
        for (const QString& path : {device.slavePath(), link}) {
            TermiosPort port;
            const kirt::SerialStatus status = port.open(path);
            QCOMPARE(status.error, SerialError::Busy);
            QCOMPARE(status.reason,
                     systemText(status.osError) + QStringLiteral(" - in use by sleep, process %1%2")
                                                      .arg(first)
                                                      .arg(QLatin1String(more)));
        }
    }
}

void TestTermiosOpen::exclusiveAgainstPlainOpen()
{
    if (::geteuid() == 0)
        QSKIP("the kernel ignores the exclusive flag for root");
    PtyDevice device;
    TermiosPort port;
    QVERIFY(openOver(port, device, settings8N1()));

    const QByteArray path = QFile::encodeName(device.slavePath());
    const int other = ::open(path.constData(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    const int error = errno;
    if (other >= 0)
        ::close(other);
    QCOMPARE(other, -1);
    QCOMPARE(error, EBUSY);

    // The flag does not outlive the port.
    port.close();
    const int after = ::open(path.constData(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    QVERIFY(after >= 0);
    ::close(after);
}

void TestTermiosOpen::closeRestoresTheLineState()
{
    PtyDevice device;
    termios before{};
    QVERIFY(::tcgetattr(device.masterFd(), &before) == 0);
    before.c_lflag |= ICANON | ECHO;
    before.c_oflag |= OPOST;
    QVERIFY(::tcsetattr(device.masterFd(), TCSANOW, &before) == 0);

    TermiosPort port;
    QVERIFY(openOver(port, device, settings8N1()));
    termios during{};
    QVERIFY(::tcgetattr(device.masterFd(), &during) == 0);
    QCOMPARE(during.c_lflag & (ICANON | ECHO), tcflag_t{0});

    port.close();
    termios after{};
    QVERIFY(::tcgetattr(device.masterFd(), &after) == 0);
    QCOMPARE(after.c_lflag & (ICANON | ECHO), tcflag_t{ICANON | ECHO});
    QCOMPARE(after.c_oflag & OPOST, tcflag_t{OPOST});
}

void TestTermiosOpen::reopenAfterClose()
{
    PtyDevice device;
    TermiosPort port;
    for (int round = 0; round < 3; ++round) {
        QVERIFY(openOver(port, device, settings8N1()));
        const auto byte = static_cast<std::uint8_t>('a' + round);
        QVERIFY(port.writeByte(byte));
        QCOMPARE(device.receive(1), QByteArray(1, static_cast<char>(byte)));
        QVERIFY(device.send("k"));
        std::uint8_t buffer[4] = {};
        int got = 0;
        for (int reads = 0; reads < 100 && got == 0; ++reads)
            got = port.readChunk(buffer, 4);
        QCOMPARE(got, 1);
        QCOMPARE(buffer[0], std::uint8_t{'k'});
        port.close();
        QVERIFY(!port.isOpen());
    }
}

void TestTermiosOpen::closeWhileAReaderIsBlocked()
{
    PtyDevice device;
    TermiosPort port;
    QVERIFY(openOver(port, device, settings8N1(500)));

    std::atomic<int> last{-2};
    std::atomic<bool> started{false};
    std::thread reader([&] {
        std::uint8_t buffer[4];
        // Reads on as the receive thread would, until the port is gone.
        for (int reads = 0; reads < 50; ++reads) {
            started = true;
            last = port.readChunk(buffer, 4);
            if (last < 0)
                break;
        }
    });
    while (!started)
        std::this_thread::yield();
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    port.close();
    reader.join();
    QCOMPARE(last.load(), -1);
    QVERIFY(!port.isOpen());

    std::uint8_t buffer[4];
    QCOMPARE(port.readChunk(buffer, 4), -1);
    QVERIFY(!port.writeByte(0x41));
    port.purge(); // harmless once closed
}

void TestTermiosOpen::permissionHintNamesWhatDecides()
{
    const group* uucp = ::getgrnam("uucp");
    if (::geteuid() != 0 || uucp == nullptr)
        QSKIP("needs root and the group uucp to give a node away");
    QTemporaryDir folder;
    const QString path = folder.path() + QStringLiteral("/ttyOther");
    QVERIFY(QFile(path).open(QIODevice::WriteOnly));
    const QByteArray name = QFile::encodeName(path);
    QVERIFY(::chown(name.constData(), 0, uucp->gr_gid) == 0);
    // Not the dialout the system usually uses: the group that owns this node.
    QVERIFY(::chmod(name.constData(), 0660) == 0);
    QString hint = kirt::permissionHint(path);
    QVERIFY2(hint.contains(QLatin1String("user 'root' and group 'uucp', mode -rw-rw----")),
             qPrintable(hint));
    QVERIFY(hint.contains(QLatin1String("usermod -aG uucp")));
    QVERIFY(!hint.contains(QLatin1String("dialout")));
    // A group without read and write gains nothing by joining it.
    QVERIFY(::chmod(name.constData(), 0600) == 0);
    hint = kirt::permissionHint(path);
    QVERIFY2(hint.contains(QLatin1String("mode -rw-------")), qPrintable(hint));
    QVERIFY(!hint.contains(QLatin1String("usermod")));
}

QTEST_GUILESS_MAIN(TestTermiosOpen)
#include "tst_termiosopen.moc"
