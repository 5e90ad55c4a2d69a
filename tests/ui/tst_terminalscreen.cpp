// The terminal view and its panel in a window of their own: keys to the board before the
// window's shortcuts, the view held while scrolled back, copy and paste, the pixels of a
// coloured cell, the size box, CLEAR and the search bar.
#include "tests/support/controls.h"
#include "ui/searchbar.h"
#include "ui/terminalpanel.h"
#include "ui/terminalscreen.h"

#include <QClipboard>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QShortcut>
#include <QSignalSpy>
#include <QVBoxLayout>
#include <QtTest>

using kirt::TerminalPanel;
using kirt::TerminalScreen;
using kirt::test::find;

namespace {

struct PanelWindow
{
    QWidget window;
    QLineEdit* other = new QLineEdit(&window); // where Tab would go
    TerminalPanel* panel = new TerminalPanel(&window);
    TerminalScreen* screen = panel->screen();
    QSignalSpy sent{screen, &TerminalScreen::bytesToSend};
    int shortcuts = 0;

    PanelWindow()
    {
        auto* layout = new QVBoxLayout(&window);
        layout->addWidget(other);
        layout->addWidget(panel);
        // The window's own keys, which the terminal must take first.
        for (const QKeySequence& key : {QKeySequence(Qt::Key_F1), QKeySequence(Qt::ALT | Qt::Key_1),
                                        QKeySequence(Qt::CTRL | Qt::Key_X)}) {
            auto* shortcut = new QShortcut(key, &window);
            shortcut->setContext(Qt::WindowShortcut);
            QObject::connect(shortcut, &QShortcut::activated, [this] { ++shortcuts; });
        }
        window.resize(900, 600);
        window.show();
        if (!QTest::qWaitForWindowActive(&window))
            qFatal("the window never became active");
        screen->setFocus();
    }

    QByteArray sentBytes()
    {
        QByteArray all;
        for (const QList<QVariant>& s : sent)
            all += s.at(0).toByteArray();
        sent.clear();
        return all;
    }
};

} // namespace

class TestTerminalScreen : public QObject
{
    Q_OBJECT

private slots:
    void keysGoToTheBoardBeforeTheWindow();
    void scrolledBackViewStaysWhileLinesArrive();
    void copyPasteAndPixels();
    void sizeClearAndSearch();
};

void TestTerminalScreen::keysGoToTheBoardBeforeTheWindow()
{
    PanelWindow w;
    QSignalSpy windowKeys(w.screen, &TerminalScreen::windowKey);
    QSignalSpy find(w.screen, &TerminalScreen::findRequested);
    QTest::keyClick(w.screen, Qt::Key_Tab);
    QTest::keyClick(w.screen, Qt::Key_F1);
    QTest::keyClick(w.screen, Qt::Key_1, Qt::AltModifier);
    QTest::keyClick(w.screen, Qt::Key_X, Qt::ControlModifier);
    QTest::keyClick(w.screen, Qt::Key_C, Qt::ControlModifier);
    QTest::keyClicks(w.screen, QStringLiteral("ls"));
    QTest::keyClick(w.screen, Qt::Key_Return);
    QCOMPARE(w.sentBytes(), QByteArray("\t\x1bOP\x1b"
                                       "1\x18\x03ls\r"));
    QCOMPARE(w.shortcuts, 0);
    QVERIFY(w.screen->hasFocus());
    QTest::keyClick(w.screen, Qt::Key_F2, Qt::ControlModifier | Qt::ShiftModifier);
    QTest::keyClick(w.screen, Qt::Key_F, Qt::ControlModifier | Qt::ShiftModifier);
    QTest::keyClick(w.screen, Qt::Key_PageUp, Qt::ShiftModifier);
    QCOMPARE(windowKeys.size(), 1);
    QCOMPARE(windowKeys.at(0).at(0).toInt(), 2);
    QCOMPARE(find.size(), 1);
    QVERIFY(w.sentBytes().isEmpty());
    // Local echo shows what is typed.
    kirt::TerminalOptions echo;
    echo.localEcho = true;
    w.panel->setOptions(echo);
    QTest::keyClicks(w.screen, QStringLiteral("hi"));
    QCOMPARE(w.screen->emulator().cell(0, 0).ch, U'h');
}

void TestTerminalScreen::scrolledBackViewStaysWhileLinesArrive()
{
    PanelWindow w;
    kirt::TerminalOptions options;
    options.scrollbackLines = 100;
    w.panel->setOptions(options);
    for (int i = 0; i < 60; ++i)
        w.screen->feed(QStringLiteral("line %1\r\n").arg(i).toLatin1());
    w.screen->flushPaint();
    QVERIFY(w.screen->following());
    QTest::keyClick(w.screen, Qt::Key_PageUp, Qt::ShiftModifier);
    QVERIFY(!w.screen->following());
    const std::int64_t top = w.screen->viewTop();
    const auto topText = [&w] {
        const std::int64_t t = w.screen->viewTop();
        return w.screen->emulator().text({t, 0}, {t + 1, 0});
    };
    const QString before = topText();
    QCOMPARE(before, QStringLiteral("line 14"));
    for (int i = 60; i < 120; ++i)
        w.screen->feed(QStringLiteral("line %1\r\n").arg(i).toLatin1());
    w.screen->flushPaint();
    QCOMPARE(w.screen->viewTop(), top);
    QCOMPARE(topText(), before);
    // Lines dropped from the scroll-back under the view: it shows the oldest left.
    for (int i = 120; i < 200; ++i)
        w.screen->feed(QStringLiteral("line %1\r\n").arg(i).toLatin1());
    QCOMPARE(w.screen->viewTop(), w.screen->emulator().firstLine());
    // A key goes back to the newest.
    QTest::keyClick(w.screen, Qt::Key_A);
    QVERIFY(w.screen->following());
}

void TestTerminalScreen::copyPasteAndPixels()
{
    PanelWindow w;
    w.screen->feed(QByteArray("\x1b[41mAB\x1b[m ") + QByteArray(100, 'x') + "\r\n$ ");
    QTest::keyClick(w.screen, Qt::Key_A, Qt::ControlModifier | Qt::ShiftModifier);
    QTest::keyClick(w.screen, Qt::Key_C, Qt::ControlModifier | Qt::ShiftModifier);
    QCOMPARE(QGuiApplication::clipboard()->text(), "AB " + QString(100, u'x') + "\n$");
    w.screen->clearSelection();
    w.screen->feed(QByteArray("\x1b[?2004h"));
    QGuiApplication::clipboard()->setText(QStringLiteral("one\ntwo"));
    QTest::keyClick(w.screen, Qt::Key_V, Qt::ControlModifier | Qt::ShiftModifier);
    QCOMPARE(w.sentBytes(), QByteArray("\x1b[200~one\rtwo\x1b[201~"));
    w.screen->flushPaint();
    const QImage image = w.screen->viewport()->grab().toImage();
    const QSize cell = w.screen->cellSize();
    const QColor red = image.pixelColor(cell.width() / 2, 1);
    QVERIFY2(red.red() > 150 && red.green() < 60, qPrintable(red.name()));
    QCOMPARE(image.pixelColor(cell.width() * 2 + cell.width() / 2, 1), QColor(Qt::white));
}

void TestTerminalScreen::sizeClearAndSearch()
{
    PanelWindow w;
    auto* label = find<QLabel>(w.panel, QStringLiteral("TerminalSizeLabel"));
    auto* box = find<QComboBox>(w.panel, QStringLiteral("TerminalSizeComboBox"));
    QCOMPARE(box->currentText(), QStringLiteral("80x24"));
    QCOMPARE(label->text(), QStringLiteral("80x24"));
    box->setCurrentIndex(1);
    QCOMPARE(label->text(), QStringLiteral("132x43"));
    QCOMPARE(w.screen->emulator().rows(), 43);
    box->setCurrentIndex(2);
    const QSize fitted(w.screen->emulator().cols(), w.screen->emulator().rows());
    QCOMPARE(fitted.width(), w.screen->viewport()->width() / w.screen->cellSize().width());
    w.window.resize(700, 400);
    QTRY_VERIFY(w.screen->emulator().cols() < fitted.width());
    QCOMPARE(
        label->text(),
        QStringLiteral("%1x%2").arg(w.screen->emulator().cols()).arg(w.screen->emulator().rows()));

    for (int i = 0; i < 80; ++i)
        w.screen->feed(QStringLiteral("row %1 Match\r\n").arg(i).toLatin1());
    QTest::keyClick(w.screen, Qt::Key_F, Qt::ControlModifier | Qt::ShiftModifier);
    auto* bar = w.panel->searchBar();
    QVERIFY(bar->isVisible());
    auto* edit = find<QLineEdit>(bar, QStringLiteral("SearchEdit"));
    QTest::keyClicks(edit, QStringLiteral("match"));
    auto* count = find<QLabel>(bar, QStringLiteral("SearchCountLabel"));
    QCOMPARE(count->text(), QStringLiteral("1 of 80"));
    QCOMPARE(w.screen->selectedText(), QStringLiteral("Match"));
    QVERIFY(!w.screen->following()); // the first match is far back
    QTest::keyClick(edit, Qt::Key_Return, Qt::ShiftModifier);
    QCOMPARE(count->text(), QStringLiteral("80 of 80"));
    QTest::keyClick(edit, Qt::Key_Return);
    QCOMPARE(count->text(), QStringLiteral("1 of 80"));
    QTest::keyClick(edit, Qt::Key_Escape);
    QVERIFY(w.screen->hasFocus());

    find<QPushButton>(w.panel, QStringLiteral("TerminalClearButton"))->click();
    QCOMPARE(w.screen->emulator().scrollbackCount(), 0);
    QCOMPARE(w.screen->emulator().allText(), QString());
}

QTEST_MAIN(TestTerminalScreen)
#include "tst_terminalscreen.moc"
