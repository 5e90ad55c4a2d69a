// The engine with no window and no widget linked: a pseudo-terminal's bytes through the port
// session and the receive pipeline, answered and logged as the window would.
#include "session/portcontroller.h"
#include "tests/support/ptydevice.h"
#include "tests/support/tempsettings.h"

#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include <termios.h>

using kirt::PtyDevice;

namespace {

struct Collector : kirt::PortReceiver
{
    QByteArray bytes;
    void received(const std::uint8_t* data, std::size_t count, const kirt::ReadTime&) override
    {
        bytes.append(reinterpret_cast<const char*>(data), static_cast<qsizetype>(count));
    }
};

struct Claimant final : Collector, kirt::PortClaimant
{
    std::optional<ClaimEnd> ended;
    QString claimName() const override { return QStringLiteral("transfer"); }
    void claimEnded(ClaimEnd why) override { ended = why; }
    void received(const std::uint8_t* data, std::size_t count, const kirt::ReadTime& at) override
    {
        Collector::received(data, count, at);
    }
};

struct TextSink final : kirt::ReceiveDisplaySink
{
    QString text;
    void appendData(const QString& more) override { text += more; }
    void appendLineBreak() override { text += u'\n'; }
    bool isEmpty() const override { return text.isEmpty(); }
    void limitRows(std::uint32_t) override {}
    void scrollToEnd() override {}
    void batchEnded() override {}
};

kirt::OpenRequest request(const QString& port, std::uint32_t baud = 9600)
{
    kirt::OpenRequest r;
    r.portName = port;
    r.settings.baudRate = baud;
    return r;
}

// Echo on, rule 1 answering packet with response, and the log written to path.
bool echoAnswerAndLog(kirt::ReceivePipeline& pipeline, const QString& packet,
                      const QByteArray& response, const QString& path)
{
    pipeline.settings().echo = true;
    pipeline.rule(1).parse(packet);
    pipeline.setRuleResponse(1, response);
    pipeline.setRuleEnabled(1, true);
    pipeline.settings().logging = true;
    return pipeline.log().start(path);
}

speed_t lineSpeed(const PtyDevice& device)
{
    termios state{};
    return ::tcgetattr(device.masterFd(), &state) == 0 ? ::cfgetospeed(&state) : B0;
}

} // namespace

class TestHeadless : public QObject
{
    Q_OBJECT

private slots:
    void bytesAreEchoedAnsweredAndLogged();
    void twoControllersAreIndependent();
    void receiversMayLeaveWhileTold();
    void aClaimantHasThePortToItself();
};

void TestHeadless::bytesAreEchoedAnsweredAndLogged()
{
    QVERIFY(!QCoreApplication::instance()->inherits("QGuiApplication"));
    kirt::test::TempSettings settings;
    PtyDevice device(1);
    QTemporaryDir folder;
    kirt::PortController engine;
    kirt::ReceivePipeline& pipeline = engine.pipeline();
    const QString logPath = folder.filePath(QStringLiteral("log.HEX"));
    QVERIFY(echoAnswerAndLog(pipeline, QStringLiteral("0102"), "\xAA\xBB", logPath));

    kirt::OpenRequest request;
    request.portName = QStringLiteral("COM1");
    QVERIFY(engine.session().open(request).ok());
    engine.session().setRxEnabled(true);
    QVERIFY(device.send(QByteArray("\x01\x02\x03", 3)));

    // The answer follows the byte that completes the packet, before the next byte's echo.
    QCOMPARE(device.receive(5), QByteArray("\x01\x02\xAA\xBB\x03"));
    QCOMPARE(pipeline.rule(1).responseCount(), 1u);
    QVERIFY(PtyDevice::waitUntil([&] { return QFileInfo(logPath).size() == 15; }));
    QFile log(logPath);
    QVERIFY(log.open(QIODevice::ReadOnly));
    QCOMPARE(log.readAll(), QByteArray("01 \r\n02 \r\n03 \r\n"));
    QVERIFY(engine.logError().isEmpty());
}

void TestHeadless::twoControllersAreIndependent()
{
    kirt::test::TempSettings settings;
    PtyDevice one(1);
    PtyDevice two(2);
    kirt::PortController a;
    kirt::PortController b;
    Collector fromA;
    Collector fromB;
    a.addReceiver(&fromA);
    b.addReceiver(&fromB);
    QVERIFY(a.open(request(QStringLiteral("COM1"), 9600)).ok());
    QVERIFY(b.open(request(QStringLiteral("COM2"), 115200)).ok());
    a.session().setRxEnabled(true);
    b.session().setRxEnabled(true);
    QCOMPARE(lineSpeed(one), speed_t(B9600));
    QCOMPARE(lineSpeed(two), speed_t(B115200));
    QCOMPARE(a.openSettings().baudRate, 9600u);

    QVERIFY(one.send("one") && two.send("two"));
    QVERIFY(PtyDevice::waitUntil([&] { return fromA.bytes == "one" && fromB.bytes == "two"; }));

    // One device goes; the other port goes on as before.
    one.closeMaster();
    QVERIFY(PtyDevice::waitUntil([&] { return a.session().waitingForDevice(); }, 2000));
    QVERIFY(!b.session().waitingForDevice());
    QVERIFY(two.send("+"));
    b.write(reinterpret_cast<const std::uint8_t*>("ok"), 2);
    QCOMPARE(two.receive(2), QByteArray("ok"));
    QVERIFY(PtyDevice::waitUntil([&] { return fromB.bytes == "two+"; }));
    QCOMPARE(fromA.bytes, QByteArray("one"));
}

void TestHeadless::receiversMayLeaveWhileTold()
{
    kirt::test::TempSettings settings;
    PtyDevice device(1);
    kirt::PortController port;
    // The first to be told takes itself and the next one off the list.
    struct Leaver : Collector
    {
        kirt::PortController* port = nullptr;
        PortReceiver* other = nullptr;
        void received(const std::uint8_t* data, std::size_t count,
                      const kirt::ReadTime& at) override
        {
            Collector::received(data, count, at);
            port->removeReceiver(this);
            port->removeReceiver(other);
        }
    } leaver;
    Collector left;
    Collector stays;
    leaver.port = &port;
    leaver.other = &left;
    for (kirt::PortReceiver* r : std::initializer_list<kirt::PortReceiver*>{&leaver, &left, &stays})
        port.addReceiver(r);
    QVERIFY(port.open(request(QStringLiteral("COM1"))).ok());
    port.session().setRxEnabled(true);
    QVERIFY(device.send("a"));
    QVERIFY(PtyDevice::waitUntil([&] { return stays.bytes == "a"; }));
    QVERIFY(device.send("b"));
    QVERIFY(PtyDevice::waitUntil([&] { return stays.bytes == "ab"; }));
    QCOMPARE(leaver.bytes, QByteArray("a"));
    QVERIFY(left.bytes.isEmpty());
}

void TestHeadless::aClaimantHasThePortToItself()
{
    kirt::test::TempSettings settings;
    PtyDevice device(1, PtyDevice::Mapping::Link);
    QTemporaryDir folder;
    TextSink display;
    kirt::PortController port(kirt::systemPortFactory(), &display);
    kirt::ReceivePipeline& pipeline = port.pipeline();
    pipeline.settings().format = kirt::DataFormat::Asc;
    const QString logPath = folder.filePath(QStringLiteral("log.txt"));
    QVERIFY(echoAnswerAndLog(pipeline, QStringLiteral("4142"), "!", logPath));
    Collector plot;
    port.addReceiver(&plot);
    Claimant transfer;
    Claimant other;
    QVERIFY(!port.claim(transfer)); // nothing open to claim
    QVERIFY(port.open(request(QStringLiteral("COM1"))).ok());
    port.session().setRxEnabled(true);
    QSignalSpy held(&port, &kirt::PortController::writeHeld);

    QVERIFY(port.claim(transfer));
    QVERIFY(!port.claim(other));
    QVERIFY(device.send("AB"));
    QVERIFY(PtyDevice::waitUntil([&] { return transfer.bytes == "AB"; }));
    PtyDevice::serveEvents(100);
    QCOMPARE(device.receive(1, 200), QByteArray()); // no echo, no answer
    QVERIFY(display.text.isEmpty());
    QVERIFY(plot.bytes.isEmpty());
    QCOMPARE(QFileInfo(logPath).size(), 0);
    QCOMPARE(port.write(reinterpret_cast<const std::uint8_t*>("x"), 1), 0u);
    QCOMPARE(held.count(), 1);
    QCOMPARE(held.first().first().toString(), QStringLiteral("transfer"));
    QCOMPARE(port.writeClaimed(other, reinterpret_cast<const std::uint8_t*>("y"), 1), 0u);
    port.writeClaimed(transfer, reinterpret_cast<const std::uint8_t*>("\x06"), 1);
    QCOMPARE(device.receive(1), QByteArray("\x06"));

    // Released: everything as before, for new bytes.
    port.release(transfer);
    QVERIFY(!transfer.ended);
    QVERIFY(device.send("AB"));
    QCOMPARE(device.receive(3), QByteArray("AB!"));
    QVERIFY(PtyDevice::waitUntil([&] { return display.text == "AB" && plot.bytes == "AB"; }));
    QCOMPARE(transfer.bytes, QByteArray("AB"));

    // A loss ends the claim; the device back, the port is as it was.
    QVERIFY(port.claim(transfer));
    device.closeMaster();
    QVERIFY(PtyDevice::waitUntil([&] { return transfer.ended.has_value(); }, 2000));
    QCOMPARE(*transfer.ended, kirt::PortClaimant::ClaimEnd::Lost);
    QVERIFY(!port.claimed());
    QVERIFY(device.reopen());
    QVERIFY(PtyDevice::waitUntil([&] { return port.session().deviceOpen(); }, 3000));
    QVERIFY(device.send("AB"));
    QCOMPARE(device.receive(3), QByteArray("AB!"));

    // So does a close.
    QVERIFY(port.claim(other));
    port.close();
    QCOMPARE(*other.ended, kirt::PortClaimant::ClaimEnd::Closed);
    QVERIFY(!port.claimed());
}

QTEST_GUILESS_MAIN(TestHeadless)
#include "tst_headless.moc"
