// Typing and pasting into the data fields and boxes of the real window, and the bars.
#include "tests/support/usersteps.h"
#include "tests/support/windowfixture.h"
#include "ui/datalineedit.h"

#include <QClipboard>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QtTest>

using kirt::test::startOnTheBoard;
using kirt::test::transmitEdit;
using kirt::test::WindowFixture;

class TestDataEntry : public QObject
{
    Q_OBJECT

private slots:
    void hexLineTakesOnlyDigits();
    void ascLineTakesEverythingButEnter();
    void limitsHoldForTypingAndPasting();
    void pasteOfSeveralLinesKeepsTheLast();
    void pastedHexDumpLosesItsSeparators();
    void formatPickClearsOnlyOnChange();
    void newLineFieldFollowsTheLastSelectedLine();
    void boxesIgnoreTypedLetters();
    void barsStretchWithTheWindow();
};

void TestDataEntry::hexLineTakesOnlyDigits()
{
    WindowFixture f;
    QVERIFY(startOnTheBoard(f));
    kirt::DataLineEdit* edit = transmitEdit(f, 1);
    edit->setFocus();
    QTest::keyClicks(edit, QStringLiteral("ab1 Gx-"));
    QTest::keyClick(edit, Qt::Key_Return);
    QCOMPARE(edit->toPlainText(), QStringLiteral("AB1"));
    QCOMPARE(f.window().currentTransmitLine(), 1);
}

void TestDataEntry::ascLineTakesEverythingButEnter()
{
    WindowFixture f;
    QVERIFY(startOnTheBoard(f));
    f.choose(QStringLiteral("TransmitFormatComboBox2"), 1);
    kirt::DataLineEdit* edit = transmitEdit(f, 2);
    edit->setFocus();
    QTest::keyClicks(edit, QStringLiteral("Hi g-"));
    QTest::keyClick(edit, Qt::Key_Return);
    QCOMPARE(edit->toPlainText(), QStringLiteral("Hi g-"));
    QCOMPARE(edit->maxLength(), 500);
}

void TestDataEntry::limitsHoldForTypingAndPasting()
{
    WindowFixture f;
    QVERIFY(startOnTheBoard(f));
    kirt::DataLineEdit* hex = transmitEdit(f, 3);
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

    f.choose(QStringLiteral("TransmitFormatComboBox4"), 1);
    kirt::DataLineEdit* asc = transmitEdit(f, 4);
    asc->setFocus();
    QGuiApplication::clipboard()->setText(QString(800, u'x'));
    asc->paste();
    QCOMPARE(asc->toPlainText().size(), 500);
    QTest::keyClick(asc, Qt::Key_Y);
    QCOMPARE(asc->toPlainText().size(), 500);
}

void TestDataEntry::pasteOfSeveralLinesKeepsTheLast()
{
    WindowFixture f;
    QVERIFY(startOnTheBoard(f));
    kirt::DataLineEdit* edit = transmitEdit(f, 5);
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

void TestDataEntry::pastedHexDumpLosesItsSeparators()
{
    WindowFixture f(WindowFixture::Device::Pty);
    QVERIFY(startOnTheBoard(f));
    QVERIFY(f.openPort());
    const auto paste = [&](kirt::DataLineEdit* edit, const QString& text) {
        edit->setFocus();
        edit->clear();
        QGuiApplication::clipboard()->setText(text);
        edit->paste();
        return edit->fieldText();
    };
    kirt::DataLineEdit* hex = transmitEdit(f, 1);
    QCOMPARE(paste(hex, QStringLiteral("01 03 00 00 00 0A C5 CD")), "01030000000AC5CD");
    f.click("BitBtn9");
    QCOMPARE(f.device().receive(8), QByteArray::fromHex("01030000000AC5CD"));
    // Junk is no separator: it stays and pairs by position, as typed digits do.
    QCOMPARE(paste(hex, QStringLiteral("0xG1, 2H")), "G12H");
    f.click("BitBtn9");
    QCOMPARE(f.device().receive(2), QByteArray("\x01\x20"));

    f.choose(QStringLiteral("TransmitFormatComboBox2"), 1);
    QCOMPARE(paste(transmitEdit(f, 2), QStringLiteral("a, b: 0x1")), "a, b: 0x1");
    f.click("ProtocolData_BitBtn");
    QCOMPARE(paste(f.find<kirt::DataLineEdit>("RxEdit1"), QStringLiteral("0xAA;0xBB")), "AABB");
    QCOMPARE(paste(f.find<kirt::DataLineEdit>("TxEdit4"), QStringLiteral("55:66")), "5566");
}

void TestDataEntry::formatPickClearsOnlyOnChange()
{
    WindowFixture f;
    QVERIFY(startOnTheBoard(f));
    kirt::DataLineEdit* edit = transmitEdit(f, 6);
    edit->setPlainText(QStringLiteral("1234"));
    f.choose(QStringLiteral("TransmitFormatComboBox6"), 0); // HEX again: kept
    QCOMPARE(edit->toPlainText(), QStringLiteral("1234"));
    f.choose(QStringLiteral("TransmitFormatComboBox6"), 1); // to ASC: emptied
    QVERIFY(edit->toPlainText().isEmpty());
    QCOMPARE(f.window().transmitLineFormat(6), kirt::DataFormat::Asc);
    QCOMPARE(edit->maxLength(), 500);
    // After a pick that moved no caret, keys are filtered under the line's previous format
    // until the selection changes in a transmit line.
    transmitEdit(f, 8)->setFocus();
    f.choose(QStringLiteral("TransmitFormatComboBox8"), 1);
    QCOMPARE(f.window().activeTransmitFormat(), kirt::DataFormat::Hex);
    // Coming back into the line takes its format.
    f.find<QComboBox>(QStringLiteral("TransmitFormatComboBox8"))->setFocus();
    transmitEdit(f, 8)->setFocus();
    QCOMPARE(f.window().activeTransmitFormat(), kirt::DataFormat::Asc);
    QTest::keyClicks(transmitEdit(f, 8), QStringLiteral("ok"));
    QCOMPARE(transmitEdit(f, 8)->toPlainText(), QStringLiteral("ok"));
}

void TestDataEntry::newLineFieldFollowsTheLastSelectedLine()
{
    WindowFixture f;
    QVERIFY(startOnTheBoard(f));
    auto* field = f.find<QLineEdit>(QStringLiteral("NewLineCharEdit"));
    f.choose(QStringLiteral("TransmitFormatComboBox7"), 1);
    transmitEdit(f, 7)->setFocus();
    QTest::keyClicks(transmitEdit(f, 7), QStringLiteral("at")); // moves the caret in an ASC line
    QCOMPARE(f.window().activeTransmitFormat(), kirt::DataFormat::Asc);
    f.click("OPTION_BitBtn");
    f.find<QTabWidget>(QStringLiteral("OptionPageControl"))->setCurrentIndex(1);
    field->setFocus();
    field->clear();
    QTest::keyClicks(field, QStringLiteral("Z"));
    QCOMPARE(field->text(), QStringLiteral("Z"));

    transmitEdit(f, 1)->setFocus();
    QTest::keyClicks(transmitEdit(f, 1), QStringLiteral("01"));
    QCOMPARE(f.window().activeTransmitFormat(), kirt::DataFormat::Hex);
    field->setFocus();
    field->clear();
    QTest::keyClicks(field, QStringLiteral("zd"));
    QCOMPARE(field->text(), QStringLiteral("D"));
    QTest::keyClicks(field, QStringLiteral("a9"));
    QCOMPARE(field->text(), QStringLiteral("DA")); // two characters at most
    QCOMPARE(f.window().newLineChar(), 0xDA);
}

void TestDataEntry::boxesIgnoreTypedLetters()
{
    WindowFixture f;
    QVERIFY(startOnTheBoard(f));
    for (const char* name : {"TransmitFormatComboBox1", "TransmitAutoComboBox1", "CRLFComboBox1",
                             "BaudRateComboBox"}) {
        auto* box = f.find<QComboBox>(QLatin1String(name));
        const int before = box->currentIndex();
        box->setFocus();
        QTest::keyClicks(box, QStringLiteral("a1OH"));
        QCOMPARE(box->currentIndex(), before);
    }
    auto* format = f.find<QComboBox>(QStringLiteral("TransmitFormatComboBox1"));
    QSignalSpy picked(format, &QComboBox::activated);
    format->setFocus();
    QTest::keyClick(format, Qt::Key_Down);
    QCOMPARE(format->currentIndex(), 1);
    QCOMPARE(picked.size(), 1);
}

void TestDataEntry::barsStretchWithTheWindow()
{
    WindowFixture f;
    QVERIFY(startOnTheBoard(f));
    auto* bar = f.find<QWidget>(QStringLiteral("Panel3"));
    auto* line = f.find<QWidget>(QStringLiteral("Panel1"));
    for (int width : {800, 1000, 1280}) {
        f.window().resize(width, 602);
        QTRY_COMPARE(bar->width(), width);
        auto* exitButton = f.find<QPushButton>(QStringLiteral("EXIT_BitBtn"));
        auto* filler = f.find<QPushButton>(QStringLiteral("BitBtn6"));
        auto* start = f.find<QPushButton>(QStringLiteral("SendStartBtn"));
        auto* stop = f.find<QPushButton>(QStringLiteral("SendStopBtn"));
        QCOMPARE(filler->x(), exitButton->geometry().right());
        QCOMPARE(start->x(), filler->geometry().right());
        QCOMPARE(stop->x(), start->geometry().right());
        QCOMPARE(stop->geometry().right() + 1, width - 2);
        QCOMPARE(start->width(), 85);
        QCOMPARE(exitButton->width(), 104);
        auto* term = f.find<QPushButton>(QStringLiteral("TerminalView_BitBtn"));
        auto* lineFiller = f.find<QPushButton>(QStringLiteral("BitBtn19"));
        QCOMPARE(lineFiller->x(), term->geometry().right());
        QCOMPARE(lineFiller->geometry().right() + 1, line->width() - 2);
    }
}

QTEST_MAIN(TestDataEntry)
#include "tst_dataentry.moc"
