// The command line: the program run for what it prints, and the options applied to a window.
#include "config/commandline.h"
#include "config/profile.h"
#include "tests/support/columns.h"
#include "tests/support/windowfixture.h"
#include "ui/datalineedit.h"

#include "serial/setspeed.h"

#include <QComboBox>
#include <QLabel>
#include <QProcess>
#include <QtTest>

using kirt::test::WindowFixture;

namespace {

struct Run
{
    int exitCode = -1;
    QString out;
    QString err;
};

// The program with no display at all: help, version and mistakes must not need one.
Run runKirt(const QStringList& arguments)
{
    QProcess process;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove(QStringLiteral("DISPLAY"));
    env.remove(QStringLiteral("WAYLAND_DISPLAY"));
    env.remove(QStringLiteral("QT_QPA_PLATFORM"));
    process.setProcessEnvironment(env);
    process.start(QStringLiteral(KIRT_PATH), arguments);
    if (!process.waitForFinished(10000)) {
        process.kill();
        process.waitForFinished();
        return {};
    }
    return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
            QString::fromLocal8Bit(process.readAllStandardOutput()),
            QString::fromLocal8Bit(process.readAllStandardError())};
}

} // namespace

class TestCommandLine : public QObject
{
    Q_OBJECT

private slots:
    void helpAndVersion();
    void mistakes_data();
    void mistakes();
    void optionsParsed();
    void optionsApplied();
    void everyRateReachesTheDevice_data();
    void everyRateReachesTheDevice();
    void runOnlyDeviceStaysRunOnly();
    void profileChoosesTheStoredSettings();
};

void TestCommandLine::helpAndVersion()
{
    for (const QString& help : {QStringLiteral("--help"), QStringLiteral("-h")}) {
        const Run run = runKirt({help});
        QCOMPARE(run.exitCode, 0);
        QVERIFY2(run.out.startsWith(QStringLiteral("Usage: kirt")), qPrintable(run.out));
        QVERIFY(run.out.contains(QStringLiteral("--workbench FILE")));
        QCOMPARE(run.err, QString());
    }
    const Run version = runKirt({QStringLiteral("--version")});
    QCOMPARE(version.exitCode, 0);
    QVERIFY2(
        QRegularExpression(QStringLiteral("^kirt \\d+\\.\\d+\\n$")).match(version.out).hasMatch(),
        qPrintable(version.out));
}

void TestCommandLine::mistakes_data()
{
    kirt::test::columns<QStringList, QString>({"arguments", "message"});
    kirt::test::row("unknown option", QStringList{"--bogus"}, "kirt: Unknown option 'bogus'.");
    kirt::test::row("port out of range", QStringList{"--port", "COM31"},
                    "kirt: --port takes COM1..COM30, not 'COM31'");
    kirt::test::row("port not a COM", QStringList{"--port=/dev/ttyS0"},
                    "kirt: --port takes COM1..COM30, not '/dev/ttyS0'");
    const QString baud = QStringLiteral("kirt: --baud takes a rate of the list (75 .. 4000000) or "
                                        "a custom rate from 50 to 12000000, not '%1'");
    kirt::test::row("baud below the custom range", QStringList{"--baud", "49"}, baud.arg("49"));
    kirt::test::row("baud above the custom range", QStringList{"--baud", "12000001"},
                    baud.arg("12000001"));
    kirt::test::row("baud not a number", QStringList{"--baud", "fast"}, baud.arg("fast"));
    kirt::test::row("missing value", QStringList{"--workbench"},
                    "kirt: Missing value after '--workbench'.");
    kirt::test::row("stray argument", QStringList{"bench.kirt"},
                    "kirt: unexpected argument 'bench.kirt'");
    const QString profile = QStringLiteral("kirt: --profile '%1': a profile name cannot %2");
    kirt::test::row("profile ..", QStringList{"--profile", ".."},
                    profile.arg("..", "be '.' or '..'"));
    kirt::test::row("profile with a slash", QStringList{"--profile", "a/b"},
                    profile.arg("a/b", "contain '/' or '\\'"));
    kirt::test::row("profile with a control", QStringList{"--profile", "a\x1b[2J"},
                    profile.arg("a\\x1b[2J", "contain control characters"));
}

void TestCommandLine::mistakes()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, message);
    const Run run = runKirt(arguments);
    QCOMPARE(run.exitCode, 2);
    QCOMPARE(run.out, QString());
    QCOMPARE(run.err, message + u'\n' + kirt::commandLineUsage());
}

void TestCommandLine::optionsParsed()
{
    const auto parsed = kirt::parseCommandLine({"kirt", "--port", "com7", "--device", "/dev/x",
                                                "--baud=115200", "--open", "--workbench", "b"});
    QVERIFY(parsed.options);
    QCOMPARE(parsed.options->port, QStringLiteral("COM7"));
    QCOMPARE(kirt::devicePort(*parsed.options), QStringLiteral("COM7"));
    QCOMPARE(parsed.options->device, QStringLiteral("/dev/x"));
    QCOMPARE(parsed.options->baudIndex, 17);
    QVERIFY(parsed.options->open);
    QCOMPARE(parsed.options->workbench, QStringLiteral("b"));

    // Nothing asked: the start as it always was.
    const auto none = kirt::parseCommandLine({"kirt"});
    QVERIFY(none.options);
    QCOMPARE(none.options->baudIndex, -1);
    QVERIFY(!none.options->open);
    QVERIFY(none.options->port.isEmpty() && none.options->workbench.isEmpty());
    QCOMPARE(kirt::devicePort(*none.options), QStringLiteral("COM1"));
}

void TestCommandLine::optionsApplied()
{
    WindowFixture f(WindowFixture::Device::Pty);
    kirt::Workbench bench;
    bench.lines[0].text = QStringLiteral("0102");
    const QString path = f.file(QStringLiteral("start.kirt"));
    QVERIFY(kirt::writeWorkbench(path, bench));
    const auto parsed = kirt::parseCommandLine({"kirt", "--port", f.device().portName(), "--baud",
                                                "57600", "--open", "--workbench", path});
    QVERIFY(parsed.options);
    f.window().ApplyStartOptions(*parsed.options);
    QVERIFY(f.window().portOpen());
    QCOMPARE(f.window().comSettings().baudRate, 57600U);
    QCOMPARE(f.window().comSettings().portName, f.device().portName());
    QCOMPARE(f.find<kirt::DataLineEdit>("TransmitEdit1")->fieldText(), QStringLiteral("0102"));
}

void TestCommandLine::everyRateReachesTheDevice_data()
{
    kirt::test::columns<QString, QString>({"rate", "item"});
    kirt::test::row("921600, of the list", "921600", "921600");
    kirt::test::row("250000, custom", "250000", "Custom (250000)");
    kirt::test::row("4000000, last of the list", "4000000", "4000000");
}

void TestCommandLine::everyRateReachesTheDevice()
{
    if (!kirt::arbitrarySpeedAvailable())
        QSKIP("no arbitrary rates on this platform");
    QFETCH(QString, rate);
    QFETCH(QString, item);
    WindowFixture f(WindowFixture::Device::Pty);
    const auto parsed = kirt::parseCommandLine({"kirt", "--baud", rate, "--open"});
    QVERIFY(parsed.options);
    f.window().ApplyStartOptions(*parsed.options);
    QVERIFY(f.window().portOpen());
    QCOMPARE(f.find<QComboBox>("BaudRateComboBox")->currentText(), item);
    std::uint32_t actual = 0;
    QVERIFY(kirt::readArbitrarySpeed(f.device().masterFd(), actual));
    QCOMPARE(actual, rate.toUInt());
    QVERIFY(f.window().close());
    if (item.startsWith(QStringLiteral("Custom")))
        QVERIFY(f.settings.read().contains("CustomBaudRate=" + rate.toLatin1() + '\n'));
}

void TestCommandLine::runOnlyDeviceStaysRunOnly()
{
    WindowFixture f;
    f.choose("SerialPortComboBox", 2); // COM3, stored at the close
    QVERIFY(f.window().close());
    f.destroyWindow();

    const QString device = f.fileWith(QStringLiteral("ttyRUN"), {});
    const auto parsed = kirt::parseCommandLine({"kirt", "--port", "COM2", "--device", device});
    QVERIFY(parsed.options);
    kirt::mapDeviceForThisRun(*parsed.options);
    f.window().ApplyStartOptions(*parsed.options);
    QCOMPARE(f.find<QLabel>("SerialPortDeviceLabel")->text(),
             device + QStringLiteral(" (--device, this run only)"));
    // The status line names the port of this run from the start, also after its open failed.
    QVERIFY(f.find<QLabel>("StatusPanel0")->text().startsWith("PORT : COM2,"));
    f.click("COM_BitBtn");
    QVERIFY(!f.window().portOpen());
    QVERIFY(f.find<QLabel>("StatusPanel0")->text().startsWith("PORT : COM2,"));
    QVERIFY(f.window().close());
    QVERIFY(f.settings.read().contains("SerialPort=2\n"));
    f.destroyWindow();

    // A port the user picks in the window is the user's choice, and is kept.
    f.window().ApplyStartOptions(*parsed.options);
    f.choose("SerialPortComboBox", 4);
    QVERIFY(f.window().close());
    QVERIFY(f.settings.read().contains("SerialPort=4\n"));
    qunsetenv("KIRT_COM2");
}

void TestCommandLine::profileChoosesTheStoredSettings()
{
    WindowFixture f;
    f.settings.write("[Kirt]\nSerialPort=1\n");
    kirt::setCurrentProfile(QStringLiteral("p"));
    f.window(); // of profile p, storing COM5 at the close
    kirt::setCurrentProfile({});
    f.choose(QStringLiteral("SerialPortComboBox"), 4);
    QVERIFY(f.window().close());
    // A run without a window opens the stored port of its profile.
    const QString script = f.fileWith(QStringLiteral("open.js"), "test('o', () => open());");
    const Run own = runKirt({"--profile", "p", "--script", script});
    QVERIFY2(own.out.contains(QStringLiteral("Opening COM5:")), qPrintable(own.out));
    QVERIFY(runKirt({"--script", script}).out.contains(QStringLiteral("Opening COM2:")));
}

QTEST_MAIN(TestCommandLine)
#include "tst_commandline.moc"
