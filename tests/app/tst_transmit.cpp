// Transmit lines, automatic transmission and the checksum calculator, end to end: a
// pseudo-terminal plays the device behind COM1 and the test reads what reaches it.
#include "app/Umain.h"
#include "tests/support/dialoganswerer.h"
#include "tests/support/ptydevice.h"
#include "tests/support/tempsettings.h"
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
using kirt::test::DialogAnswerer;
using kirt::test::TempSettings;

namespace {

constexpr int Hex = 0;
constexpr int Asc = 1;
constexpr int Off = 0;
constexpr int On = 1;

// Line 9 holds a marker byte that no other line sends: once it arrives, everything sent
// before it has arrived too, so "nothing else came" needs no waiting out a time-out.
constexpr char Marker = '#';

struct Board
{
    TempSettings settings;
    DialogAnswerer answers;
    PtyDevice device{1};
    TFmain window;

    Board()
    {
        window.show();
        line(9, Asc, QString(QChar(QLatin1Char(Marker))));
    }
    // Focus events, and with them the current transmit line, need the active window.
    bool activate()
    {
        window.activateWindow();
        return QTest::qWaitForWindowActive(&window);
    }

    template <typename T> T* find(const QString& name)
    {
        auto* w = window.findChild<T*>(name);
        if (!w)
            qFatal("no control %s", qPrintable(name));
        return w;
    }
    template <typename T> T* find(const char* name) { return find<T>(QLatin1String(name)); }
    void choose(const QString& box, int index)
    {
        auto* combo = find<QComboBox>(box);
        combo->setCurrentIndex(index);
        emit combo->activated(index);
    }
    kirt::DataLineEdit* edit(int n)
    {
        return find<kirt::DataLineEdit>(QStringLiteral("TransmitEdit%1").arg(n));
    }
    QPushButton* sendButton(int n)
    {
        return find<QPushButton>(QStringLiteral("BitBtn%1").arg(8 + n));
    }
    void line(int n, int format, const QString& text, int crlf = Off)
    {
        choose(QStringLiteral("TransmitFormatComboBox%1").arg(n), format);
        edit(n)->setPlainText(text);
        choose(QStringLiteral("CRLFComboBox%1").arg(n), crlf);
    }
    void markAuto(int n, bool on)
    {
        choose(QStringLiteral("TransmitAutoComboBox%1").arg(n), on ? On : Off);
    }
    void slider(int position) { find<QSlider>("TrackBar1")->setValue(position); }
    bool open()
    {
        window.COM_BitBtnClick();
        return window.portOpen();
    }
    bool autoRunning() { return find<QTimer>("AutoTransIntervalTimer")->isActive(); }
    QString statusPanel(int i)
    {
        return find<QLabel>(QStringLiteral("StatusPanel%1").arg(i))->text();
    }

    // Sends the marker line and returns what the device received up to and without it.
    QByteArray receiveUpToMarker()
    {
        window.SendTransmitLine(9);
        QByteArray got;
        PtyDevice::waitUntil(
            [&] {
                got += device.receive(0, 0);
                return got.endsWith(Marker);
            },
            5000);
        if (!got.endsWith(Marker))
            return "(marker never arrived) " + got;
        got.chop(1);
        return got;
    }
    // Everything the device receives until it has at least `count` bytes.
    QByteArray receive(int count) { return device.receive(count, 5000); }
    // Reads what is still on its way once nothing more is being sent.
    QByteArray drain() { return device.receive(1 << 20, 200); }
};

// Line n in ASC holding its own number, so each byte on the wire names the line it came from.
void numberLines(Board& b, std::initializer_list<int> lines)
{
    for (const int n : lines)
        b.line(n, Asc, QString::number(n));
}

bool checkButtonsEnabled(Board& b, bool enabled)
{
    for (int i = 1; i <= 8; ++i)
        if (b.find<QPushButton>(QStringLiteral("Button%1").arg(i))->isEnabled() != enabled)
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
    QTest::addColumn<int>("n");
    QTest::addColumn<int>("format");
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("crlf");
    QTest::addColumn<QByteArray>("wire");

    QTest::newRow("hex with CR LF") << 1 << Hex << "0102" << On << QByteArray("\x01\x02\r\n");
    QTest::newRow("one hex digit: nothing, not even CR LF")
        << 2 << Hex << "1" << On << QByteArray();
    QTest::newRow("empty line: nothing") << 8 << Asc << "" << On << QByteArray();
    QTest::newRow("asc without CR LF") << 3 << Asc << "AT" << Off << QByteArray("AT");
    QTest::newRow("odd hex digit left over") << 4 << Hex << "ABC" << Off << QByteArray("\xab");
    QTest::newRow("hex zero byte goes out")
        << 5 << Hex << "00FF" << Off << QByteArray("\x00\xff", 2);
    // The field keeps bytes as Latin-1 characters; a no-break space must not become a space.
    QTest::newRow("asc is byte transparent")
        << 6 << Asc << QStringLiteral("\u00e9\u00a0\u00ff~") << Off << QByteArray("\xe9\xa0\xff~");
    const QString asc500(500, QLatin1Char('x'));
    QTest::newRow("500 asc characters and CR LF")
        << 7 << Asc << asc500 << On << QByteArray(500, 'x') + "\r\n";
    QTest::newRow("1000 hex characters and CR LF")
        << 1 << Hex << QString(1000, QLatin1Char('F')) << On << QByteArray(500, '\xff') + "\r\n";
}

void TestTransmit::lineGoesOutAsItsBytes()
{
    QFETCH(int, n);
    QFETCH(int, format);
    QFETCH(QString, text);
    QFETCH(int, crlf);
    QFETCH(QByteArray, wire);
    Board b;
    QVERIFY(b.open());
    b.line(n, format, text, crlf);

    // By key (the shortcut calls the send alone) and by button: the same bytes each time.
    b.window.SendTransmitLine(n);
    QCOMPARE(b.receiveUpToMarker(), wire);
    b.sendButton(n)->click();
    QCOMPARE(b.receiveUpToMarker(), wire);
    // Sending leaves the text as it was (the raw text: the plain one turns no-break spaces into
    // spaces).
    QCOMPARE(b.edit(n)->document()->toRawText(), text);
}

void TestTransmit::statusLineRecomposedOnlyAfterBytesWent()
{
    Board b;
    QVERIFY(b.open());
    b.line(2, Hex, QStringLiteral("1"), On);
    b.line(3, Asc, QStringLiteral("AT"));
    const QString before = b.statusPanel(0);
    QVERIFY(before.contains(QStringLiteral("9600")));
    // A new rate on the settings page is shown at the next recomposition only.
    b.choose(QStringLiteral("BaudRateComboBox"), 11);
    const QString chosen = b.find<QComboBox>("BaudRateComboBox")->currentText();
    QVERIFY(chosen != QStringLiteral("9600"));

    b.window.SendTransmitLine(2);
    QCOMPARE(b.statusPanel(0), before);
    b.window.SendTransmitLine(3);
    QVERIFY2(b.statusPanel(0).contains(chosen), qPrintable(b.statusPanel(0)));
}

void TestTransmit::closedPortSendsNothingAndSaysNothing()
{
    Board b;
    QVERIFY(b.activate());
    b.line(5, Asc, QStringLiteral("AT"), On);
    const QString status = b.statusPanel(0);
    // Only a recomposition would show the new rate; a send with the port closed makes none.
    b.choose(QStringLiteral("BaudRateComboBox"), 11);

    b.window.SendTransmitLine(5);
    QCOMPARE(b.statusPanel(0), status);
    // The button still brings the focus back to the display that is showing.
    b.sendButton(5)->setFocus();
    b.sendButton(5)->click();
    QVERIFY(b.find<kirt::ReceiveDisplay>("mMessage")->hasFocus());
    // On the board it goes to the line itself.
    b.window.TransmitDataView_BitBtnClick();
    b.sendButton(5)->setFocus();
    b.sendButton(5)->click();
    QVERIFY(b.edit(5)->hasFocus());
    QCOMPARE(b.window.currentTransmitLine(), 5);

    QVERIFY(b.answers.errors.isEmpty());
    QVERIFY(b.answers.messages.isEmpty());
    QCOMPARE(b.statusPanel(0), status);
    // Nothing was held back to go out once the port opens.
    QVERIFY(b.open());
    QCOMPARE(b.receiveUpToMarker(), QByteArray());
}

void TestTransmit::focusBeforeSend()
{
    Board b;
    QVERIFY(b.activate());
    QVERIFY(b.open());
    b.line(6, Asc, QStringLiteral("L6"));

    // Display in front: the focus returns to it and the line goes out.
    b.sendButton(6)->setFocus();
    b.sendButton(6)->click();
    QVERIFY(b.find<kirt::ReceiveDisplay>("mMessage")->hasFocus());
    QCOMPARE(b.receiveUpToMarker(), QByteArray("L6"));

    // Board in front: the line's own field gets the focus and becomes the current line.
    b.window.TransmitDataView_BitBtnClick();
    QCOMPARE(b.window.currentTransmitLine(), 1);
    b.sendButton(6)->setFocus();
    QTest::mouseClick(b.sendButton(6), Qt::LeftButton);
    QVERIFY(b.edit(6)->hasFocus());
    QCOMPARE(b.window.currentTransmitLine(), 6);
    QCOMPARE(b.receiveUpToMarker(), QByteArray("L6"));

    // Leaving a line for a button keeps it the current line.
    b.edit(7)->setFocus();
    b.find<QPushButton>("Button5")->setFocus();
    QCOMPARE(b.window.currentTransmitLine(), 7);

    // Settings in front: the focus stays where the user put it.
    b.window.OPTION_BitBtnClick();
    auto* baud = b.find<QComboBox>("BaudRateComboBox");
    baud->setFocus();
    b.sendButton(6)->click();
    QVERIFY(baud->hasFocus());
    QCOMPARE(b.receiveUpToMarker(), QByteArray("L6"));
}

void TestTransmit::formatPickClearsOrKeepsTheText()
{
    Board b;
    b.line(1, Hex, QStringLiteral("1234"));
    b.choose(QStringLiteral("TransmitFormatComboBox1"), Hex);
    QCOMPARE(b.edit(1)->toPlainText(), QStringLiteral("1234"));
    QCOMPARE(b.edit(1)->maxLength(), 1000);

    b.choose(QStringLiteral("TransmitFormatComboBox1"), Asc);
    QVERIFY(b.edit(1)->toPlainText().isEmpty());
    QCOMPARE(b.edit(1)->maxLength(), 500);
    QCOMPARE(b.window.transmitLineFormat(1), kirt::DataFormat::Asc);

    b.edit(1)->setPlainText(QStringLiteral("AT"));
    b.choose(QStringLiteral("TransmitFormatComboBox1"), Asc);
    QCOMPARE(b.edit(1)->toPlainText(), QStringLiteral("AT"));
    b.choose(QStringLiteral("TransmitFormatComboBox1"), Hex);
    QVERIFY(b.edit(1)->toPlainText().isEmpty());
    QCOMPARE(b.edit(1)->maxLength(), 1000);
    // The other lines are untouched by the picks.
    QCOMPARE(b.window.transmitLineFormat(2), kirt::DataFormat::Hex);
}

void TestTransmit::autoCycleAlternatesAndStopRestartsIt()
{
    Board b;
    QVERIFY(b.open());
    numberLines(b, {1, 2, 3});
    b.markAuto(1, true);
    b.markAuto(3, true);
    b.slider(0);
    QCOMPARE(b.find<QLabel>("AutoTimeValue")->text(), QStringLiteral("20ms"));

    b.find<QPushButton>("SendStartBtn")->click();
    QVERIFY(b.autoRunning());
    QCOMPARE(b.statusPanel(4), QStringLiteral("Auto Interval : 20ms Group [1]"));
    QByteArray got = b.receive(6);
    QCOMPARE(got.left(6), QByteArray("131313"));

    b.find<QPushButton>("SendStopBtn")->click();
    QVERIFY(!b.autoRunning());
    QCOMPARE(b.statusPanel(4), QStringLiteral("Auto Interval : 20ms STOP"));
    got += b.drain();
    QCOMPARE(got, QByteArray("13").repeated(got.size()).left(got.size()));

    // A new start begins with the first marked line again.
    b.find<QPushButton>("SendStartBtn")->click();
    QCOMPARE(b.receive(4).left(4), QByteArray("1313"));
    QVERIFY(b.answers.errors.isEmpty());
}

void TestTransmit::placeInCycleSurvivesSecondStartAndSliderMove()
{
    Board b;
    QVERIFY(b.open());
    numberLines(b, {1, 3, 5});
    for (const int n : {1, 3, 5})
        b.markAuto(n, true);
    // A long interval, so only the ticks the test gives happen until the slider moves.
    b.slider(15);
    b.find<QPushButton>("SendStartBtn")->click();
    b.window.AutoTransIntervalTimerTimer();
    b.find<QPushButton>("SendStartBtn")->click();
    QVERIFY(b.autoRunning());
    QCOMPARE(b.statusPanel(4), QStringLiteral("Auto Interval : 5000ms Group [3]"));
    b.window.AutoTransIntervalTimerTimer();
    b.slider(0);
    QVERIFY(b.autoRunning());
    QCOMPARE(b.find<QLabel>("AutoTimeValue")->text(), QStringLiteral("20ms"));
    QCOMPARE(b.receive(6).left(6), QByteArray("135135"));
    QVERIFY(b.answers.errors.isEmpty());
}

void TestTransmit::markingALineRestartsTheCycle()
{
    Board b;
    QVERIFY(b.open());
    numberLines(b, {1, 2, 3});
    b.markAuto(1, true);
    b.markAuto(3, true);
    b.slider(15);
    b.find<QPushButton>("SendStartBtn")->click();
    b.window.AutoTransIntervalTimerTimer();
    // Line 1 went out; marking line 2 starts over from line 1, then runs 1, 2, 3.
    b.markAuto(2, true);
    QVERIFY(b.autoRunning());
    QCOMPARE(b.statusPanel(4), QStringLiteral("Auto Interval : 5000ms Group [1]"));
    b.slider(0);
    QCOMPARE(b.receive(7).left(7), QByteArray("1123123"));

    // Unmarking keeps the cycle going while a line is left; the last one stops it.
    b.markAuto(1, false);
    b.markAuto(2, false);
    QVERIFY(b.autoRunning());
    b.markAuto(3, false);
    QVERIFY(!b.autoRunning());
    QVERIFY(b.statusPanel(4).endsWith(QStringLiteral("STOP")));
    // Marking a line while stopped does not start anything.
    b.markAuto(2, true);
    QVERIFY(!b.autoRunning());
    QVERIFY(b.answers.errors.isEmpty());
}

void TestTransmit::statusNamesTheLineThatGoesNext()
{
    Board b;
    QVERIFY(b.open());
    numberLines(b, {1, 2, 4, 8});
    for (const int n : {1, 4, 8})
        b.markAuto(n, true);
    b.slider(15);
    b.find<QPushButton>("SendStartBtn")->click();
    QCOMPARE(b.statusPanel(4), QStringLiteral("Auto Interval : 5000ms Group [1]"));
    // Each send by the timer names the line being sent.
    b.window.AutoTransIntervalTimerTimer();
    b.window.AutoTransIntervalTimerTimer();
    QCOMPARE(b.statusPanel(4), QStringLiteral("Auto Interval : 5000ms Group [4]"));
    b.window.AutoTransIntervalTimerTimer();
    QCOMPARE(b.statusPanel(4), QStringLiteral("Auto Interval : 5000ms Group [8]"));
    // Past the last line, a manual send names the line the cycle wraps to.
    b.window.SendTransmitLine(2);
    QCOMPARE(b.statusPanel(4), QStringLiteral("Auto Interval : 5000ms Group [1]"));
    QCOMPARE(b.receiveUpToMarker(), QByteArray("1482"));
}

void TestTransmit::startNeedsAnOpenPortAndAMarkedLine()
{
    Board b;
    b.markAuto(1, true);
    b.find<QPushButton>("SendStartBtn")->click();
    QVERIFY(!b.autoRunning());
    QVERIFY(b.answers.errors.isEmpty());

    QVERIFY(b.open());
    b.markAuto(1, false);
    b.find<QPushButton>("SendStartBtn")->click();
    QVERIFY(!b.autoRunning());
    QCOMPARE(b.answers.errors, QStringList{QStringLiteral("Not. Auto Mode")});
    QVERIFY(b.statusPanel(4).endsWith(QStringLiteral("STOP")));
}

void TestTransmit::closingThePortStopsTheCycle()
{
    Board b;
    QVERIFY(b.open());
    numberLines(b, {1});
    b.markAuto(1, true);
    b.slider(0);
    b.find<QPushButton>("SendStartBtn")->click();
    QCOMPARE(b.receive(2).left(2), QByteArray("11"));

    b.window.COM_BitBtnClick();
    QVERIFY(!b.window.portOpen());
    QVERIFY(!b.autoRunning());
    QVERIFY(b.statusPanel(4).endsWith(QStringLiteral("STOP")));
    b.drain();

    QVERIFY(b.open());
    QVERIFY(!b.autoRunning());
    // Several intervals pass and no line goes out.
    PtyDevice::serveEvents(150);
    QCOMPARE(b.receiveUpToMarker(), QByteArray());
}

void TestTransmit::calculatorWorksOnTheLastLineSelection()
{
    Board b;
    QVERIFY(b.activate());
    // No line has had the focus: the buttons stay disabled.
    PtyDevice::serveEvents(120);
    QCOMPARE(b.window.currentTransmitLine(), 0);
    QVERIFY(checkButtonsEnabled(b, false));

    b.window.TransmitDataView_BitBtnClick();
    b.line(3, Asc, QStringLiteral("123456789"));
    b.edit(3)->setFocus();
    select(b.edit(3), 0, 9);
    QVERIFY(PtyDevice::waitUntil([&] { return checkButtonsEnabled(b, true); }, 2000));

    // The click moves the focus to the button; the selection of line 3 is still the input.
    auto* crc16 = b.find<QPushButton>("Button5");
    crc16->setFocus();
    QTest::mouseClick(crc16, Qt::LeftButton);
    QCOMPARE(b.window.currentTransmitLine(), 3);
    auto* length = b.find<QLabel>("LengthDisplay");
    auto* code = b.find<QLabel>("CheckSumDisplay");
    QCOMPARE(length->text(), QStringLiteral("9 BYTE"));
    QCOMPARE(code->text(), QStringLiteral("BB3DH"));

    const std::pair<const char*, const char*> checks[] = {{"Button1", "31H"},
                                                          {"Button2", "01DDH"},
                                                          {"Button6", "4B37H"},
                                                          {"Button7", "31C3H"},
                                                          {"Button8", "906EH"}};
    for (const auto& [button, shown] : checks) {
        b.find<QPushButton>(button)->click();
        QCOMPARE(code->text(), QLatin1String(shown));
    }
    // The two buttons without a check change nothing, even while enabled.
    b.find<QPushButton>("Button3")->click();
    b.find<QPushButton>("Button4")->click();
    QCOMPARE(code->text(), QStringLiteral("906EH"));
    QCOMPARE(length->text(), QStringLiteral("9 BYTE"));

    // A click straight after the selection changed covers the new selection.
    select(b.edit(3), 0, 2);
    b.find<QPushButton>("Button1")->click();
    QCOMPARE(length->text(), QStringLiteral("2 BYTE"));
    QCOMPARE(code->text(), QStringLiteral("03H"));

    // No selection: the buttons go disabled and the last result stays.
    select(b.edit(3), 2, 2);
    QVERIFY(PtyDevice::waitUntil([&] { return checkButtonsEnabled(b, false); }, 2000));
    QCOMPARE(code->text(), QStringLiteral("03H"));
    QCOMPARE(length->text(), QStringLiteral("2 BYTE"));
}

void TestTransmit::calculatorHexSelectionAndIdleButtons()
{
    Board b;
    QVERIFY(b.activate());
    b.window.TransmitDataView_BitBtnClick();
    auto* length = b.find<QLabel>("LengthDisplay");
    auto* code = b.find<QLabel>("CheckSumDisplay");

    // The middle four characters of A1B2C3 are the bytes 1B and 2C.
    b.line(4, Hex, QStringLiteral("A1B2C3"));
    b.edit(4)->setFocus();
    select(b.edit(4), 1, 5);
    QVERIFY(PtyDevice::waitUntil([&] { return checkButtonsEnabled(b, true); }, 2000));
    b.find<QPushButton>("Button1")->click();
    QCOMPARE(length->text(), QStringLiteral("2 BYTE"));
    QCOMPARE(code->text(), QStringLiteral("37H"));

    // One HEX character is no byte: the start value through the final step.
    select(b.edit(4), 0, 1);
    b.find<QPushButton>("Button6")->click();
    QCOMPARE(length->text(), QStringLiteral("0 BYTE"));
    QCOMPARE(code->text(), QStringLiteral("FFFFH"));
    b.find<QPushButton>("Button8")->click();
    QCOMPARE(code->text(), QStringLiteral("0000H"));

    // Another line takes over as soon as it has the focus, with its own format.
    b.line(5, Hex, QStringLiteral("010300000001"));
    b.edit(5)->setFocus();
    QCOMPARE(b.window.currentTransmitLine(), 5);
    select(b.edit(5), 0, 12);
    QVERIFY(PtyDevice::waitUntil([&] { return checkButtonsEnabled(b, true); }, 2000));
    b.find<QPushButton>("Button6")->click();
    QCOMPARE(length->text(), QStringLiteral("6 BYTE"));
    QCOMPARE(code->text(), QStringLiteral("0A84H"));
}

QTEST_MAIN(TestTransmit)
#include "tst_transmit.moc"
