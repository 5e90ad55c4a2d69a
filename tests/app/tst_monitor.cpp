// A monitor port merged into the display: two pseudo-terminals, COM1 the port and COM2 the
// monitor. Rows in read order with their names, in HEX and ASC and with stamps; the log's rows;
// nothing ever written to the monitor; its loss while the port streams; bad choices.
#include "tests/support/usersteps.h"
#include "tests/support/windowfixture.h"
#include "ui/receivedisplay.h"

#include <QComboBox>
#include <QFile>
#include <QLabel>
#include <QRegularExpression>
#include <QtTest>

using kirt::PtyDevice;
using kirt::test::WindowFixture;
using Device = WindowFixture::Device;

namespace {

constexpr int Hex = 0;
constexpr int Asc = 1;
constexpr int MonitorCom2 = 2; // "OFF", "COM1", "COM2", ...

// Each port's bytes come in a pause of their own, so the order is known; parts: what shows the
// first and the second have arrived.
bool exchange(WindowFixture& f, PtyDevice& monitor, const QString& first, const QString& part)
{
    f.device().send("AB");
    if (!PtyDevice::waitUntil([&] { return f.display()->displayText().contains(first); }))
        return false;
    PtyDevice::serveEvents(30);
    monitor.send("CD");
    if (!PtyDevice::waitUntil([&] { return f.display()->displayText().contains(part); }))
        return false;
    PtyDevice::serveEvents(30);
    f.device().send("EF");
    return PtyDevice::waitUntil([&] { return f.display()->displayText().count(u'\n') >= 2; });
}

QLabel* monitorLabel(WindowFixture& f)
{
    return f.find<QLabel>(QStringLiteral("MonitorPortLabel"));
}

} // namespace

class TestMonitor : public QObject
{
    Q_OBJECT

private slots:
    void rowsNamedInReadOrder_data();
    void rowsNamedInReadOrder();
    void lossOfTheMonitorWhileThePortStreams();
    void badChoices();
};

void TestMonitor::rowsNamedInReadOrder_data()
{
    QTest::addColumn<int>("format");
    QTest::addColumn<int>("stamps");
    QTest::addColumn<QString>("expected"); // rows, the stamps taken out
    QTest::newRow("HEX") << Hex << 0 << "COM1> 41 42 \nCOM2> 43 44 \nCOM1> 45 46 ";
    QTest::newRow("ASC") << Asc << 0 << "COM1> AB\nCOM2> CD\nCOM1> EF";
    QTest::newRow("ASC stamped") << Asc << 1 << "COM1> AB\nCOM2> CD\nCOM1> EF";
}

void TestMonitor::rowsNamedInReadOrder()
{
    QFETCH(int, format);
    QFETCH(int, stamps);
    QFETCH(QString, expected);
    WindowFixture f(Device::Pty);
    PtyDevice monitor(2);
    f.showWithDisplayFormat(format);
    f.choose("MonitorPortComboBox", MonitorCom2);
    f.choose("TimeStampComboBox", stamps);
    // Echo and a rule on the port: neither may ever reach the monitor.
    f.choose("EchoOnOffComboBox", 1);
    kirt::test::enableRule(&f.window(), 1, QStringLiteral("43"), QStringLiteral("5A"));
    QVERIFY(f.openPort());
    const QString log = f.file(QStringLiteral("merged.log"));
    QVERIFY(kirt::test::startLog(f, log));

    QVERIFY(exchange(f, monitor, format == Hex ? "41 42" : "AB", format == Hex ? "43 44" : "CD"));
    QString text = f.display()->displayText();
    static const QRegularExpression stamp(QStringLiteral(R"(^\[\d\d:\d\d:\d\d\.\d\d\d\] )"),
                                          QRegularExpression::MultilineOption);
    QCOMPARE(text.count(stamp), stamps ? 3 : 0);
    text.remove(stamp);
    QCOMPARE(text, expected);

    // The port's own bytes echoed, no answer to the monitor's "C"; nothing at all to the monitor.
    QCOMPARE(f.device().receive(4, 1000), QByteArray("ABEF"));
    QCOMPARE(f.device().receive(1, 300), QByteArray());
    QCOMPARE(monitor.receive(1, 300), QByteArray());

    // The log carries the display's rows.
    f.click("COM_BitBtn");
    QFile file(log);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QString logged = QString::fromLatin1(file.readAll());
    logged.remove(stamp);
    QCOMPARE(logged.trimmed(), QString(expected).replace(u'\n', QStringLiteral("\r\n")).trimmed());
}

void TestMonitor::lossOfTheMonitorWhileThePortStreams()
{
    WindowFixture f(Device::Pty);
    // Plugged in again as kirt-vdev does it: a new pseudo-terminal and a new link to it.
    PtyDevice monitor(2, PtyDevice::Mapping::Link);
    f.showWithDisplayFormat(Asc);
    f.choose("MonitorPortComboBox", MonitorCom2);
    QVERIFY(f.openPort());
    QVERIFY(monitor.send("m1\r\n"));
    QVERIFY(PtyDevice::waitUntil([&] { return f.display()->displayText().contains("COM2> m1"); }));

    monitor.closeMaster();
    QVERIFY(PtyDevice::waitUntil([&] {
        return monitorLabel(f)->isVisible() &&
               monitorLabel(f)->text() == " Monitor lost: COM2 - waiting for it";
    }));
    // The port goes on meanwhile.
    for (int i = 0; i < 20; ++i)
        QVERIFY(f.device().send(QByteArray("p") + QByteArray::number(i) + "\r\n"));
    QVERIFY(PtyDevice::waitUntil([&] { return f.display()->displayText().contains("COM1> p19"); }));
    QVERIFY(f.window().portOpen());

    QVERIFY(monitor.reopen());
    QVERIFY(PtyDevice::waitUntil([&] { return monitorLabel(f)->text() == " Monitor back: COM2"; },
                                 8000));
    QVERIFY(monitor.send("m2\r\n"));
    QVERIFY(PtyDevice::waitUntil([&] { return f.display()->displayText().contains("COM2> m2"); }));

    // OFF while the port is open ends the monitor at once: rows lose their names.
    f.choose("MonitorPortComboBox", 0);
    QVERIFY(f.device().send("q\r\n"));
    QVERIFY(PtyDevice::waitUntil([&] { return f.display()->displayText().endsWith("\nq\n"); }));
    QVERIFY(!f.window().monitorPort().isOpen());
}

void TestMonitor::badChoices()
{
    WindowFixture f(Device::Pty);
    f.showWithDisplayFormat(Asc);
    // The port itself: said, and the box goes back to OFF.
    f.choose("MonitorPortComboBox", 1);
    QCOMPARE(f.answers.messages.size(), 1);
    QCOMPARE(f.find<QComboBox>("MonitorPortComboBox")->currentIndex(), 0);

    // A monitor with no device behind it: the port opens all the same and the bar says why.
    f.choose("MonitorPortComboBox", 5);
    QVERIFY(f.openPort());
    QVERIFY(PtyDevice::waitUntil([&] { return monitorLabel(f)->isVisible(); }));
    QVERIFY2(monitorLabel(f)->text().startsWith(" Monitor not opened: Error Opening COM5"),
             qPrintable(monitorLabel(f)->text()));
    QVERIFY(f.device().send("x\r\n"));
    QVERIFY(f.waitForText("x\n"));
}

QTEST_MAIN(TestMonitor)
#include "tst_monitor.moc"
