// The port session without a window: the open sequence, the loss of the device and a return
// that takes only the device that was lost.
#include "session/portcontroller.h"
#include "tests/support/fakedevices.h"
#include "tests/support/fakeport.h"
#include "tests/support/ptydevice.h"
#include "tests/support/tempsettings.h"

#include <QSignalSpy>
#include <QtTest>

#include <unistd.h>

using kirt::PtyDevice;
using kirt::test::FakeDevices;
using kirt::test::FakePort;

namespace {

// An adapter with USB ids and a by-id name, mapped to COM1 by the variable.
struct Adapter
{
    kirt::test::TempSettings settings;
    FakeDevices devices;
    QString node;
    QString byId;
    std::shared_ptr<FakePort> port = std::make_shared<FakePort>();
    kirt::PortController engine{
        [this] { return std::static_pointer_cast<kirt::SerialPort>(port); }};

    Adapter() { plugIn(QStringLiteral("A1")); }
    ~Adapter() { qunsetenv("KIRT_COM1"); }

    void unplug()
    {
        // As the system does: the node and its persistent name go together.
        devices.unplug(node);
        QFile::remove(devices.byIdDirectory() + QLatin1Char('/') + byId);
    }

    void plugIn(const QString& serial)
    {
        kirt::SerialDevice identity;
        identity.hasUsbIds = true;
        identity.vendorId = 0x0403;
        identity.productId = 0x6001;
        identity.serialNumber = serial;
        byId = QStringLiteral("usb-Maker_Adapter_%1-if00-port0").arg(serial);
        node = devices.add(QStringLiteral("ttyUSB0"), identity, byId);
        qputenv("KIRT_COM1", QFile::encodeName(node));
    }

    bool open(bool dtr, bool rts)
    {
        kirt::OpenRequest request;
        request.portName = QStringLiteral("COM1");
        request.dtr = dtr;
        request.rts = rts;
        engine.session().setRxEnabled(true);
        return engine.session().open(request).ok();
    }

    bool lose()
    {
        port->unplug();
        return PtyDevice::waitUntil([&] { return engine.session().waitingForDevice(); }, 2000);
    }
};

kirt::OpenRequest com1()
{
    kirt::OpenRequest request;
    request.portName = QStringLiteral("COM1");
    return request;
}

} // namespace

class TestPortSession : public QObject
{
    Q_OBJECT

private slots:
    void reconnectRaisesTheLinesThatAreOn();
    void anotherDeviceUnderTheSameNameIsNotTaken();
    void reusedPseudoTerminalIsNotTakenARemadeLinkIs();
    void remadeLinkToAnotherUsersTerminalIsNotTaken();
    void openFailsAtTheStepThatFailed();
};

void TestPortSession::reconnectRaisesTheLinesThatAreOn()
{
    Adapter a;
    QVERIFY(a.open(true, true));
    QCOMPARE(a.port->events, (QStringList{"open", "apply", "DTR on", "RTS on"}));
    QVERIFY(a.engine.session().identity().known());

    QVERIFY(a.lose());
    QVERIFY(a.engine.session().isOpen());
    // Switched off while the device is away: the reopen keeps it off.
    QVERIFY(a.engine.session().setModemLine(kirt::ModemLine::Rts, false).ok());
    a.port->events.clear();
    QSignalSpy back(&a.engine.session(), &kirt::PortSession::reconnected);
    QVERIFY(back.wait(2000));
    QCOMPARE(back.at(0).at(0).toString(), a.node);
    QCOMPARE(a.port->events, (QStringList{"open", "apply", "DTR on"}));
    QVERIFY(a.port->dtr && !a.port->rts);
    QVERIFY(!a.engine.session().waitingForDevice());
}

void TestPortSession::anotherDeviceUnderTheSameNameIsNotTaken()
{
    Adapter a;
    QVERIFY(a.open(false, false));
    QVERIFY(a.lose());
    a.unplug();
    a.plugIn(QStringLiteral("B2")); // another board, same node
    QSignalSpy back(&a.engine.session(), &kirt::PortSession::reconnected);
    PtyDevice::serveEvents(1000);
    QCOMPARE(back.count(), 0);
    QVERIFY(a.engine.session().waitingForDevice());

    a.unplug();
    a.plugIn(QStringLiteral("A1"));
    QVERIFY(back.wait(2000));
}

void TestPortSession::reusedPseudoTerminalIsNotTakenARemadeLinkIs()
{
    kirt::test::TempSettings settings;
    PtyDevice device(1, PtyDevice::Mapping::Link);
    kirt::PortController engine;
    engine.pipeline().settings().echo = true;
    QVERIFY(engine.session().open(com1()).ok());
    engine.session().setRxEnabled(true);
    QVERIFY(!engine.session().identity().known());

    const QString lostPath = device.slavePath();
    device.closeMaster();
    QVERIFY(PtyDevice::waitUntil([&] { return engine.session().waitingForDevice(); }, 2000));
    // Another program's pseudo-terminal gets the freed number; the link is the old one.
    QVERIFY(device.reopen(false));
    if (device.slavePath() != lostPath)
        QSKIP("the kernel gave the freed number to another program first");
    QSignalSpy back(&engine.session(), &kirt::PortSession::reconnected);
    PtyDevice::serveEvents(1000);
    QCOMPARE(back.count(), 0);
    QVERIFY(engine.session().waitingForDevice());

    // Plugged in again as kirt-vdev does: a new link, even to the same number.
    device.remap();
    QVERIFY(back.wait(2000));
    QVERIFY(device.send("ping"));
    QCOMPARE(device.receive(4), QByteArray("ping"));
}

void TestPortSession::remadeLinkToAnotherUsersTerminalIsNotTaken()
{
    if (::geteuid() != 0)
        QSKIP("giving a terminal to another user needs root");
    kirt::test::TempSettings settings;
    PtyDevice device(1, PtyDevice::Mapping::Link);
    kirt::PortController engine;
    QVERIFY(engine.session().open(com1()).ok());
    engine.session().setRxEnabled(true);
    const uid_t owner = QFileInfo(device.slavePath()).ownerId();
    device.closeMaster();
    QVERIFY(PtyDevice::waitUntil([&] { return engine.session().waitingForDevice(); }, 2000));

    // The link is made anew, to a terminal that belongs to somebody else now.
    QVERIFY(device.reopen(false));
    const QByteArray slave = QFile::encodeName(device.slavePath());
    QCOMPARE(::chown(slave.constData(), owner + 1000, static_cast<gid_t>(-1)), 0);
    device.remap();
    QSignalSpy back(&engine.session(), &kirt::PortSession::reconnected);
    PtyDevice::serveEvents(1000);
    QCOMPARE(back.count(), 0);

    // Given back to the user it was lost from, it is the device again.
    QCOMPARE(::chown(slave.constData(), owner, static_cast<gid_t>(-1)), 0);
    QVERIFY(back.wait(2000));
}

void TestPortSession::openFailsAtTheStepThatFailed()
{
    kirt::test::TempSettings settings;
    kirt::PortController engine;
    kirt::OpenRequest request = com1();
    request.portName = QStringLiteral("COM31");
    auto result = engine.session().open(request);
    QCOMPARE(result.failed, kirt::OpenResult::Step::Open);
    QCOMPARE(result.status.reason, QStringLiteral("COM31 is not a port name."));

    PtyDevice device(1);
    request = com1();
    request.settingsRefusal = QStringLiteral("No parity is chosen.");
    result = engine.session().open(request);
    QCOMPARE(result.failed, kirt::OpenResult::Step::ApplyState);
    QCOMPARE(result.status.reason, request.settingsRefusal);
    QVERIFY(!engine.session().isOpen());
    QVERIFY(engine.session().open(com1()).ok());
}

QTEST_GUILESS_MAIN(TestPortSession)
#include "tst_portsession.moc"
