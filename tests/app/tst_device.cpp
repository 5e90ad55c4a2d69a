// The device behind the port: choosing it from the list, the label, and an open port whose
// device goes away and comes back.
#include "serial/portmap.h"
#include "tests/support/cputime.h"
#include "tests/support/fakedevices.h"
#include "tests/support/files.h"
#include "tests/support/ser2netserver.h"
#include "tests/support/timing.h"
#include "tests/support/windowfixture.h"
#include "ui/receivedisplay.h"

#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <QRegularExpression>
#include <QtTest>

#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

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
    void networkPortLostAndReconnected();
    void networkOpenNeverHoldsTheWindow();
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
    QCOMPARE(box->count(), 3);
    QCOMPARE(box->itemText(0), acm);
    QCOMPARE(box->itemText(1), usb + QStringLiteral("  FT232R USB UART  A50285BI"));
    QCOMPARE(box->itemText(2), QStringLiteral("Other device..."));

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

    // Other device: a bad address, a file that is no device and a missing path are refused
    // with their reason and change nothing; a good address is linked, listed and shown.
    f.choose(QStringLiteral("SerialPortComboBox"), 4); // COM5, unmapped
    const QString com5 = linkOf(QStringLiteral("COM5"));
    const QString other = QStringLiteral("Other device...");
    f.answers.texts = {QStringLiteral("rfc2217://:4000"), QStringLiteral("tcp://rack:70000"),
                       QFileInfo(com5).path() + QStringLiteral("/COM4"),
                       QStringLiteral("/dev/kirt-none"), QStringLiteral("rfc2217://rack7:4001")};
    f.answers.errors.clear();
    f.answers.details.clear();
    for (int i = 0; i < 4; ++i)
        f.choose(QStringLiteral("SerialDeviceComboBox"), box->findText(other));
    QCOMPARE(f.answers.errors.size(), 4);
    QVERIFY(f.answers.details[0].contains(QStringLiteral("host")));
    QVERIFY(f.answers.details[1].contains(QStringLiteral("70000")));
    QVERIFY(f.answers.details[2].contains(QStringLiteral("not a character device")));
    QVERIFY(f.answers.details[3].contains(QStringLiteral("No such file")));
    QVERIFY(!QFileInfo(com5).isSymLink());
    QCOMPARE(f.answers.textsOffered.last(), QString()); // unmapped: nothing offered
    f.choose(QStringLiteral("SerialDeviceComboBox"), box->findText(other));
    QCOMPARE(kirt::resolvePort(QStringLiteral("COM5"))->devicePath,
             QStringLiteral("rfc2217://rack7:4001"));
    QCOMPARE(box->currentText(), QStringLiteral("rfc2217://rack7:4001  network port"));
    QVERIFY(label->text().startsWith(QStringLiteral("rfc2217://rack7:4001 (link ")));
    f.answers.texts = {QStringLiteral("tcp://[::1]:4002")};
    f.choose(QStringLiteral("SerialDeviceComboBox"), box->findText(other));
    QCOMPARE(f.answers.textsOffered.last(), QStringLiteral("rfc2217://rack7:4001"));
    QCOMPARE(label->text(),
             QStringLiteral("tcp://[::1]:4002 (raw TCP: line settings stay on the server)"));

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
    KIRT_VERIFY_TIMING(share < 0.05, qPrintable(QString::number(share)));

    QVERIFY(device.reopen());
    QVERIFY(PtyDevice::waitUntil(
        [&] { return state->text() == QStringLiteral(" Reconnected: ") + device.slavePath(); },
        2000));
    QVERIFY(device.send(QByteArray("back again")));
    QVERIFY(PtyDevice::waitUntil(
        [&] { return f.display()->displayText().endsWith(QStringLiteral("back again")); }));
    // Read back later, the display says where its gap came from, and when.
    const QRegularExpression trace(
        QStringLiteral("\n\\[\\d\\d:\\d\\d:\\d\\d\\.\\d{3}\\] Device lost: %1\n"
                       "\\[\\d\\d:\\d\\d:\\d\\d\\.\\d{3}\\] Reconnected: %2\nback again$")
            .arg(QRegularExpression::escape(lostPath),
                 QRegularExpression::escape(device.slavePath())));
    QVERIFY2(f.display()->displayText().contains(trace),
             qPrintable(f.display()->displayText().right(200)));
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
void TestDevice::networkPortLostAndReconnected()
{
    if (kirt::test::Ser2netServer::program().isEmpty())
        QSKIP("ser2net is not installed (apt-get install ser2net)");
    PtyDevice device(2); // behind ser2net; COM1 names the server
    kirt::test::Ser2netServer server;
    QString error;
    QVERIFY2(server.start(device.slavePath(), true, error), qPrintable(error));
    const QString address = server.address();
    qputenv("KIRT_COM1", address.toUtf8());
    WindowFixture f;
    f.showWithDisplayFormat(1);
    auto* state = f.find<QLabel>(QStringLiteral("DeviceStateLabel"));
    QCOMPARE(f.find<QLabel>(QStringLiteral("SerialPortDeviceLabel"))->text(),
             address + QStringLiteral(" (KIRT_COM1)"));
    QVERIFY(f.openPort());
    QVERIFY(device.send("before\r\n"));
    QVERIFY(PtyDevice::waitUntil([&] { return f.display()->displayText().contains("before"); }));

    server.stop();
    QElapsedTimer clock;
    clock.start();
    QVERIFY(PtyDevice::waitUntil([&] { return state->isVisible(); }, 2000));
    QCOMPARE(state->text(),
             QStringLiteral(" Device lost: ") + address + QStringLiteral(" - waiting for it"));
    QVERIFY(f.window().portOpen());

    QVERIFY2(server.start(device.slavePath(), true, error, server.port()), qPrintable(error));
    QVERIFY(PtyDevice::waitUntil(
        [&] { return state->text().startsWith(QStringLiteral(" Reconnected")); }, 3000));
    QCOMPARE(state->text(), QStringLiteral(" Reconnected: ") + address);
    QVERIFY(device.send("after\r\n"));
    QVERIFY(PtyDevice::waitUntil([&] { return f.display()->displayText().contains("after"); }));
    f.click(QStringLiteral("COM_BitBtn"));

    // Nobody listening: the open fails and says why.
    server.stop();
    f.click(QStringLiteral("COM_BitBtn"));
    QVERIFY(PtyDevice::waitUntil([&] { return !f.window().port().opening(); }));
    QVERIFY(!f.window().portOpen());
    QCOMPARE(f.answers.errors.value(0), QStringLiteral("Error Opening COM1"));
    QVERIFY2(f.answers.details.value(0).contains(QStringLiteral("refused")),
             qPrintable(f.answers.details.value(0)));
    qunsetenv("KIRT_COM1");
}

void TestDevice::networkOpenNeverHoldsTheWindow()
{
    // A server that takes the connection and never says a word: the system accepts for it.
    const int server = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in at{};
    at.sin_family = AF_INET;
    at.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof at;
    QVERIFY(::bind(server, reinterpret_cast<sockaddr*>(&at), sizeof at) == 0);
    QVERIFY(::listen(server, 4) == 0);
    QVERIFY(::getsockname(server, reinterpret_cast<sockaddr*>(&at), &size) == 0);
    const QString address = QStringLiteral("rfc2217://127.0.0.1:%1").arg(ntohs(at.sin_port));
    qputenv("KIRT_COM1", address.toUtf8());
    WindowFixture f;
    f.showWithDisplayFormat(1);
    auto* label = f.find<QLabel>(QStringLiteral("SerialPortDeviceLabel"));
    QElapsedTimer clock;
    clock.start();
    qint64 lastTick = 0;
    qint64 longestGap = 0;
    QTimer tick;
    QObject::connect(&tick, &QTimer::timeout, [&] {
        longestGap = std::max(longestGap, clock.elapsed() - lastTick);
        lastTick = clock.elapsed();
    });
    tick.start(10);

    f.click(QStringLiteral("COM_BitBtn"));
    QVERIFY(f.window().port().opening());
    QCOMPARE(label->text(), QStringLiteral(" Connecting to ") + address + QStringLiteral("..."));
    PtyDevice::serveEvents(300);
    QElapsedTimer cancel;
    cancel.start();
    f.press(Qt::Key_F2);
    const qint64 cancelMs = cancel.elapsed();
    QVERIFY(!f.window().port().opening());
    QVERIFY(!f.window().portOpen());
    QVERIFY(f.answers.errors.isEmpty() && f.answers.messages.isEmpty());
    QCOMPARE(label->text(), address + QStringLiteral(" (KIRT_COM1)"));
    KIRT_VERIFY_TIMING(cancelMs < 100, qPrintable(QString::number(cancelMs)));

    // Left alone, it fails as a silent server's open always has, after its time-out.
    lastTick = clock.elapsed();
    f.click(QStringLiteral("COM_BitBtn"));
    QVERIFY(PtyDevice::waitUntil([&] { return !f.window().port().opening(); }, 10000));
    QVERIFY(!f.window().portOpen());
    QCOMPARE(f.answers.messages, QStringList{QStringLiteral("Set ComPort Status ERROR!")});
    QVERIFY(!f.answers.details.last().isEmpty());
    KIRT_VERIFY_TIMING(longestGap < 100, qPrintable(QString::number(longestGap)));
    ::close(server);
    qunsetenv("KIRT_COM1");
}

#include "tst_device.moc"
