#include "tests/support/columns.h"
#include "transmit/workbench.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

using kirt::DataFormat;
using kirt::Workbench;

class TestWorkbench : public QObject
{
    Q_OBJECT

private slots:
    void roundTrip();
    void refused_data();
    void refused();

private:
    QString write(const QByteArray& contents);
    QTemporaryDir m_dir;
};

QString TestWorkbench::write(const QByteArray& contents)
{
    // A name of its own each time: QSettings may keep a file it read, by size and time.
    static int files = 0;
    const QString path = m_dir.filePath(QStringLiteral("bench%1.kirt").arg(++files));
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        qFatal("cannot write %s", qPrintable(path));
    file.write(contents);
    return path;
}

void TestWorkbench::roundTrip()
{
    Workbench bench;
    QString everyByte;
    for (int b = 0; b < 256; ++b)
        everyByte += QChar(b);
    bench.lines[0] = {everyByte, DataFormat::Asc, true, true};
    bench.lines[4] = {QStringLiteral("01030000000AC5CD"), DataFormat::Hex, false, true};
    bench.lines[8] = {QStringLiteral("a,b;c=d\"e"), DataFormat::Asc, true, false};
    bench.rules[1] = {QStringLiteral("0103"), QStringLiteral("0203"), DataFormat::Hex, true};
    bench.rules[3] = {QStringLiteral("[x]"), QString(QChar(0xE9)), DataFormat::Asc, false};
    bench.autoIntervalPosition = 15;
    bench.port = Workbench::Port{
        QStringLiteral("COM12"),     250000, 7,    kirt::StopBits::Two, kirt::Parity::Mark,
        kirt::FlowControl::Hardware, true,   false};
    bench.plot = Workbench::Plot{
        {QStringLiteral("noise"), QStringLiteral("a=b;c\"\u00e9")}, true, 3, true, -0.1, 1e300};

    const QString path = m_dir.filePath(QStringLiteral("round.kirt"));
    QVERIFY(kirt::writeWorkbench(path, bench));
    const kirt::WorkbenchRead read = kirt::readWorkbench(path);
    QVERIFY2(read.workbench, qPrintable(read.reason));
    QCOMPARE(read.workbench->lines[0].text, everyByte);
    QVERIFY(*read.workbench == bench);

    // Written over, the file holds the new workbench only.
    QVERIFY(kirt::writeWorkbench(path, Workbench{}));
    QVERIFY(*kirt::readWorkbench(path).workbench == Workbench{});
}

void TestWorkbench::refused_data()
{
    kirt::test::columns<QByteArray, QString>({"contents", "reason"});

    QByteArray valid = "[Workbench]\nVersion=1\nAutoIntervalTime=6\n";
    for (int n = 1; n <= 9; ++n)
        valid += "[Line" + QByteArray::number(n) + "]\nText=4142\nFormat=1\nAuto=0\nCRLF=0\n";
    for (int n = 1; n <= 4; ++n)
        valid += "[Rule" + QByteArray::number(n) +
                 "]\nReceivePacket=3031\nResponse=\nFormat=0\nEnable=1\n";
    const auto with = [&](const char* from, const char* to) {
        QByteArray changed = valid;
        const qsizetype at = changed.indexOf(from);
        Q_ASSERT(at >= 0);
        return changed.replace(at, qsizetype(qstrlen(from)), to);
    };

    kirt::test::row("not a workbench", QByteArray("[Kirt]\nSerialPort=0\n"), "not a workbench");
    kirt::test::row("binary",
                    QByteArray("\x7f"
                               "ELF\x02\x01\x01\0\0",
                               9),
                    "not a workbench");
    kirt::test::row("newer version", with("Version=1", "Version=2"), "newer version");
    kirt::test::row("slider high", with("AutoIntervalTime=6", "AutoIntervalTime=16"),
                    "AutoIntervalTime is out of range");
    kirt::test::row("format", with("Format=1", "Format=2"), "Line1/Format is out of range");
    kirt::test::row("auto", with("Auto=0", "Auto=x"), "Line1/Auto is out of range");
    kirt::test::row("enable", with("Enable=1", "Enable=-1"), "Rule1/Enable is out of range");
    kirt::test::row("missing", with("CRLF=0\n", ""), "Line1/CRLF is missing");
    kirt::test::row("odd digits", with("Text=4142", "Text=414"), "Line1/Text is not hex");
    kirt::test::row("not hex", with("Text=4142", "Text=41G2"), "Line1/Text is not hex");
    kirt::test::row("a list", with("Text=4142", "Text=41,42"), "Line1/Text is not hex");
    kirt::test::row("too long", with("Text=4142", QByteArray("Text=" + QByteArray(1002, '4'))),
                    "Line1/Text is longer than 500");
    kirt::test::row(
        "hex packet too long",
        with("ReceivePacket=3031", QByteArray("ReceivePacket=" + QByteArray(2002, '3'))),
        "Rule1/ReceivePacket is longer than 1000");

    // The port section is optional, but all of it or nothing.
    valid += "[Port]\nName=COM3\nBaudRate=9600\nDataBits=8\nStopBits=0\nParity=0\n"
             "FlowControl=0\nDTR=0\nRTS=1\n";
    kirt::test::row("port not of the list", with("Name=COM3", "Name=COM31"),
                    "Port/Name is not a port");
    kirt::test::row("rate below the custom range", with("BaudRate=9600", "BaudRate=49"),
                    "Port/BaudRate is out of range");
    kirt::test::row("rate above the custom range", with("BaudRate=9600", "BaudRate=12000001"),
                    "Port/BaudRate is out of range");
    kirt::test::row("data bits", with("DataBits=8", "DataBits=9"), "Port/DataBits is out of range");
    kirt::test::row("port half there", with("RTS=1\n", ""), "Port/RTS is missing");

    valid += "[Plot]\nHidden=6E6F697365\nXTime=1\nWindow=3\nYFixed=0\nYMin=-2.5\nYMax=1e3\n";
    kirt::test::row("plot window", with("Window=3", "Window=4"), "Plot/Window is out of range");
    kirt::test::row("plot limit", with("YMax=1e3", "YMax=inf"), "Plot/YMax is not a number");
    kirt::test::row("plot names", with("Hidden=6E6F697365", "Hidden=noise"),
                    "Plot/Hidden is not hex");

    // The valid file itself is read, so each row fails for its own change only.
    QVERIFY2(kirt::readWorkbench(write(valid)).workbench, "the base file must be valid");
}

void TestWorkbench::refused()
{
    QFETCH(QByteArray, contents);
    QFETCH(QString, reason);
    const kirt::WorkbenchRead read = kirt::readWorkbench(write(contents));
    QVERIFY(!read.workbench);
    QVERIFY2(read.reason.contains(reason), qPrintable(read.reason));
}

QTEST_APPLESS_MAIN(TestWorkbench)
#include "tst_workbench.moc"
