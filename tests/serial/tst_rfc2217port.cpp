// The network port against a real ser2net serving a pseudo-terminal that the test plays as
// the device; and, for what ser2net over a pseudo-terminal cannot show (modem lines, refused
// settings, a full socket), against a small server played by the test.
#include "serial/networkport.h"
#include "serial/portfactory.h"
#include "serial/setspeed.h"
#include "tests/serial/playedserver.h"
#include "tests/support/columns.h"
#include "tests/support/pendingread.h"
#include "tests/support/ptydevice.h"
#include "tests/support/ser2netserver.h"

#include <QElapsedTimer>
#include <QtTest>

#include <atomic>
#include <future>
#include <thread>

#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>

using kirt::ComSettings;
using kirt::FlowControl;
using kirt::NetworkPort;
using kirt::Parity;
using kirt::PtyDevice;
using kirt::StopBits;
using kirt::test::PlayedServer;
using kirt::test::Ser2netServer;
namespace telnet = kirt::telnet;

namespace {

#define SKIP_WITHOUT_SER2NET()                                                                     \
    if (Ser2netServer::program().isEmpty())                                                        \
    QSKIP("ser2net is not installed (apt-get install ser2net); the network port is not tested "    \
          "against it")

QByteArray readBytes(kirt::SerialPort& port, int count, int timeoutMs = 5000)
{
    QByteArray got;
    std::uint8_t buffer[4096];
    QElapsedTimer waited;
    waited.start();
    while (got.size() < count && waited.elapsed() < timeoutMs) {
        const int n = port.readChunkWithin(buffer, sizeof buffer, 100);
        if (n < 0)
            break;
        got.append(reinterpret_cast<const char*>(buffer), n);
    }
    return got;
}

std::size_t write(kirt::SerialPort& port, const QByteArray& bytes)
{
    return port.writeBytes(reinterpret_cast<const std::uint8_t*>(bytes.constData()),
                           static_cast<std::size_t>(bytes.size()));
}

// Every value, twice, in an order where neighbours differ.
QByteArray everyByte()
{
    QByteArray bytes;
    for (int round = 0; round < 2; ++round) {
        for (int i = 0; i < 256; ++i)
            bytes.append(static_cast<char>(round == 0 ? i : 255 - i));
    }
    return bytes;
}

// A device on a pseudo-terminal, ser2net serving it, and the port connected to ser2net.
struct Rig
{
    PtyDevice device{9};
    Ser2netServer server;
    NetworkPort port;

    explicit Rig(const NetworkPort::Timing& timing = {}) : port(timing) {}

    QString failure; // why the last start failed

    // True when the port is open with the settings applied.
    bool start(bool rfc2217, const ComSettings& settings = {})
    {
        failure = whyNotStarted(rfc2217, settings);
        return failure.isEmpty();
    }

    QString whyNotStarted(bool rfc2217, const ComSettings& settings)
    {
        QString error;
        if (!device.isValid())
            return QStringLiteral("no pseudo-terminal");
        if (!server.start(device.slavePath(), rfc2217, error))
            return error;
        kirt::SerialStatus status = port.open(server.address());
        if (status.ok())
            status = port.readState();
        if (status.ok())
            status = port.applyState(settings);
        return status.ok() ? QString()
                           : QStringLiteral("%1: %2").arg(server.address(), status.reason);
    }
};

constexpr NetworkPort::Timing ShortAnswers{
    std::chrono::milliseconds(5000), std::chrono::milliseconds(300),
    std::chrono::milliseconds(5000), std::chrono::milliseconds(5000)};

} // namespace

class TestRfc2217Port : public QObject
{
    Q_OBJECT

private slots:
    void openFailsWithAReason_data();
    void openFailsWithAReason();
    void factoryOpensAddressesOverTheNetwork();
    void settingsReachTheDevice_data();
    void settingsReachTheDevice();
    void settingsTheServerDoesNotTakeFail_data();
    void settingsTheServerDoesNotTakeFail();
    void everyByteValueBothWays_data() { schemes(); }
    void everyByteValueBothWays();
    void oneMebibyteEachWay_data() { schemes(); }
    void oneMebibyteEachWay();
    void purgeDropsWhatWaits();
    void stoppedServerIsALoss_data() { schemes(); }
    void stoppedServerIsALoss();
    void silentServerIsALoss();
    void linesBreakAndPurgeReachTheServer();
    void answersDecideTheApply_data();
    void answersDecideTheApply();
    void fullSocketWriteGoesOnWhereItStopped();
    void closeEndsAPendingRead();

private:
    static void schemes()
    {
        QTest::addColumn<bool>("rfc2217");
        QTest::newRow("rfc2217") << true;
        QTest::newRow("tcp") << false;
    }
};

void TestRfc2217Port::openFailsWithAReason_data()
{
    QTest::addColumn<QString>("address");
    QTest::addColumn<QString>("because");

    kirt::test::row("refused",
                    QStringLiteral("rfc2217://127.0.0.1:%1").arg(Ser2netServer::freePort()),
                    "refused");
    kirt::test::row("unknown host", "tcp://no-such-host.invalid:2217", "no-such-host.invalid");
    kirt::test::row("no port", "rfc2217://localhost", "no port");
}

void TestRfc2217Port::openFailsWithAReason()
{
    QFETCH(QString, address);
    QFETCH(QString, because);
    NetworkPort port;
    const kirt::SerialStatus status = port.open(address);
    QVERIFY(!status.ok());
    QCOMPARE(status.error, kirt::SerialError::NotFound);
    QVERIFY2(status.reason.contains(because, Qt::CaseInsensitive), qPrintable(status.reason));
    QVERIFY(!port.isOpen());
}

void TestRfc2217Port::factoryOpensAddressesOverTheNetwork()
{
    // The system's port takes an address to the network and a path to the local device.
    const auto port = kirt::systemPortFactory()();
    const kirt::SerialStatus network =
        port->open(QStringLiteral("rfc2217://127.0.0.1:%1").arg(Ser2netServer::freePort()));
    QVERIFY2(network.reason.contains(QLatin1String("refused"), Qt::CaseInsensitive),
             qPrintable(network.reason));
    PtyDevice device(9);
    QVERIFY(port->open(device.slavePath()).ok());
    QVERIFY(port->isOpen());
    port->close();
}

void TestRfc2217Port::settingsReachTheDevice_data()
{
    QTest::addColumn<ComSettings>("settings");
    const auto settings = [](std::uint32_t baud, std::uint8_t parity, std::uint8_t stopBits,
                             FlowControl flow) {
        ComSettings s;
        s.baudRate = baud;
        s.parity = static_cast<Parity>(parity);
        s.stopBits = static_cast<StopBits>(stopBits);
        s.flowControl = flow;
        return s;
    };
    QTest::newRow("115200 8N1") << settings(115200, 0, 0, FlowControl::None);
    QTest::newRow("250000 odd 2 RTS/CTS") << settings(250000, 1, 2, FlowControl::Hardware);
    QTest::newRow("9600 mark 1") << settings(9600, 3, 0, FlowControl::None);
    QTest::newRow("57600 space 2 RTS/CTS") << settings(57600, 4, 2, FlowControl::Hardware);
    QTest::newRow("19200 even 1") << settings(19200, 2, 0, FlowControl::None);
}

void TestRfc2217Port::settingsReachTheDevice()
{
    SKIP_WITHOUT_SER2NET();
    QFETCH(ComSettings, settings);
    Rig rig;
    QVERIFY2(rig.start(true, settings), qPrintable(rig.failure));

    const int slave = ::open(QFile::encodeName(rig.device.slavePath()).constData(),
                             O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    QVERIFY(slave >= 0);
    termios state{};
    std::uint32_t rate = 0;
    const bool read = ::tcgetattr(slave, &state) == 0 && kirt::readArbitrarySpeed(slave, rate);
    ::close(slave);
    QVERIFY(read);
    QCOMPARE(rate, settings.baudRate);
    QCOMPARE((state.c_cflag & CSTOPB) != 0, settings.stopBits == StopBits::Two);
    QCOMPARE((state.c_cflag & CRTSCTS) != 0, settings.flowControl == FlowControl::Hardware);
    // A pseudo-terminal drops PARENB (and keeps 8 data bits) but keeps the parity's sense.
    const bool odd = settings.parity == Parity::Odd || settings.parity == Parity::Mark;
    const bool stick = settings.parity == Parity::Mark || settings.parity == Parity::Space;
    QCOMPARE((state.c_cflag & PARODD) != 0, odd);
    QCOMPARE((state.c_cflag & CMSPAR) != 0, stick);

    // ser2net reports a modem state for a pseudo-terminal but answers no line command: the
    // port has no modem lines, as a local pseudo-terminal.
    std::uint8_t buffer[64];
    PtyDevice::waitUntil([&] { return rig.port.readChunkWithin(buffer, sizeof buffer, 50) < 0; },
                         300);
    QVERIFY(!rig.port.modemStatus().available);
}

void TestRfc2217Port::settingsTheServerDoesNotTakeFail_data()
{
    QTest::addColumn<int>("dataBits");
    QTest::addColumn<int>("stopBits");
    QTest::addColumn<QString>("because");
    // ser2net answers nothing for these: refused, as a local device refuses them.
    QTest::newRow("1.5 stop bits") << 8 << 1 << "1.5 stop bits";
    QTest::newRow("4 data bits") << 4 << 0 << "4 data bits";
}

void TestRfc2217Port::settingsTheServerDoesNotTakeFail()
{
    SKIP_WITHOUT_SER2NET();
    QFETCH(int, dataBits);
    QFETCH(int, stopBits);
    QFETCH(QString, because);
    ComSettings settings;
    settings.dataBits = static_cast<std::uint8_t>(dataBits);
    settings.stopBits = static_cast<StopBits>(stopBits);
    Rig rig;
    QVERIFY(!rig.start(true, settings));
    QVERIFY2(rig.failure.contains(because), qPrintable(rig.failure));
    QVERIFY(rig.port.isOpen()); // a failed step leaves the port for the caller to close
}

void TestRfc2217Port::everyByteValueBothWays()
{
    SKIP_WITHOUT_SER2NET();
    QFETCH(bool, rfc2217);
    Rig rig;
    QVERIFY2(rig.start(rfc2217), qPrintable(rig.failure));
    const QByteArray all = everyByte();

    QVERIFY(rig.device.send(all));
    QCOMPARE(readBytes(rig.port, static_cast<int>(all.size())), all);

    QCOMPARE(write(rig.port, all), static_cast<std::size_t>(all.size()));
    QCOMPARE(rig.device.receive(static_cast<int>(all.size())), all);
}

void TestRfc2217Port::oneMebibyteEachWay()
{
    SKIP_WITHOUT_SER2NET();
    QFETCH(bool, rfc2217);
    Rig rig;
    QVERIFY2(rig.start(rfc2217), qPrintable(rig.failure));
    // Every third byte an IAC, so doubling and its cut by a full socket are well exercised.
    QByteArray big(1 << 20, Qt::Uninitialized);
    for (qsizetype i = 0; i < big.size(); ++i)
        big[i] = static_cast<char>(i % 3 == 0 ? 0xFF : (i * 7) & 0xFF);
    const int size = static_cast<int>(big.size());

    QElapsedTimer clock;
    clock.start();
    auto reader = std::async(std::launch::async, [&] { return readBytes(rig.port, size, 60000); });
    QVERIFY(rig.device.send(big, 60000));
    QCOMPARE(reader.wait_for(std::chrono::seconds(60)), std::future_status::ready);
    const QByteArray received = reader.get();
    const qint64 inMs = clock.restart();
    QCOMPARE(received.size(), big.size());
    QVERIFY(received == big);

    auto writer = std::async(std::launch::async, [&] { return write(rig.port, big); });
    const QByteArray sent = rig.device.receive(size, 60000);
    QCOMPARE(writer.wait_for(std::chrono::seconds(60)), std::future_status::ready);
    QCOMPARE(writer.get(), static_cast<std::size_t>(size));
    const qint64 outMs = clock.elapsed();
    QCOMPARE(sent.size(), big.size());
    QVERIFY(sent == big);
    qInfo("1 MiB from the device in %lld ms, to the device in %lld ms", inMs, outMs);
}

void TestRfc2217Port::purgeDropsWhatWaits()
{
    SKIP_WITHOUT_SER2NET();
    Rig rig;
    QVERIFY2(rig.start(true), qPrintable(rig.failure));
    QVERIFY(rig.device.send("stale"));
    PtyDevice::serveEvents(300); // through ser2net into our socket
    rig.port.purge();
    std::uint8_t buffer[16];
    QCOMPARE(rig.port.readChunkWithin(buffer, sizeof buffer, 1000), 0); // the purge's wake-up
    PtyDevice::serveEvents(300); // the server's purge, which would take what comes before it
    QVERIFY(rig.device.send("fresh"));
    QCOMPARE(readBytes(rig.port, 5), QByteArray("fresh"));
}

void TestRfc2217Port::stoppedServerIsALoss()
{
    SKIP_WITHOUT_SER2NET();
    QFETCH(bool, rfc2217);
    Rig rig;
    QVERIFY2(rig.start(rfc2217), qPrintable(rig.failure));
    std::atomic<bool> done{false};
    std::thread reader([&] {
        std::uint8_t buffer[256];
        while (!done.load() && rig.port.readChunkWithin(buffer, sizeof buffer, 1000) >= 0) {
        }
    });
    QVERIFY(!rig.port.deviceLost());
    rig.server.stop();
    const bool lost = PtyDevice::waitUntil([&] { return rig.port.deviceLost(); }, 2000);
    done.store(true);
    reader.join();
    QVERIFY(lost);
}

void TestRfc2217Port::silentServerIsALoss()
{
    SKIP_WITHOUT_SER2NET();
    NetworkPort::Timing timing;
    timing.quietProbe = std::chrono::milliseconds(200);
    timing.probeAnswer = std::chrono::milliseconds(500);
    Rig rig(timing);
    QVERIFY2(rig.start(true), qPrintable(rig.failure));
    std::uint8_t buffer[256];
    // A quiet line whose server answers the rate queries stays up.
    QElapsedTimer quiet;
    quiet.start();
    while (quiet.elapsed() < 2000)
        QVERIFY(rig.port.readChunkWithin(buffer, sizeof buffer, 100) >= 0);
    QVERIFY(!rig.port.deviceLost());

    // A server that holds the connection but answers nothing is gone.
    rig.server.pause();
    QElapsedTimer silent;
    silent.start();
    while (silent.elapsed() < 5000 && rig.port.readChunkWithin(buffer, sizeof buffer, 100) >= 0) {
    }
    rig.server.resume();
    QVERIFY(rig.port.deviceLost());
}

void TestRfc2217Port::linesBreakAndPurgeReachTheServer()
{
    PlayedServer server(true);
    NetworkPort port;
    QVERIFY(port.open(server.address()).ok());
    QVERIFY(port.applyState(ComSettings{}).ok());
    // No report of the lines yet: the port says it has none, without waiting for one.
    QVERIFY(!port.modemStatus().available);

    QVERIFY(port.setModemLine(kirt::ModemLine::Dtr, true).ok());
    QVERIFY(port.setModemLine(kirt::ModemLine::Rts, true).ok());
    QVERIFY(port.setBreak(true).ok());
    QVERIFY(port.setBreak(false).ok());
    port.purge();
    server.sendToClient({telnet::Iac, telnet::Sb, telnet::OptionComPort, 107,
                         telnet::ModemCts | telnet::ModemDsr | telnet::ModemCd, telnet::Iac,
                         telnet::Se});
    std::uint8_t buffer[16];
    QVERIFY(PtyDevice::waitUntil(
        [&] {
            port.readChunkWithin(buffer, sizeof buffer, 20);
            return port.modemStatus().available && server.commands().size() >= 13;
        },
        2000));

    const std::vector<telnet::Bytes> expected{{1, 0, 0, 0x25, 0x80},
                                              {2, 8},
                                              {3, 1},
                                              {4, 1},
                                              {5, 1},
                                              {5, 9},
                                              {5, 12},
                                              {11, 0xFF},
                                              {5, 8},
                                              {5, 11},
                                              {5, 5},
                                              {5, 6},
                                              {12, 3}};
    QVERIFY(server.commands() == expected);

    const kirt::ModemStatus lines = port.modemStatus();
    QVERIFY(lines.available);
    QVERIFY(lines.cts && lines.dsr && lines.dcd && !lines.ri);
}

void TestRfc2217Port::answersDecideTheApply_data()
{
    QTest::addColumn<bool>("offer");
    QTest::addColumn<int>("changed"); // the command answered otherwise; 0 for none
    QTest::addColumn<bool>("silent"); // that command is not answered at all
    QTest::addColumn<QString>("because");

    QTest::newRow("all taken") << true << 0 << false << "";
    QTest::newRow("other rate") << true << 1 << false << "9600 baud";
    QTest::newRow("no answer for the data bits") << true << 2 << true << "8 data bits";
    QTest::newRow("other parity") << true << 3 << false << "no parity";
    QTest::newRow("other stop bits") << true << 4 << false << "1 stop bit";
    QTest::newRow("no answer for the flow control") << true << 5 << true << "flow control";
    QTest::newRow("no serial port control") << false << 0 << false << "does not offer";
}

void TestRfc2217Port::answersDecideTheApply()
{
    QFETCH(bool, offer);
    QFETCH(int, changed);
    QFETCH(bool, silent);
    QFETCH(QString, because);
    PlayedServer server(true, offer, [&](const telnet::Bytes& command) {
        std::optional<telnet::Bytes> answer;
        if (command[0] == changed) {
            answer = telnet::Bytes(command.begin() + 1, command.end());
            if (silent)
                answer->clear();
            else if (changed == 1)
                answer = telnet::Bytes{0x00, 0x01, 0xC2, 0x00}; // 115200
            else
                answer->back() = static_cast<std::uint8_t>(answer->back() + 1);
        }
        return answer;
    });
    NetworkPort port(ShortAnswers);
    QVERIFY(port.open(server.address()).ok());
    const kirt::SerialStatus status = port.applyState(ComSettings{});
    QCOMPARE(status.ok(), because.isEmpty());
    if (!status.ok()) {
        QCOMPARE(status.error, kirt::SerialError::SetStateFailed);
        QVERIFY2(status.reason.contains(because), qPrintable(status.reason));
    }
}

void TestRfc2217Port::fullSocketWriteGoesOnWhereItStopped()
{
    PlayedServer server(false);
    NetworkPort port;
    QVERIFY(port.open(server.address()).ok());
    QVERIFY(server.accept());

    // Half of it IACs, so a cut often falls between the two halves of one.
    QByteArray data(8 * 1024 * 1024, Qt::Uninitialized);
    for (qsizetype i = 0; i < data.size(); ++i)
        data[i] = static_cast<char>(i % 2 == 0 ? 0xFF : (i / 2) & 0xFF);
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(data.constData());
    const std::size_t size = static_cast<std::size_t>(data.size());

    telnet::Bytes wire;
    std::size_t taken = 0;
    int fullTimes = 0;
    QElapsedTimer clock;
    clock.start();
    while (taken < size && clock.elapsed() < 30000) {
        const std::size_t n = port.writeAvailable(bytes + taken, size - taken);
        taken += n;
        if (n == 0) {
            ++fullTimes;
            // The far end takes an odd amount now and then.
            const telnet::Bytes got = server.receive(997, 100);
            wire.insert(wire.end(), got.begin(), got.end());
        }
    }
    QCOMPARE(taken, size);
    QVERIFY(fullTimes > 0); // the socket did fill
    while (true) {
        const telnet::Bytes got = server.receive(65536, 300);
        if (got.empty())
            break;
        wire.insert(wire.end(), got.begin(), got.end());
    }

    telnet::Decoder decoder;
    std::vector<telnet::Event> events;
    const std::size_t n = decoder.decode(wire.data(), wire.size(), wire.data(), events);
    QCOMPARE(n, size);
    QVERIFY(std::equal(wire.begin(), wire.begin() + static_cast<std::ptrdiff_t>(n), bytes));
    QCOMPARE(events.size(), 5u); // the negotiation, and nothing else
}

void TestRfc2217Port::closeEndsAPendingRead()
{
    PlayedServer server(true);
    NetworkPort port;
    QVERIFY(port.open(server.address()).ok());
    QVERIFY(port.applyState(ComSettings{}).ok());
    QCOMPARE(kirt::test::pendingReadAfter(port, [&port] { port.close(); }), std::optional<int>(-1));
    QVERIFY(!port.isOpen());
    std::uint8_t buffer[16];
    QCOMPARE(port.readChunkWithin(buffer, sizeof buffer, 10), -1);
    QCOMPARE(port.writeAvailable(buffer, sizeof buffer), 0u);
}

QTEST_GUILESS_MAIN(TestRfc2217Port)
#include "tst_rfc2217port.moc"
