#include "vdev/modbus.h"
#include "vdev/portlink.h"
#include "vdev/streams.h"

#include <QtTest>

#include <QDeadlineTimer>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <csignal>

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

using namespace kirt::vdev;

namespace {

// The program run as a user would, with its own configuration folder.
class VdevRun
{
public:
    explicit VdevRun(const QString& configHome) : m_configHome(configHome) {}
    ~VdevRun()
    {
        if (m_process.state() != QProcess::NotRunning) {
            m_process.kill();
            m_process.waitForFinished(5000);
        }
    }
    VdevRun(const VdevRun&) = delete;
    VdevRun& operator=(const VdevRun&) = delete;

    // Starts it and returns its first line of output (empty if it ended instead).
    QString start(const QStringList& arguments)
    {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("XDG_CONFIG_HOME"), m_configHome);
        for (int n = 1; n <= 30; ++n)
            environment.remove(QStringLiteral("KIRT_COM%1").arg(n));
        m_process.setProcessEnvironment(environment);
        m_process.start(QStringLiteral(KIRT_VDEV_PATH), arguments);
        if (!m_process.waitForStarted(5000))
            return {};
        const QDeadlineTimer deadline(10000);
        while (!m_process.canReadLine() && m_process.state() == QProcess::Running &&
               !deadline.hasExpired())
            m_process.waitForReadyRead(100);
        return QString::fromLocal8Bit(m_process.readLine()).trimmed();
    }

    // Sends the signal and returns the exit code, or -1 if it did not end.
    int stop(int signal = SIGTERM)
    {
        ::kill(static_cast<pid_t>(m_process.processId()), signal);
        if (!m_process.waitForFinished(10000))
            return -1;
        return m_process.exitStatus() == QProcess::NormalExit ? m_process.exitCode() : -1;
    }

    int waitForExit()
    {
        if (m_process.state() != QProcess::NotRunning && !m_process.waitForFinished(10000))
            return -1;
        return m_process.exitCode();
    }

    QString output() { return QString::fromLocal8Bit(m_process.readAllStandardOutput()); }
    QString errors() { return QString::fromLocal8Bit(m_process.readAllStandardError()); }

private:
    QString m_configHome;
    QProcess m_process;
};

// The terminal's side: the port opened through the link, as Kirt opens it.
class PortClient
{
public:
    explicit PortClient(const QString& path)
    {
        m_fd = ::open(QFile::encodeName(path).constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    }
    ~PortClient() { close(); }
    PortClient(const PortClient&) = delete;
    PortClient& operator=(const PortClient&) = delete;

    bool isOpen() const { return m_fd >= 0; }
    void close()
    {
        if (m_fd >= 0)
            ::close(m_fd);
        m_fd = -1;
    }
    bool send(const QByteArray& bytes)
    {
        return ::write(m_fd, bytes.constData(), static_cast<std::size_t>(bytes.size())) ==
               bytes.size();
    }
    // Reads until `done` holds for what came, or the time is up.
    QByteArray readUntil(const std::function<bool(const QByteArray&)>& done, int timeoutMs)
    {
        QByteArray got;
        const QDeadlineTimer deadline(timeoutMs);
        while (!done(got) && !deadline.hasExpired()) {
            pollfd entry{m_fd, POLLIN, 0};
            if (::poll(&entry, 1,
                       static_cast<int>(std::min<qint64>(deadline.remainingTime(), 50))) <= 0)
                continue;
            char buffer[4096];
            const ssize_t n = ::read(m_fd, buffer, sizeof buffer);
            if (n > 0)
                got.append(buffer, n);
            else if (n == 0 || errno != EAGAIN)
                break;
        }
        return got;
    }
    QByteArray readAtLeast(qsizetype count, int timeoutMs = 5000)
    {
        return readUntil([count](const QByteArray& got) { return got.size() >= count; }, timeoutMs);
    }
    QByteArray readContaining(const QByteArray& wanted, int timeoutMs = 5000)
    {
        return readUntil([&wanted](const QByteArray& got) { return got.contains(wanted); },
                         timeoutMs);
    }

private:
    int m_fd = -1;
};

int firstStatusNumber(const QByteArray& bytes)
{
    static const QRegularExpression status(QStringLiteral("STATUS (\\d{5}) UP"));
    const QRegularExpressionMatch match = status.match(QString::fromLatin1(bytes));
    return match.hasMatch() ? match.captured(1).toInt() : -1;
}

} // namespace

class TestVdevProcess : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void demoDeviceServesUntilStopped();
    void silentWhileNobodyListensAndBackAfterReopen();
    void modbusSlaveOverThePort();
    void streamCountIsWhatArrived();
    void secondDeviceOnSamePortRefused();
    void shellIsABoardsConsole();

private:
    QString linkOf(const QString& port) const
    {
        return m_config->filePath(QStringLiteral("kirt/ports/") + port);
    }

    std::unique_ptr<QTemporaryDir> m_config;
};

void TestVdevProcess::init()
{
    m_config = std::make_unique<QTemporaryDir>();
    QVERIFY(m_config->isValid());
}

void TestVdevProcess::demoDeviceServesUntilStopped()
{
    VdevRun vdev(m_config->path());
    const QString line = vdev.start({});
    QVERIFY2(line.startsWith(QLatin1String("kirt-vdev: serving COM1 on /dev/pts/")),
             qPrintable(line + vdev.errors()));
    QVERIFY(line.contains(QLatin1String("echo, AT, status every 1000 ms")));
    const std::optional<QString> target = linkTargetOf(linkOf(QStringLiteral("COM1")));
    QVERIFY(target && line.contains(*target));

    PortClient port(linkOf(QStringLiteral("COM1")));
    QVERIFY(port.isOpen());
    QVERIFY(port.send("at\r"));
    QVERIFY(port.readContaining("at\rOK\r\n").contains("at\rOK\r\n"));
    QVERIFY(firstStatusNumber(port.readContaining(" OK\r\n", 5000)) > 0);
    port.close();

    QCOMPARE(vdev.stop(SIGINT), 0);
    QVERIFY(!QFileInfo(linkOf(QStringLiteral("COM1"))).isSymLink());
    const QString summary = vdev.output();
    QVERIFY2(summary.contains(QLatin1String("kirt-vdev: stopped; sent ")) &&
                 summary.contains(QLatin1String("received 3 bytes")),
             qPrintable(summary));
}

void TestVdevProcess::silentWhileNobodyListensAndBackAfterReopen()
{
    VdevRun vdev(m_config->path());
    QVERIFY(vdev.start({"--port", "COM4", "--status", "50", "--echo"}).contains("COM4"));
    // Some periods pass with the port closed; none of their lines may wait in the port.
    QTest::qWait(400);
    PortClient port(linkOf(QStringLiteral("COM4")));
    QVERIFY(port.isOpen());
    const QByteArray first = port.readContaining("\r\n");
    QVERIFY2(firstStatusNumber(first) > 1, first.constData());

    port.close();
    PortClient again(linkOf(QStringLiteral("COM4")));
    QVERIFY(again.send("ping"));
    QVERIFY(again.readContaining("ping").contains("ping"));
    QCOMPARE(vdev.stop(), 0);
}

void TestVdevProcess::modbusSlaveOverThePort()
{
    VdevRun vdev(m_config->path());
    QVERIFY(vdev.start({"-p", "COM2", "-m", "17"}).contains("Modbus slave 17"));
    PortClient port(linkOf(QStringLiteral("COM2")));
    QVERIFY(port.isOpen());

    const QByteArray request = QByteArray::fromHex("1103006B00037687");
    const QByteArray expected = readHoldingResponse(0x11, 0x6B, 3);
    QVERIFY(port.send(request));
    QCOMPARE(port.readAtLeast(expected.size()), expected);

    // A byte at a time, as a terminal writes.
    for (const char c : request)
        QVERIFY(port.send(QByteArray(1, c)));
    QCOMPARE(port.readAtLeast(expected.size()), expected);

    // Another slave's request gets no answer; the next own one still does.
    QVERIFY(port.send(QByteArray::fromHex("010300000002C40B")));
    QVERIFY(port.send(request));
    QCOMPARE(port.readAtLeast(expected.size()), expected);
    QCOMPARE(vdev.stop(), 0);
}

void TestVdevProcess::streamCountIsWhatArrived()
{
    VdevRun vdev(m_config->path());
    QVERIFY(vdev.start({"--stream", "text", "--rate", "20000"}).contains("text stream"));
    PortClient port(linkOf(QStringLiteral("COM1")));
    QVERIFY(port.isOpen());
    QByteArray got = port.readAtLeast(4000);
    QVERIFY(got.size() >= 4000);

    QCOMPARE(vdev.stop(), 0);
    // What was in flight when it stopped is still in the port.
    got += port.readUntil([](const QByteArray&) { return false; }, 300);
    QCOMPARE(got, TextStream().next(got.size()));

    static const QRegularExpression count(QStringLiteral("sent (\\d+) bytes \\((\\d+) of them "
                                                         "streamed\\)"));
    const QString summary = vdev.output();
    const QRegularExpressionMatch match = count.match(summary);
    QVERIFY2(match.hasMatch(), qPrintable(summary));
    QCOMPARE(match.captured(2).toLongLong(), got.size());
    QCOMPARE(match.captured(1).toLongLong(), got.size());
}

void TestVdevProcess::secondDeviceOnSamePortRefused()
{
    VdevRun first(m_config->path());
    QVERIFY(first.start({"--echo"}).contains("serving COM1"));
    const std::optional<QString> target = linkTargetOf(linkOf(QStringLiteral("COM1")));
    QVERIFY(target);

    VdevRun second(m_config->path());
    QVERIFY(second.start({"--at"}).isEmpty());
    QCOMPARE(second.waitForExit(), 1);
    QVERIFY(second.errors().contains(QLatin1String("--force")));
    QCOMPARE(linkTargetOf(linkOf(QStringLiteral("COM1"))), target);

    // With --force it takes the port over and hands it back on exit.
    VdevRun third(m_config->path());
    QVERIFY(third.start({"--at", "--force"}).contains("serving COM1"));
    QVERIFY(linkTargetOf(linkOf(QStringLiteral("COM1"))) != target);
    QCOMPARE(third.stop(), 0);
    QCOMPARE(linkTargetOf(linkOf(QStringLiteral("COM1"))), target);

    PortClient port(linkOf(QStringLiteral("COM1")));
    QVERIFY(port.send("still the first"));
    QVERIFY(port.readContaining("still the first").contains("still the first"));
    QCOMPARE(first.stop(), 0);
    QVERIFY(!QFileInfo::exists(linkOf(QStringLiteral("COM1"))));
}

void TestVdevProcess::shellIsABoardsConsole()
{
    VdevRun vdev(m_config->path());
    const QString line =
        vdev.start({"--port", "COM7", "--shell", "echo hi; stty size; echo $TERM; cat"});
    QVERIFY2(line.contains(QLatin1String("console: echo hi")), qPrintable(line + vdev.errors()));
    // What the shell printed before the port was opened waits for it.
    QTest::qWait(200);
    PortClient port(linkOf(QStringLiteral("COM7")));
    QVERIFY(port.isOpen());
    QCOMPARE(port.readContaining("xterm-256color\r\n"),
             QByteArray("hi\r\n24 80\r\nxterm-256color\r\n"));
    // The terminal echoes the line and cat prints it back; Ctrl+C ends cat and the shell.
    QVERIFY(port.send("abc\r"));
    QCOMPARE(port.readContaining("abc\r\nabc\r\n"), QByteArray("abc\r\nabc\r\n"));
    QVERIFY(port.send("\x03"));
    QCOMPARE(vdev.waitForExit(), 0);
    QVERIFY2(vdev.output().contains(QLatin1String("the shell ended with exit status 130")),
             qPrintable(vdev.output()));
    QVERIFY(!QFileInfo(linkOf(QStringLiteral("COM7"))).isSymLink());
}

QTEST_GUILESS_MAIN(TestVdevProcess)
#include "tst_vdevprocess.moc"
