#include "tests/support/columns.h"
#include "vdev/options.h"

#include <QtTest>

using namespace kirt::vdev;
using namespace std::chrono_literals;

class TestOptions : public QObject
{
    Q_OBJECT

private slots:
    void noBehaviourMeansDemoDevice();
    void behavioursCombine();
    void portNames_data();
    void portNames();
    void mistakes_data();
    void mistakes();
    void helpAndVersion();
    void unplugAndReplug();
    void shellTakesAnOptionalCommand();
};

namespace {

ParsedOptions parse(QStringList arguments)
{
    arguments.prepend(QStringLiteral("kirt-vdev"));
    return parseOptions(arguments);
}

} // namespace

void TestOptions::noBehaviourMeansDemoDevice()
{
    for (const QStringList& arguments : {QStringList{}, QStringList{"--port", "COM3", "-f"}}) {
        const ParsedOptions parsed = parse(arguments);
        QVERIFY(parsed.options);
        const DeviceConfig& device = parsed.options->device;
        QVERIFY(device.echo);
        QVERIFY(device.at);
        QCOMPARE(device.statusPeriod, std::optional<Nanos>(1s));
        QVERIFY(!device.modbusAddress);
        QCOMPARE(device.stream, StreamKind::None);
        QCOMPARE(describeBehaviour(device), QStringLiteral("echo, AT, status every 1000 ms"));
    }
    QCOMPARE(parse({}).options->port, QStringLiteral("COM1"));
    QVERIFY(!parse({}).options->force);
    QVERIFY(parse({"-f"}).options->force);
}

void TestOptions::behavioursCombine()
{
    const ParsedOptions parsed =
        parse({"-m", "17", "--stream", "random", "--rate", "11520", "--seed", "7", "-s", "250"});
    QVERIFY(parsed.options);
    const DeviceConfig& device = parsed.options->device;
    QVERIFY(!device.echo);
    QVERIFY(!device.at);
    QCOMPARE(device.modbusAddress, std::optional<std::uint8_t>(17));
    QCOMPARE(device.stream, StreamKind::Random);
    QCOMPARE(device.rate, 11520);
    QCOMPARE(device.seed, 7U);
    QCOMPARE(device.statusPeriod, std::optional<Nanos>(250ms));
    QCOMPARE(describeBehaviour(device),
             QStringLiteral("status every 250 ms, Modbus slave 17, random stream at 11520 "
                            "bytes/s"));

    const ParsedOptions compact = parse({"-ea", "--stream=text"});
    QVERIFY(compact.options);
    QVERIFY(compact.options->device.echo);
    QVERIFY(compact.options->device.at);
    QVERIFY(!compact.options->device.statusPeriod);
    QCOMPARE(compact.options->device.stream, StreamKind::Text);
    QCOMPARE(compact.options->device.rate, 960);
}

void TestOptions::portNames_data()
{
    QTest::addColumn<QString>("given");
    QTest::addColumn<QString>("port"); // empty: refused

    kirt::test::row("COM1", "COM1", "COM1");
    kirt::test::row("COM30", "COM30", "COM30");
    kirt::test::row("lower case", "com7", "COM7");
    kirt::test::row("COM31", "COM31", "");
    kirt::test::row("COM0", "COM0", "");
    kirt::test::row("leading zero", "COM01", "");
    kirt::test::row("device path", "/dev/ttyS0", "");
    kirt::test::row("bare number", "1", "");
}

void TestOptions::portNames()
{
    QFETCH(QString, given);
    QFETCH(QString, port);
    const ParsedOptions parsed = parse({"--port", given});
    if (port.isEmpty()) {
        QVERIFY(!parsed.options);
        QCOMPARE(parsed.exitCode, 2);
        QVERIFY(parsed.text.contains(QLatin1String("--port")));
    } else {
        QVERIFY(parsed.options);
        QCOMPARE(parsed.options->port, port);
    }
}

void TestOptions::mistakes_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("named"); // what the message must name

    kirt::test::row("unknown option", QStringList{"--baud", "9600"}, "baud");
    kirt::test::row("stray argument", QStringList{"COM2"}, "COM2");
    kirt::test::row("missing value", QStringList{"--status"}, "status");
    kirt::test::row("status too fast", QStringList{"-s", "9"}, "--status");
    kirt::test::row("status not a number", QStringList{"-s", "1s"}, "--status");
    kirt::test::row("address 0", QStringList{"-m", "0"}, "--modbus");
    kirt::test::row("address 248", QStringList{"-m", "248"}, "--modbus");
    kirt::test::row("address in hex", QStringList{"-m", "0x01"}, "--modbus");
    kirt::test::row("stream kind", QStringList{"--stream", "binary"}, "--stream");
    kirt::test::row("rate without stream", QStringList{"-r", "100"}, "--rate");
    kirt::test::row("rate zero", QStringList{"--stream", "text", "-r", "0"}, "--rate");
    kirt::test::row("rate too high", QStringList{"--stream", "text", "-r", "10000001"}, "--rate");
    kirt::test::row("negative rate", QStringList{"--stream", "text", "-r", "-5"}, "--rate");
    kirt::test::row("seed without random", QStringList{"--stream", "text", "--seed", "1"},
                    "--seed");
    kirt::test::row("seed not a number", QStringList{"--stream", "random", "--seed", "x"},
                    "--seed");
    kirt::test::row("unplug too soon", QStringList{"--unplug-after", "0.05"}, "--unplug-after");
    kirt::test::row("unplug not a number", QStringList{"--unplug-after", "5s"}, "--unplug-after");
    kirt::test::row("replug without unplug", QStringList{"--replug-after", "1"}, "--unplug-after");
    kirt::test::row("shell with echo", QStringList{"--shell", "ls", "--echo"}, "--shell");
    kirt::test::row("shell with a stream", QStringList{"--stream", "text", "--shell"}, "--shell");
    kirt::test::row("shell and unplug", QStringList{"--shell", "--unplug-after", "1"}, "--shell");
}

void TestOptions::mistakes()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, named);
    const ParsedOptions parsed = parse(arguments);
    QVERIFY(!parsed.options);
    QCOMPARE(parsed.exitCode, 2);
    QVERIFY2(parsed.text.contains(named), qPrintable(parsed.text));
    QVERIFY(parsed.text.endsWith(QLatin1String("Try 'kirt-vdev --help'.\n")));
}

void TestOptions::helpAndVersion()
{
    const ParsedOptions help = parse({"--help", "--port", "COM99"});
    QVERIFY(!help.options);
    QCOMPARE(help.exitCode, 0);
    QCOMPARE(help.text, helpText());
    for (const char* option : {"--port", "--force", "--echo", "--at", "--status", "--modbus",
                               "--stream", "--rate", "--seed"})
        QVERIFY2(help.text.contains(QLatin1String(option)), option);

    const ParsedOptions version = parse({"-v"});
    QVERIFY(!version.options);
    QCOMPARE(version.exitCode, 0);
    QVERIFY(version.text.startsWith(QLatin1String("kirt-vdev ")));
}

void TestOptions::unplugAndReplug()
{
    const ParsedOptions both = parse({"--unplug-after", "2.5", "--replug-after", "1"});
    QVERIFY(both.options);
    QCOMPARE(both.options->unplugAfter, std::optional<Nanos>(2500ms));
    QCOMPARE(both.options->replugAfter, std::optional<Nanos>(1s));
    const ParsedOptions once = parse({"--unplug-after", "3"});
    QVERIFY(once.options);
    QVERIFY(!once.options->replugAfter);
}

void TestOptions::shellTakesAnOptionalCommand()
{
    const ParsedOptions command = parse({"--shell", "echo hi; cat", "--port", "COM2"});
    QVERIFY(command.options);
    QVERIFY(command.options->shell);
    QCOMPARE(command.options->shellCommand, QStringLiteral("echo hi; cat"));
    QCOMPARE(command.options->port, QStringLiteral("COM2"));
    QVERIFY(!command.options->device.echo);
    const ParsedOptions interactive = parse({"--shell", "-p", "COM3"});
    QVERIFY(interactive.options && interactive.options->shell);
    QVERIFY(interactive.options->shellCommand.isEmpty());
    QCOMPARE(parse({"--shell=top"}).options->shellCommand, QStringLiteral("top"));
    QVERIFY(!parse({}).options->shell);
}

QTEST_GUILESS_MAIN(TestOptions)
#include "tst_options.moc"
