// The device behind the port: choosing it from the list, the label, and an open port whose
// device goes away and comes back.
#include "serial/portmap.h"
#include "tests/support/cputime.h"
#include "tests/support/fakedevices.h"
#include "tests/support/files.h"
#include "tests/support/windowfixture.h"
#include "ui/receivedisplay.h"

#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <QtTest>

#include <sys/resource.h>

using kirt::PtyDevice;
using kirt::test::linkOf;
using kirt::test::WindowFixture;

class TestDevice : public QObject
{
    Q_OBJECT

private slots:
    void choosingADeviceMapsThePort();
    void lostDeviceIsWaitedForAndReopened();
    void comWhileLostStopsWaiting();
};

void TestDevice::choosingADeviceMapsThePort()
{
    kirt::test::FakeDevices fake;
    kirt::SerialDevice ftdi;
    ftdi.description = QStringLiteral("FT232R USB UART");
    ftdi.serialNumber = QStringLiteral("A50285BI");
    const QString usb = fake.add(QStringLiteral("ttyUSB0"), ftdi, QStringLiteral("usb-FTDI-port0"));
    const QString acm = fake.add(QStringLiteral("ttyACM0"));
    WindowFixture f;
    QDir().mkpath(kirt::portLinkDirectory());
    QFile::link(fake.byIdDirectory() + QStringLiteral("/gone"), linkOf(QStringLiteral("COM3")));
    f.window().show();

    auto* box = f.find<QComboBox>(QStringLiteral("SerialDeviceComboBox"));
    auto* label = f.find<QLabel>(QStringLiteral("SerialPortDeviceLabel"));
    QCOMPARE(box->count(), 2);
    QCOMPARE(box->itemText(0), acm);
    QCOMPARE(box->itemText(1), usb + QStringLiteral("  FT232R USB UART  A50285BI"));

    // A dangling link: no item is current, the label says so; typing picks nothing.
    f.choose(QStringLiteral("SerialPortComboBox"), 2);
    QCOMPARE(box->currentIndex(), -1);
    QCOMPARE(label->text(), fake.byIdDirectory() + QStringLiteral("/gone (link ") +
                                linkOf(QStringLiteral("COM3")) + QStringLiteral(") - not present"));
    QCOMPARE(label->toolTip(), label->text());
    QTest::keyClicks(box, QStringLiteral("/t"));
    QCOMPARE(box->currentIndex(), -1);

    f.choose(QStringLiteral("SerialDeviceComboBox"), 1);
    QCOMPARE(QFileInfo(linkOf(QStringLiteral("COM3"))).symLinkTarget(),
             fake.byIdDirectory() + QStringLiteral("/usb-FTDI-port0"));
    QCOMPARE(box->currentIndex(), 1);
    QVERIFY(label->text().startsWith(fake.byIdDirectory() + QStringLiteral("/usb-FTDI-port0")));
    QVERIFY(!label->text().endsWith(QStringLiteral(" - not present")));

    // Unplugged: the list and the label follow within a second, with no click.
    fake.unplug(usb);
    QVERIFY(PtyDevice::waitUntil([&] { return box->findData(usb) < 0; }, 1000));
    QVERIFY(label->text().endsWith(QStringLiteral(" - not present")));
    QCOMPARE(box->currentIndex(), -1);

    // A file of the user's in place of the link is left alone, and the user is told.
    QFile plain(linkOf(QStringLiteral("COM4")));
    QVERIFY(plain.open(QIODevice::WriteOnly));
    plain.close();
    f.choose(QStringLiteral("SerialPortComboBox"), 3);
    f.choose(QStringLiteral("SerialDeviceComboBox"), 0);
    QCOMPARE(f.answers.errors, QStringList{QStringLiteral("Cannot map COM4")});
    QVERIFY(!QFileInfo(linkOf(QStringLiteral("COM4"))).isSymLink());
    QVERIFY(box->isEnabled());

    qputenv("KIRT_COM6", "/dev/null");
    f.choose(QStringLiteral("SerialPortComboBox"), 5);
    QVERIFY(!box->isEnabled());
    QVERIFY(box->toolTip().contains(QStringLiteral("KIRT_COM6")));
    qunsetenv("KIRT_COM6");
}

void TestDevice::lostDeviceIsWaitedForAndReopened()
{
    // Plugged in again as kirt-vdev does it: a new pseudo-terminal and a new link to it.
    WindowFixture f(WindowFixture::Device::PtyByLink);
    PtyDevice& device = f.device();
    f.showWithDisplayFormat(1);
    auto* state = f.find<QLabel>(QStringLiteral("DeviceStateLabel"));
    QVERIFY(!state->isVisible());
    QVERIFY(f.openPort());
    QTimer stream;
    QObject::connect(&stream, &QTimer::timeout, [&] {
        if (device.masterFd() >= 0)
            device.send(QByteArray("streaming\r\n"), 100);
    });
    stream.start(2);
    QVERIFY(PtyDevice::waitUntil([&] { return f.display()->displayText().contains("streaming"); }));

    const QString lostPath = device.slavePath();
    device.closeMaster();
    QVERIFY(PtyDevice::waitUntil([&] { return state->isVisible(); }, 1000));
    stream.stop();
    QCOMPARE(state->text(),
             QStringLiteral(" Device lost: ") + lostPath + QStringLiteral(" - waiting for it"));
    QCOMPARE(f.find<QPushButton>(QStringLiteral("COM_BitBtn"))->text(),
             QStringLiteral("COM CLOSE"));
    QVERIFY(f.window().portOpen());
    f.click(QStringLiteral("BitBtn9")); // a write while lost goes nowhere, quietly
    QVERIFY(f.answers.errors.isEmpty() && f.answers.messages.isEmpty());

    // The device list is read again once, just after the loss; the wait itself is measured.
    QTest::qWait(400);
    const double share = kirt::test::cpuShareDuring([] { QTest::qWait(1000); });
    qInfo("CPU while waiting for the device: %.2f%% of one core", share * 100.0);
    QVERIFY2(share < 0.05, qPrintable(QString::number(share)));

    QVERIFY(device.reopen());
    QVERIFY(PtyDevice::waitUntil(
        [&] { return state->text() == QStringLiteral(" Reconnected: ") + device.slavePath(); },
        2000));
    QVERIFY(device.send(QByteArray("back again")));
    QVERIFY(PtyDevice::waitUntil(
        [&] { return f.display()->displayText().endsWith(QStringLiteral("back again")); }));
    QVERIFY(PtyDevice::waitUntil([&] { return !state->isVisible(); }, 4000));

    // Lost again, then the window is closed while it waits.
    device.closeMaster();
    QVERIFY(PtyDevice::waitUntil([&] { return state->isVisible(); }, 1000));
    f.destroyWindow();
}

void TestDevice::comWhileLostStopsWaiting()
{
    WindowFixture f(WindowFixture::Device::Pty);
    PtyDevice& device = f.device();
    f.window().show();
    auto* state = f.find<QLabel>(QStringLiteral("DeviceStateLabel"));
    QVERIFY(f.openPort());
    device.closeMaster();
    QVERIFY(PtyDevice::waitUntil([&] { return state->isVisible(); }, 1000));

    f.click(QStringLiteral("COM_BitBtn"));
    QVERIFY(!f.window().portOpen());
    QVERIFY(!f.window().waitingForDevice());
    QVERIFY(state->isHidden());
    QVERIFY(device.reopen());
    PtyDevice::serveEvents(800);
    QVERIFY(!f.window().portOpen());
    QVERIFY(state->isHidden());
    QCOMPARE(f.find<QPushButton>(QStringLiteral("COM_BitBtn"))->text(), QStringLiteral("COM OPEN"));
}

QTEST_MAIN(TestDevice)
#include "tst_device.moc"
