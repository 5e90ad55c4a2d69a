// The device goes away while the port is open: nothing crashes, nothing spins, and the
// terminal recovers once the device is back.
#include "tests/support/cputime.h"
#include "tests/support/windowfixture.h"
#include "ui/receivedisplay.h"

#include <QPushButton>
#include <QtTest>

#include <sys/resource.h>

using kirt::PtyDevice;
using kirt::test::WindowFixture;

class TestDeviceFault : public QObject
{
    Q_OBJECT

private slots:
    void deviceDisappearsDuringAStream();
};

void TestDeviceFault::deviceDisappearsDuringAStream()
{
    WindowFixture f(WindowFixture::Device::Pty);
    PtyDevice& device = f.device();
    f.window().show();
    kirt::ReceiveDisplay* display = f.display();
    f.choose("DisplayFormatComboBox", 1);
    QVERIFY(f.openPort());
    QVERIFY(device.send(QByteArray("before the fault\r\n")));
    QTimer stream;
    QObject::connect(&stream, &QTimer::timeout, [&] {
        if (device.masterFd() >= 0)
            device.send(QByteArray("streaming\r\n"), 100);
    });
    stream.start(2);
    QVERIFY(PtyDevice::waitUntil([&] { return display->displayText().contains("streaming"); }));

    device.closeMaster(); // the adapter is pulled out in the middle of the stream
    PtyDevice::serveEvents(300);
    stream.stop();
    const QString kept = display->displayText();
    QVERIFY(kept.contains(QStringLiteral("before the fault")));

    // A failed read must not turn the receive loop into a spin: over one second the whole
    // process, which also serves the loop's hand-overs, stays far below one busy core.
    const double share = kirt::test::cpuShareDuring([] { PtyDevice::serveEvents(1000); });
    qInfo("CPU while the device is gone: %.1f%% of one core", share * 100.0);
    QVERIFY2(share < 0.5, qPrintable(QString::number(share)));
    QCOMPARE(display->displayText(), kept);
    QVERIFY(f.answers.errors.isEmpty());

    // The COM button closes the port; once the device is back it opens and works again.
    f.click("COM_BitBtn");
    QVERIFY(!f.window().portOpen());
    QCOMPARE(f.find<QPushButton>("COM_BitBtn")->text(), QStringLiteral("COM OPEN"));
    QVERIFY(device.reopen());
    QVERIFY(f.openPort());
    QVERIFY(device.send(QByteArray("back again")));
    QVERIFY(f.waitForText(QStringLiteral("back again")));
}

QTEST_MAIN(TestDeviceFault)
#include "tst_devicefault.moc"
