// Transmit lines, automatic transmission and the checksum calculator, end to end: a
// pseudo-terminal plays the device behind COM1 and the test reads what reaches it.
#include "tests/support/columns.h"
#include "tests/support/usersteps.h"
#include "tests/support/windowfixture.h"
#include "ui/datalineedit.h"
#include "ui/receivedisplay.h"

#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <QSlider>
#include <QTextCursor>
#include <QTimer>
#include <QtTest>

using kirt::PtyDevice;
using kirt::test::transmitEdit;
using kirt::test::WindowFixture;
using Device = WindowFixture::Device;

namespace {

constexpr int Hex = 0;
constexpr int Asc = 1;
constexpr int Off = 0;
constexpr int On = 1;

// Line 9 holds a marker byte that no other line sends: once it arrives, everything sent
// before it has arrived too, so "nothing else came" needs no waiting out a time-out.
constexpr char Marker = '#';

QPushButton* sendButton(WindowFixture& f, int n)
{
    return f.find<QPushButton>(QStringLiteral("BitBtn%1").arg(8 + n));
}

void line(WindowFixture& f, int n, int format, const QString& text, int crlf = Off)
{
    f.choose(QStringLiteral("TransmitFormatComboBox%1").arg(n), format);
    transmitEdit(f, n)->setPlainText(text);
    f.choose(QStringLiteral("CRLFComboBox%1").arg(n), crlf);
}

// The window shown, with the marker in line 9.
void start(WindowFixture& f)
{
    f.window().show();
    line(f, 9, Asc, QString(QChar(QLatin1Char(Marker))));
}

// Alt with the line's digit: the key sends the line alone, without moving the focus.
void sendByKey(WindowFixture& f, int n)
{
    f.press(Qt::Key(Qt::Key_0 + n), Qt::AltModifier);
}

void markAuto(WindowFixture& f, int n, bool on)
{
    f.choose(QStringLiteral("TransmitAutoComboBox%1").arg(n), on ? On : Off);
}

void slider(WindowFixture& f, int position)
{
    f.find<QSlider>("TrackBar1")->setValue(position);
}

bool autoRunning(WindowFixture& f)
{
    return f.find<QTimer>("AutoTransIntervalTimer")->isActive();
}

QString statusPanel(WindowFixture& f, int i)
{
    return f.find<QLabel>(QStringLiteral("StatusPanel%1").arg(i))->text();
}

// Sends the marker line and returns what the device received up to and without it.
QByteArray receiveUpToMarker(WindowFixture& f)
{
    sendByKey(f, 9);
    QByteArray got;
    PtyDevice::waitUntil(
        [&] {
            got += f.device().receive(0, 0);
            return got.endsWith(Marker);
        },
        5000);
    if (!got.endsWith(Marker))
        return "(marker never arrived) " + got;
    got.chop(1);
    return got;
}

// Everything the device receives until it has at least `count` bytes.
QByteArray receive(WindowFixture& f, int count)
{
    return f.device().receive(count, 5000);
}

// Reads what is still on its way once nothing more is being sent.
QByteArray drain(WindowFixture& f)
{
    return f.device().receive(1 << 20, 200);
}

// Started with the port open and each of the lines in ASC holding its own number, so each byte
// on the wire names the line it came from; false if the port did not open.
[[nodiscard]] bool startNumbered(WindowFixture& f, std::initializer_list<int> lines)
{
    start(f);
    if (!f.openPort())
        return false;
    for (const int n : lines)
        line(f, n, Asc, QString::number(n));
    return true;
}

bool checkButtonsEnabled(WindowFixture& f, bool enabled)
{
    for (int i = 1; i <= 8; ++i)
        if (f.find<QPushButton>(QStringLiteral("Button%1").arg(i))->isEnabled() != enabled)
            return false;
    return true;
}

void select(kirt::DataLineEdit* edit, int from, int to)
{
    QTextCursor cursor = edit->textCursor();
    cursor.setPosition(from);
    cursor.setPosition(to, QTextCursor::KeepAnchor);
    edit->setTextCursor(cursor);
}

} // namespace

class TestTransmit : public QObject
{
    Q_OBJECT

private slots:
    void lineGoesOutAsItsBytes_data();
    void lineGoesOutAsItsBytes();
    void statusLineRecomposedOnlyAfterBytesWent();
    void closedPortSendsNothingAndSaysNothing();
    void focusBeforeSend();
    void formatPickClearsOrKeepsTheText();
    void autoCycleAlternatesAndStopRestartsIt();
    void placeInCycleSurvivesSecondStartAndSliderMove();
    void markingALineRestartsTheCycle();
    void statusNamesTheLineThatGoesNext();
    void startNeedsAnOpenPortAndAMarkedLine();
    void closingThePortStopsTheCycle();
    void calculatorWorksOnTheLastLineSelection();
    void calculatorHexSelectionAndIdleButtons();
};

void TestTransmit::lineGoesOutAsItsBytes_data()
{
    kirt::test::columns<int, int, QString, int, QByteArray>(
        {"n", "format", "text", "crlf", "wire"});

    kirt::test::row("hex with CR LF", 1, Hex, "0102", On, QByteArray("\x01\x02\r\n"));
    kirt::test::row("one hex digit: nothing, not even CR LF", 2, Hex, "1", On, QByteArray());
    kirt::test::row("empty line: nothing", 8, Asc, "", On, QByteArray());
    kirt::test::row("asc without CR LF", 3, Asc, "AT", Off, QByteArray("AT"));
    kirt::test::row("odd hex digit left over", 4, Hex, "ABC", Off, QByteArray("\xab"));
    kirt::test::row("hex zero byte goes out", 5, Hex, "00FF", Off, QByteArray("\x00\xff", 2));
    // The field keeps bytes as Latin-1 characters; a no-break space must not become a space.
    kirt::test::row("asc is byte transparent", 6, Asc, QStringLiteral("\u00e9\u00a0\u00ff~"), Off,
                    QByteArray("\xe9\xa0\xff~"));
    const QString asc500(500, QLatin1Char('x'));
    kirt::test::row("500 asc characters and CR LF", 7, Asc, asc500, On,
                    QByteArray(500, 'x') + "\r\n");
    kirt::test::row("1000 hex characters and CR LF", 1, Hex, QString(1000, QLatin1Char('F')), On,
                    QByteArray(500, '\xff') + "\r\n");
}

void TestTransmit::lineGoesOutAsItsBytes()
{
    QFETCH(int, n);
    QFETCH(int, format);
    QFETCH(QString, text);
    QFETCH(int, crlf);
    QFETCH(QByteArray, wire);
    WindowFixture f(Device::Pty);
    start(f);
    QVERIFY(f.openPort());
    line(f, n, format, text, crlf);

    // By key (the shortcut calls the send alone) and by button: the same bytes each time.
    sendByKey(f, n);
    QCOMPARE(receiveUpToMarker(f), wire);
    sendButton(f, n)->click();
    QCOMPARE(receiveUpToMarker(f), wire);
    // Sending leaves the text as it was (the raw text: the plain one turns no-break spaces into
    // spaces).
    QCOMPARE(transmitEdit(f, n)->document()->toRawText(), text);
}

void TestTransmit::statusLineRecomposedOnlyAfterBytesWent()
{
    WindowFixture f(Device::Pty);
    start(f);
    QVERIFY(f.openPort());
    line(f, 2, Hex, QStringLiteral("1"), On);
    line(f, 3, Asc, QStringLiteral("AT"));
    const QString before = statusPanel(f, 0);
    QVERIFY(before.contains(QStringLiteral("9600")));
    // A new rate on the settings page is shown at the next recomposition only.
    f.choose(QStringLiteral("BaudRateComboBox"), 11);
    const QString chosen = f.find<QComboBox>("BaudRateComboBox")->currentText();
    QVERIFY(chosen != QStringLiteral("9600"));

    sendByKey(f, 2);
    QCOMPARE(statusPanel(f, 0), before);
    sendByKey(f, 3);
    QVERIFY2(statusPanel(f, 0).contains(chosen), qPrintable(statusPanel(f, 0)));
}

void TestTransmit::closedPortSendsNothingAndSaysNothing()
{
    WindowFixture f(Device::Pty);
    start(f);
    QVERIFY(f.showActive());
    line(f, 5, Asc, QStringLiteral("AT"), On);
    const QString status = statusPanel(f, 0);
    // Only a recomposition would show the new rate; a send with the port closed makes none.
    f.choose(QStringLiteral("BaudRateComboBox"), 11);

    sendByKey(f, 5);
    QCOMPARE(statusPanel(f, 0), status);
    // The button still brings the focus back to the display that is showing.
    sendButton(f, 5)->setFocus();
    sendButton(f, 5)->click();
    QVERIFY(f.find<kirt::ReceiveDisplay>("mMessage")->hasFocus());
    // On the board it goes to the line itself.
    f.click("TransmitDataView_BitBtn");
    sendButton(f, 5)->setFocus();
    sendButton(f, 5)->click();
    QVERIFY(transmitEdit(f, 5)->hasFocus());
    QCOMPARE(f.window().currentTransmitLine(), 5);

    QVERIFY(f.answers.errors.isEmpty());
    QVERIFY(f.answers.messages.isEmpty());
    QCOMPARE(statusPanel(f, 0), status);
    // Nothing was held back to go out once the port opens.
    QVERIFY(f.openPort());
    QCOMPARE(receiveUpToMarker(f), QByteArray());
}

void TestTransmit::focusBeforeSend()
{
    WindowFixture f(Device::Pty);
    start(f);
    QVERIFY(f.showActive());
    QVERIFY(f.openPort());
    line(f, 6, Asc, QStringLiteral("L6"));

    // Display in front: the focus returns to it and the line goes out.
    sendButton(f, 6)->setFocus();
    sendButton(f, 6)->click();
    QVERIFY(f.find<kirt::ReceiveDisplay>("mMessage")->hasFocus());
    QCOMPARE(receiveUpToMarker(f), QByteArray("L6"));

    // Board in front: the line's own field gets the focus and becomes the current line.
    f.click("TransmitDataView_BitBtn");
    QCOMPARE(f.window().currentTransmitLine(), 1);
    sendButton(f, 6)->setFocus();
    QTest::mouseClick(sendButton(f, 6), Qt::LeftButton);
    QVERIFY(transmitEdit(f, 6)->hasFocus());
    QCOMPARE(f.window().currentTransmitLine(), 6);
    QCOMPARE(receiveUpToMarker(f), QByteArray("L6"));

    // Leaving a line for a button keeps it the current line.
    transmitEdit(f, 7)->setFocus();
    f.find<QPushButton>("Button5")->setFocus();
    QCOMPARE(f.window().currentTransmitLine(), 7);

    // Settings in front: the focus stays where the user put it.
    f.click("OPTION_BitBtn");
    auto* baud = f.find<QComboBox>("BaudRateComboBox");
    baud->setFocus();
    sendButton(f, 6)->click();
    QVERIFY(baud->hasFocus());
    QCOMPARE(receiveUpToMarker(f), QByteArray("L6"));
}

void TestTransmit::formatPickClearsOrKeepsTheText()
{
    WindowFixture f(Device::Pty);
    start(f);
    line(f, 1, Hex, QStringLiteral("1234"));
    f.choose(QStringLiteral("TransmitFormatComboBox1"), Hex);
    QCOMPARE(transmitEdit(f, 1)->toPlainText(), QStringLiteral("1234"));
    QCOMPARE(transmitEdit(f, 1)->maxLength(), 1000);

    f.choose(QStringLiteral("TransmitFormatComboBox1"), Asc);
    QVERIFY(transmitEdit(f, 1)->toPlainText().isEmpty());
    QCOMPARE(transmitEdit(f, 1)->maxLength(), 500);
    QCOMPARE(f.window().transmitLineFormat(1), kirt::DataFormat::Asc);

    transmitEdit(f, 1)->setPlainText(QStringLiteral("AT"));
    f.choose(QStringLiteral("TransmitFormatComboBox1"), Asc);
    QCOMPARE(transmitEdit(f, 1)->toPlainText(), QStringLiteral("AT"));
    f.choose(QStringLiteral("TransmitFormatComboBox1"), Hex);
    QVERIFY(transmitEdit(f, 1)->toPlainText().isEmpty());
    QCOMPARE(transmitEdit(f, 1)->maxLength(), 1000);
    // The other lines are untouched by the picks.
    QCOMPARE(f.window().transmitLineFormat(2), kirt::DataFormat::Hex);
}

void TestTransmit::autoCycleAlternatesAndStopRestartsIt()
{
    WindowFixture f(Device::Pty);
    QVERIFY(startNumbered(f, {1, 2, 3}));
    markAuto(f, 1, true);
    markAuto(f, 3, true);
    slider(f, 0);
    QCOMPARE(f.find<QLabel>("AutoTimeValue")->text(), QStringLiteral("20ms"));

    f.click("SendStartBtn");
    QVERIFY(autoRunning(f));
    QCOMPARE(statusPanel(f, 4), QStringLiteral("Auto Interval : 20ms Group [1]"));
    QByteArray got = receive(f, 6);
    QCOMPARE(got.left(6), QByteArray("131313"));

    f.click("SendStopBtn");
    QVERIFY(!autoRunning(f));
    QCOMPARE(statusPanel(f, 4), QStringLiteral("Auto Interval : 20ms STOP"));
    got += drain(f);
    QCOMPARE(got, QByteArray("13").repeated(got.size()).left(got.size()));

    // A new start begins with the first marked line again.
    f.click("SendStartBtn");
    QCOMPARE(receive(f, 4).left(4), QByteArray("1313"));
    QVERIFY(f.answers.errors.isEmpty());
}

void TestTransmit::placeInCycleSurvivesSecondStartAndSliderMove()
{
    WindowFixture f(Device::Pty);
    QVERIFY(startNumbered(f, {1, 3, 5}));
    for (const int n : {1, 3, 5})
        markAuto(f, n, true);
    // A long interval, so only the ticks the test gives happen until the slider moves.
    slider(f, 15);
    f.click("SendStartBtn");
    f.window().AutoTransIntervalTimerTimer();
    f.click("SendStartBtn");
    QVERIFY(autoRunning(f));
    QCOMPARE(statusPanel(f, 4), QStringLiteral("Auto Interval : 5000ms Group [3]"));
    f.window().AutoTransIntervalTimerTimer();
    slider(f, 0);
    QVERIFY(autoRunning(f));
    QCOMPARE(f.find<QLabel>("AutoTimeValue")->text(), QStringLiteral("20ms"));
    QCOMPARE(receive(f, 6).left(6), QByteArray("135135"));
    QVERIFY(f.answers.errors.isEmpty());
}

void TestTransmit::markingALineRestartsTheCycle()
{
    WindowFixture f(Device::Pty);
    QVERIFY(startNumbered(f, {1, 2, 3}));
    markAuto(f, 1, true);
    markAuto(f, 3, true);
    slider(f, 15);
    f.click("SendStartBtn");
    f.window().AutoTransIntervalTimerTimer();
    // Line 1 went out; marking line 2 starts over from line 1, then runs 1, 2, 3.
    markAuto(f, 2, true);
    QVERIFY(autoRunning(f));
    QCOMPARE(statusPanel(f, 4), QStringLiteral("Auto Interval : 5000ms Group [1]"));
    slider(f, 0);
    QCOMPARE(receive(f, 7).left(7), QByteArray("1123123"));

    // Unmarking keeps the cycle going while a line is left; the last one stops it.
    markAuto(f, 1, false);
    markAuto(f, 2, false);
    QVERIFY(autoRunning(f));
    markAuto(f, 3, false);
    QVERIFY(!autoRunning(f));
    QVERIFY(statusPanel(f, 4).endsWith(QStringLiteral("STOP")));
    // Marking a line while stopped does not start anything.
    markAuto(f, 2, true);
    QVERIFY(!autoRunning(f));
    QVERIFY(f.answers.errors.isEmpty());
}

void TestTransmit::statusNamesTheLineThatGoesNext()
{
    WindowFixture f(Device::Pty);
    QVERIFY(startNumbered(f, {1, 2, 4, 8}));
    for (const int n : {1, 4, 8})
        markAuto(f, n, true);
    slider(f, 15);
    f.click("SendStartBtn");
    QCOMPARE(statusPanel(f, 4), QStringLiteral("Auto Interval : 5000ms Group [1]"));
    // Each send by the timer names the line being sent.
    f.window().AutoTransIntervalTimerTimer();
    f.window().AutoTransIntervalTimerTimer();
    QCOMPARE(statusPanel(f, 4), QStringLiteral("Auto Interval : 5000ms Group [4]"));
    f.window().AutoTransIntervalTimerTimer();
    QCOMPARE(statusPanel(f, 4), QStringLiteral("Auto Interval : 5000ms Group [8]"));
    // Past the last line, a manual send names the line the cycle wraps to.
    sendByKey(f, 2);
    QCOMPARE(statusPanel(f, 4), QStringLiteral("Auto Interval : 5000ms Group [1]"));
    QCOMPARE(receiveUpToMarker(f), QByteArray("1482"));
}

void TestTransmit::startNeedsAnOpenPortAndAMarkedLine()
{
    WindowFixture f(Device::Pty);
    start(f);
    markAuto(f, 1, true);
    f.click("SendStartBtn");
    QVERIFY(!autoRunning(f));
    QVERIFY(f.answers.errors.isEmpty());

    QVERIFY(f.openPort());
    markAuto(f, 1, false);
    f.click("SendStartBtn");
    QVERIFY(!autoRunning(f));
    QCOMPARE(f.answers.errors, QStringList{QStringLiteral("Not. Auto Mode")});
    QVERIFY(statusPanel(f, 4).endsWith(QStringLiteral("STOP")));
}

void TestTransmit::closingThePortStopsTheCycle()
{
    WindowFixture f(Device::Pty);
    QVERIFY(startNumbered(f, {1}));
    markAuto(f, 1, true);
    slider(f, 0);
    f.click("SendStartBtn");
    QCOMPARE(receive(f, 2).left(2), QByteArray("11"));

    f.click("COM_BitBtn");
    QVERIFY(!f.window().portOpen());
    QVERIFY(!autoRunning(f));
    QVERIFY(statusPanel(f, 4).endsWith(QStringLiteral("STOP")));
    drain(f);

    QVERIFY(f.openPort());
    QVERIFY(!autoRunning(f));
    // Several intervals pass and no line goes out.
    PtyDevice::serveEvents(150);
    QCOMPARE(receiveUpToMarker(f), QByteArray());
}

void TestTransmit::calculatorWorksOnTheLastLineSelection()
{
    WindowFixture f(Device::Pty);
    start(f);
    QVERIFY(f.showActive());
    // No line has had the focus: the buttons stay disabled.
    PtyDevice::serveEvents(120);
    QCOMPARE(f.window().currentTransmitLine(), 0);
    QVERIFY(checkButtonsEnabled(f, false));

    f.click("TransmitDataView_BitBtn");
    line(f, 3, Asc, QStringLiteral("123456789"));
    transmitEdit(f, 3)->setFocus();
    select(transmitEdit(f, 3), 0, 9);
    QVERIFY(PtyDevice::waitUntil([&] { return checkButtonsEnabled(f, true); }, 2000));

    // The click moves the focus to the button; the selection of line 3 is still the input.
    auto* crc16 = f.find<QPushButton>("Button5");
    crc16->setFocus();
    QTest::mouseClick(crc16, Qt::LeftButton);
    QCOMPARE(f.window().currentTransmitLine(), 3);
    auto* length = f.find<QLabel>("LengthDisplay");
    auto* code = f.find<QLabel>("CheckSumDisplay");
    QCOMPARE(length->text(), QStringLiteral("9 BYTE"));
    QCOMPARE(code->text(), QStringLiteral("BB3DH"));

    const std::pair<const char*, const char*> checks[] = {{"Button1", "31H"},
                                                          {"Button2", "01DDH"},
                                                          {"Button6", "4B37H"},
                                                          {"Button7", "31C3H"},
                                                          {"Button8", "906EH"}};
    for (const auto& [button, shown] : checks) {
        f.find<QPushButton>(button)->click();
        QCOMPARE(code->text(), QLatin1String(shown));
    }
    // The two buttons without a check change nothing, even while enabled.
    f.click("Button3");
    f.click("Button4");
    QCOMPARE(code->text(), QStringLiteral("906EH"));
    QCOMPARE(length->text(), QStringLiteral("9 BYTE"));

    // A click straight after the selection changed covers the new selection.
    select(transmitEdit(f, 3), 0, 2);
    f.click("Button1");
    QCOMPARE(length->text(), QStringLiteral("2 BYTE"));
    QCOMPARE(code->text(), QStringLiteral("03H"));

    // No selection: the buttons go disabled and the last result stays.
    select(transmitEdit(f, 3), 2, 2);
    QVERIFY(PtyDevice::waitUntil([&] { return checkButtonsEnabled(f, false); }, 2000));
    QCOMPARE(code->text(), QStringLiteral("03H"));
    QCOMPARE(length->text(), QStringLiteral("2 BYTE"));
}

void TestTransmit::calculatorHexSelectionAndIdleButtons()
{
    WindowFixture f(Device::Pty);
    start(f);
    QVERIFY(f.showActive());
    f.click("TransmitDataView_BitBtn");
    auto* length = f.find<QLabel>("LengthDisplay");
    auto* code = f.find<QLabel>("CheckSumDisplay");

    // The middle four characters of A1B2C3 are the bytes 1B and 2C.
    line(f, 4, Hex, QStringLiteral("A1B2C3"));
    transmitEdit(f, 4)->setFocus();
    select(transmitEdit(f, 4), 1, 5);
    QVERIFY(PtyDevice::waitUntil([&] { return checkButtonsEnabled(f, true); }, 2000));
    f.click("Button1");
    QCOMPARE(length->text(), QStringLiteral("2 BYTE"));
    QCOMPARE(code->text(), QStringLiteral("37H"));

    // One HEX character is no byte: the start value through the final step.
    select(transmitEdit(f, 4), 0, 1);
    f.click("Button6");
    QCOMPARE(length->text(), QStringLiteral("0 BYTE"));
    QCOMPARE(code->text(), QStringLiteral("FFFFH"));
    f.click("Button8");
    QCOMPARE(code->text(), QStringLiteral("0000H"));

    // Another line takes over as soon as it has the focus, with its own format.
    line(f, 5, Hex, QStringLiteral("010300000001"));
    transmitEdit(f, 5)->setFocus();
    QCOMPARE(f.window().currentTransmitLine(), 5);
    select(transmitEdit(f, 5), 0, 12);
    QVERIFY(PtyDevice::waitUntil([&] { return checkButtonsEnabled(f, true); }, 2000));
    f.click("Button6");
    QCOMPARE(length->text(), QStringLiteral("6 BYTE"));
    QCOMPARE(code->text(), QStringLiteral("0A84H"));
}

QTEST_MAIN(TestTransmit)
#include "tst_transmit.moc"
