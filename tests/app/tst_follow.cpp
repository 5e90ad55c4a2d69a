// "Follow New Data": with "AT END" a view scrolled back, or holding a selection, stays on its
// rows while data arrives and the line limit cuts the oldest; End follows again.
#include "tests/support/windowfixture.h"
#include "ui/receivedisplay.h"

#include <QScrollBar>
#include <QTextBlock>
#include <QtTest>

using kirt::test::WindowFixture;
using Device = WindowFixture::Device;

namespace {

constexpr int Asc = 1;
constexpr int LineLimit2000 = 12;

QByteArray numberedRows(int from, int count)
{
    QByteArray bytes;
    for (int n = from; n < from + count; ++n)
        bytes += QStringLiteral("row %1\r\n").arg(n, 4, 10, QLatin1Char('0')).toLatin1();
    return bytes;
}

QString topRow(kirt::ReceiveDisplay* display)
{
    return display->cursorForPosition(QPoint(2, 2)).block().text();
}

// The last row received is in view.
bool atEnd(kirt::ReceiveDisplay* display, const QString& lastRow)
{
    const QPoint bottom(2, display->viewport()->height() - 2);
    const QTextBlock shown = display->cursorForPosition(bottom).block();
    return shown.text() == lastRow || (shown.text().isEmpty() && !shown.next().isValid() &&
                                       shown.previous().text() == lastRow);
}

} // namespace

class TestFollow : public QObject
{
    Q_OBJECT

private slots:
    void atEndHoldsAViewAndASelectionUntilEnd();
    void alwaysFollows();
};

void TestFollow::atEndHoldsAViewAndASelectionUntilEnd()
{
    WindowFixture f(Device::Pty);
    f.showWithDisplayFormat(Asc);
    f.choose("ScrollBarComboBox", 1);
    f.choose("LineLimitComboBox", LineLimit2000);
    f.choose("FollowComboBox", 1);
    QVERIFY(f.openPort());
    kirt::ReceiveDisplay* display = f.display();
    auto* label = f.find<QWidget>("FollowLabel");
    QCOMPARE(label->property("text").toString(), QStringLiteral(" Scrolled back - End to follow"));

    // At the end it follows like "ALWAYS".
    QVERIFY(f.device().send(numberedRows(0, 1500)));
    QVERIFY(kirt::PtyDevice::waitUntil([&] {
        display->flushScroll();
        return display->displayText().endsWith(QStringLiteral("row 1499\n"));
    }));
    QVERIFY(atEnd(display, QStringLiteral("row 1499")));
    QVERIFY(label->isHidden());

    // Scrolled back, with a selection in view.
    display->verticalScrollBar()->setValue(1200);
    const QString top = topRow(display);
    QTextCursor selection = display->cursorForPosition(QPoint(2, 2));
    selection.movePosition(QTextCursor::EndOfBlock, QTextCursor::KeepAnchor);
    display->setTextCursor(selection);
    QVERIFY(display->heldBack());
    QVERIFY(!label->isHidden());

    // 1000 rows later the oldest 500 are cut, but not the rows in view.
    QVERIFY(f.device().send(numberedRows(1500, 1000)));
    QVERIFY(kirt::PtyDevice::waitUntil([&] {
        display->flushScroll();
        return display->displayText().endsWith(QStringLiteral("row 2499\n"));
    }));
    QCOMPARE(display->rowCount(), 2000u);
    QVERIFY(display->displayText().startsWith(QStringLiteral("row 0500\n")));
    QCOMPARE(topRow(display), top);
    QCOMPARE(display->textCursor().selectedText(), top);
    QVERIFY(!label->isHidden());

    // End follows again, selection or not.
    display->setFocus();
    f.press(Qt::Key_End);
    QVERIFY(label->isHidden());
    QVERIFY(!display->textCursor().hasSelection());
    QVERIFY(f.device().send(numberedRows(2500, 100)));
    QVERIFY(kirt::PtyDevice::waitUntil([&] {
        display->flushScroll();
        return display->displayText().endsWith(QStringLiteral("row 2599\n"));
    }));
    QVERIFY(atEnd(display, QStringLiteral("row 2599")));
    QCOMPARE(f.device().receive(1, 100), QByteArray()); // End sends nothing

    // Scrolling to the bottom follows as well.
    display->verticalScrollBar()->setValue(10);
    QVERIFY(!label->isHidden());
    display->verticalScrollBar()->setValue(display->verticalScrollBar()->maximum());
    QVERIFY(label->isHidden());
}

void TestFollow::alwaysFollows()
{
    WindowFixture f(Device::Pty);
    f.showWithDisplayFormat(Asc);
    f.choose("ScrollBarComboBox", 1);
    QVERIFY(f.openPort());
    kirt::ReceiveDisplay* display = f.display();
    QVERIFY(f.device().send(numberedRows(0, 100)));
    QVERIFY(kirt::PtyDevice::waitUntil([&] {
        display->flushScroll();
        return display->displayText().endsWith(QStringLiteral("row 0099\n"));
    }));
    display->verticalScrollBar()->setValue(5);
    QVERIFY(!display->heldBack());
    QVERIFY(f.device().send(numberedRows(100, 10)));
    QVERIFY(kirt::PtyDevice::waitUntil([&] {
        display->flushScroll();
        return display->displayText().endsWith(QStringLiteral("row 0109\n"));
    }));
    QVERIFY(atEnd(display, QStringLiteral("row 0109")));
    QVERIFY(f.find<QWidget>("FollowLabel")->isHidden());
}

QTEST_MAIN(TestFollow)
#include "tst_follow.moc"
