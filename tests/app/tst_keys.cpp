// The keyboard, the command buttons and the menu, driven through the real window: every key
// goes to whatever control has the focus, as a user's key would.
#include "app/Umain.h"
#include "tests/support/controls.h"
#include "tests/support/dialoganswerer.h"
#include "tests/support/ptydevice.h"
#include "tests/support/tempsettings.h"
#include "ui/datalineedit.h"
#include "ui/receivedisplay.h"

#include <QAbstractItemView>
#include <QComboBox>
#include <QPushButton>
#include <QTabWidget>
#include <QTimer>
#include <QtTest>

using kirt::PtyDevice;
using kirt::test::choose;
using kirt::test::DialogAnswerer;
using kirt::test::find;
using kirt::test::TempSettings;

namespace {

// A key whose character the test keyboard cannot name, sent with its text.
void typeText(QWidget* to, const QString& text)
{
    QTest::sendKeyEvent(QTest::Press, to, Qt::Key_unknown, text, Qt::NoModifier);
    QTest::sendKeyEvent(QTest::Release, to, Qt::Key_unknown, text, Qt::NoModifier);
}

const QString HelpText =
    QStringList{
        "",
        " < ALT+1 > Transmit Data Block No.1 Send",
        " < ALT+2 > Transmit Data Block No.2 Send",
        " < ALT+3 > Transmit Data Block No.3 Send",
        " < ALT+4 > Transmit Data Block No.4 Send",
        " < ALT+5 > Transmit Data Block No.5 Send",
        " < ALT+6 > Transmit Data Block No.6 Send",
        " < ALT+7 > Transmit Data Block No.7 Send",
        " < ALT+8 > Transmit Data Block No.8 Send",
        " < ALT+9 > Transmit Data Block No.9 Send",
        "",
        " < CTRL+O > File Open",
        " < CTRL+S > File Save",
        " < Shift+Ctrl+S > File Save As",
        "",
        " < F1 > HELP Button",
        " < F2 > COM ON/OFF Button",
        " < F3 > SCREEN CLEAR Button",
        " < F4 > RECEIVE VIEW Button",
        " < F5 > OPTION Button",
        " < F6 > SEND START Button",
        " < F7 > SEND STOP Button",
        " < F10 > or < CTRL+X > Program Exit",
        "",
    }
        .join(u'\n');

// The window on screen and active, with COM1 mapped to a pseudo-terminal that is not open yet.
struct Keyboard
{
    TempSettings settings;
    DialogAnswerer answers;
    PtyDevice device{1};
    TFmain window;
    kirt::ReceiveDisplay* display = find<kirt::ReceiveDisplay>(&window, "mMessage");

    bool start()
    {
        window.show();
        window.activateWindow();
        return QTest::qWaitForWindowActive(&window);
    }
    QWidget* focused()
    {
        QWidget* f = QApplication::focusWidget();
        return f ? f : &window;
    }
    void press(Qt::Key key, Qt::KeyboardModifiers modifiers = Qt::NoModifier)
    {
        QTest::keyClick(focused(), key, modifiers);
    }
    void type(const char* text) { QTest::keyClicks(focused(), QLatin1String(text)); }
    template <typename T> T* control(const char* name) { return find<T>(&window, name); }
    bool shown(const char* name) { return !control<QWidget>(name)->isHidden(); }
    // The view in front, by the one button with a blue caption.
    QString blueButton()
    {
        QString blue;
        for (const char* name : {"ReceiveView_BitBtn", "OPTION_BitBtn", "TransmitDataView_BitBtn",
                                 "ProtocolData_BitBtn"})
            if (control<QWidget>(name)->palette().color(QPalette::ButtonText) == Qt::blue)
                blue += QLatin1String(name);
        return blue;
    }
    // Nothing more arrives on the wire within a short wait.
    bool quietWire() { return device.receive(1, 300).isEmpty(); }
};

} // namespace

class TestKeys : public QObject
{
    Q_OBJECT

private slots:
    void viewKeys();
    void unboundFunctionKeysDoNothing();
    void portKeyActsOncePerPress();
    void autoTransmitKeys();
    void altDigitSendsFromEveryViewAndControl();
    void altDigitIsConsumedWithThePortClosed();
    void editingKeysDeadOnDisplayAliveOnBoard();
    void settingsKeyKeepsTheChosenPage();
    void boardButtonsPressedTwiceOnlyMoveTheFocus();
    void exitWithThePortClosed();
    void exitWithThePortOpen_data();
    void exitWithThePortOpen();
    void menuShortcutBeatsTheEditControl();
    void altF4RefusesOnlyTheCloseThatFollows();
    void keyHelp();
    void typingInHex();
    void typingInAsc();
    void typingWithThePortClosedStillShows();
};

void TestKeys::viewKeys()
{
    Keyboard k;
    QVERIFY(k.start());
    k.display->appendData(QStringLiteral("old"));

    k.press(Qt::Key_F5);
    QVERIFY(k.shown("OptionPageControl"));
    QVERIFY(!k.shown("mMessage"));
    QCOMPARE(k.blueButton(), QStringLiteral("OPTION_BitBtn"));

    k.press(Qt::Key_Escape);
    QVERIFY(k.shown("mMessage") && k.shown("InfoPanel1") && !k.shown("OptionPageControl"));
    QCOMPARE(k.blueButton(), QStringLiteral("ReceiveView_BitBtn"));
    QCOMPARE(QApplication::focusWidget(), k.display);

    k.control<QPushButton>("TransmitDataView_BitBtn")->click();
    QCOMPARE(QApplication::focusWidget(), k.control<QWidget>("TransmitEdit1"));
    k.press(Qt::Key_F4);
    QVERIFY(k.shown("mMessage") && !k.shown("BoardPanel1"));
    QCOMPARE(QApplication::focusWidget(), k.display);
    // The keys that only command do not type into the display.
    QCOMPARE(k.display->displayText(), QStringLiteral("old"));

    k.press(Qt::Key_F3);
    QVERIFY(k.display->isEmpty());

    // A key that hid its control does not go on to it: F4 would open a box's list.
    k.press(Qt::Key_F5);
    auto* baud = k.control<QComboBox>("BaudRateComboBox");
    baud->setFocus();
    k.press(Qt::Key_F4);
    QVERIFY(k.shown("mMessage"));
    QVERIFY(!baud->view()->isVisible());
    QCOMPARE(QApplication::activePopupWidget(), nullptr);

    // Help, from a board: the text waits behind it.
    k.control<QPushButton>("ProtocolData_BitBtn")->click();
    QCOMPARE(QApplication::focusWidget(), k.control<QWidget>("RxEdit1"));
    k.press(Qt::Key_F1);
    QVERIFY(k.shown("BoardPanel2") && !k.shown("mMessage"));
    QCOMPARE(k.display->displayText(), HelpText);
    QCOMPARE(k.control<kirt::DataLineEdit>("RxEdit1")->toPlainText(), QString());
}

void TestKeys::unboundFunctionKeysDoNothing()
{
    Keyboard k;
    QVERIFY(k.start());
    k.display->appendData(QStringLiteral("kept"));
    for (const Qt::Key key : {Qt::Key_F8, Qt::Key_F9, Qt::Key_F11, Qt::Key_F12}) {
        k.press(key);
        k.press(key, Qt::AltModifier);
    }
    // Alt with any other key, and the digits without Alt, do nothing either.
    k.press(Qt::Key_Q, Qt::AltModifier);
    k.press(Qt::Key_5, Qt::ControlModifier);
    QVERIFY(k.window.isVisible());
    QVERIFY(k.shown("mMessage"));
    QCOMPARE(k.display->displayText(), QStringLiteral("kept"));
    QCOMPARE(k.answers.errors, QStringList());
    QVERIFY(!k.window.portOpen());
}

void TestKeys::portKeyActsOncePerPress()
{
    Keyboard k;
    QVERIFY(k.start());
    k.press(Qt::Key_F2);
    QVERIFY(k.window.portOpen());
    QCOMPARE(k.control<QPushButton>("COM_BitBtn")->text(), QStringLiteral("COM CLOSE"));
    k.press(Qt::Key_F2);
    QVERIFY(!k.window.portOpen());
    // Step 1 looks at the key alone: Ctrl+F2 is F2 too.
    k.press(Qt::Key_F2, Qt::ControlModifier);
    QVERIFY(k.window.portOpen());
    QCOMPARE(k.answers.errors, QStringList());
}

void TestKeys::autoTransmitKeys()
{
    Keyboard k;
    QVERIFY(k.start());
    auto* timer = k.window.findChild<QTimer*>(QStringLiteral("AutoTransIntervalTimer"));
    QVERIFY(timer);
    k.control<kirt::DataLineEdit>("TransmitEdit1")->setPlainText(QStringLiteral("55"));
    choose(&k.window, "TransmitAutoComboBox1", 1);
    k.window.COM_BitBtnClick();
    QVERIFY(k.window.portOpen());

    k.press(Qt::Key_F6);
    QVERIFY(timer->isActive());
    QCOMPARE(k.device.receive(1, 3000), QByteArray("\x55"));
    k.press(Qt::Key_F7);
    QVERIFY(!timer->isActive());
}

void TestKeys::altDigitSendsFromEveryViewAndControl()
{
    Keyboard k;
    QVERIFY(k.start());
    auto* line5 = k.control<kirt::DataLineEdit>("TransmitEdit5");
    line5->setPlainText(QStringLiteral("4142"));
    k.window.COM_BitBtnClick();
    QVERIFY(k.window.portOpen());

    // The display in front, focus on it.
    QCOMPARE(QApplication::focusWidget(), k.display);
    k.press(Qt::Key_5, Qt::AltModifier);
    QCOMPARE(k.device.receive(2), QByteArray("AB"));
    QVERIFY(k.display->isEmpty());

    // Settings in front, focus on a box there.
    k.press(Qt::Key_F5);
    k.control<QComboBox>("BaudRateComboBox")->setFocus();
    QCOMPARE(QApplication::focusWidget(), k.control<QWidget>("BaudRateComboBox"));
    const int baud = k.control<QComboBox>("BaudRateComboBox")->currentIndex();
    k.press(Qt::Key_5, Qt::AltModifier);
    QCOMPARE(k.device.receive(2), QByteArray("AB"));
    QCOMPARE(k.control<QComboBox>("BaudRateComboBox")->currentIndex(), baud);

    // The transmit board, focus in line 5 itself: the digit is not typed into it.
    k.control<QPushButton>("TransmitDataView_BitBtn")->click();
    line5->setFocus();
    QTextCursor end = line5->textCursor();
    end.movePosition(QTextCursor::End);
    line5->setTextCursor(end);
    k.press(Qt::Key_5, Qt::AltModifier);
    QCOMPARE(k.device.receive(2), QByteArray("AB"));
    QCOMPARE(line5->toPlainText(), QStringLiteral("4142"));

    // The protocol board, focus in a rule's field.
    k.control<QPushButton>("ProtocolData_BitBtn")->click();
    k.press(Qt::Key_5, Qt::AltModifier);
    QCOMPARE(k.device.receive(2), QByteArray("AB"));
    QCOMPARE(k.control<kirt::DataLineEdit>("RxEdit1")->toPlainText(), QString());

    // The keypad's 5 is not bound; nothing else goes out.
    k.press(Qt::Key_5, Qt::AltModifier | Qt::KeypadModifier);
    QVERIFY(k.quietWire());
}

void TestKeys::altDigitIsConsumedWithThePortClosed()
{
    Keyboard k;
    QVERIFY(k.start());
    k.control<QPushButton>("TransmitDataView_BitBtn")->click();
    auto* line1 = k.control<kirt::DataLineEdit>("TransmitEdit1");
    QCOMPARE(QApplication::focusWidget(), line1);
    line1->setPlainText(QStringLiteral("01"));
    line1->moveCursor(QTextCursor::End);
    for (const Qt::Key digit : {Qt::Key_1, Qt::Key_2, Qt::Key_9})
        k.press(digit, Qt::AltModifier);
    QCOMPARE(line1->toPlainText(), QStringLiteral("01"));
    // Without Alt the same digit is typed as usual.
    k.press(Qt::Key_2);
    QCOMPARE(line1->toPlainText(), QStringLiteral("012"));
    QVERIFY(k.quietWire());
    QCOMPARE(k.answers.errors, QStringList());
}

void TestKeys::editingKeysDeadOnDisplayAliveOnBoard()
{
    Keyboard k;
    QVERIFY(k.start());
    // In HEX a Backspace types nothing either, so only its editing action is in question.
    choose(&k.window, "DisplayFormatComboBox", 0);
    k.display->appendData(QStringLiteral("41 42 \n43 44 "));
    k.display->setFocus();
    k.display->moveCursor(QTextCursor::End);
    const int end = k.display->textCursor().position();
    const Qt::Key keys[] = {Qt::Key_Backspace, Qt::Key_End,   Qt::Key_Home, Qt::Key_Left,
                            Qt::Key_Up,        Qt::Key_Right, Qt::Key_Down, Qt::Key_Delete};
    for (const Qt::KeyboardModifiers mods :
         {Qt::KeyboardModifiers(), Qt::KeyboardModifiers(Qt::ShiftModifier),
          Qt::KeyboardModifiers(Qt::ControlModifier)}) {
        for (const Qt::Key key : keys) {
            k.press(key, mods);
            QCOMPARE(k.display->textCursor().position(), end);
            QVERIFY(!k.display->textCursor().hasSelection());
        }
    }
    QCOMPARE(k.display->displayText(), QStringLiteral("41 42 \n43 44 "));

    // With a board in front the same keys edit the focused line (an ASC line, where
    // Backspace is no discarded character).
    k.control<QPushButton>("TransmitDataView_BitBtn")->click();
    choose(&k.window, "TransmitFormatComboBox1", 1);
    auto* line1 = k.control<kirt::DataLineEdit>("TransmitEdit1");
    line1->setFocus();
    line1->setPlainText(QStringLiteral("ABCD"));
    line1->moveCursor(QTextCursor::End);
    k.press(Qt::Key_Backspace);
    QCOMPARE(line1->toPlainText(), QStringLiteral("ABC"));
    k.press(Qt::Key_Left);
    k.press(Qt::Key_Delete);
    QCOMPARE(line1->toPlainText(), QStringLiteral("AB"));
    k.press(Qt::Key_Home);
    k.press(Qt::Key_Delete);
    QCOMPARE(line1->toPlainText(), QStringLiteral("B"));
    k.press(Qt::Key_End, Qt::ShiftModifier);
    QCOMPARE(line1->textCursor().selectedText(), QStringLiteral("B"));
}

void TestKeys::settingsKeyKeepsTheChosenPage()
{
    Keyboard k;
    QVERIFY(k.start());
    auto* pages = k.control<QTabWidget>("OptionPageControl");
    k.press(Qt::Key_F5);
    QCOMPARE(pages->currentIndex(), 0);
    QCOMPARE(pages->tabText(0), QStringLiteral("Serial Port Setting"));
    const int echo = 2;
    QCOMPARE(pages->tabText(echo), QStringLiteral("Echo"));
    pages->setCurrentIndex(echo);
    k.press(Qt::Key_F5);
    QCOMPARE(pages->currentIndex(), echo);
    k.control<QPushButton>("OPTION_BitBtn")->click();
    QCOMPARE(pages->currentIndex(), echo);

    // From another view the first page comes back.
    k.control<QPushButton>("TransmitDataView_BitBtn")->click();
    k.press(Qt::Key_F5);
    QCOMPARE(pages->currentIndex(), 0);
    QCOMPARE(k.blueButton(), QStringLiteral("OPTION_BitBtn"));
    QVERIFY(k.shown("InfoPanel1"));
}

void TestKeys::boardButtonsPressedTwiceOnlyMoveTheFocus()
{
    Keyboard k;
    QVERIFY(k.start());
    auto* dataTbl = k.control<QPushButton>("TransmitDataView_BitBtn");
    QTest::mouseClick(dataTbl, Qt::LeftButton);
    QVERIFY(k.shown("BoardPanel1") && !k.shown("InfoPanel1") && !k.shown("mMessage"));
    QCOMPARE(k.blueButton(), QStringLiteral("TransmitDataView_BitBtn"));
    k.control<QWidget>("TransmitEdit3")->setFocus();
    QTest::mouseClick(dataTbl, Qt::LeftButton);
    QCOMPARE(QApplication::focusWidget(), k.control<QWidget>("TransmitEdit1"));
    QVERIFY(k.shown("BoardPanel1") && !k.shown("InfoPanel1"));
    QCOMPARE(k.blueButton(), QStringLiteral("TransmitDataView_BitBtn"));

    auto* program = k.control<QPushButton>("ProtocolData_BitBtn");
    QTest::mouseClick(program, Qt::LeftButton);
    QVERIFY(k.shown("BoardPanel2") && !k.shown("BoardPanel1") && !k.shown("InfoPanel1"));
    k.control<QWidget>("TxEdit4")->setFocus();
    QTest::mouseClick(program, Qt::LeftButton);
    QCOMPARE(QApplication::focusWidget(), k.control<QWidget>("RxEdit1"));
    QCOMPARE(k.blueButton(), QStringLiteral("ProtocolData_BitBtn"));
}

void TestKeys::exitWithThePortClosed()
{
    // F10, Alt+X, the EXIT button and the menu's Ctrl+X all close at once, asking nothing.
    const std::function<void(Keyboard&)> ways[] = {
        [](Keyboard& k) { k.press(Qt::Key_F10); },
        [](Keyboard& k) { k.press(Qt::Key_X, Qt::AltModifier); },
        [](Keyboard& k) {
            QTest::mouseClick(k.control<QPushButton>("EXIT_BitBtn"), Qt::LeftButton);
        },
        [](Keyboard& k) { k.press(Qt::Key_X, Qt::ControlModifier); },
    };
    for (const auto& exit : ways) {
        Keyboard k;
        QVERIFY(k.start());
        exit(k);
        QVERIFY(!k.window.isVisible());
        QCOMPARE(k.answers.questions, QStringList());
        QVERIFY(k.settings.exists());
    }
}

void TestKeys::exitWithThePortOpen_data()
{
    QTest::addColumn<bool>("yes");
    QTest::newRow("No") << false;
    QTest::newRow("Yes") << true;
}

void TestKeys::exitWithThePortOpen()
{
    QFETCH(bool, yes);
    Keyboard k;
    QVERIFY(k.start());
    k.window.COM_BitBtnClick();
    QVERIFY(k.window.portOpen());
    k.display->appendData(QStringLiteral("data"));
    k.answers.answers.push_back(yes);
    k.press(Qt::Key_F10);
    QCOMPARE(k.answers.questions, QStringList{QStringLiteral("OK to exit from Kirt ?")});
    if (!yes) {
        QVERIFY(k.window.isVisible());
        QVERIFY(k.window.portOpen());
        QCOMPARE(k.display->displayText(), QStringLiteral("data"));
        // The port still works.
        QVERIFY(k.device.send("Z"));
        QVERIFY(PtyDevice::waitUntil([&] { return k.display->displayText() == "dataZ"; }));
        return;
    }
    QVERIFY(!k.window.portOpen());
    QVERIFY(!k.window.isVisible());
    QCOMPARE(k.control<QPushButton>("COM_BitBtn")->text(), QStringLiteral("COM OPEN"));
    QVERIFY(k.settings.exists());
}

void TestKeys::menuShortcutBeatsTheEditControl()
{
    Keyboard k;
    QVERIFY(k.start());
    k.control<QPushButton>("TransmitDataView_BitBtn")->click();
    auto* line2 = k.control<kirt::DataLineEdit>("TransmitEdit2");
    line2->setFocus();
    line2->setPlainText(QStringLiteral("0102"));
    k.press(Qt::Key_A, Qt::ControlModifier);
    QCOMPARE(k.answers.fileDialogs, QStringList{QStringLiteral("save")});
    QVERIFY(!line2->textCursor().hasSelection());

    // In the settings' new-line field (a one-line edit) too.
    k.press(Qt::Key_F5);
    k.control<QTabWidget>("OptionPageControl")->setCurrentIndex(1);
    auto* newLine = k.control<QWidget>("NewLineCharEdit");
    newLine->setFocus();
    QCOMPARE(QApplication::focusWidget(), newLine);
    k.press(Qt::Key_A, Qt::ControlModifier);
    QCOMPARE(k.answers.fileDialogs.size(), 2);
}

void TestKeys::altF4RefusesOnlyTheCloseThatFollows()
{
    Keyboard k;
    QVERIFY(k.start());
    k.control<QPushButton>("TransmitDataView_BitBtn")->click();
    k.press(Qt::Key_F4, Qt::AltModifier);
    QVERIFY(k.shown("mMessage") && !k.shown("BoardPanel1"));
    // The close that comes with the key is refused, and the settings are still written.
    QVERIFY(!k.window.close());
    QVERIFY(k.window.isVisible());
    QVERIFY(k.settings.exists());

    // A key press that no close followed leaves nothing behind once it is handled.
    k.press(Qt::Key_F4, Qt::AltModifier);
    PtyDevice::serveEvents(20);
    QVERIFY(!RefuseNextClose);
    QTest::mouseClick(k.control<QPushButton>("EXIT_BitBtn"), Qt::LeftButton);
    QVERIFY(!k.window.isVisible());
}

void TestKeys::keyHelp()
{
    Keyboard k;
    QVERIFY(k.start());
    k.window.COM_BitBtnClick();
    QVERIFY(k.window.portOpen());
    k.display->appendData(QStringLiteral("received\r\nbytes"));
    k.press(Qt::Key_F1);
    QCOMPARE(k.display->displayText(), HelpText);
    QCOMPARE(k.display->rowCount(), 23u);
    k.press(Qt::Key_F1);
    QCOMPARE(k.display->displayText(), HelpText);
    // The display types Ctrl with a letter, but a menu shortcut is the menu's.
    k.press(Qt::Key_H, Qt::ControlModifier);
    QCOMPARE(k.display->displayText(), HelpText);
    QVERIFY(k.quietWire());
    // Received bytes go below it, on the empty last line.
    QVERIFY(k.device.send("OK"));
    QVERIFY(PtyDevice::waitUntil([&] { return k.display->displayText() == HelpText + "OK"; }));
}

void TestKeys::typingInHex()
{
    Keyboard k;
    QVERIFY(k.start());
    choose(&k.window, "DisplayFormatComboBox", 0);
    k.window.COM_BitBtnClick();
    QVERIFY(k.window.portOpen());
    QCOMPARE(QApplication::focusWidget(), k.display);

    k.type("4");
    QVERIFY(k.quietWire());
    QVERIFY(k.display->isEmpty());
    k.type("1");
    QCOMPARE(k.device.receive(1), QByteArray("\x41"));
    QCOMPARE(k.display->displayText(), QStringLiteral("41 "));
    k.type("af");
    QCOMPARE(k.device.receive(1), QByteArray("\xaf"));
    QCOMPARE(k.display->displayText(), QStringLiteral("41 AF "));

    // Keys that are no hexadecimal digit do nothing, and do not break a pair either.
    k.type("0");
    k.type("g ");
    k.press(Qt::Key_Backspace);
    k.press(Qt::Key_Return);
    QVERIFY(k.quietWire());
    k.type("D");
    QCOMPARE(k.device.receive(1), QByteArray("\x0d"));
    QCOMPARE(k.display->displayText(), QStringLiteral("41 AF 0D "));

    // A half pair is forgotten by CLEAR and by a change of format.
    k.type("7");
    k.press(Qt::Key_F3);
    k.type("42");
    QCOMPARE(k.device.receive(1), QByteArray("\x42"));
    QCOMPARE(k.display->displayText(), QStringLiteral("42 "));
    k.type("7");
    choose(&k.window, "DisplayFormatComboBox", 1);
    choose(&k.window, "DisplayFormatComboBox", 0);
    k.display->setFocus();
    k.type("43");
    QCOMPARE(k.device.receive(1), QByteArray("\x43"));
    QCOMPARE(k.display->displayText(), QStringLiteral("43 "));
}

void TestKeys::typingInAsc()
{
    Keyboard k;
    QVERIFY(k.start());
    k.window.COM_BitBtnClick();
    QVERIFY(k.window.portOpen());
    // Typed data is not echoed; echo is for received bytes only.
    choose(&k.window, "EchoOnOffComboBox", 1);
    k.display->setFocus();

    k.type("A");
    QCOMPARE(k.device.receive(1), QByteArray("A"));
    QCOMPARE(k.display->displayText(), QStringLiteral("A"));
    k.press(Qt::Key_Return);
    QCOMPARE(k.device.receive(1), QByteArray("\r"));
    QCOMPARE(k.display->displayText(), QStringLiteral("A"));
    // Control characters are shown and sent as they are.
    k.press(Qt::Key_Backspace);
    QCOMPARE(k.device.receive(1), QByteArray("\x08"));
    k.press(Qt::Key_B, Qt::ControlModifier);
    QCOMPARE(k.device.receive(1), QByteArray("\x02"));
    QCOMPARE(k.display->displayText(), QStringLiteral("A\x08\x02"));
    // Latin-1 goes out as one byte; a character beyond it is not typed at all.
    typeText(k.focused(), QStringLiteral("\u00e9"));
    QCOMPARE(k.device.receive(1), QByteArray("\xe9"));
    typeText(k.focused(), QStringLiteral("\u20ac"));
    QVERIFY(k.quietWire());
    QCOMPARE(k.display->displayText(), QStringLiteral("A\x08\x02\u00e9"));
    // Alt chords are commands, not characters.
    k.press(Qt::Key_Q, Qt::AltModifier);
    QVERIFY(k.quietWire());

    // Received data lands after what was typed; typed data was not echoed back.
    QVERIFY(k.device.send("r"));
    QCOMPARE(k.device.receive(1), QByteArray("r"));
    QVERIFY(PtyDevice::waitUntil([&] { return k.display->displayText().endsWith(u'r'); }));
    QVERIFY(k.quietWire());

    // Tab leaves the display instead of being typed.
    k.press(Qt::Key_Tab);
    QVERIFY(QApplication::focusWidget() != k.display);
    QVERIFY(k.quietWire());
}

void TestKeys::typingWithThePortClosedStillShows()
{
    Keyboard k;
    QVERIFY(k.start());
    k.display->setFocus();
    k.type("hi");
    k.press(Qt::Key_Return);
    QCOMPARE(k.display->displayText(), QStringLiteral("hi"));
    choose(&k.window, "DisplayFormatComboBox", 0);
    k.display->setFocus();
    k.type("7e");
    QCOMPARE(k.display->displayText(), QStringLiteral("7E "));
    QCOMPARE(k.answers.errors, QStringList());
    QCOMPARE(k.answers.messages, QStringList());
}

QTEST_MAIN(TestKeys)
#include "tst_keys.moc"
