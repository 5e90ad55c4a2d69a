// kirt --script, the program itself without a display: its lines, exit codes, JUnit file (never
// into a FIFO or a device), time limit and Ctrl+C.
#include "tests/support/tempsettings.h"
#include "tests/support/vdevprocess.h"

#include <QProcess>
#include <QTemporaryDir>
#include <QXmlStreamReader>
#include <QtTest>

#include <csignal>

#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace {

struct Run
{
    int exitCode = -1;
    QString out;
    QString err;
};

class TestScriptCli : public QObject
{
    Q_OBJECT

private slots:
    void exitCodesLinesAndJunit();
    void junitOnlyIntoAFile_data();
    void junitOnlyIntoAFile();
    void timeLimitAndCtrlC();
    void onlyABoundedRegularFileIsRead();
    void deeplyNestedValuesDoNotCrash();
    void memoryIsBounded();
    void aScriptDrivesSeveralPorts();

private:
    QString script(const QString& name, const QString& source)
    {
        const QString path = m_dir.filePath(name);
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly) || file.write(source.toUtf8()) < 0)
            qFatal("cannot write %s", qPrintable(path));
        return path;
    }
    static Run run(const QStringList& arguments, int interruptAfterMs = -1)
    {
        QProcess kirt;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.remove(QStringLiteral("DISPLAY")); // nothing may need one
        environment.remove(QStringLiteral("QT_QPA_PLATFORM"));
        kirt.setProcessEnvironment(environment);
        kirt.start(QStringLiteral(KIRT_PATH), arguments);
        if (!kirt.waitForStarted())
            return {};
        if (interruptAfterMs >= 0) {
            QTest::qWait(interruptAfterMs);
            ::kill(static_cast<pid_t>(kirt.processId()), SIGINT);
        }
        kirt.waitForFinished(30000);
        return {kirt.exitCode(), QString::fromLocal8Bit(kirt.readAllStandardOutput()),
                QString::fromLocal8Bit(kirt.readAllStandardError())};
    }

    kirt::test::TempSettings m_settings;
    QTemporaryDir m_dir;
};

void TestScriptCli::exitCodesLinesAndJunit()
{
    const QString passing =
        script(QStringLiteral("pass.js"),
               QStringLiteral("test('one', function () { check(1 + 1 === 2); });\n"
                              "log('hello');\n"));
    Run r = run({QStringLiteral("--script"), passing});
    QCOMPARE(r.exitCode, 0);
    QVERIFY2(r.out.contains(QRegularExpression(
                 QStringLiteral("^PASS one \\(\\d+ ms\\)\nhello\n1 passed, 0 failed of 1"))),
             qPrintable(r.out));

    const QString failing =
        script(QStringLiteral("fail.js"),
               QStringLiteral("test('good', function () {});\n"
                              "test('bad <&>', function () { check(false, 'x < y'); });\n"));
    const QString junit = m_dir.filePath(QStringLiteral("out.xml"));
    r = run({QStringLiteral("--script"), failing, QStringLiteral("--junit"), junit});
    QCOMPARE(r.exitCode, 1);
    QVERIFY2(
        r.out.contains(QStringLiteral("FAIL bad <&>: x < y (line 2)\n1 passed, 1 failed of 2")),
        qPrintable(r.out));
    QFile report(junit);
    QVERIFY(report.open(QIODevice::ReadOnly));
    QStringList seen; // element name and its telling attribute, in order
    for (QXmlStreamReader xml(&report); !xml.atEnd();) {
        if (xml.readNext() != QXmlStreamReader::StartElement)
            continue;
        const auto a = xml.attributes();
        if (xml.name() == QLatin1String("testsuite"))
            seen << QStringLiteral("suite %1/%2")
                        .arg(a.value(QLatin1String("failures")), a.value(QLatin1String("tests")));
        else if (xml.name() == QLatin1String("testcase"))
            seen << QStringLiteral("case ") + a.value(QLatin1String("name")).toString();
        else if (xml.name() == QLatin1String("failure"))
            seen << QStringLiteral("failure ") + a.value(QLatin1String("message")).toString();
        QVERIFY(!xml.hasError());
    }
    QCOMPARE(seen, (QStringList{QStringLiteral("suite 1/2"), QStringLiteral("case good"),
                                QStringLiteral("case bad <&>"),
                                QStringLiteral("failure x < y (line 2)")}));

    // Not loadable: its place and message on standard error.
    const QString broken = script(QStringLiteral("broken.js"),
                                  QStringLiteral("test('a', function () {\n  x = ;\n});\n"));
    r = run({QStringLiteral("--script"), broken});
    QCOMPARE(r.exitCode, 2);
    QVERIFY2(r.err.startsWith(broken + QStringLiteral(":2: SyntaxError")), qPrintable(r.err));
    QCOMPARE(run({QStringLiteral("--script"), m_dir.filePath(QStringLiteral("none.js"))}).exitCode,
             2);
    QCOMPARE(run({QStringLiteral("--junit"), junit}).exitCode, 2);

    // A path is named as the script gave it, and an error outside every case is counted.
    const QString stray =
        script(QStringLiteral("stray.js"), QStringLiteral("test('path', function () {\n"
                                                          "  open('/nonexistent/ttyKIRT9');\n"
                                                          "});\n"
                                                          "null.x;\n"));
    r = run({QStringLiteral("--script"), stray});
    QCOMPARE(r.exitCode, 1);
    QVERIFY2(r.out.startsWith(QStringLiteral("FAIL path: Error Opening /nonexistent/ttyKIRT9: ")),
             qPrintable(r.out));
    QVERIFY2(r.out.contains(QStringLiteral("TypeError")) &&
                 r.out.contains(QStringLiteral("0 passed, 2 failed of 2")),
             qPrintable(r.out));
}

void TestScriptCli::junitOnlyIntoAFile_data()
{
    QTest::addColumn<bool>("node"); // behind the link: a device node, or a FIFO
    QTest::newRow("FIFO") << false;
    QTest::newRow("device node") << true;
}

void TestScriptCli::junitOnlyIntoAFile()
{
    QFETCH(bool, node);
    if (node && ::geteuid() != 0)
        QSKIP("making a device node needs root");
    const QByteArray made = QFile::encodeName(m_dir.filePath(QString::number(node)));
    QCOMPARE(node ? ::mknod(made, S_IFCHR | 0600, makedev(1, 3)) : ::mkfifo(made, 0600), 0);
    QVERIFY(QFile::link(made, made + ".xml"));
    const Run r =
        run({"--script", script("ok.js", "test('a', function () {});"), "--junit", made + ".xml"});
    QVERIFY2(r.exitCode >= 1 && r.err.contains("kirt: cannot write"), qPrintable(r.err));
    struct stat after = {};
    QVERIFY(::lstat(made, &after) == 0 && (after.st_mode & S_IFMT) == (node ? S_IFCHR : S_IFIFO));
}

void TestScriptCli::timeLimitAndCtrlC()
{
    const QString busy = script(QStringLiteral("busy.js"),
                                QStringLiteral("test('busy', function () { while (true) {} });\n"));
    Run r =
        run({QStringLiteral("--script"), busy, QStringLiteral("--timeout"), QStringLiteral("1")});
    QCOMPARE(r.exitCode, 1);
    QVERIFY2(r.out.contains(QStringLiteral("the run's time limit expired during case \"busy\"\n"
                                           "0 passed, 1 failed of 1")),
             qPrintable(r.out));

    QElapsedTimer clock;
    clock.start();
    r = run({QStringLiteral("--script"), busy}, 500);
    QCOMPARE(r.exitCode, 1);
    QVERIFY2(r.out.contains(QStringLiteral(": stopped")), qPrintable(r.out));
    QVERIFY(clock.elapsed() < 10000); // ended by the signal, not by the test's patience
}

void TestScriptCli::onlyABoundedRegularFileIsRead()
{
    // A FIFO would block the read for ever, a link to a device would never end.
    const QString fifo = m_dir.filePath(QStringLiteral("fifo.js"));
    QCOMPARE(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    const QString device = m_dir.filePath(QStringLiteral("zero.js"));
    QVERIFY(QFile::link(QStringLiteral("/dev/zero"), device));
    const QString large = script(QStringLiteral("large.js"), QString(4 * 1024 * 1024 + 1, u' '));
    const std::pair<QString, QString> cases[] = {
        {fifo, QStringLiteral("It is a FIFO, not a regular file.")},
        {device, QStringLiteral("It is a device, not a regular file.")},
        {large, QStringLiteral("It is larger than 4,194,304 bytes, the most a script may be.")}};
    for (const auto& [path, reason] : cases) {
        const Run r = run({QStringLiteral("--script"), path});
        QCOMPARE(r.exitCode, 2);
        QCOMPARE(r.err, QStringLiteral("kirt: cannot read %1: %2\n").arg(path, reason));
    }
    // Exactly at the limit is still a script.
    const QString most = script(QStringLiteral("most.js"),
                                QStringLiteral("log('ok');") + QString(4 * 1024 * 1024 - 10, u' '));
    QCOMPARE(run({QStringLiteral("--script"), most}).out.left(3), QStringLiteral("ok\n"));
}

void TestScriptCli::deeplyNestedValuesDoNotCrash()
{
    const QString nested = script(QStringLiteral("nested.js"), QStringLiteral(R"JS(
let a = [];
for (let i = 0; i < 15000; ++i) a = [a];
test("stringify", function () { JSON.stringify(a); });
test("string", function () { check(String(a) === ""); });
test("pattern", function () {
    check(new RegExp("(".repeat(50000) + "x" + ")".repeat(50000)).test("x"));
});
)JS"));
    // The engine's own limit ends the case that reaches it; the thread's stack holds the rest.
    const Run r = run({QStringLiteral("--script"), nested});
    QCOMPARE(r.exitCode, 1);
    QVERIFY2(r.out.startsWith(QStringLiteral(
                 "FAIL stringify: RangeError: Maximum call stack size exceeded. (line 4)\n"
                 "PASS string (")) &&
                 r.out.contains(QStringLiteral("PASS pattern (")) &&
                 r.out.contains(QStringLiteral("2 passed, 1 failed of 3")),
             qPrintable(r.out + r.err));
}

void TestScriptCli::memoryIsBounded()
{
    // Filled step by step, made in one step, and a case within the bound that must run on.
    const QString bombs = script(QStringLiteral("bombs.js"), QStringLiteral(R"JS(
test("repeat", function () { "x".repeat(1e9); });
test("typed", function () { new Float64Array(1e9); });
test("tens of MB", function () {
    const a = [];
    for (let i = 0; i < 40000; ++i) a.push(String(i).repeat(250));
    check(a.length === 40000 && a.join("").length > 1e7);
});
test("fill", function () { new Array(1e9).fill(0); });
)JS"));
    Run r = run({QStringLiteral("--script"), bombs});
    QCOMPARE(r.exitCode, 1);
    const QString big = QStringLiteral(": the result would take more than 512 MB of memory");
    QVERIFY2(r.out.startsWith(QStringLiteral("FAIL repeat: RangeError: repeat") + big) &&
                 r.out.contains(QStringLiteral("FAIL typed: RangeError: new Float64Array") + big) &&
                 r.out.contains(QStringLiteral("PASS tens of MB (")) &&
                 r.out.contains(QStringLiteral("the script used more than 512 MB of memory during "
                                               "case \"fill\"\n1 passed, 3 failed of 4")),
             qPrintable(r.out + r.err));

    const QString grows =
        script(QStringLiteral("grows.js"),
               QStringLiteral("let a = [];\nfor (;;) a.push('x'.repeat(1000));\n"));
    const QString junit = m_dir.filePath(QStringLiteral("grows.xml"));
    r = run({QStringLiteral("--script"), grows, QStringLiteral("--junit"), junit});
    QCOMPARE(r.exitCode, 1);
    QVERIFY2(r.out.contains(
                 QStringLiteral(
                     "FAIL %1: the script used more than 512 MB of memory\n0 passed, 1 failed of 1")
                     .arg(grows)),
             qPrintable(r.out + r.err));
    QFile report(junit);
    QVERIFY(report.open(QIODevice::ReadOnly));
    QVERIFY(report.readAll().contains("message=\"the script used more than 512 MB of memory\""));
}

void TestScriptCli::aScriptDrivesSeveralPorts()
{
    // The main port answers AT only, the script's own echoes only: each hears its own bytes.
    kirt::test::VdevProcess board(
        {QStringLiteral("--port"), QStringLiteral("COM1"), QStringLiteral("--at")});
    kirt::test::VdevProcess echo(
        {QStringLiteral("--port"), QStringLiteral("COM2"), QStringLiteral("--echo")});
    QVERIFY(!board.device().isEmpty() && !echo.device().isEmpty());
    const QString source = QStringLiteral(R"JS(
open();
const p = openPort("COM2", {baud: 115200});
function error(fn) { try { fn(); } catch (e) { return e.message; } return "no error"; }
test("each port its own bytes", function () {
    p.send("ping-2\r");
    p.expect("ping-2", 3000);
    send("AT\r");
    expect("OK", 3000);
    check(read(100, 300).indexOf("ping") < 0, "the main port heard the other's bytes");
    check(p.read(100, 300).indexOf("OK") < 0, "the own port heard the main one's answer");
});
test("refused", function () {
    log(error(() => openPort("COM1")));
    log(error(() => openPort("%1")));
    log(error(() => openPort("COM2", {speed: 9600})));
    log(error(() => openPort("/nonexistent/ttyKIRT9")));
    p.close();
    log(error(() => p.send("x")));
    log(error(() => p.expect("x", 10)));
});
test("by path, after the close", function () {
    const q = openPort("%1");
    q.sendHex("41 42");
    check(q.read(2, 3000) === "AB", "no echo by path");
});
)JS")
                               .arg(echo.device());
    const Run r = run({QStringLiteral("--script"), script(QStringLiteral("ports.js"), source),
                       QStringLiteral("--port"), QStringLiteral("COM1")});
    QVERIFY2(r.exitCode == 0, qPrintable(r.out + r.err));
    QCOMPARE(r.out.split(u'\n').mid(1, 6),
             (QStringList{
                 QStringLiteral("openPort: COM1 is the main port, open already; the global "
                                "functions (send, expect, ...) use it"),
                 QStringLiteral("openPort: %1 is open already by an earlier openPort()")
                     .arg(echo.device()),
                 QStringLiteral("openPort: no option \"speed\" (the options are baud, dataBits, "
                                "parity, stopBits, flow)"),
                 QStringLiteral("Error Opening /nonexistent/ttyKIRT9: No such file or directory"),
                 QStringLiteral("COM2: send: the port is closed"),
                 QStringLiteral("COM2: expect: the port is closed")}));
}

} // namespace

QTEST_GUILESS_MAIN(TestScriptCli)
#include "tst_scriptcli.moc"
