// Typing and pasting into the data fields and boxes of the real window, and the bars.
#include "app/Umain.h"
#include "tests/support/dialoganswerer.h"
#include "tests/support/tempsettings.h"
#include "ui/datalineedit.h"

#include <QClipboard>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QtTest>

using kirt::test::DialogAnswerer;
using kirt::test::TempSettings;

namespace {

struct Window
{
    TempSettings settings;
    DialogAnswerer answers;
    TFmain w;

    Window()
    {
        w.show();
        w.activateWindow();
        if (!QTest::qWaitForWindowActive(&w))
            qWarning("window not active");
        w.TransmitDataView_BitBtnClick();
    }
    template <typename T> T* find(const QString& name)
    {
        auto* c = w.findChild<T*>(name);
        if (!c)
            qFatal("no control %s", qPrintable(name));
        return c;
    }
    kirt::DataLineEdit* line(int n)
    {
        return find<kirt::DataLineEdit>(QStringLiteral("TransmitEdit%1").arg(n));
    }
    void choose(const QString& box, int index)
    {
        auto* combo = find<QComboBox>(box);
        combo->setCurrentIndex(index);
        emit combo->activated(index);
    }
};

} // namespace

class TestDataEntry : public QObject
{
    Q_OBJECT

private slots:
    void hexLineTakesOnlyDigits();
    void ascLineTakesEverythingButEnter();
    void limitsHoldForTypingAndPasting();
    void pasteOfSeveralLinesKeepsTheLast();
    void formatPickClearsOnlyOnChange();
    void newLineFieldFollowsTheLastSelectedLine();
    void boxesIgnoreTypedLetters();
    void barsStretchWithTheWindow();
};

void TestDataEntry::hexLineTakesOnlyDigits()
{
    Window t;
    kirt::DataLineEdit* edit = t.line(1);
    edit->setFocus();
    QTest::keyClicks(edit, QStringLiteral("ab1 Gx-"));
    QTest::keyClick(edit, Qt::Key_Return);
    QCOMPARE(edit->toPlainText(), QStringLiteral("AB1"));
    QCOMPARE(t.w.currentTransmitLine(), 1);
}

void TestDataEntry::ascLineTakesEverythingButEnter()
{
    Window t;
    t.choose(QStringLiteral("TransmitFormatComboBox2"), 1);
    kirt::DataLineEdit* edit = t.line(2);
    edit->setFocus();
    QTest::keyClicks(edit, QStringLiteral("Hi g-"));
    QTest::keyClick(edit, Qt::Key_Return);
    QCOMPARE(edit->toPlainText(), QStringLiteral("Hi g-"));
    QCOMPARE(edit->maxLength(), 500);
}

void TestDataEntry::limitsHoldForTypingAndPasting()
{
    Window t;
    kirt::DataLineEdit* hex = t.line(3);
    hex->setFocus();
    hex->setPlainText(QString(999, u'A'));
    hex->moveCursor(QTextCursor::End);
    QTest::keyClicks(hex, QStringLiteral("BCD"));
    QCOMPARE(hex->toPlainText().size(), 1000);
    QVERIFY(hex->toPlainText().endsWith(QStringLiteral("AB")));
    hex->clear();
    QGuiApplication::clipboard()->setText(QString(1500, u'7'));
    hex->paste();
    QCOMPARE(hex->toPlainText().size(), 1000);

    t.choose(QStringLiteral("TransmitFormatComboBox4"), 1);
    kirt::DataLineEdit* asc = t.line(4);
    asc->setFocus();
    QGuiApplication::clipboard()->setText(QString(800, u'x'));
    asc->paste();
    QCOMPARE(asc->toPlainText().size(), 500);
    QTest::keyClick(asc, Qt::Key_Y);
    QCOMPARE(asc->toPlainText().size(), 500);
}

void TestDataEntry::pasteOfSeveralLinesKeepsTheLast()
{
    Window t;
    kirt::DataLineEdit* edit = t.line(5);
    edit->setFocus();
    QGuiApplication::clipboard()->setText(QStringLiteral("11\n22\n33"));
    edit->paste();
    QCOMPARE(edit->toPlainText(), QStringLiteral("33"));
    // A final line break stays with the last line.
    edit->clear();
    QGuiApplication::clipboard()->setText(QStringLiteral("0102\r\n0304\r\n"));
    edit->paste();
    QCOMPARE(edit->toPlainText(), QStringLiteral("0304\n"));
}

void TestDataEntry::formatPickClearsOnlyOnChange()
{
    Window t;
    kirt::DataLineEdit* edit = t.line(6);
    edit->setPlainText(QStringLiteral("1234"));
    t.choose(QStringLiteral("TransmitFormatComboBox6"), 0); // HEX again: kept
    QCOMPARE(edit->toPlainText(), QStringLiteral("1234"));
    t.choose(QStringLiteral("TransmitFormatComboBox6"), 1); // to ASC: emptied
    QVERIFY(edit->toPlainText().isEmpty());
    QCOMPARE(t.w.transmitLineFormat(6), kirt::DataFormat::Asc);
    QCOMPARE(edit->maxLength(), 500);
    // After a pick that moved no caret, keys are filtered under the line's previous format
    // until the selection changes in a transmit line.
    t.line(8)->setFocus();
    t.choose(QStringLiteral("TransmitFormatComboBox8"), 1);
    QCOMPARE(t.w.activeTransmitFormat(), kirt::DataFormat::Hex);
    // Coming back into the line takes its format.
    t.find<QComboBox>(QStringLiteral("TransmitFormatComboBox8"))->setFocus();
    t.line(8)->setFocus();
    QCOMPARE(t.w.activeTransmitFormat(), kirt::DataFormat::Asc);
    QTest::keyClicks(t.line(8), QStringLiteral("ok"));
    QCOMPARE(t.line(8)->toPlainText(), QStringLiteral("ok"));
}

void TestDataEntry::newLineFieldFollowsTheLastSelectedLine()
{
    Window t;
    auto* field = t.find<QLineEdit>(QStringLiteral("NewLineCharEdit"));
    t.choose(QStringLiteral("TransmitFormatComboBox7"), 1);
    t.line(7)->setFocus();
    QTest::keyClicks(t.line(7), QStringLiteral("at")); // moves the caret in an ASC line
    QCOMPARE(t.w.activeTransmitFormat(), kirt::DataFormat::Asc);
    t.w.OPTION_BitBtnClick();
    t.find<QTabWidget>(QStringLiteral("OptionPageControl"))->setCurrentIndex(1);
    field->setFocus();
    field->clear();
    QTest::keyClicks(field, QStringLiteral("Z"));
    QCOMPARE(field->text(), QStringLiteral("Z"));

    t.line(1)->setFocus();
    QTest::keyClicks(t.line(1), QStringLiteral("01"));
    QCOMPARE(t.w.activeTransmitFormat(), kirt::DataFormat::Hex);
    field->setFocus();
    field->clear();
    QTest::keyClicks(field, QStringLiteral("zd"));
    QCOMPARE(field->text(), QStringLiteral("D"));
    QTest::keyClicks(field, QStringLiteral("a9"));
    QCOMPARE(field->text(), QStringLiteral("DA")); // two characters at most
    QCOMPARE(t.w.newLineChar(), 0xDA);
}

void TestDataEntry::boxesIgnoreTypedLetters()
{
    Window t;
    for (const char* name : {"TransmitFormatComboBox1", "TransmitAutoComboBox1", "CRLFComboBox1",
                             "BaudRateComboBox"}) {
        auto* box = t.find<QComboBox>(QLatin1String(name));
        const int before = box->currentIndex();
        box->setFocus();
        QTest::keyClicks(box, QStringLiteral("a1OH"));
        QCOMPARE(box->currentIndex(), before);
    }
    auto* format = t.find<QComboBox>(QStringLiteral("TransmitFormatComboBox1"));
    QSignalSpy picked(format, &QComboBox::activated);
    format->setFocus();
    QTest::keyClick(format, Qt::Key_Down);
    QCOMPARE(format->currentIndex(), 1);
    QCOMPARE(picked.size(), 1);
}

void TestDataEntry::barsStretchWithTheWindow()
{
    Window t;
    auto* bar = t.find<QWidget>(QStringLiteral("Panel3"));
    auto* line = t.find<QWidget>(QStringLiteral("Panel1"));
    for (int width : {800, 1000, 1280}) {
        t.w.resize(width, 602);
        QTRY_COMPARE(bar->width(), width);
        auto* exitButton = t.find<QPushButton>(QStringLiteral("EXIT_BitBtn"));
        auto* filler = t.find<QPushButton>(QStringLiteral("BitBtn6"));
        auto* start = t.find<QPushButton>(QStringLiteral("SendStartBtn"));
        auto* stop = t.find<QPushButton>(QStringLiteral("SendStopBtn"));
        QCOMPARE(filler->x(), exitButton->geometry().right());
        QCOMPARE(start->x(), filler->geometry().right());
        QCOMPARE(stop->x(), start->geometry().right());
        QCOMPARE(stop->geometry().right() + 1, width - 2);
        QCOMPARE(start->width(), 85);
        QCOMPARE(exitButton->width(), 104);
        auto* program = t.find<QPushButton>(QStringLiteral("ProtocolData_BitBtn"));
        auto* lineFiller = t.find<QPushButton>(QStringLiteral("BitBtn19"));
        QCOMPARE(lineFiller->x(), program->geometry().right());
        QCOMPARE(lineFiller->geometry().right() + 1, line->width() - 2);
    }
}

QTEST_MAIN(TestDataEntry)
#include "tst_dataentry.moc"
