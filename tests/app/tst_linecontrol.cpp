// The custom rate, flow control, DTR and RTS, break and the modem lamps, as the user meets
// them in the window.
#include "serial/setspeed.h"
#include "tests/support/fakeport.h"
#include "tests/support/windowfixture.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QElapsedTimer>
#include <QLabel>
#include <QSettings>
#include <QtTest>

#include <termios.h>

using kirt::test::FakePort;
using kirt::test::WindowFixture;

namespace {

const QStringList Lamps = {"CTSLamp", "DSRLamp", "DCDLamp", "RILamp"};

std::shared_ptr<FakePort> useFakePort(WindowFixture& f)
{
    auto port = std::make_shared<FakePort>();
    f.window().setPortMaker([port] { return port; });
    return port;
}

// Each lamp's look as "enabled/lit", in the order of Lamps.
QStringList lampStates(WindowFixture& f)
{
    QStringList states;
    for (const QString& name : Lamps) {
        auto* lamp = f.find<QLabel>(name);
        states << QStringLiteral("%1/%2").arg(lamp->isEnabled() ? "on" : "off",
                                              lamp->property("lit").toBool() ? "lit" : "dark");
    }
    return states;
}

} // namespace

class TestLineControl : public QObject
{
    Q_OBJECT

private slots:
    void customRateIsAskedShownAndSet();
    void cancelledCustomRateKeepsThePreviousChoice();
    void flowControlReachesTheDevice();
    void linesAreAssertedAfterTheClearAndToggleLive();
    void breakLastsAQuarterSecondOnlyWhileOpen();
    void lampsFollowTheLines();
    void ptyHasNoModemLinesAndNoError();
    void newSettingsRoundTrip();
    void newSettingsMayBeAbsentButNotUnreadable();
};

void TestLineControl::customRateIsAskedShownAndSet()
{
    if (!kirt::arbitrarySpeedAvailable())
        QSKIP("no arbitrary rates on this platform");
    WindowFixture f(WindowFixture::Device::Pty);
    TFmain& w = f.window();
    f.answers.integers.push_back(250000);
    f.choose("BaudRateComboBox", 31);
    QCOMPARE(f.answers.integerRanges, (QList<std::pair<int, int>>{{50, 12000000}}));
    auto* box = f.find<QComboBox>("BaudRateComboBox");
    QCOMPARE(box->currentIndex(), 31);
    QCOMPARE(box->currentText(), QStringLiteral("Custom (250000)"));
    QCOMPARE(w.comSettings().baudRate, 250000u);

    QVERIFY(f.openPort());
    QCOMPARE(f.find<QLabel>("StatusPanel0")->text(),
             QStringLiteral("PORT : COM1, 250000, 8, 1, NONE"));
    std::uint32_t actual = 0;
    QVERIFY(kirt::readArbitrarySpeed(f.device().masterFd(), actual));
    QCOMPARE(actual, 250000u);
    QVERIFY(f.answers.errors.isEmpty() && f.answers.messages.isEmpty());

    // A table rate after it runs at that rate; the custom item keeps its last rate.
    f.click("COM_BitBtn");
    f.choose("BaudRateComboBox", 30);
    QCOMPARE(w.comSettings().baudRate, 4000000u);
    QCOMPARE(box->itemText(31), QStringLiteral("Custom (250000)"));
}

void TestLineControl::cancelledCustomRateKeepsThePreviousChoice()
{
    WindowFixture f;
    TFmain& w = f.window();
    f.choose("BaudRateComboBox", 17);
    f.choose("BaudRateComboBox", 31); // no answer queued: cancelled
    auto* box = f.find<QComboBox>("BaudRateComboBox");
    QCOMPARE(f.answers.integerQuestions.size(), 1);
    QCOMPARE(box->currentIndex(), 17);
    QCOMPARE(box->itemText(31), QStringLiteral("Custom..."));
    QCOMPARE(w.comSettings().baudRate, 115200u);
}

void TestLineControl::flowControlReachesTheDevice()
{
    WindowFixture f(WindowFixture::Device::Pty);
    f.choose("FlowControlComboBox", 1);
    QCOMPARE(f.window().comSettings().flowControl, kirt::FlowControl::Hardware);
    QVERIFY(f.openPort());
    termios state{};
    QVERIFY(::tcgetattr(f.device().masterFd(), &state) == 0);
    QVERIFY((state.c_cflag & CRTSCTS) != 0);
    QVERIFY((state.c_iflag & IXON) == 0);
}

void TestLineControl::linesAreAssertedAfterTheClearAndToggleLive()
{
    WindowFixture f;
    auto port = useFakePort(f);
    // Closed: the buttons only record the choice.
    f.click("DTRButton");
    QVERIFY(f.find<QAbstractButton>("DTRButton")->isChecked());
    QVERIFY(port->events.isEmpty());

    QVERIFY(f.openPort());
    QCOMPARE(port->events, (QStringList{"open", "apply", "DTR on"}));
    QVERIFY(port->dtr && !port->rts);

    f.click("RTSButton");
    QVERIFY(port->rts);
    f.click("DTRButton");
    QVERIFY(!port->dtr);
    QCOMPARE(port->events.mid(3), (QStringList{"RTS on", "DTR off"}));

    f.click("COM_BitBtn");
    const qsizetype afterClose = port->events.size();
    f.click("DTRButton");
    QCOMPARE(port->events.size(), afterClose);
    QVERIFY(f.answers.messages.isEmpty());
}

void TestLineControl::breakLastsAQuarterSecondOnlyWhileOpen()
{
    WindowFixture f;
    auto port = useFakePort(f);
    f.click("BreakButton");
    QVERIFY(port->events.isEmpty());

    QVERIFY(f.openPort());
    f.click("BreakButton");
    QVERIFY(port->events.contains("break on"));
    // A second press during the break does not stretch or restart it.
    f.click("BreakButton");
    QCOMPARE(port->events.count("break on"), 1);
    QTRY_VERIFY_WITH_TIMEOUT(port->events.contains("break off"), 5000);
    QVERIFY2(port->breakEndedMs - port->breakStartedMs >= TFmain::BreakMs - 5,
             qPrintable(QString::number(port->breakEndedMs - port->breakStartedMs)));

    // A close during a break ends it first.
    f.click("BreakButton");
    f.click("COM_BitBtn");
    QCOMPARE(port->events.mid(port->events.size() - 3),
             (QStringList{"break on", "break off", "close"}));
}

void TestLineControl::lampsFollowTheLines()
{
    WindowFixture f;
    auto port = useFakePort(f);
    QCOMPARE(lampStates(f), QStringList(4, "off/dark"));

    port->lines.cts = true;
    QVERIFY(f.openPort());
    QCOMPARE(lampStates(f), (QStringList{"on/lit", "on/dark", "on/dark", "on/dark"}));
    QVERIFY(f.find<QLabel>("CTSLamp")->toolTip().isEmpty());

    // The window polls every 20 ms; the wait allows for a loaded machine.
    port->lines = {true, false, true, true, true};
    QTRY_COMPARE_WITH_TIMEOUT(lampStates(f), (QStringList{"on/dark", "on/lit", "on/lit", "on/lit"}),
                              500);

    f.click("COM_BitBtn");
    QCOMPARE(lampStates(f), QStringList(4, "off/dark"));
}

void TestLineControl::ptyHasNoModemLinesAndNoError()
{
    WindowFixture f(WindowFixture::Device::Pty);
    f.click("DTRButton");
    f.click("RTSButton");
    QVERIFY(f.openPort());
    QCOMPARE(lampStates(f), QStringList(4, "off/dark"));
    for (const QString& lamp : Lamps)
        QCOMPARE(f.find<QLabel>(lamp)->toolTip(), QStringLiteral("no modem lines on this device"));
    f.click("DTRButton");
    f.click("BreakButton");
    QVERIFY(f.answers.errors.isEmpty());
    QVERIFY(f.answers.messages.isEmpty());
}

void TestLineControl::newSettingsRoundTrip()
{
    WindowFixture f;
    f.answers.integers.push_back(1234567);
    f.choose("BaudRateComboBox", 31);
    f.choose("FlowControlComboBox", 2);
    f.click("DTRButton");
    f.window().close();
    // The INI file keeps its keys sorted, so only the values can be checked here.
    const QByteArray text = f.settings.read();
    for (const char* line :
         {"CustomBaudRate=1234567\n", "FlowControl=2\n", "DtrOn=1\n", "RtsOn=0\n"})
        QVERIFY2(text.contains(line), text.constData());

    f.destroyWindow();
    TFmain& w = f.window();
    QVERIFY(f.answers.errors.isEmpty());
    QCOMPARE(f.find<QComboBox>("BaudRateComboBox")->currentText(),
             QStringLiteral("Custom (1234567)"));
    QCOMPARE(w.comSettings().baudRate, 1234567u);
    QCOMPARE(w.comSettings().flowControl, kirt::FlowControl::Software);
    QVERIFY(f.find<QAbstractButton>("DTRButton")->isChecked());
    QVERIFY(!f.find<QAbstractButton>("RTSButton")->isChecked());
    QCOMPARE(f.find<QLabel>("StatusPanel0")->text(),
             QStringLiteral("PORT : COM1, 1234567, 8, 1, NONE"));
}

void TestLineControl::newSettingsMayBeAbsentButNotUnreadable()
{
    const QByteArray twelve =
        "[Kirt]\nSerialPort=0\nBaudRate=31\nDataBit=4\nStopBit=0\nParityBit=0\n"
        "DisplayFormat=1\nNewLineChar=00\nEchoOnOff=0\nScrollBar=0\nLineLimit=0\nColor=1\n"
        "AutoIntervalTime=6\n";
    {
        // A file of the first version: the custom item without a rate falls back to the
        // layout's rate, everything new keeps its default, and nobody is told.
        WindowFixture f;
        f.settings.write(twelve);
        TFmain& w = f.window();
        QVERIFY(f.answers.errors.isEmpty());
        QCOMPARE(f.find<QComboBox>("BaudRateComboBox")->currentIndex(), 12);
        QCOMPARE(w.comSettings().baudRate, 9600u);
        QCOMPARE(f.find<QComboBox>("FlowControlComboBox")->currentIndex(), 0);
        QVERIFY(!f.find<QAbstractButton>("DTRButton")->isChecked());
    }
    {
        // Out of range: ignored as the twelve's are.
        WindowFixture f;
        f.settings.write(twelve + "CustomBaudRate=49\nFlowControl=3\nDtrOn=2\nRtsOn=1\n");
        f.window();
        QVERIFY(f.answers.errors.isEmpty());
        QCOMPARE(f.find<QComboBox>("BaudRateComboBox")->currentIndex(), 12);
        QCOMPARE(f.find<QComboBox>("FlowControlComboBox")->currentIndex(), 0);
        QVERIFY(!f.find<QAbstractButton>("DTRButton")->isChecked());
        QVERIFY(f.find<QAbstractButton>("RTSButton")->isChecked());
    }
    {
        // Unreadable: reported, and the restore ends there.
        WindowFixture f;
        f.settings.write(twelve + "CustomBaudRate=300000\nFlowControl=fast\nDtrOn=1\n");
        TFmain& w = f.window();
        QCOMPARE(f.answers.errors, QStringList{"Invalid data type for 'FlowControl'"});
        QCOMPARE(w.comSettings().baudRate, 300000u);
        QVERIFY(!f.find<QAbstractButton>("DTRButton")->isChecked());
    }
}

QTEST_MAIN(TestLineControl)
#include "tst_linecontrol.moc"
