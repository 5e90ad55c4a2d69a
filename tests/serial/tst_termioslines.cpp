// Settings, modem lines and break as they reach a device: a pseudo-terminal plays it.
#include "serial/setspeed.h"
#include "serial/termiosport.h"
#include "tests/support/columns.h"
#include "tests/support/ptyport.h"

#include <QTest>

using kirt::ComSettings;
using kirt::PtyDevice;
using kirt::SerialError;
using kirt::TermiosPort;
using kirt::test::settings8N1;

Q_DECLARE_METATYPE(kirt::FlowControl)

class TestTermiosLines : public QObject
{
    Q_OBJECT

private slots:
    void flowControlReachesTheDevice_data();
    void flowControlReachesTheDevice();
    void customRateReadBack();
    void rateWithoutSpeedConstantOverPty();
    void applyRefusals_data();
    void applyRefusals();
    void noModemLinesOnAPty();
};

void TestTermiosLines::flowControlReachesTheDevice_data()
{
    kirt::test::columns<kirt::FlowControl, bool>({"flow", "rtsCts"});

    QTest::newRow("none") << kirt::FlowControl::None << false;
    QTest::newRow("rts/cts") << kirt::FlowControl::Hardware << true;
    QTest::newRow("xon/xoff") << kirt::FlowControl::Software << false;
}

void TestTermiosLines::flowControlReachesTheDevice()
{
    QFETCH(kirt::FlowControl, flow);
    QFETCH(bool, rtsCts);
    PtyDevice device;
    TermiosPort port;
    ComSettings settings = settings8N1();
    settings.flowControl = flow;
    QVERIFY(kirt::test::openOver(port, device, settings));
    termios actual{};
    QVERIFY(::tcgetattr(device.masterFd(), &actual) == 0);
    QCOMPARE((actual.c_cflag & CRTSCTS) != 0, rtsCts);
    QCOMPARE((actual.c_iflag & IXON) != 0, flow == kirt::FlowControl::Software);
    if (flow == kirt::FlowControl::Software) {
        QVERIFY((actual.c_iflag & IXOFF) != 0);
        QCOMPARE(actual.c_cc[VSTART], cc_t{0x11});
        QCOMPARE(actual.c_cc[VSTOP], cc_t{0x13});
    }
}

void TestTermiosLines::customRateReadBack()
{
    if (!kirt::arbitrarySpeedAvailable())
        QSKIP("no arbitrary rates on this platform");
    PtyDevice device;
    for (const std::uint32_t rate : {250000u, 12000000u, 50u}) {
        TermiosPort port;
        ComSettings settings = settings8N1();
        settings.baudRate = rate;
        QVERIFY(kirt::test::openOver(port, device, settings));
        std::uint32_t actual = 0;
        QVERIFY(kirt::readArbitrarySpeed(device.masterFd(), actual));
        QCOMPARE(actual, rate);
        port.close();
    }
}

void TestTermiosLines::rateWithoutSpeedConstantOverPty()
{
    if (!kirt::baudRateSupported(56000))
        QSKIP("no arbitrary rates on this platform");
    PtyDevice device;
    TermiosPort port;
    ComSettings settings = settings8N1();
    settings.baudRate = 56000;
    QVERIFY(kirt::test::openOver(port, device, settings));
    QVERIFY(port.writeByte(0x55));
    QCOMPARE(device.receive(1), QByteArray("\x55"));
}

void TestTermiosLines::applyRefusals_data()
{
    kirt::test::columns<int, int, int, QString>({"dataBits", "stopBits", "parity", "reasonPart"});

    QTest::newRow("4 data bits") << 4 << 0 << 0 << "4 data bits";
    QTest::newRow("1.5 stop bits") << 8 << 1 << 0 << "1.5 stop bits";
    // A pseudo-terminal keeps 8 data bits whatever is asked: the read-back catches it.
    QTest::newRow("7 data bits on a pty") << 7 << 0 << 2 << "did not take";
}

void TestTermiosLines::applyRefusals()
{
    QFETCH(int, dataBits);
    QFETCH(int, stopBits);
    QFETCH(int, parity);
    QFETCH(QString, reasonPart);

    PtyDevice device;
    TermiosPort port;
    QVERIFY(port.open(device.slavePath()).ok());
    QVERIFY(port.readState().ok());
    ComSettings settings = settings8N1();
    settings.dataBits = static_cast<std::uint8_t>(dataBits);
    settings.stopBits = static_cast<kirt::StopBits>(stopBits);
    settings.parity = static_cast<kirt::Parity>(parity);
    const kirt::SerialStatus status = port.applyState(settings);
    QCOMPARE(status.error, SerialError::SetStateFailed);
    QVERIFY2(status.reason.contains(reasonPart), qPrintable(status.reason));
    // The caller decides: the port is still open until it closes it.
    QVERIFY(port.isOpen());
    port.close();
}

void TestTermiosLines::noModemLinesOnAPty()
{
    PtyDevice device;
    TermiosPort port;
    QVERIFY(!port.modemStatus().available);
    QCOMPARE(port.setModemLine(kirt::ModemLine::Dtr, true).error, SerialError::NotOpen);
    QCOMPARE(port.setBreak(true).error, SerialError::NotOpen);

    QVERIFY(port.open(device.slavePath()).ok());
    QVERIFY(port.readState().ok());
    QVERIFY(port.applyState(settings8N1()).ok());
    QCOMPARE(port.modemStatus(), kirt::ModemStatus{});
    // Lines a device does not have are no error; a break works on a pty as on a port.
    QVERIFY(port.setModemLine(kirt::ModemLine::Dtr, true).ok());
    QVERIFY(port.setModemLine(kirt::ModemLine::Rts, false).ok());
    QVERIFY(port.setBreak(true).ok());
    QVERIFY(port.setBreak(false).ok());
    port.close();
}

QTEST_GUILESS_MAIN(TestTermiosLines)
#include "tst_termioslines.moc"
