// APPEND: the shown check goes onto the end of its line, in the order it travels on the wire.
#include "tests/support/columns.h"
#include "tests/support/usersteps.h"
#include "tests/support/windowfixture.h"
#include "ui/datalineedit.h"

#include <QPushButton>
#include <QtTest>

#include <tuple>

using kirt::test::startOnTheBoard;
using kirt::test::transmitEdit;
using kirt::test::WindowFixture;

namespace {

QPushButton* appendButton(WindowFixture& f)
{
    return f.find<QPushButton>(QStringLiteral("AppendCheckButton"));
}

// The line filled and all of it selected, then the check button clicked.
void check(WindowFixture& f, int n, int format, const QString& text, int button)
{
    f.choose(QStringLiteral("TransmitFormatComboBox%1").arg(n), format);
    kirt::DataLineEdit* line = transmitEdit(f, n);
    line->setPlainText(text);
    line->setFocus();
    line->selectAll();
    // The check buttons come on at the next tick of the selection watch.
    auto* checkButton = f.find<QPushButton>(QStringLiteral("Button%1").arg(button));
    QVERIFY(kirt::PtyDevice::waitUntil([checkButton] { return checkButton->isEnabled(); }, 2000));
    checkButton->click();
}

} // namespace

class TestAppendCheck : public QObject
{
    Q_OBJECT

private slots:
    void appendsInWireOrder_data();
    void appendsInWireOrder();
    void allOrNothingAtTheLimit();
    void enabledOnlyForTheLineItWasComputedFor();
};

void TestAppendCheck::appendsInWireOrder_data()
{
    kirt::test::columns<int, int, QString, QString>({"button", "format", "text", "appended"});
    const QString check = QStringLiteral("123456789");
    const QString checkHex = QStringLiteral("313233343536373839");
    // Modbus requests with their well-known frame checks, low byte first.
    kirt::test::row("Modbus HEX", 6, 0, "01030000000A", "C5CD");
    kirt::test::row("Modbus HEX 2", 6, 0, "010300000001", "840A");
    kirt::test::row("Modbus ASC", 6, 1, check, "7K");      // 4B37h
    kirt::test::row("CRC-16 ASC", 5, 1, check, "\u00BB="); // BB3Dh
    kirt::test::row("XModem ASC", 7, 1, check, "1\u00C3"); // 31C3h
    kirt::test::row("HDLC HEX", 8, 0, checkHex, "906E");
    kirt::test::row("ADD HEX", 2, 0, checkHex, "01DD");
    kirt::test::row("XOR HEX", 1, 0, checkHex, "31");
    kirt::test::row("XOR ASC", 1, 1, check, "1");
    kirt::test::row("after a final line break", 1, 1, "12\n", "\t\n"); // 31h ^ 32h ^ 0Ah
}

void TestAppendCheck::appendsInWireOrder()
{
    QFETCH(int, button);
    QFETCH(int, format);
    QFETCH(QString, text);
    QFETCH(QString, appended);
    WindowFixture f;
    QVERIFY(startOnTheBoard(f));
    check(f, 3, format, text, button);
    QVERIFY(appendButton(f)->isEnabled());
    f.click("AppendCheckButton");
    QCOMPARE(transmitEdit(f, 3)->fieldText(), QString(text).remove(u'\n') + appended);
}

void TestAppendCheck::allOrNothingAtTheLimit()
{
    WindowFixture f;
    QVERIFY(startOnTheBoard(f));
    // Nearly full in HEX, then in ASC: a check too long for the room left is not appended, one
    // that fits (button 1) is.
    for (const auto& [n, format, full, tooLong, appended] :
         {std::tuple{1, 0, QString(998, u'A'), 6, QString("AA")},
          std::tuple{2, 1, QString(499, u'A'), 2, QString("A")}}) {
        check(f, n, format, full, tooLong);
        f.click("AppendCheckButton");
        QCOMPARE(transmitEdit(f, n)->fieldText(), full);
        check(f, n, format, full, 1);
        f.click("AppendCheckButton");
        QCOMPARE(transmitEdit(f, n)->fieldText(), full + appended);
    }
}

void TestAppendCheck::enabledOnlyForTheLineItWasComputedFor()
{
    WindowFixture f;
    QVERIFY(startOnTheBoard(f));
    QVERIFY(!appendButton(f)->isEnabled());
    check(f, 4, 0, QStringLiteral("0102"), 1);
    QVERIFY(appendButton(f)->isEnabled());
    transmitEdit(f, 5)->setFocus();
    QVERIFY(!appendButton(f)->isEnabled());

    check(f, 4, 0, QStringLiteral("0102"), 1);
    QTest::keyClick(transmitEdit(f, 4), Qt::Key_End);
    QTest::keyClick(transmitEdit(f, 4), Qt::Key_A);
    QVERIFY(!appendButton(f)->isEnabled());

    // One append per result: the line it went into is new text.
    check(f, 4, 0, QStringLiteral("0102"), 1);
    f.click("AppendCheckButton");
    QVERIFY(!appendButton(f)->isEnabled());
    QCOMPARE(transmitEdit(f, 4)->fieldText(), QStringLiteral("010203"));
}

QTEST_MAIN(TestAppendCheck)
#include "tst_appendcheck.moc"
