// The engine with no window and no widget linked: a pseudo-terminal's bytes through the port
// session and the receive pipeline, answered and logged as the window would.
#include "session/portengine.h"
#include "tests/support/ptydevice.h"
#include "tests/support/tempsettings.h"

#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

using kirt::PtyDevice;

class TestHeadless : public QObject
{
    Q_OBJECT

private slots:
    void bytesAreEchoedAnsweredAndLogged();
};

void TestHeadless::bytesAreEchoedAnsweredAndLogged()
{
    QVERIFY(!QCoreApplication::instance()->inherits("QGuiApplication"));
    kirt::test::TempSettings settings;
    PtyDevice device(1);
    QTemporaryDir folder;
    kirt::PortEngine engine;
    kirt::ReceivePipeline& pipeline = engine.pipeline();
    pipeline.settings().echo = true;
    pipeline.rule(1).parse(QStringLiteral("0102"));
    pipeline.setRuleResponse(1, QByteArray("\xAA\xBB"));
    pipeline.setRuleEnabled(1, true);
    const QString logPath = folder.filePath(QStringLiteral("log.HEX"));
    QVERIFY(pipeline.log().start(logPath));
    pipeline.settings().logging = true;

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

QTEST_GUILESS_MAIN(TestHeadless)
#include "tst_headless.moc"
