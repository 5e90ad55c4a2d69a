// What every serial port implementation owes the session, run over each of them: open and
// close, reads with a deadline, a purge that wakes a pending read, writes in order and partial
// when the device stalls, a closed port's writes, and the loss of the device.
#include "serial/networkport.h"
#include "serial/termiosport.h"
#include "tests/support/fakeport.h"
#include "tests/support/pendingread.h"
#include "tests/support/ptydevice.h"
#include "tests/support/ser2netserver.h"

#include <QElapsedTimer>
#include <QtTest>

#include <functional>
#include <memory>

namespace {

// One implementation with the device it talks to, played by the test.
class Subject
{
public:
    virtual ~Subject() = default;
    virtual kirt::SerialPort& port() = 0;
    virtual QString path() const = 0;
    virtual bool deviceSends(const QByteArray& bytes) = 0;
    // What the port wrote since the last call, once at least atLeast bytes have come.
    virtual QByteArray deviceReceives(int atLeast) = 0;
    // The device takes little more, so a long write cannot finish.
    virtual void stall() = 0;
    virtual void unplug() = 0;
};

class TermiosSubject final : public Subject
{
public:
    kirt::SerialPort& port() override { return m_port; }
    QString path() const override { return m_device.slavePath(); }
    bool deviceSends(const QByteArray& bytes) override { return m_device.send(bytes); }
    QByteArray deviceReceives(int atLeast) override { return m_device.receive(atLeast); }
    void stall() override {} // nobody reads the master: the terminal's queue fills
    void unplug() override { m_device.closeMaster(); }

private:
    kirt::PtyDevice m_device;
    kirt::TermiosPort m_port;
};

// A pseudo-terminal served by ser2net, the port talking to ser2net over the loopback.
class NetworkSubject final : public Subject
{
public:
    NetworkSubject()
    {
        QString error;
        if (!m_server.start(m_device.slavePath(), true, error))
            qWarning("%s", qPrintable(error));
    }
    kirt::SerialPort& port() override { return m_port; }
    QString path() const override { return m_server.address(); }
    bool deviceSends(const QByteArray& bytes) override { return m_device.send(bytes); }
    QByteArray deviceReceives(int atLeast) override { return m_device.receive(atLeast); }
    void stall() override {} // nobody reads the master: the terminal, then the socket fill
    void unplug() override { m_server.stop(); }

private:
    kirt::PtyDevice m_device;
    kirt::test::Ser2netServer m_server;
    kirt::NetworkPort m_port;
};

class FakeSubject final : public Subject
{
public:
    kirt::SerialPort& port() override { return m_port; }
    QString path() const override { return QStringLiteral("/dev/fake"); }
    bool deviceSends(const QByteArray& bytes) override
    {
        m_port.feed(bytes);
        return true;
    }
    QByteArray deviceReceives(int) override
    {
        const QByteArray all = m_port.written();
        return all.mid(std::exchange(m_taken, all.size()));
    }
    void stall() override { m_port.writeRoom = 100; }
    void unplug() override { m_port.unplug(); }

private:
    kirt::test::FakePort m_port;
    qsizetype m_taken = 0;
};

using Maker = std::function<std::unique_ptr<Subject>()>;

// Reads until count bytes have come or a read returns nothing.
QByteArray readBytes(kirt::SerialPort& port, int count)
{
    QByteArray got;
    std::uint8_t buffer[256];
    while (got.size() < count) {
        const int n = port.readChunkWithin(buffer, sizeof buffer, 2000);
        if (n <= 0)
            break;
        got.append(reinterpret_cast<const char*>(buffer), n);
    }
    return got;
}

} // namespace

Q_DECLARE_METATYPE(Maker)

class TestSerialPortConformance : public QObject
{
    Q_OBJECT

private slots:
    void openAndClose_data() { implementations(); }
    void openAndClose();
    void readWaitsForItsDeadline_data() { implementations(); }
    void readWaitsForItsDeadline();
    void purgeWakesAPendingRead_data() { implementations(); }
    void purgeWakesAPendingRead();
    void writesInOrderAndPartialWhenStalled_data() { implementations(); }
    void writesInOrderAndPartialWhenStalled();
    void closedPortWritesNothing_data() { implementations(); }
    void closedPortWritesNothing();
    void lossIsReported_data() { implementations(); }
    void lossIsReported();

private:
    static void implementations()
    {
        QTest::addColumn<Maker>("maker");
        QTest::newRow("termios on a pty")
            << Maker([] { return std::make_unique<TermiosSubject>(); });
        QTest::newRow("fake") << Maker([] { return std::make_unique<FakeSubject>(); });
        // Without ser2net the network port's own test says it was skipped.
        if (!kirt::test::Ser2netServer::program().isEmpty())
            QTest::newRow("rfc2217 through ser2net")
                << Maker([] { return std::make_unique<NetworkSubject>(); });
    }

    // A fresh subject with its port open and configured.
    static std::unique_ptr<Subject> opened()
    {
        QFETCH(Maker, maker);
        auto subject = maker();
        kirt::SerialPort& port = subject->port();
        if (!port.open(subject->path()).ok() || !port.readState().ok() ||
            !port.applyState(kirt::ComSettings{}).ok())
            return nullptr;
        return subject;
    }
};

void TestSerialPortConformance::openAndClose()
{
    const auto subject = opened();
    QVERIFY(subject);
    kirt::SerialPort& port = subject->port();
    QVERIFY(port.isOpen());
    QCOMPARE(port.readTimeoutMs(), 2u);
    port.close();
    QVERIFY(!port.isOpen());
    port.close(); // twice is harmless
    QVERIFY(port.open(subject->path()).ok());
    QVERIFY(port.isOpen());
}

void TestSerialPortConformance::readWaitsForItsDeadline()
{
    const auto subject = opened();
    QVERIFY(subject);
    kirt::SerialPort& port = subject->port();
    std::uint8_t buffer[16];
    QElapsedTimer waited;
    waited.start();
    QCOMPARE(port.readChunkWithin(buffer, sizeof buffer, 50), 0);
    QVERIFY(waited.elapsed() >= 45);

    QVERIFY(subject->deviceSends("abc"));
    QCOMPARE(readBytes(port, 3), QByteArray("abc"));
}

void TestSerialPortConformance::purgeWakesAPendingRead()
{
    const auto subject = opened();
    QVERIFY(subject);
    kirt::SerialPort& port = subject->port();
    QElapsedTimer waited;
    waited.start();
    QCOMPARE(kirt::test::pendingReadAfter(port, [&port] { port.purge(); }), std::optional<int>(0));
    QVERIFY(waited.elapsed() < 5000);
    QVERIFY(port.isOpen());
}

void TestSerialPortConformance::writesInOrderAndPartialWhenStalled()
{
    const auto subject = opened();
    QVERIFY(subject);
    kirt::SerialPort& port = subject->port();
    const QByteArray hello("hello");
    QCOMPARE(port.writeBytes(reinterpret_cast<const std::uint8_t*>(hello.constData()), 5), 5u);
    QCOMPARE(subject->deviceReceives(5), hello);

    subject->stall();
    QByteArray big(1 << 20, Qt::Uninitialized);
    for (qsizetype i = 0; i < big.size(); ++i)
        big[i] = static_cast<char>(i * 7);
    const std::size_t written =
        port.writeBytes(reinterpret_cast<const std::uint8_t*>(big.constData()),
                        static_cast<std::size_t>(big.size()));
    QVERIFY(written < static_cast<std::size_t>(big.size()));
    QVERIFY(written > 0);
    QCOMPARE(subject->deviceReceives(static_cast<int>(written)),
             big.left(static_cast<qsizetype>(written)));
}

void TestSerialPortConformance::closedPortWritesNothing()
{
    const auto subject = opened();
    QVERIFY(subject);
    kirt::SerialPort& port = subject->port();
    port.close();
    QCOMPARE(port.writeBytes(reinterpret_cast<const std::uint8_t*>("12345"), 5), 0u);
    QVERIFY(!port.writeByte(0x41));
    std::uint8_t buffer[16];
    QCOMPARE(port.readChunkWithin(buffer, sizeof buffer, 10), -1);
}

void TestSerialPortConformance::lossIsReported()
{
    const auto subject = opened();
    QVERIFY(subject);
    kirt::SerialPort& port = subject->port();
    QVERIFY(!port.deviceLost());
    subject->unplug();
    std::uint8_t buffer[16];
    QCOMPARE(port.readChunkWithin(buffer, sizeof buffer, 2000), -1);
    QVERIFY(port.deviceLost());
}

QTEST_GUILESS_MAIN(TestSerialPortConformance)
#include "tst_serialportconformance.moc"
