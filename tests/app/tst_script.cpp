// A test script in the window: it talks to the open port while the display receives and the
// rules answer, shows its results, and stops when told.
#include "tests/support/controls.h"
#include "tests/support/fakeport.h"
#include "tests/support/vdevprocess.h"
#include "tests/support/windowfixture.h"
#include "ui/datalineedit.h"
#include "ui/receivedisplay.h"

#include <QAction>
#include <QLabel>
#include <QtTest>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

using kirt::PtyDevice;
using kirt::test::WindowFixture;

class TestScript : public QObject
{
    Q_OBJECT

private slots:
    void runsWhileTheDisplayReceivesAndRulesAnswer();
    void stopEndsABusyScript();
    void breakAndCloseLeaveTheUsersPortAlone();
    void aFifoIsRefusedNotWaitedFor();
    void aFloodIsCountedNotShownAndEveryCaseKept();
    void aScriptsOwnPortStaysOutOfTheWindow();
};

namespace {

// Nobody holds the device: this program closed it.
bool released(const QString& device)
{
    const int fd = ::open(QFile::encodeName(device).constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    const bool free = fd >= 0 && ::flock(fd, LOCK_EX | LOCK_NB) == 0;
    if (fd >= 0)
        ::close(fd);
    return free;
}

} // namespace

void TestScript::runsWhileTheDisplayReceivesAndRulesAnswer()
{
    WindowFixture f(WindowFixture::Device::Pty);
    f.showWithDisplayFormat(1);
    kirt::test::enableRule(&f.window(), 1, QStringLiteral("0103"), QStringLiteral("5A5B"));
    QTest::keyClicks(f.find<kirt::DataLineEdit>(QStringLiteral("TransmitEdit1")),
                     QStringLiteral("4C31")); // "L1"
    QVERIFY(f.openPort());
    f.answers.paths.push_back(f.fileWith(QStringLiteral("board.js"), R"JS(
open();
test("ping", function () { send("ping\r"); expect("pong", 5000); });
test("line 1", function () { sendLine(1); expect("got L1", 5000); });
test("another port", function () {
    let error = null;
    try { open("COM2"); } catch (e) { error = e; }
    check(error && /has COM1 open/.test(error.message), String(error));
});
log("all done");
)JS"));
    f.triggerAction(QStringLiteral("RunScriptAction"));
    auto* label = f.find<QLabel>(QStringLiteral("ScriptStateLabel"));
    QCOMPARE(label->text(), QStringLiteral(" board.js running"));
    QVERIFY(!f.window().findChild<QAction*>(QStringLiteral("RunScriptAction"))->isEnabled());

    // The device answers the script and asks the rule meanwhile.
    PtyDevice& device = f.device();
    QVERIFY(device.send(QByteArray("\x01\x03", 2)));
    QByteArray heard;
    bool pinged = false;
    bool lined = false;
    QVERIFY(PtyDevice::waitUntil(
        [&] {
            heard += device.receive(0, 5);
            if (!pinged && heard.contains("ping\r"))
                pinged = device.send("pong\r\n");
            if (!lined && heard.contains("L1"))
                lined = device.send("got L1\r\n");
            return label->text().endsWith(QStringLiteral("3/3"));
        },
        10000));
    QCOMPARE(label->text(), QStringLiteral(" board.js passed 3/3"));
    QVERIFY2(heard.contains("\x5A\x5B"), heard.toHex(' ').constData()); // the rule answered
    const QString shown = f.display()->displayText();
    for (const char* line :
         {"pong", "PASS ping (", "PASS line 1 (", "all done", "board.js passed 3/3"})
        QVERIFY2(shown.contains(QLatin1String(line)), qPrintable(shown));
    QVERIFY(f.window().findChild<QAction*>(QStringLiteral("RunScriptAction"))->isEnabled());
}

void TestScript::stopEndsABusyScript()
{
    WindowFixture f;
    f.window().show();
    f.answers.paths.push_back(
        f.fileWith(QStringLiteral("busy.js"), "test('spin', function () { while (true) {} });\n"));
    f.triggerAction(QStringLiteral("RunScriptAction"));
    QTest::qWait(100);
    f.triggerAction(QStringLiteral("StopScriptAction"));
    auto* label = f.find<QLabel>(QStringLiteral("ScriptStateLabel"));
    QVERIFY(PtyDevice::waitUntil(
        [&] { return label->text() == QStringLiteral(" busy.js stopped"); }, 2000));
    QVERIFY(f.display()->displayText().contains(QStringLiteral("busy.js stopped")));
}

void TestScript::breakAndCloseLeaveTheUsersPortAlone()
{
    WindowFixture f;
    auto port = std::make_shared<kirt::test::FakePort>();
    f.window().setPortMaker([port] { return port; });
    f.window().show();
    QVERIFY(f.openPort());
    auto* label = f.find<QLabel>(QStringLiteral("ScriptStateLabel"));
    const auto run = [&](const char* name, const char* source) {
        f.answers.paths.push_back(f.fileWith(QString::fromLatin1(name), source));
        f.triggerAction(QStringLiteral("RunScriptAction"));
    };
    const auto ended = [&] {
        return PtyDevice::waitUntil(
            [&] { return !label->text().endsWith(QLatin1String("running")); }, 5000);
    };

    // A script's short break inside the user's: the user's lasts its whole time.
    f.click(QStringLiteral("BreakButton"));
    run("short.js", "open(); sendBreak(20); close();\n");
    QVERIFY(ended());
    QTRY_VERIFY_WITH_TIMEOUT(port->events.contains("break off"), 5000);
    QCOMPARE(port->events.count("break on"), 1);
    QVERIFY2(port->breakEndedMs - port->breakStartedMs >= TFmain::BreakMs - 5,
             qPrintable(port->events.join(u',')));

    // The user's press inside a script's long break neither restarts nor ends it.
    run("long.js", "open(); sendBreak(600); close();\n");
    QTRY_VERIFY_WITH_TIMEOUT(port->events.count("break on") == 2, 5000);
    f.click(QStringLiteral("BreakButton"));
    QVERIFY(ended());
    QTRY_VERIFY_WITH_TIMEOUT(port->events.count("break off") == 2, 5000);
    QCOMPARE(port->events.count("break on"), 2);
    QVERIFY2(port->breakEndedMs - port->breakStartedMs >= 595,
             qPrintable(QString::number(port->breakEndedMs - port->breakStartedMs)));

    // Neither script's close() closed the port the user had open.
    QVERIFY2(!port->events.contains("close"), qPrintable(port->events.join(u',')));
    QVERIFY(f.window().portOpen());
    QCOMPARE(label->text(), QStringLiteral(" long.js passed 0/0"));
}

void TestScript::aFifoIsRefusedNotWaitedFor()
{
    WindowFixture f;
    f.window().show();
    const QString fifo = f.fileWith(QStringLiteral("fifo.js"), {});
    QVERIFY(QFile::remove(fifo));
    QCOMPARE(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    f.answers.paths.push_back(fifo);
    f.triggerAction(QStringLiteral("RunScriptAction"));
    QCOMPARE(f.answers.errors, QStringList{QStringLiteral("Cannot read ") + fifo});
    QCOMPARE(f.answers.details, QStringList{QStringLiteral("It is a FIFO, not a regular file.")});
    QVERIFY(f.window().findChild<QAction*>(QStringLiteral("RunScriptAction"))->isEnabled());
}

void TestScript::aFloodIsCountedNotShownAndEveryCaseKept()
{
    WindowFixture f;
    f.window().show();
    f.choose(QStringLiteral("ScrollBarComboBox"), 1);
    f.choose(QStringLiteral("LineLimitComboBox"), 15); // 5000 lines: the flood's last ones
    f.answers.paths.push_back(f.fileWith(QStringLiteral("flood.js"), R"JS(
for (let i = 0; i < 20000; ++i) log("line " + i);
for (let i = 0; i < 3000; ++i) test("case " + i, function () {});
)JS"));
    f.triggerAction(QStringLiteral("RunScriptAction"));
    auto* label = f.find<QLabel>(QStringLiteral("ScriptStateLabel"));
    QVERIFY(PtyDevice::waitUntil([&] { return !label->text().endsWith(QLatin1String("running")); },
                                 60000));
    QCOMPARE(label->text(), QStringLiteral(" flood.js passed 3000/3000"));
    const QString shown = f.display()->displayText();
    QVERIFY2(shown.contains(QRegularExpression(QStringLiteral("\\.\\.\\. \\d{1,3}(,\\d{3})* lines "
                                                              "not shown\n"))),
             qPrintable(shown.right(2000)));
    QVERIFY2(shown.contains(QStringLiteral("PASS case 2999 (")), qPrintable(shown.right(2000)));
}

void TestScript::aScriptsOwnPortStaysOutOfTheWindow()
{
    WindowFixture f(WindowFixture::Device::Pty); // the window's COM1
    kirt::test::VdevProcess relay(
        {QStringLiteral("--port"), QStringLiteral("COM2"), QStringLiteral("--echo")});
    QVERIFY(!relay.device().isEmpty());
    f.showWithDisplayFormat(1);
    QVERIFY(f.openPort());
    auto* label = f.find<QLabel>(QStringLiteral("ScriptStateLabel"));
    const auto run = [&](const char* name, const char* source) {
        f.answers.paths.push_back(f.fileWith(QString::fromLatin1(name), source));
        f.triggerAction(QStringLiteral("RunScriptAction"));
    };
    run("relay.js", R"JS(
const relay = openPort("COM2");
test("echo", function () { relay.send("secret-42\r"); relay.expect("secret-42", 5000); });
test("the window's port", function () {
    let error = null;
    try { openPort("COM1"); } catch (e) { error = e; }
    check(error && /COM1 is the main port/.test(error.message), String(error));
});
log("relay done");
)JS");
    QVERIFY(PtyDevice::waitUntil([&] { return !label->text().endsWith(QLatin1String("running")); },
                                 10000));
    QCOMPARE(label->text(), QStringLiteral(" relay.js passed 2/2"));
    const QString shown = f.display()->displayText();
    QVERIFY2(shown.contains(QStringLiteral("relay done")) &&
                 !shown.contains(QStringLiteral("secret")),
             qPrintable(shown));
    QVERIFY(f.window().portOpen());
    QCOMPARE(f.window().port().portName(), QStringLiteral("COM1"));
    QVERIFY(released(relay.device()));

    // A stop ends a wait on the script's own port at once, and closes it.
    run("stopped.js",
        "const relay = openPort('COM2');\nlog('waiting');\nrelay.expect('never', 60000);\n");
    QVERIFY(PtyDevice::waitUntil(
        [&] { return f.display()->displayText().contains(QStringLiteral("waiting")); }, 5000));
    QVERIFY(!released(relay.device()));
    f.triggerAction(QStringLiteral("StopScriptAction"));
    QVERIFY(PtyDevice::waitUntil(
        [&] { return label->text() == QStringLiteral(" stopped.js stopped"); }, 5000));
    QVERIFY(released(relay.device()));
}

QTEST_MAIN(TestScript)
#include "tst_script.moc"
