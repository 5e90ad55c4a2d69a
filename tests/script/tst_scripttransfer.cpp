// File transfers from a script run without a window, against lrzsz as the board: the result's
// figures, the transfer's line in the output, and failures thrown with their reason.
#include "script/scriptrunner.h"
#include "script/sessionport.h"
#include "tests/support/lrzszpeer.h"
#include "tests/support/tempsettings.h"

#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

using namespace kirt;

class TestScriptTransfer : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        if (!test::LrzszPeer::installed())
            QFAIL("lrzsz is not installed: tools/kirt-dev test installs it");
    }

    void withLrzsz_data()
    {
        QTest::addColumn<QString>("program");
        QTest::addColumn<QString>("script");
        QTest::addColumn<QString>("line");
        QTest::newRow("ymodemSend to rb")
            << "rb"
            << "const r = ymodemSend([DIR + '/a.bin', DIR + '/b.bin']);\n"
               "check(r.bytes === 3000 && r.retries === 0 && r.ms >= 0, JSON.stringify(r));\n"
            << "YMODEM: sent a.bin, b.bin, 3,000 bytes in ";
        QTest::newRow("xmodemSend 1K to rx -c")
            << "rx -c x.bin"
            << "check(xmodemSend(DIR + '/a.bin', {block: 1024}).bytes === 1000);\n"
            << "XMODEM: sent a.bin, 1,000 bytes in ";
        QTest::newRow("ymodemReceive from sb")
            << "sb c.bin"
            << "check(ymodemReceive(DIR + '/in').bytes === 777);\n"
            << "YMODEM: received c.bin, 777 bytes in ";
        QTest::newRow("xmodemReceive from sx")
            << "sx c.bin"
            << "check(xmodemReceive(DIR + '/in/x.bin').bytes === 896);\n"
            << "XMODEM: received x.bin, 896 bytes in ";
    }
    void withLrzsz()
    {
        QFETCH(QString, program);
        QFETCH(QString, script);
        QFETCH(QString, line);
        test::TempSettings settings;
        QTemporaryDir kirtDir, boardDir;
        QVERIFY(QDir(kirtDir.path()).mkdir("in"));
        const auto write = [](const QString& path, qsizetype size) {
            QFile file(path);
            return file.open(QIODevice::WriteOnly) && file.write(QByteArray(size, 'k')) == size;
        };
        QVERIFY(write(kirtDir.filePath("a.bin"), 1000) && write(kirtDir.filePath("b.bin"), 2000));
        QVERIFY(write(boardDir.filePath("c.bin"), 777));

        PtyDevice device;
        test::LrzszPeer board;
        QStringList arguments = program.split(' ');
        QVERIFY(board.start(device.masterFd(), arguments.takeFirst(), arguments, boardDir.path()));

        StartOptions options;
        options.port = device.portName();
        QStringList said;
        SessionScriptPort port(options, [&said](const QString& text) { said << text; });
        ScriptRunner runner(port);
        port.controller().addReceiver(&runner);
        QSignalSpy done(&runner, &ScriptRunner::finished);
        // Failures throw with their reason: a file that is not there, an option misspelt.
        const QString source =
            QStringLiteral("const DIR = \"%1\";\nopen();\n").arg(kirtDir.path()) +
            "test('transfer', function () {\n" + script +
            "});\n"
            "test('missing', function () { xmodemSend(DIR + '/none.bin'); });\n"
            "test('option', function () { xmodemSend(DIR + '/a.bin', {blocks: 1024}); });\n";
        QVERIFY(runner.start("transfer.js", source));
        QVERIFY(done.wait(60000));
        const auto outcome = done.takeFirst().at(0).value<ScriptOutcome>();
        QCOMPARE(outcome.cases.size(), 3);
        QVERIFY2(outcome.cases[0].passed, qPrintable(outcome.cases[0].reason + said.join('\n')));
        QVERIFY(said.join('\n').contains(line));
        QVERIFY2(
            outcome.cases[1].reason.startsWith("xmodemSend: cannot read none.bin: No such file"),
            qPrintable(outcome.cases[1].reason));
        QVERIFY(outcome.cases[2].reason.startsWith("xmodemSend: no option \"blocks\""));
        if (program.startsWith("sb"))
            QCOMPARE(QFile(kirtDir.filePath("in/c.bin")).size(), 777);
    }
};

QTEST_GUILESS_MAIN(TestScriptTransfer)
#include "tst_scripttransfer.moc"
