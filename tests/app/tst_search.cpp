// The Edit menu on the display: copy and select all from the keyboard without sending a byte,
// and Find with its bar, in the window as a user drives it.
#include "tests/support/windowfixture.h"
#include "ui/receivedisplay.h"

#include <QApplication>
#include <QClipboard>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QtTest>

using kirt::test::WindowFixture;
using Device = WindowFixture::Device;

class TestSearch : public QObject
{
    Q_OBJECT

private slots:
    void editMenuSitsBetweenFileAndHelp();
    void keyboardCopyAndSelectAllSendNothing();
    void findInHexAcrossARowEndAndEscBack();
};

void TestSearch::editMenuSitsBetweenFileAndHelp()
{
    WindowFixture f;
    QStringList titles;
    for (QAction* menu : f.window().menuBar()->actions())
        titles << menu->text();
    QCOMPARE(titles, (QStringList{"File(&F)", "Edit(&E)", "Tools(&T)", "Help(&H)"}));
    QStringList items;
    for (QAction* item : f.find<QMenu>("Edit1")->actions())
        if (!item->isSeparator())
            items << item->text() + u' ' + item->shortcut().toString();
    QCOMPARE(items, (QStringList{"Copy Ctrl+Shift+C", "Paste Ctrl+Shift+V",
                                 "Select All Ctrl+Shift+A", "Find...(&F) Ctrl+Shift+F"}));
}

void TestSearch::keyboardCopyAndSelectAllSendNothing()
{
    WindowFixture f(Device::Pty);
    f.choose("DisplayFormatComboBox", 1);
    f.choose("TimeStampComboBox", 2);
    QVERIFY(f.showActive());
    QVERIFY(f.openPort());
    QVERIFY(f.device().send("first\r\nsecond"));
    QVERIFY(kirt::PtyDevice::waitUntil(
        [&] { return f.display()->displayText().endsWith(QStringLiteral("second")); }));
    f.display()->setFocus();
    QCOMPARE(f.focused(), f.display());
    f.press(Qt::Key_A, Qt::ControlModifier | Qt::ShiftModifier);
    QCOMPARE(f.display()->textCursor().selectedText().size(), f.display()->displayText().size());
    QApplication::clipboard()->clear();
    f.press(Qt::Key_C, Qt::ControlModifier | Qt::ShiftModifier);
    const QString copied = QApplication::clipboard()->text();
    QVERIFY2(copied.startsWith(QStringLiteral("[+0.000] first\n[+")) &&
                 copied.endsWith(QStringLiteral("] second")),
             qPrintable(copied));
    // Neither chord typed Ctrl+A (01h) or Ctrl+C (03h) to the board; Ctrl+C alone still does.
    QCOMPARE(f.device().receive(1, 200), QByteArray());
    f.press(Qt::Key_C, Qt::ControlModifier);
    QCOMPARE(f.device().receive(1), QByteArray("\x03"));
}

void TestSearch::findInHexAcrossARowEndAndEscBack()
{
    WindowFixture f(Device::Pty);
    f.choose("DisplayFormatComboBox", 0);
    QVERIFY(f.showActive());
    QVERIFY(f.openPort());
    // 0D 0A twice, once split by the new-line character's row end; "10 D0 A0" is no match.
    f.find<QLineEdit>("NewLineCharEdit")->setText(QStringLiteral("0A"));
    QVERIFY(f.device().send(QByteArray("\x41\x0D\x0A\x42\x10\xD0\xA0\x0D\x0A", 9)));
    QVERIFY(kirt::PtyDevice::waitUntil(
        [&] { return f.display()->displayText().endsWith(QStringLiteral("0A ")); }));
    QCOMPARE(f.display()->displayText(), QStringLiteral("41 0D \n0A 42 10 D0 A0 0D \n0A "));

    f.display()->setFocus();
    f.press(Qt::Key_F, Qt::ControlModifier | Qt::ShiftModifier);
    auto* bar = f.find<QWidget>("SearchBar");
    QVERIFY(bar->isVisible());
    QCOMPARE(f.focused(), f.find<QWidget>("SearchEdit"));
    // Above the display, as wide as it.
    QCOMPARE(bar->mapTo(&f.window(), QPoint(0, bar->height())).y(),
             f.display()->mapTo(&f.window(), QPoint(0, 0)).y());
    QCOMPARE(bar->width(), f.display()->width());
    f.type(QStringLiteral("0d 0a"));
    auto* count = f.find<QLabel>("SearchCountLabel");
    QCOMPARE(count->text(), QStringLiteral("1 of 2"));
    QCOMPARE(f.display()->textCursor().selectedText(), QStringLiteral("0D \u20290A"));
    f.press(Qt::Key_Return);
    QCOMPARE(count->text(), QStringLiteral("2 of 2"));
    f.press(Qt::Key_Return);
    QCOMPARE(count->text(), QStringLiteral("1 of 2"));
    QCOMPARE(f.device().receive(1, 200), QByteArray()); // nothing typed reached the board

    // Esc closes the bar only; the display stays in front with the focus.
    f.press(Qt::Key_Escape);
    QVERIFY(bar->isHidden());
    QCOMPARE(f.focused(), f.display());
    QVERIFY(f.display()->isVisible());
}

QTEST_MAIN(TestSearch)
#include "tst_search.moc"
