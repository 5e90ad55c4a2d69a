// Find in the receive display, driven by keys through the bar beside a display of its own.
#include "tests/support/controls.h"
#include "ui/receivedisplay.h"
#include "ui/searchbar.h"

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTextBlock>
#include <QVBoxLayout>
#include <QtTest>

using kirt::test::find;

namespace {

struct SearchWindow
{
    QWidget window;
    kirt::ReceiveDisplay* display = new kirt::ReceiveDisplay(&window);
    kirt::SearchBar* bar = new kirt::SearchBar(display, &window);
    QLineEdit* edit = find<QLineEdit>(bar, QStringLiteral("SearchEdit"));

    explicit SearchWindow(const QString& text)
    {
        auto* layout = new QVBoxLayout(&window);
        layout->addWidget(display);
        layout->addWidget(bar);
        // A scroll bar that comes with the text would narrow the rows and lay them out anew.
        display->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
        window.resize(480, 320);
        window.show();
        if (!QTest::qWaitForWindowActive(&window))
            qFatal("the window never became active");
        display->setDisplayText(text);
        bar->openBar();
    }

    QString count() const { return find<QLabel>(bar, QStringLiteral("SearchCountLabel"))->text(); }
    void type(const QString& query)
    {
        edit->clear();
        QTest::keyClicks(edit, query);
    }
    void click(const char* button) { find<QPushButton>(bar, QLatin1String(button))->click(); }
    int start() const { return display->textCursor().selectionStart(); }
    QString selected() const { return display->textCursor().selectedText(); }
    void putCaret(int position)
    {
        QTextCursor caret(display->document());
        caret.setPosition(position);
        display->setTextCursor(caret);
    }
    // The block numbers of the highlighted matches, once the highlights have followed.
    QList<int> highlighted() const
    {
        QCoreApplication::processEvents();
        QList<int> rows;
        for (const QTextEdit::ExtraSelection& s : display->extraSelections())
            rows << s.cursor.block().blockNumber();
        return rows;
    }
};

} // namespace

class TestSearchBar : public QObject
{
    Q_OBJECT

private slots:
    void typeStepAndMatchCase();
    void stepsFromTheMatchAfterCutsAndScrolls();
    void wrappedRowsMapToTheMatch();
    void hexAcrossLinesAndStamps();
    void highlightsFollowTheViewAndEscapeCloses();
};

void TestSearchBar::typeStepAndMatchCase()
{
    SearchWindow w(QStringLiteral("beta one\nBeta two beta\nthree beta"));
    QCOMPARE(w.count(), QStringLiteral("0 of 0"));
    w.type(QStringLiteral("beta"));
    const QList<int> starts{0, 9, 18, 29};
    const auto at = [&](int n) {
        return w.count() == QStringLiteral("%1 of 4").arg(n) && w.start() == starts[n - 1] &&
               w.selected().compare(QLatin1String("beta"), Qt::CaseInsensitive) == 0;
    };
    QVERIFY(at(1));
    w.click("SearchNextButton");
    QVERIFY(at(2));
    QTest::keyClick(w.edit, Qt::Key_Return);
    QTest::keyClick(w.edit, Qt::Key_Enter, Qt::KeypadModifier);
    QVERIFY(at(4));
    QTest::keyClick(w.edit, Qt::Key_Return);
    QVERIFY(at(1));
    w.click("SearchPreviousButton");
    QVERIFY(at(4));
    QTest::keyClick(w.edit, Qt::Key_Return, Qt::ShiftModifier);
    QVERIFY(at(3));
    QVERIFY(w.edit->hasFocus());

    // From a caret without a selection: the first match from there on, the last before it.
    w.putCaret(1);
    w.click("SearchNextButton");
    QVERIFY(at(2));
    w.putCaret(18);
    w.click("SearchPreviousButton");
    QVERIFY(at(2));

    find<QCheckBox>(w.bar, QStringLiteral("SearchCaseCheckBox"))->click();
    QCOMPARE(w.count(), QStringLiteral("1 of 3"));
    QCOMPARE(w.start(), 0);
    w.type(QStringLiteral("zeta"));
    QCOMPARE(w.count(), QStringLiteral("0 of 0"));
    QVERIFY(!w.display->textCursor().hasSelection());
}

void TestSearchBar::stepsFromTheMatchAfterCutsAndScrolls()
{
    SearchWindow w(QStringLiteral("a1 x\na2 x\na3 x\na4 x"));
    w.type(QStringLiteral("x"));
    w.click("SearchNextButton");
    // The oldest row goes, a new one arrives and the display scrolls to it, which takes its
    // caret off the match.
    QCOMPARE(w.display->trimToRows(3), 1u);
    w.display->appendData(QStringLiteral("\na5 x"));
    w.display->flushPending();
    w.display->moveCursor(QTextCursor::End);
    w.click("SearchNextButton");
    QCOMPARE(w.count(), QStringLiteral("2 of 4"));
    QCOMPARE(w.display->textCursor().block().text(), QStringLiteral("a3 x"));
    w.click("SearchPreviousButton");
    QCOMPARE(w.display->textCursor().block().text(), QStringLiteral("a2 x"));
}

void TestSearchBar::wrappedRowsMapToTheMatch()
{
    QString line;
    for (int i = 0; i < 300; ++i)
        line += QStringLiteral("w%1 ").arg(i, 3, 10, QLatin1Char('0'));
    SearchWindow w(QStringLiteral("head\n") + line + QStringLiteral("\ntail w150"));
    const QTextBlock wrapped = w.display->document()->findBlockByNumber(3);
    QVERIFY(kirt::ReceiveDisplay::isWrappedRow(wrapped));

    w.type(QStringLiteral("w150"));
    QCOMPARE(w.selected(), QStringLiteral("w150"));
    QTest::keyClick(w.edit, Qt::Key_Return);
    QCOMPARE(w.count(), QStringLiteral("2 of 2"));
    QCOMPARE(w.display->textCursor().block().text(), QStringLiteral("tail w150"));

    // Each match lands on its own text, those over a wrapped row's end too.
    w.type(QStringLiteral("9 w"));
    int crossing = 0;
    for (int n = 1; n <= 29; ++n, w.click("SearchNextButton")) {
        QCOMPARE(w.count(), QStringLiteral("%1 of 29").arg(n));
        crossing += w.selected().contains(QChar::ParagraphSeparator);
        QCOMPARE(w.selected().remove(QChar::ParagraphSeparator), QStringLiteral("9 w"));
    }
    QVERIFY(crossing > 0);
    // A match that ends with its row stays on it; from a caret at that end, Next goes on
    // after the caret.
    const QString rowEnd = wrapped.text().section(u' ', -2);
    w.type(rowEnd);
    QCOMPARE(w.selected(), rowEnd);
    w.type(QStringLiteral(" w"));
    w.putCaret(wrapped.position() + wrapped.length() - 1);
    w.click("SearchNextButton");
    QCOMPARE(w.start(), wrapped.position() + wrapped.length() + 4);
}

void TestSearchBar::hexAcrossLinesAndStamps()
{
    SearchWindow w(QStringLiteral("[12:00:00.000] 41 0D \n[12:00:00.001] 0A 42 0D 0A \n"));
    w.bar->setHexDisplay(true);
    w.type(QStringLiteral("0d 0a"));
    QCOMPARE(w.count(), QStringLiteral("1 of 2"));
    QCOMPARE(w.selected(), QStringLiteral("0D \u2029[12:00:00.001] 0A"));
    w.type(QStringLiteral("12:00"));
    QCOMPARE(w.count(), QStringLiteral("1 of 2"));
    w.bar->setHexDisplay(false);
    w.type(QStringLiteral("0d0a"));
    QCOMPARE(w.count(), QStringLiteral("0 of 0"));
}

void TestSearchBar::highlightsFollowTheViewAndEscapeCloses()
{
    QStringList lines;
    for (int i = 0; i < 3000; ++i)
        lines << QStringLiteral("row %1 hit").arg(i);
    SearchWindow w(lines.join(u'\n'));
    w.type(QStringLiteral("hit"));
    QCOMPARE(w.count(), QStringLiteral("1 of 3000"));
    // The rows in view and a margin, not the whole display.
    QList<int> rows = w.highlighted();
    QVERIFY2(!rows.isEmpty() && rows.size() < 500, qPrintable(QString::number(rows.size())));
    QCOMPARE(rows.front(), 0);
    w.display->verticalScrollBar()->setValue(w.display->verticalScrollBar()->maximum());
    rows = w.highlighted();
    QVERIFY2(!rows.isEmpty() && rows.front() > 2000, qPrintable(QString::number(rows.front())));
    QCOMPARE(rows.back(), 2999);

    QSignalSpy closed(w.bar, &kirt::SearchBar::closed);
    QTest::keyClick(w.edit, Qt::Key_Escape);
    QCOMPARE(closed.count(), 1);
    QVERIFY(w.bar->isHidden());
    QVERIFY(w.display->hasFocus());
    QVERIFY(w.highlighted().isEmpty());

    w.bar->openBar();
    QVERIFY(w.edit->hasFocus());
    QCOMPARE(w.edit->selectedText(), QStringLiteral("hit"));
    QCOMPARE(w.count(), QStringLiteral("1 of 3000"));
    QVERIFY(!w.highlighted().isEmpty());
}

QTEST_MAIN(TestSearchBar)
#include "tst_searchbar.moc"
