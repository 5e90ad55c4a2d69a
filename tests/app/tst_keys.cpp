// The keyboard, the command buttons and the menu, driven through the real window: every key
// goes to whatever control has the focus, as a user's key would.
#include "tests/support/windowfixture.h"
#include "ui/datalineedit.h"
#include "ui/receivedisplay.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QContextMenuEvent>
#include <QMenu>
#include <QPushButton>
#include <QTabWidget>
#include <QTimer>
#include <QWheelEvent>
#include <QtTest>

using kirt::PtyDevice;
using kirt::test::WindowFixture;
using Device = WindowFixture::Device;

namespace {

// A key whose character the test keyboard cannot name, sent with its text.
void typeText(QWidget* to, const QString& text)
{
    QTest::sendKeyEvent(QTest::Press, to, Qt::Key_unknown, text, Qt::NoModifier);
    QTest::sendKeyEvent(QTest::Release, to, Qt::Key_unknown, text, Qt::NoModifier);
}

// The key list as F1 writes it, built row by row: nine ALT lines, the file keys, the buttons.
QString helpText()
{
    QStringList rows{""};
    for (int n = 1; n <= 9; ++n)
        rows << QStringLiteral(" < ALT+%1 > Transmit Data Block No.%1 Send").arg(n);
    rows << ""
         << " < CTRL+O > File Open"
         << " < CTRL+S > File Save"
         << " < Shift+Ctrl+S > File Save As"
         << "";
    const char* buttons[] = {"HELP",   "COM ON/OFF", "SCREEN CLEAR", "RECEIVE VIEW",
                             "OPTION", "SEND START", "SEND STOP"};
    for (int key = 1; key <= 7; ++key)
        rows << QStringLiteral(" < F%1 > %2 Button").arg(key).arg(QLatin1String(buttons[key - 1]));
    rows << " < F10 > or < CTRL+X > Program Exit"
         << "";
    return rows.join(u'\n');
}

const QString HelpText = helpText();

bool shown(WindowFixture& f, const char* name)
{
    return !f.find<QWidget>(name)->isHidden();
}

// The view in front, by the one button with a blue caption.
QString blueButton(WindowFixture& f)
{
    QString blue;
    for (const char* name :
         {"ReceiveView_BitBtn", "OPTION_BitBtn", "TransmitDataView_BitBtn", "ProtocolData_BitBtn"})
        if (f.find<QWidget>(name)->palette().color(QPalette::ButtonText) == Qt::blue)
            blue += QLatin1String(name);
    return blue;
}

// Nothing more arrives on the wire within a short wait.
bool quietWire(WindowFixture& f)
{
    return f.device().receive(1, 300).isEmpty();
}

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
    void displayMenuPastesAsTyped();
    void ctrlWheelSizesTheFontAndKeepsIt();
};

void TestKeys::viewKeys()
{
    WindowFixture f(Device::Pty);
    QVERIFY(f.showActive());
    f.display()->appendData(QStringLiteral("old"));

    f.press(Qt::Key_F5);
    QVERIFY(shown(f, "OptionPageControl"));
    QVERIFY(!shown(f, "mMessage"));
    QCOMPARE(blueButton(f), QStringLiteral("OPTION_BitBtn"));

    f.press(Qt::Key_Escape);
    QVERIFY(shown(f, "mMessage") && shown(f, "InfoPanel1") && !shown(f, "OptionPageControl"));
    QCOMPARE(blueButton(f), QStringLiteral("ReceiveView_BitBtn"));
    QCOMPARE(QApplication::focusWidget(), f.display());

    f.click("TransmitDataView_BitBtn");
    QCOMPARE(QApplication::focusWidget(), f.find<QWidget>("TransmitEdit1"));
    f.press(Qt::Key_F4);
    QVERIFY(shown(f, "mMessage") && !shown(f, "BoardPanel1"));
    QCOMPARE(QApplication::focusWidget(), f.display());
    // The keys that only command do not type into the display.
    QCOMPARE(f.display()->displayText(), QStringLiteral("old"));

    f.press(Qt::Key_F3);
    QVERIFY(f.display()->isEmpty());

    // A key that hid its control does not go on to it: F4 would open a box's list.
    f.press(Qt::Key_F5);
    auto* baud = f.find<QComboBox>("BaudRateComboBox");
    baud->setFocus();
    f.press(Qt::Key_F4);
    QVERIFY(shown(f, "mMessage"));
    QVERIFY(!baud->view()->isVisible());
    QCOMPARE(QApplication::activePopupWidget(), nullptr);

    // Help, from a board: the text waits behind it.
    f.click("ProtocolData_BitBtn");
    QCOMPARE(QApplication::focusWidget(), f.find<QWidget>("RxEdit1"));
    f.press(Qt::Key_F1);
    QVERIFY(shown(f, "BoardPanel2") && !shown(f, "mMessage"));
    QCOMPARE(f.display()->displayText(), HelpText);
    QCOMPARE(f.find<kirt::DataLineEdit>("RxEdit1")->toPlainText(), QString());
}

void TestKeys::unboundFunctionKeysDoNothing()
{
    WindowFixture f(Device::Pty);
    QVERIFY(f.showActive());
    f.display()->appendData(QStringLiteral("kept"));
    for (const Qt::Key key : {Qt::Key_F11, Qt::Key_F12}) {
        f.press(key);
        f.press(key, Qt::AltModifier);
    }
    // Alt with any other key, and the digits without Alt, do nothing either.
    f.press(Qt::Key_Q, Qt::AltModifier);
    f.press(Qt::Key_5, Qt::ControlModifier);
    QVERIFY(f.window().isVisible());
    QVERIFY(shown(f, "mMessage"));
    QCOMPARE(f.display()->displayText(), QStringLiteral("kept"));
    QCOMPARE(f.answers.errors, QStringList());
    QVERIFY(!f.window().portOpen());
}

void TestKeys::portKeyActsOncePerPress()
{
    WindowFixture f(Device::Pty);
    QVERIFY(f.showActive());
    f.press(Qt::Key_F2);
    QVERIFY(f.window().portOpen());
    QCOMPARE(f.find<QPushButton>("COM_BitBtn")->text(), QStringLiteral("COM CLOSE"));
    f.press(Qt::Key_F2);
    QVERIFY(!f.window().portOpen());
    // Step 1 looks at the key alone: Ctrl+F2 is F2 too.
    f.press(Qt::Key_F2, Qt::ControlModifier);
    QVERIFY(f.window().portOpen());
    QCOMPARE(f.answers.errors, QStringList());
}

void TestKeys::autoTransmitKeys()
{
    WindowFixture f(Device::Pty);
    QVERIFY(f.showActive());
    auto* timer = f.window().findChild<QTimer*>(QStringLiteral("AutoTransIntervalTimer"));
    QVERIFY(timer);
    f.find<kirt::DataLineEdit>("TransmitEdit1")->setPlainText(QStringLiteral("55"));
    f.choose("TransmitAutoComboBox1", 1);
    QVERIFY(f.openPort());

    f.press(Qt::Key_F6);
    QVERIFY(timer->isActive());
    QCOMPARE(f.device().receive(1, 3000), QByteArray("\x55"));
    f.press(Qt::Key_F7);
    QVERIFY(!timer->isActive());
}

void TestKeys::altDigitSendsFromEveryViewAndControl()
{
    WindowFixture f(Device::Pty);
    QVERIFY(f.showActive());
    auto* line5 = f.find<kirt::DataLineEdit>("TransmitEdit5");
    line5->setPlainText(QStringLiteral("4142"));
    QVERIFY(f.openPort());

    // The display in front, focus on it.
    QCOMPARE(QApplication::focusWidget(), f.display());
    f.press(Qt::Key_5, Qt::AltModifier);
    QCOMPARE(f.device().receive(2), QByteArray("AB"));
    QVERIFY(f.display()->isEmpty());

    // Settings in front, focus on a box there.
    f.press(Qt::Key_F5);
    f.find<QComboBox>("BaudRateComboBox")->setFocus();
    QCOMPARE(QApplication::focusWidget(), f.find<QWidget>("BaudRateComboBox"));
    const int baud = f.find<QComboBox>("BaudRateComboBox")->currentIndex();
    f.press(Qt::Key_5, Qt::AltModifier);
    QCOMPARE(f.device().receive(2), QByteArray("AB"));
    QCOMPARE(f.find<QComboBox>("BaudRateComboBox")->currentIndex(), baud);

    // The transmit board, focus in line 5 itself: the digit is not typed into it.
    f.click("TransmitDataView_BitBtn");
    line5->setFocus();
    QTextCursor end = line5->textCursor();
    end.movePosition(QTextCursor::End);
    line5->setTextCursor(end);
    f.press(Qt::Key_5, Qt::AltModifier);
    QCOMPARE(f.device().receive(2), QByteArray("AB"));
    QCOMPARE(line5->toPlainText(), QStringLiteral("4142"));

    // The protocol board, focus in a rule's field.
    f.click("ProtocolData_BitBtn");
    f.press(Qt::Key_5, Qt::AltModifier);
    QCOMPARE(f.device().receive(2), QByteArray("AB"));
    QCOMPARE(f.find<kirt::DataLineEdit>("RxEdit1")->toPlainText(), QString());

    // The keypad's 5 is not bound; nothing else goes out.
    f.press(Qt::Key_5, Qt::AltModifier | Qt::KeypadModifier);
    QVERIFY(quietWire(f));
}

void TestKeys::altDigitIsConsumedWithThePortClosed()
{
    WindowFixture f(Device::Pty);
    QVERIFY(f.showActive());
    f.click("TransmitDataView_BitBtn");
    auto* line1 = f.find<kirt::DataLineEdit>("TransmitEdit1");
    QCOMPARE(QApplication::focusWidget(), line1);
    line1->setPlainText(QStringLiteral("01"));
    line1->moveCursor(QTextCursor::End);
    for (const Qt::Key digit : {Qt::Key_1, Qt::Key_2, Qt::Key_9})
        f.press(digit, Qt::AltModifier);
    QCOMPARE(line1->toPlainText(), QStringLiteral("01"));
    // Without Alt the same digit is typed as usual.
    f.press(Qt::Key_2);
    QCOMPARE(line1->toPlainText(), QStringLiteral("012"));
    QVERIFY(quietWire(f));
    QCOMPARE(f.answers.errors, QStringList());
}

void TestKeys::editingKeysDeadOnDisplayAliveOnBoard()
{
    WindowFixture f(Device::Pty);
    QVERIFY(f.showActive());
    // In HEX a Backspace types nothing either, so only its editing action is in question.
    f.choose("DisplayFormatComboBox", 0);
    f.display()->appendData(QStringLiteral("41 42 \n43 44 "));
    f.display()->setFocus();
    f.display()->moveCursor(QTextCursor::End);
    const int end = f.display()->textCursor().position();
    const Qt::Key keys[] = {Qt::Key_Backspace, Qt::Key_End,   Qt::Key_Home, Qt::Key_Left,
                            Qt::Key_Up,        Qt::Key_Right, Qt::Key_Down, Qt::Key_Delete};
    for (const Qt::KeyboardModifiers mods :
         {Qt::KeyboardModifiers(), Qt::KeyboardModifiers(Qt::ShiftModifier),
          Qt::KeyboardModifiers(Qt::ControlModifier)}) {
        for (const Qt::Key key : keys) {
            f.press(key, mods);
            QCOMPARE(f.display()->textCursor().position(), end);
            QVERIFY(!f.display()->textCursor().hasSelection());
        }
    }
    QCOMPARE(f.display()->displayText(), QStringLiteral("41 42 \n43 44 "));

    // With a board in front the same keys edit the focused line (an ASC line, where
    // Backspace is no discarded character).
    f.click("TransmitDataView_BitBtn");
    f.choose("TransmitFormatComboBox1", 1);
    auto* line1 = f.find<kirt::DataLineEdit>("TransmitEdit1");
    line1->setFocus();
    line1->setPlainText(QStringLiteral("ABCD"));
    line1->moveCursor(QTextCursor::End);
    f.press(Qt::Key_Backspace);
    QCOMPARE(line1->toPlainText(), QStringLiteral("ABC"));
    f.press(Qt::Key_Left);
    f.press(Qt::Key_Delete);
    QCOMPARE(line1->toPlainText(), QStringLiteral("AB"));
    f.press(Qt::Key_Home);
    f.press(Qt::Key_Delete);
    QCOMPARE(line1->toPlainText(), QStringLiteral("B"));
    f.press(Qt::Key_End, Qt::ShiftModifier);
    QCOMPARE(line1->textCursor().selectedText(), QStringLiteral("B"));
}

void TestKeys::settingsKeyKeepsTheChosenPage()
{
    WindowFixture f(Device::Pty);
    QVERIFY(f.showActive());
    auto* pages = f.find<QTabWidget>("OptionPageControl");
    f.press(Qt::Key_F5);
    QCOMPARE(pages->currentIndex(), 0);
    QCOMPARE(pages->tabText(0), QStringLiteral("Serial Port Setting"));
    const int echo = 2;
    QCOMPARE(pages->tabText(echo), QStringLiteral("Echo"));
    pages->setCurrentIndex(echo);
    f.press(Qt::Key_F5);
    QCOMPARE(pages->currentIndex(), echo);
    f.click("OPTION_BitBtn");
    QCOMPARE(pages->currentIndex(), echo);

    // From another view the first page comes back.
    f.click("TransmitDataView_BitBtn");
    f.press(Qt::Key_F5);
    QCOMPARE(pages->currentIndex(), 0);
    QCOMPARE(blueButton(f), QStringLiteral("OPTION_BitBtn"));
    QVERIFY(shown(f, "InfoPanel1"));
}

void TestKeys::boardButtonsPressedTwiceOnlyMoveTheFocus()
{
    WindowFixture f(Device::Pty);
    QVERIFY(f.showActive());
    auto* dataTbl = f.find<QPushButton>("TransmitDataView_BitBtn");
    QTest::mouseClick(dataTbl, Qt::LeftButton);
    QVERIFY(shown(f, "BoardPanel1") && !shown(f, "InfoPanel1") && !shown(f, "mMessage"));
    QCOMPARE(blueButton(f), QStringLiteral("TransmitDataView_BitBtn"));
    f.find<QWidget>("TransmitEdit3")->setFocus();
    QTest::mouseClick(dataTbl, Qt::LeftButton);
    QCOMPARE(QApplication::focusWidget(), f.find<QWidget>("TransmitEdit1"));
    QVERIFY(shown(f, "BoardPanel1") && !shown(f, "InfoPanel1"));
    QCOMPARE(blueButton(f), QStringLiteral("TransmitDataView_BitBtn"));

    auto* program = f.find<QPushButton>("ProtocolData_BitBtn");
    QTest::mouseClick(program, Qt::LeftButton);
    QVERIFY(shown(f, "BoardPanel2") && !shown(f, "BoardPanel1") && !shown(f, "InfoPanel1"));
    f.find<QWidget>("TxEdit4")->setFocus();
    QTest::mouseClick(program, Qt::LeftButton);
    QCOMPARE(QApplication::focusWidget(), f.find<QWidget>("RxEdit1"));
    QCOMPARE(blueButton(f), QStringLiteral("ProtocolData_BitBtn"));
}

void TestKeys::exitWithThePortClosed()
{
    // F10, Alt+X, the EXIT button and the menu's Ctrl+X all close at once, asking nothing.
    const std::function<void(WindowFixture&)> ways[] = {
        [](WindowFixture& f) { f.press(Qt::Key_F10); },
        [](WindowFixture& f) { f.press(Qt::Key_X, Qt::AltModifier); },
        [](WindowFixture& f) {
            QTest::mouseClick(f.find<QPushButton>("EXIT_BitBtn"), Qt::LeftButton);
        },
        [](WindowFixture& f) { f.press(Qt::Key_X, Qt::ControlModifier); },
    };
    for (const auto& exit : ways) {
        WindowFixture f(Device::Pty);
        QVERIFY(f.showActive());
        exit(f);
        QVERIFY(!f.window().isVisible());
        QCOMPARE(f.answers.questions, QStringList());
        QVERIFY(f.settings.exists());
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
    WindowFixture f(Device::Pty);
    QVERIFY(f.showActive());
    QVERIFY(f.openPort());
    f.display()->appendData(QStringLiteral("data"));
    f.answers.answers.push_back(yes);
    f.press(Qt::Key_F10);
    QCOMPARE(f.answers.questions, QStringList{QStringLiteral("OK to exit from Kirt ?")});
    if (!yes) {
        QVERIFY(f.window().isVisible());
        QVERIFY(f.window().portOpen());
        QCOMPARE(f.display()->displayText(), QStringLiteral("data"));
        // The port still works.
        QVERIFY(f.device().send("Z"));
        QVERIFY(f.waitForText(QStringLiteral("dataZ")));
        return;
    }
    QVERIFY(!f.window().portOpen());
    QVERIFY(!f.window().isVisible());
    QCOMPARE(f.find<QPushButton>("COM_BitBtn")->text(), QStringLiteral("COM OPEN"));
    QVERIFY(f.settings.exists());
}

void TestKeys::menuShortcutBeatsTheEditControl()
{
    WindowFixture f(Device::Pty);
    QVERIFY(f.showActive());
    f.click("TransmitDataView_BitBtn");
    auto* line2 = f.find<kirt::DataLineEdit>("TransmitEdit2");
    line2->setFocus();
    line2->setPlainText(QStringLiteral("0102"));
    f.press(Qt::Key_A, Qt::ControlModifier);
    QCOMPARE(f.answers.fileDialogs, QStringList{QStringLiteral("save")});
    QVERIFY(!line2->textCursor().hasSelection());

    // In the settings' new-line field (a one-line edit) too.
    f.press(Qt::Key_F5);
    f.find<QTabWidget>("OptionPageControl")->setCurrentIndex(1);
    auto* newLine = f.find<QWidget>("NewLineCharEdit");
    newLine->setFocus();
    QCOMPARE(QApplication::focusWidget(), newLine);
    f.press(Qt::Key_A, Qt::ControlModifier);
    QCOMPARE(f.answers.fileDialogs.size(), 2);
}

void TestKeys::altF4RefusesOnlyTheCloseThatFollows()
{
    WindowFixture f(Device::Pty);
    QVERIFY(f.showActive());
    f.click("TransmitDataView_BitBtn");
    f.press(Qt::Key_F4, Qt::AltModifier);
    QVERIFY(shown(f, "mMessage") && !shown(f, "BoardPanel1"));
    // The close that comes with the key is refused, and the settings are still written.
    QVERIFY(!f.window().close());
    QVERIFY(f.window().isVisible());
    QVERIFY(f.settings.exists());

    // A key press that no close followed leaves nothing behind once it is handled.
    f.press(Qt::Key_F4, Qt::AltModifier);
    PtyDevice::serveEvents(20);
    QVERIFY(!RefuseNextClose);
    QTest::mouseClick(f.find<QPushButton>("EXIT_BitBtn"), Qt::LeftButton);
    QVERIFY(!f.window().isVisible());
}

void TestKeys::keyHelp()
{
    WindowFixture f(Device::Pty);
    QVERIFY(f.showActive());
    QVERIFY(f.openPort());
    f.display()->appendData(QStringLiteral("received\r\nbytes"));
    f.press(Qt::Key_F1);
    QCOMPARE(f.display()->displayText(), HelpText);
    QCOMPARE(f.display()->rowCount(), 23u);
    f.press(Qt::Key_F1);
    QCOMPARE(f.display()->displayText(), HelpText);
    // The display types Ctrl with a letter, but a menu shortcut is the menu's.
    f.press(Qt::Key_H, Qt::ControlModifier);
    QCOMPARE(f.display()->displayText(), HelpText);
    QVERIFY(quietWire(f));
    // Received bytes go below it, on the empty last line.
    QVERIFY(f.device().send("OK"));
    QVERIFY(f.waitForText(HelpText + "OK"));
}

void TestKeys::typingInHex()
{
    WindowFixture f(Device::Pty);
    QVERIFY(f.showActive());
    f.choose("DisplayFormatComboBox", 0);
    QVERIFY(f.openPort());
    QCOMPARE(QApplication::focusWidget(), f.display());

    f.type("4");
    QVERIFY(quietWire(f));
    QVERIFY(f.display()->isEmpty());
    f.type("1");
    QCOMPARE(f.device().receive(1), QByteArray("\x41"));
    QCOMPARE(f.display()->displayText(), QStringLiteral("41 "));
    f.type("af");
    QCOMPARE(f.device().receive(1), QByteArray("\xaf"));
    QCOMPARE(f.display()->displayText(), QStringLiteral("41 AF "));

    // Keys that are no hexadecimal digit do nothing, and do not break a pair either.
    f.type("0");
    f.type("g ");
    f.press(Qt::Key_Backspace);
    f.press(Qt::Key_Return);
    QVERIFY(quietWire(f));
    f.type("D");
    QCOMPARE(f.device().receive(1), QByteArray("\x0d"));
    QCOMPARE(f.display()->displayText(), QStringLiteral("41 AF 0D "));

    // A half pair is forgotten by CLEAR and by a change of format.
    f.type("7");
    f.press(Qt::Key_F3);
    f.type("42");
    QCOMPARE(f.device().receive(1), QByteArray("\x42"));
    QCOMPARE(f.display()->displayText(), QStringLiteral("42 "));
    f.type("7");
    f.choose("DisplayFormatComboBox", 1);
    f.choose("DisplayFormatComboBox", 0);
    f.display()->setFocus();
    f.type("43");
    QCOMPARE(f.device().receive(1), QByteArray("\x43"));
    QCOMPARE(f.display()->displayText(), QStringLiteral("43 "));
}

void TestKeys::typingInAsc()
{
    WindowFixture f(Device::Pty);
    QVERIFY(f.showActive());
    QVERIFY(f.openPort());
    // Typed data is not echoed; echo is for received bytes only.
    f.choose("EchoOnOffComboBox", 1);
    f.display()->setFocus();

    f.type("A");
    QCOMPARE(f.device().receive(1), QByteArray("A"));
    QCOMPARE(f.display()->displayText(), QStringLiteral("A"));
    f.press(Qt::Key_Return);
    QCOMPARE(f.device().receive(1), QByteArray("\r"));
    QCOMPARE(f.display()->displayText(), QStringLiteral("A"));
    // Control characters are shown and sent as they are.
    f.press(Qt::Key_Backspace);
    QCOMPARE(f.device().receive(1), QByteArray("\x08"));
    f.press(Qt::Key_B, Qt::ControlModifier);
    QCOMPARE(f.device().receive(1), QByteArray("\x02"));
    QCOMPARE(f.display()->displayText(), QStringLiteral("A\x08\x02"));
    // Latin-1 goes out as one byte; a character beyond it is not typed at all.
    typeText(f.focused(), QStringLiteral("\u00e9"));
    QCOMPARE(f.device().receive(1), QByteArray("\xe9"));
    typeText(f.focused(), QStringLiteral("\u20ac"));
    QVERIFY(quietWire(f));
    QCOMPARE(f.display()->displayText(), QStringLiteral("A\x08\x02\u00e9"));
    // Alt chords are commands, not characters.
    f.press(Qt::Key_Q, Qt::AltModifier);
    QVERIFY(quietWire(f));

    // Received data lands after what was typed; typed data was not echoed back.
    QVERIFY(f.device().send("r"));
    QCOMPARE(f.device().receive(1), QByteArray("r"));
    QVERIFY(PtyDevice::waitUntil([&] { return f.display()->displayText().endsWith(u'r'); }));
    QVERIFY(quietWire(f));

    // Tab leaves the display instead of being typed.
    f.press(Qt::Key_Tab);
    QVERIFY(QApplication::focusWidget() != f.display());
    QVERIFY(quietWire(f));
}

void TestKeys::typingWithThePortClosedStillShows()
{
    WindowFixture f(Device::Pty);
    QVERIFY(f.showActive());
    f.display()->setFocus();
    f.type("hi");
    f.press(Qt::Key_Return);
    QCOMPARE(f.display()->displayText(), QStringLiteral("hi"));
    f.choose("DisplayFormatComboBox", 0);
    f.display()->setFocus();
    f.type("7e");
    QCOMPARE(f.display()->displayText(), QStringLiteral("7E "));
    QCOMPARE(f.answers.errors, QStringList());
    QCOMPARE(f.answers.messages, QStringList());
}

void TestKeys::displayMenuPastesAsTyped()
{
    WindowFixture f(Device::Pty);
    QVERIFY(f.showActive());
    QVERIFY(f.openPort());
    // The menu offers the chords that work here, never the editor's Ctrl+C and Ctrl+V.
    QStringList offered;
    QTimer::singleShot(100, [&offered] {
        auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
        if (!menu)
            return;
        for (QAction* action : menu->actions())
            if (!action->isSeparator())
                offered << action->text() + u' ' + action->shortcut().toString();
        menu->close();
    });
    QWidget* viewport = f.display()->viewport();
    QContextMenuEvent click(QContextMenuEvent::Mouse, QPoint(5, 5),
                            viewport->mapToGlobal(QPoint(5, 5)));
    QApplication::sendEvent(viewport, &click);
    QCOMPARE(offered, QStringList({"Copy Ctrl+Shift+C", "Paste Ctrl+Shift+V",
                                   "Select All Ctrl+Shift+A", "Find...(&F) Ctrl+Shift+F"}));

    // Pasted text goes out as typed keys would: a line break as Enter, Latin-1 as one byte.
    QApplication::clipboard()->setText(QStringLiteral("AT\r\nx\u00e9\u20ac\n"));
    f.triggerAction("EditPaste");
    QCOMPARE(f.device().receive(6), QByteArray("AT\rx\xe9\r"));
    QVERIFY(quietWire(f));
}

void TestKeys::ctrlWheelSizesTheFontAndKeepsIt()
{
    WindowFixture f;
    f.window().show();
    kirt::ReceiveDisplay* display = f.display();
    QCOMPARE(display->font().pointSize(), 10);
    const auto wheel = [display](int angle, Qt::KeyboardModifiers modifiers) {
        const QPointF at(10, 10);
        QWheelEvent event(at, display->viewport()->mapToGlobal(at), {}, QPoint(0, angle),
                          Qt::NoButton, modifiers, Qt::NoScrollPhase, false);
        QApplication::sendEvent(display->viewport(), &event);
    };
    wheel(240, Qt::ControlModifier);
    QCOMPARE(display->font().pointSize(), 12);
    wheel(-120, Qt::NoModifier); // a plain wheel scrolls, as ever
    QCOMPARE(display->font().pointSize(), 12);
    QVERIFY(f.window().close());
    QVERIFY(f.settings.read().contains("FontSize=12\n"));
    f.destroyWindow();
    QCOMPARE(f.display()->font().pointSize(), 12);
}

QTEST_MAIN(TestKeys)
#include "tst_keys.moc"
