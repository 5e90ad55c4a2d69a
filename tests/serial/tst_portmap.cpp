#include "serial/portmap.h"
#include "tests/support/columns.h"
#include "tests/support/environment.h"
#include "tests/support/tempsettings.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <optional>

using kirt::PortSource;
using kirt::test::EnvironmentOverride;

class TestPortMap : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void portNumbers_data();
    void portNumbers();
    void resolution_data();
    void resolution();
    void linkFolderFollowsConfigHome_data();
    void linkFolderFollowsConfigHome();
    void descriptionNamesDeviceAndOrigin();

private:
    std::optional<kirt::test::TempSettings> m_settings; // XDG_CONFIG_HOME for each test
};

void TestPortMap::init()
{
    m_settings.reset();
    m_settings.emplace();
    QVERIFY(m_settings->isValid());
}

void TestPortMap::cleanup()
{
    m_settings.reset();
}

void TestPortMap::portNumbers_data()
{
    kirt::test::columns<QString, int>({"name", "number"});

    QTest::newRow("first") << "COM1" << 1;
    QTest::newRow("two digits") << "COM12" << 12;
    QTest::newRow("last") << "COM30" << 30;
    QTest::newRow("past the list") << "COM31" << 0;
    QTest::newRow("zero") << "COM0" << 0;
    QTest::newRow("empty") << "" << 0;
    QTest::newRow("prefix only") << "COM" << 0;
    QTest::newRow("lower case") << "com1" << 0;
    QTest::newRow("leading zero") << "COM01" << 0;
    QTest::newRow("blank") << "COM 1" << 0;
    QTest::newRow("sign") << "COM+1" << 0;
    QTest::newRow("trailing text") << "COM1x" << 0;
    QTest::newRow("three digits") << "COM100" << 0;
    QTest::newRow("other device") << "LPT1" << 0;
}

void TestPortMap::portNumbers()
{
    QFETCH(QString, name);
    QFETCH(int, number);
    QCOMPARE(kirt::comPortNumber(name), number);
    QCOMPARE(kirt::resolvePort(name).has_value(), number != 0);
}

void TestPortMap::resolution_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("environment"); // value of KIRT_<name>; "-" for unset
    QTest::addColumn<QString>("linkTo");      // target of the port link; "" for no link
    QTest::addColumn<QString>("expected");    // "@link" stands for the link's own path
    QTest::addColumn<PortSource>("source");

    kirt::test::row("default COM1", "COM1", "-", "", "/dev/ttyS0", PortSource::Default);
    kirt::test::row("default COM12", "COM12", "-", "", "/dev/ttyS11", PortSource::Default);
    kirt::test::row("default COM30", "COM30", "-", "", "/dev/ttyS29", PortSource::Default);
    kirt::test::row("environment", "COM3", "/dev/ttyUSB0", "", "/dev/ttyUSB0",
                    PortSource::Environment);
    kirt::test::row("empty environment is unset", "COM3", "", "", "/dev/ttyS2",
                    PortSource::Default);
    kirt::test::row("link", "COM4", "-", "/dev/ttyACM0", "@link", PortSource::ConfigLink);
    kirt::test::row("environment before link", "COM4", "/dev/pts/7", "/dev/ttyACM0", "/dev/pts/7",
                    PortSource::Environment);
    kirt::test::row("dangling link still wins", "COM5", "-", "/nonexistent/ttyUSB9", "@link",
                    PortSource::ConfigLink);
    // An address is no path: the link gives it as written, not resolved below the folder.
    kirt::test::row("link to a network address", "COM6", "-", "rfc2217://lab-pi:2217",
                    "rfc2217://lab-pi:2217", PortSource::ConfigLink);
    kirt::test::row("variable names a network address", "COM7", "tcp://[::1]:4000", "",
                    "tcp://[::1]:4000", PortSource::Environment);
}

void TestPortMap::resolution()
{
    QFETCH(QString, name);
    QFETCH(QString, environment);
    QFETCH(QString, linkTo);
    QFETCH(QString, expected);
    QFETCH(PortSource, source);

    const QByteArray variable = "KIRT_" + name.toLatin1();
    const QByteArray value = environment.toLocal8Bit();
    EnvironmentOverride portVariable(variable.constData(), environment == QLatin1String("-")
                                                               ? std::nullopt
                                                               : std::optional(value));

    const QString link = m_settings->configHome() + QStringLiteral("/kirt/ports/") + name;
    if (!linkTo.isEmpty()) {
        QVERIFY(QDir().mkpath(m_settings->configHome() + QStringLiteral("/kirt/ports")));
        QVERIFY(QFile::link(linkTo, link));
    }
    if (expected == QLatin1String("@link"))
        expected = link;

    const std::optional<kirt::PortResolution> port = kirt::resolvePort(name);
    QVERIFY(port.has_value());
    QCOMPARE(port->devicePath, expected);
    QCOMPARE(port->source, source);
    if (source == PortSource::ConfigLink)
        QCOMPARE(port->linkTarget, linkTo);
    if (source == PortSource::Environment)
        QCOMPARE(port->origin, QString::fromLatin1(variable));
}

void TestPortMap::linkFolderFollowsConfigHome_data()
{
    QTest::addColumn<QString>("configHome"); // "-" for unset
    QTest::addColumn<bool>("underHome");

    QTest::newRow("set") << "@temp" << false;
    QTest::newRow("unset") << "-" << true;
    QTest::newRow("empty") << "" << true;
    QTest::newRow("relative is ignored") << "relative/config" << true;
}

void TestPortMap::linkFolderFollowsConfigHome()
{
    QFETCH(QString, configHome);
    QFETCH(bool, underHome);

    QTemporaryDir home;
    QVERIFY(home.isValid());
    const QByteArray homePath = QFile::encodeName(home.path());
    EnvironmentOverride homeVariable("HOME", homePath);
    EnvironmentOverride portVariable("KIRT_COM9", std::nullopt);

    if (configHome == QLatin1String("@temp"))
        configHome = m_settings->configHome();
    const QByteArray value = QFile::encodeName(configHome);
    EnvironmentOverride config(
        "XDG_CONFIG_HOME", configHome == QLatin1String("-") ? std::nullopt : std::optional(value));

    const QString expected = underHome ? home.path() + QStringLiteral("/.config/kirt/ports")
                                       : m_settings->configHome() + QStringLiteral("/kirt/ports");
    QCOMPARE(kirt::portLinkDirectory(), QDir::cleanPath(expected));

    // The link is found where the folder says.
    QVERIFY(QDir().mkpath(expected));
    QVERIFY(QFile::link(QStringLiteral("/dev/ttyUSB3"), expected + QStringLiteral("/COM9")));
    QCOMPARE(kirt::resolvePort(QStringLiteral("COM9"))->source, PortSource::ConfigLink);
}

void TestPortMap::descriptionNamesDeviceAndOrigin()
{
    EnvironmentOverride unset2("KIRT_COM2", std::nullopt);
    EnvironmentOverride unset6("KIRT_COM6", std::nullopt);
    const QByteArray usb = "/dev/ttyUSB1";
    EnvironmentOverride set8("KIRT_COM8", usb);
    QVERIFY(QDir().mkpath(m_settings->configHome() + QStringLiteral("/kirt/ports")));
    QVERIFY(QFile::link(QStringLiteral("/dev/ttyACM2"),
                        m_settings->configHome() + QStringLiteral("/kirt/ports/COM6")));

    const QString byDefault = kirt::describePort(QStringLiteral("COM2"));
    QVERIFY2(byDefault.contains(QLatin1String("/dev/ttyS1")), qPrintable(byDefault));
    QVERIFY2(byDefault.contains(QLatin1String("default")), qPrintable(byDefault));

    const QString byLink = kirt::describePort(QStringLiteral("COM6"));
    QVERIFY2(byLink.contains(QLatin1String("/dev/ttyACM2")), qPrintable(byLink));
    QVERIFY2(byLink.contains(QLatin1String("kirt/ports/COM6")), qPrintable(byLink));

    const QString byVariable = kirt::describePort(QStringLiteral("COM8"));
    QVERIFY2(byVariable.contains(QLatin1String("/dev/ttyUSB1")), qPrintable(byVariable));
    QVERIFY2(byVariable.contains(QLatin1String("KIRT_COM8")), qPrintable(byVariable));

    QVERIFY(kirt::describePort(QString()).isEmpty());
}

QTEST_GUILESS_MAIN(TestPortMap)
#include "tst_portmap.moc"
