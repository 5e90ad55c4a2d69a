#include "app/logic/statusline.h"
#include "tests/support/columns.h"
#include "transmit/autotransmit.h"

#include <QtTest>

using namespace kirt;

namespace {

using Flags = std::array<bool, AutoTransmitCycle::LineCount>;

Flags marked(const QList<int>& lines)
{
    Flags flags{};
    for (int line : lines)
        flags[static_cast<std::size_t>(line - 1)] = true;
    return flags;
}

// The lines that `ticks` timer ticks send.
QList<int> run(AutoTransmitCycle& cycle, int ticks)
{
    QList<int> sent;
    for (int i = 0; i < ticks; ++i)
        cycle.tick([&sent](int line) { sent.append(line); });
    return sent;
}

// Status panel 4 as the window composes it from the slider and the cycle.
QString autoPanel(int sliderPosition, bool running, const AutoTransmitCycle& cycle)
{
    StatusLineState state;
    state.autoIntervalMs = autoIntervalMs(sliderPosition);
    state.autoRunning = running;
    state.autoLine = cycle.currentLine().value_or(0);
    return ComposeStatusLine(state)[4];
}

} // namespace

class TestAutoTransmit : public QObject
{
    Q_OBJECT

private slots:
    void intervals_data();
    void intervals();
    void cycleOrder_data();
    void cycleOrder();
    void stopRestartsFromFirstLine();
    void rebuildReplacesList();
    void rebuildBehindPosition();
    void panelText_data();
    void panelText();
    void panelNamesLineBeingSent();
};

void TestAutoTransmit::intervals_data()
{
    kirt::test::columns<int, int, QString>({"position", "ms", "caption"});

    QTest::newRow("fastest") << 0 << 20 << "20ms";
    QTest::newRow("layout default") << 6 << 500 << "500ms";
    QTest::newRow("last below a second") << 10 << 900 << "900ms";
    QTest::newRow("one second") << 11 << 1000 << "1000ms";
    QTest::newRow("slowest") << 15 << 5000 << "5000ms";
    QTest::newRow("below the slider") << -1 << 20 << "20ms";
    QTest::newRow("above the slider") << 16 << 5000 << "5000ms";
}

void TestAutoTransmit::intervals()
{
    QFETCH(int, position);
    QFETCH(int, ms);
    QFETCH(QString, caption);
    QCOMPARE(autoIntervalMs(position), ms);
    QCOMPARE(autoTimeCaption(position), caption);
}

void TestAutoTransmit::cycleOrder_data()
{
    kirt::test::columns<QList<int>, int, QList<int>>({"lines", "ticks", "sent"});

    kirt::test::row("1 and 3", QList<int>{1, 3}, 4, QList<int>{1, 3, 1, 3});
    kirt::test::row("2, 5 and 7", QList<int>{7, 2, 5}, 4, QList<int>{2, 5, 7, 2});
    kirt::test::row("single line", QList<int>{4}, 3, QList<int>{4, 4, 4});
    kirt::test::row("all nine", QList<int>{1, 2, 3, 4, 5, 6, 7, 8, 9}, 10,
                    QList<int>{1, 2, 3, 4, 5, 6, 7, 8, 9, 1});
    kirt::test::row("none", QList<int>{}, 3, QList<int>{});
}

void TestAutoTransmit::cycleOrder()
{
    QFETCH(QList<int>, lines);
    QFETCH(int, ticks);
    QFETCH(QList<int>, sent);

    AutoTransmitCycle cycle;
    cycle.rebuild(marked(lines));
    QCOMPARE(cycle.isEmpty(), lines.isEmpty());
    QCOMPARE(run(cycle, ticks), sent);
}

void TestAutoTransmit::stopRestartsFromFirstLine()
{
    AutoTransmitCycle cycle;
    cycle.rebuild(marked({1, 3}));
    QCOMPARE(run(cycle, 3), (QList<int>{1, 3, 1}));
    cycle.stop();
    QCOMPARE(cycle.position(), 0);
    QCOMPARE(run(cycle, 3), (QList<int>{1, 3, 1}));
}

void TestAutoTransmit::rebuildReplacesList()
{
    AutoTransmitCycle cycle;
    cycle.rebuild(marked({1, 3}));
    cycle.rebuild(marked({1, 2, 3}));
    QCOMPARE(cycle.count(), 3);
    QCOMPARE(run(cycle, 4), (QList<int>{1, 2, 3, 1}));

    cycle.rebuild(marked({}));
    QVERIFY(cycle.isEmpty());
    QVERIFY(!cycle.tick([](int) { QFAIL("a tick with no marked line sent something"); }));
}

void TestAutoTransmit::rebuildBehindPosition()
{
    // A list that shrinks under the position starts over rather than reading past its end.
    AutoTransmitCycle cycle;
    cycle.rebuild(marked({1, 2, 3, 4}));
    QCOMPARE(run(cycle, 3), (QList<int>{1, 2, 3}));
    cycle.rebuild(marked({6, 8}));
    QCOMPARE(cycle.currentLine(), std::optional<int>(6));
    QCOMPARE(run(cycle, 3), (QList<int>{6, 8, 6}));
}

void TestAutoTransmit::panelText_data()
{
    kirt::test::columns<int, bool, QList<int>, int, QString>(
        {"position", "running", "lines", "ticks", "text"});

    kirt::test::row("stopped at 0", 0, false, QList<int>{}, 0, "Auto Interval : 20ms STOP");
    kirt::test::row("stopped at 15", 15, false, QList<int>{1}, 0, "Auto Interval : 5000ms STOP");
    kirt::test::row("stopped with lines", 6, false, QList<int>{2, 5}, 0,
                    "Auto Interval : 500ms STOP");
    kirt::test::row("started, first line next", 6, true, QList<int>{2, 5}, 0,
                    "Auto Interval : 500ms Group [2]");
    kirt::test::row("running, second line next", 6, true, QList<int>{2, 5}, 1,
                    "Auto Interval : 500ms Group [5]");
    // After the last line the position is past the end, which counts as the first entry.
    kirt::test::row("after line 9 of 1, 4, 9", 0, true, QList<int>{1, 4, 9}, 3,
                    "Auto Interval : 20ms Group [1]");
    kirt::test::row("running at 15", 15, true, QList<int>{3}, 5,
                    "Auto Interval : 5000ms Group [3]");
}

void TestAutoTransmit::panelText()
{
    QFETCH(int, position);
    QFETCH(bool, running);
    QFETCH(QList<int>, lines);
    QFETCH(int, ticks);
    QFETCH(QString, text);

    AutoTransmitCycle cycle;
    cycle.rebuild(marked(lines));
    run(cycle, ticks);
    QCOMPARE(autoPanel(position, running, cycle), text);
}

void TestAutoTransmit::panelNamesLineBeingSent()
{
    // The send recomposes the status line; it must name the line on its way out.
    AutoTransmitCycle cycle;
    cycle.rebuild(marked({2, 5}));
    QStringList shown;
    for (int i = 0; i < 3; ++i) {
        cycle.tick([&](int line) {
            shown.append(autoPanel(6, true, cycle));
            QCOMPARE(cycle.currentLine(), std::optional<int>(line));
        });
    }
    QCOMPARE(shown,
             (QStringList{"Auto Interval : 500ms Group [2]", "Auto Interval : 500ms Group [5]",
                          "Auto Interval : 500ms Group [2]"}));
}

QTEST_APPLESS_MAIN(TestAutoTransmit)
#include "tst_autotransmit.moc"
