// The device goes away while the port is open: nothing crashes, nothing spins, and the
// terminal recovers once the device is back.
#include "tests/support/controls.h"
#include "tests/support/cputime.h"
#include "tests/support/timing.h"
#include "tests/support/windowfixture.h"
#include "ui/receivedisplay.h"

#include <QElapsedTimer>
#include <QLabel>
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
    void deviceThatNeverReads();
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
    KIRT_VERIFY_TIMING(share < 0.5, qPrintable(QString::number(share)));
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

// Four rules answer every request with 1000 bytes, and the device reads none of them: the
// window goes on serving its events, what does not fit the write queue is counted as dropped,
// and what was written reaches the device in order once it reads.
void TestDeviceFault::deviceThatNeverReads()
{
    WindowFixture f(WindowFixture::Device::Pty);
    f.window().show();
    QByteArray answer;
    for (int n = 1; n <= 4; ++n) {
        QByteArray response;
        for (int i = 0; i < 250; ++i)
            response.append(static_cast<char>(n * 60 + i));
        kirt::test::enableRule(&f.window(), n, QStringLiteral("51"),
                               QString::fromLatin1(response.toHex()));
        answer += response;
    }
    QVERIFY(f.openPort());
    constexpr int Requests = 1500;
    qint64 longestGap = 0;
    QElapsedTimer sinceTick;
    sinceTick.start();
    QTimer tick;
    QObject::connect(&tick, &QTimer::timeout,
                     [&] { longestGap = std::max(longestGap, sinceTick.restart()); });
    tick.start(10);
    // In pieces, so what is measured is waiting for the device, not the work of one batch.
    for (int sent = 0; sent < Requests; sent += 50) {
        QVERIFY(f.device().send(QByteArray(50, 'Q')));
        PtyDevice::serveEvents(10);
    }
    const auto* answered = f.find<QLabel>("ResponseCountText4");
    QVERIFY(PtyDevice::waitUntil(
        [&] { return answered->text().endsWith(QStringLiteral(": %1").arg(Requests)); }, 30000));
    PtyDevice::serveEvents(200);
    tick.stop();
    KIRT_VERIFY_TIMING(longestGap < 100, qPrintable(QString::number(longestGap)));

    const auto* dropped = f.find<QLabel>("TxDroppedLabel");
    QVERIFY(dropped->isVisible());
    const qint64 count = dropped->text().mid(int(strlen(" TX dropped: "))).toLongLong();
    QVERIFY(count > 0);
    QCOMPARE(dropped->text(), QStringLiteral(" TX dropped: %1").arg(count));
    const qint64 written = qint64(Requests) * answer.size() - count;
    const QByteArray received = f.device().receive(int(written), 30000);
    QCOMPARE(received.size(), written);
    QVERIFY(received == answer.repeated(Requests).left(int(written)));
}

QTEST_MAIN(TestDeviceFault)
#include "tst_devicefault.moc"
