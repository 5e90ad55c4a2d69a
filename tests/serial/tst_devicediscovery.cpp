// The device list and the port-map links written from it, over a fake device folder.
#include "serial/devicediscovery.h"
#include "serial/portmap.h"
#include "tests/support/fakedevices.h"
#include "tests/support/files.h"
#include "tests/support/tempsettings.h"

#include <QFileInfo>
#include <QTest>

using kirt::SerialDevice;
using kirt::test::FakeDevices;
using kirt::test::linkOf;

namespace {

SerialDevice ftdi()
{
    SerialDevice d;
    d.manufacturer = QStringLiteral("FTDI");
    d.description = QStringLiteral("FT232R USB UART");
    d.serialNumber = QStringLiteral("A50285BI");
    d.hasUsbIds = true;
    d.vendorId = 0x0403;
    d.productId = 0x6001;
    return d;
}

} // namespace

class TestDeviceDiscovery : public QObject
{
    Q_OBJECT

private slots:
    void listsSystemAndMappedDevices();
    void mapsToPersistentNameElseNode();
    void leavesWhatIsNoLinkAlone();
};

void TestDeviceDiscovery::listsSystemAndMappedDevices()
{
    kirt::test::TempSettings settings;
    FakeDevices fake;
    const QString usb = fake.add(QStringLiteral("ttyUSB0"), ftdi(),
                                 QStringLiteral("usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0"));
    const QString acm = fake.add(QStringLiteral("ttyACM0"));
    // A device only the port map knows, and a port linked to a listed device by its by-id name.
    QTemporaryDir elsewhere;
    const QString other = elsewhere.filePath(QStringLiteral("ttyV0"));
    QFile(other).open(QIODevice::WriteOnly);
    QDir().mkpath(kirt::portLinkDirectory());
    QFile::link(other, linkOf(QStringLiteral("COM3")));
    QFile::link(fake.byIdDirectory() + "/usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0",
                linkOf(QStringLiteral("COM5")));

    const QList<SerialDevice> devices = kirt::discoverDevices();
    QCOMPARE(devices.size(), 3);
    QCOMPARE(devices[0].path, acm);
    QCOMPARE(devices[0].itemText(), acm);
    QVERIFY(devices[0].byIdPath.isEmpty());
    QCOMPARE(devices[1].itemText(), usb + QStringLiteral("  FT232R USB UART  A50285BI"));
    QCOMPARE(devices[1].byIdPath,
             fake.byIdDirectory() + "/usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0");
    QCOMPARE(devices[1].ports, QStringList{QStringLiteral("COM5")});
    QVERIFY(devices[1].details().contains(QStringLiteral("USB id: 0403:6001")));
    QVERIFY(devices[1].details().contains(QStringLiteral("Manufacturer: FTDI")));
    QCOMPARE(devices[2].path, QFileInfo(other).canonicalFilePath());
    QCOMPARE(devices[2].ports, QStringList{QStringLiteral("COM3")});

    QCOMPARE(kirt::indexOfPortDevice(devices, QStringLiteral("COM5")), 1);
    QCOMPARE(kirt::indexOfPortDevice(devices, QStringLiteral("COM3")), 2);
    QCOMPARE(kirt::indexOfPortDevice(devices, QStringLiteral("COM4")), -1); // no /dev/ttyS3 here

    // Gone from the system: gone from the list, and the port leads to no listed device.
    fake.unplug(usb);
    const QList<SerialDevice> after = kirt::discoverDevices();
    QCOMPARE(after.size(), 2);
    QCOMPARE(kirt::indexOfPortDevice(after, QStringLiteral("COM5")), -1);
}

void TestDeviceDiscovery::mapsToPersistentNameElseNode()
{
    kirt::test::TempSettings settings;
    FakeDevices fake;
    fake.add(QStringLiteral("ttyUSB0"), ftdi(), QStringLiteral("usb-FTDI-port0"));
    fake.add(QStringLiteral("ttyACM0"));
    const QList<SerialDevice> devices = kirt::discoverDevices();

    // No folder yet: it is made. Then an existing link is re-pointed.
    kirt::MapResult result = kirt::mapPortToDevice(QStringLiteral("COM2"), devices[1]);
    QVERIFY2(result.ok, qPrintable(result.reason));
    QCOMPARE(QFileInfo(linkOf(QStringLiteral("COM2"))).symLinkTarget(),
             fake.byIdDirectory() + QStringLiteral("/usb-FTDI-port0"));
    QCOMPARE(kirt::indexOfPortDevice(devices, QStringLiteral("COM2")), 1);

    result = kirt::mapPortToDevice(QStringLiteral("COM2"), devices[0]);
    QVERIFY2(result.ok, qPrintable(result.reason));
    QCOMPARE(QFileInfo(linkOf(QStringLiteral("COM2"))).symLinkTarget(), devices[0].path);
    QCOMPARE(kirt::indexOfPortDevice(devices, QStringLiteral("COM2")), 0);
    QCOMPARE(QDir(kirt::portLinkDirectory())
                 .entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot),
             QStringList{QStringLiteral("COM2")});

    QVERIFY(!kirt::mapPortToDevice(QStringLiteral("COM31"), devices[0]).ok);
}

void TestDeviceDiscovery::leavesWhatIsNoLinkAlone()
{
    kirt::test::TempSettings settings;
    FakeDevices fake;
    fake.add(QStringLiteral("ttyUSB0"), ftdi());
    const QList<SerialDevice> devices = kirt::discoverDevices();
    QDir().mkpath(kirt::portLinkDirectory());
    QFile file(linkOf(QStringLiteral("COM1")));
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("/dev/ttyS7\n");
    file.close();
    QVERIFY(QDir().mkpath(linkOf(QStringLiteral("COM2"))));

    for (const QString& port : {QStringLiteral("COM1"), QStringLiteral("COM2")}) {
        const kirt::MapResult result = kirt::mapPortToDevice(port, devices[0]);
        QVERIFY(!result.ok);
        QVERIFY2(result.reason.contains(QStringLiteral("not a symbolic link")),
                 qPrintable(result.reason));
    }
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), QByteArray("/dev/ttyS7\n"));
    QVERIFY(QFileInfo(linkOf(QStringLiteral("COM2"))).isDir());
}

QTEST_GUILESS_MAIN(TestDeviceDiscovery)
#include "tst_devicediscovery.moc"
