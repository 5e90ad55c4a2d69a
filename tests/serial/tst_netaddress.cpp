// Network addresses as the user writes them in place of a device: what is taken, and why the
// rest is refused.
#include "serial/netaddress.h"
#include "tests/support/columns.h"

#include <QTest>

using kirt::NetworkScheme;

class TestNetAddress : public QObject
{
    Q_OBJECT

private slots:
    void accepted_data();
    void accepted();
    void refused_data();
    void refused();
    void whatCountsAsAnAddress();
};

void TestNetAddress::accepted_data()
{
    kirt::test::columns<QString, NetworkScheme, QString, int>({"text", "scheme", "host", "port"});
    QTest::addColumn<QString>("written"); // as it is written back

    kirt::test::row("name", "rfc2217://localhost:2217", NetworkScheme::Rfc2217, "localhost", 2217,
                    "rfc2217://localhost:2217");
    kirt::test::row("IPv4, lowest port", "tcp://10.0.0.1:1", NetworkScheme::RawTcp, "10.0.0.1", 1,
                    "tcp://10.0.0.1:1");
    kirt::test::row("scheme in capitals, highest port", "RFC2217://lab-pi.example_net:65535",
                    NetworkScheme::Rfc2217, "lab-pi.example_net", 65535,
                    "rfc2217://lab-pi.example_net:65535");
    kirt::test::row("IPv6", "tcp://[::1]:4000", NetworkScheme::RawTcp, "::1", 4000,
                    "tcp://[::1]:4000");
    kirt::test::row("IPv6 with zone", "rfc2217://[fe80::1%eth0]:7", NetworkScheme::Rfc2217,
                    "fe80::1%eth0", 7, "rfc2217://[fe80::1%eth0]:7");
}

void TestNetAddress::accepted()
{
    QFETCH(QString, text);
    QFETCH(NetworkScheme, scheme);
    QFETCH(QString, host);
    QFETCH(int, port);
    QFETCH(QString, written);

    QVERIFY(kirt::isNetworkAddress(text));
    const kirt::NetworkAddressParse parsed = kirt::parseNetworkAddress(text);
    QVERIFY2(parsed.ok, qPrintable(parsed.refusal));
    QCOMPARE(parsed.address.scheme, scheme);
    QCOMPARE(parsed.address.host, host);
    QCOMPARE(int{parsed.address.port}, port);
    QCOMPARE(kirt::networkAddressText(parsed.address), written);
}

void TestNetAddress::refused_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("because"); // a part of the reason

    kirt::test::row("no host", "rfc2217://:2217", "no host");
    kirt::test::row("empty brackets", "tcp://[]:1", "no host");
    kirt::test::row("nothing after the scheme", "tcp://", "no host");
    kirt::test::row("no port", "rfc2217://host", "no port");
    kirt::test::row("colon without port", "rfc2217://host:", "no port");
    kirt::test::row("IPv6 without port", "tcp://[::1]", "no port");
    kirt::test::row("port 0", "tcp://host:0", "1..65535");
    kirt::test::row("port 65536", "tcp://host:65536", "1..65535");
    kirt::test::row("huge port", "tcp://host:123456789012345678901", "1..65535");
    kirt::test::row("letters in the port", "tcp://host:22ab", "not a port number");
    kirt::test::row("negative port", "tcp://host:-5", "not a port number");
    kirt::test::row("path after the port", "tcp://host:22/x", "not a port number");
    kirt::test::row("space in the host", "tcp://my host:22", "not a host name");
    kirt::test::row("IPv6 without brackets", "tcp://::1:22", "brackets");
    kirt::test::row("unclosed bracket", "tcp://[::1:22", "closing");
    kirt::test::row("not IPv6 in brackets", "tcp://[host]:22", "not an IPv6 address");
    kirt::test::row("junk after brackets", "tcp://[::1]x:22", "not a port");
    kirt::test::row("bad IPv4", "tcp://300.1.1.1:22", "not an IPv4 address");
    kirt::test::row("unknown scheme", "telnet://host:23", "unknown scheme");
    kirt::test::row("a path", "/dev/ttyUSB0", "not a network address");
}

void TestNetAddress::refused()
{
    QFETCH(QString, text);
    QFETCH(QString, because);
    const kirt::NetworkAddressParse parsed = kirt::parseNetworkAddress(text);
    QVERIFY(!parsed.ok);
    QVERIFY2(parsed.refusal.contains(because), qPrintable(parsed.refusal));
}

void TestNetAddress::whatCountsAsAnAddress()
{
    // A scheme makes an address, even a wrong one, so it is never opened as a file.
    QVERIFY(kirt::isNetworkAddress(QStringLiteral("rfc2217://x")));
    QVERIFY(kirt::isNetworkAddress(QStringLiteral("telnet://x:1")));
    QVERIFY(kirt::isNetworkAddress(QStringLiteral("tcp://")));
    QVERIFY(!kirt::isNetworkAddress(QString()));
    QVERIFY(!kirt::isNetworkAddress(QStringLiteral("/dev/ttyS0")));
    QVERIFY(!kirt::isNetworkAddress(QStringLiteral("/dev/serial/by-id/usb-x://y")));
    QVERIFY(!kirt::isNetworkAddress(QStringLiteral("./port://x")));
    QVERIFY(!kirt::isNetworkAddress(QStringLiteral("://host:1")));
    QVERIFY(!kirt::isNetworkAddress(QStringLiteral("COM1")));
}

QTEST_GUILESS_MAIN(TestNetAddress)
#include "tst_netaddress.moc"
