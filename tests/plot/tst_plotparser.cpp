// Lines a board prints, turned into plot samples: label:value pairs, plain columns with and
// without a names line, separators, exponents, junk lines, gaps, too many columns; the first
// line after a clear; the store's extents, the view reduced to pixel columns and its y range.
#include "plot/plotfeed.h"
#include "plot/plotparser.h"
#include "plot/plotstore.h"
#include "plot/plotview.h"
#include "tests/support/columns.h"

#include <QtTest>

#include <limits>
#include <random>

using kirt::PlotParser;
using kirt::PlotSample;

namespace {

// Each sample as "name=value" for the present series, joined by blanks.
QStringList parse(PlotParser& parser, const QByteArray& text, int cut = -1)
{
    QStringList shown;
    const auto out = [&](const PlotSample& s) {
        QStringList parts;
        for (int i = 0; i < PlotSample::MaxSeries; ++i)
            if (s.present[static_cast<std::size_t>(i)])
                parts << parser.names().value(i) + u'=' +
                             QString::number(s.values[static_cast<std::size_t>(i)]);
        shown << parts.join(u' ');
    };
    const qsizetype at = cut < 0 ? text.size() : cut;
    parser.feed(text.constData(), static_cast<std::size_t>(at), out);
    parser.feed(text.constData() + at, static_cast<std::size_t>(text.size() - at), out);
    return shown;
}

} // namespace

class TestPlotParser : public QObject
{
    Q_OBJECT

private slots:
    void formats_data();
    void formats();
    void seventeenColumnsKeepSixteen();
    void storeDropsTheOldestAndExportsEveryPoint();
    void feedStampsALineWithTheReadThatEndedIt();
    void firstLineAfterAClear();
    void extentsMatchTheSamplesAfterDrops();
    void viewKeepsSpikesAndGaps();
};

void TestPlotParser::formats_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<QStringList>("samples");
    QTest::addColumn<int>("skipped");

    kirt::test::row("label:value, a missing series is a gap",
                    QByteArray("sine:0.707,ramp:12 noise:-0.13\r\nramp:13\tsine:1\n"),
                    QStringList{"sine=0.707 ramp=12 noise=-0.13", "sine=1 ramp=13"}, 0);
    kirt::test::row("CSV without names", QByteArray("1,2.5,3\n4;5 6\n"),
                    QStringList{"1=1 2=2.5 3=3", "1=4 2=5 3=6"}, 0);
    kirt::test::row("CSV with a names line, blanks and tabs",
                    QByteArray("temp\thum\n21.5\t40\n22 41\n"),
                    QStringList{"temp=21.5 hum=40", "temp=22 hum=41"}, 0);
    kirt::test::row("exponents and signs", QByteArray("1e3,-2.5E-2,+.5\n"),
                    QStringList{"1=1000 2=-0.025 3=0.5"}, 0);
    kirt::test::row("junk lines are counted, never zero",
                    QByteArray("1,2\nBOOT OK\n\n3,x\ninf,nan\n0x10,+-5,-\n"),
                    QStringList{"1=1 2=2", "1=3"}, 4);
}

void TestPlotParser::formats()
{
    QFETCH(QByteArray, text);
    QFETCH(QStringList, samples);
    QFETCH(int, skipped);
    // The same at every cut of the stream.
    for (int cut = 0; cut <= text.size(); ++cut) {
        PlotParser parser;
        QCOMPARE(parse(parser, text, cut), samples);
        QCOMPARE(parser.skipped(), std::uint64_t(skipped));
    }
}

void TestPlotParser::seventeenColumnsKeepSixteen()
{
    PlotParser parser;
    QByteArray line;
    for (int i = 1; i <= 17; ++i)
        line += QByteArray::number(i) + (i < 17 ? "," : "\n");
    const QStringList shown = parse(parser, line);
    QCOMPARE(shown.size(), 1);
    QVERIFY(shown[0].endsWith(QStringLiteral("16=16")));
    QCOMPARE(parser.names().size(), 16);

    PlotParser labels;
    QByteArray pairs;
    for (int i = 1; i <= 17; ++i)
        pairs += "s" + QByteArray::number(i) + ":" + QByteArray::number(i) + " ";
    QVERIFY(!parse(labels, pairs + "\n")[0].contains(QStringLiteral("s17")));
}

void TestPlotParser::storeDropsTheOldestAndExportsEveryPoint()
{
    PlotParser parser;
    kirt::PlotStore store(3);
    double now = 100.0;
    const QByteArray lines("a:1,b:2\nb:3\na:4\na:0.707,b:5e-1\n");
    parser.feed(lines.constData(), static_cast<std::size_t>(lines.size()),
                [&](const PlotSample& s) { store.add(s, now += 0.25); });
    QCOMPARE(store.size(), std::size_t(3));
    QCOMPARE(store.sampleNumber(0), std::uint64_t(1)); // the first went
    QVERIFY(std::isnan(store.value(0, 0)));            // b:3 has no a
    QCOMPARE(store.csv(parser.names()), QByteArray("time,a,b\n"
                                                   "0.250,,3\n"
                                                   "0.500,4,\n"
                                                   "0.750,0.707,0.5\n"));
    store.clear();
    QCOMPARE(store.size(), std::size_t(0));
    QVERIFY(!store.hasSeries(0));
}

void TestPlotParser::feedStampsALineWithTheReadThatEndedIt()
{
    kirt::PlotFeed feed;
    const auto at = [](int ms) {
        return kirt::PlotFeed::Clock::time_point(std::chrono::milliseconds(ms));
    };
    const auto give = [&](const char* text, int ms) {
        feed.received(reinterpret_cast<const std::uint8_t*>(text), std::strlen(text), at(ms));
    };
    give("x:1\nx:", 1000);
    give("2\n", 1500); // the line that ended here has this read's time
    give("junk\n", 1600);
    QCOMPARE(feed.store().size(), std::size_t(2));
    QCOMPARE(feed.store().time(1), 0.5);
    QCOMPARE(feed.store().value(0, 1), 2.0);
    QCOMPARE(feed.parser().skipped(), std::uint64_t(1));
    const std::uint64_t before = feed.generation();
    feed.clear(at(1990));
    QVERIFY(feed.generation() > before);
    QCOMPARE(feed.store().size(), std::size_t(0));
    QCOMPARE(feed.parser().skipped(), std::uint64_t(0));
    give("unt:17\ny:5\n", 2000); // the tail of a line begun before the clear
    QCOMPARE(feed.parser().names(), QStringList{QStringLiteral("y")});
    QCOMPARE(feed.store().size(), std::size_t(1));
}

void TestPlotParser::firstLineAfterAClear()
{
    // Read so soon after the clear (for the line's rate) that it may have begun before: dropped.
    // After a pause: kept, a names line too.
    const kirt::PlotFeed::Clock::time_point cleared(std::chrono::seconds(50));
    const auto names = [&](std::uint32_t baud, int ms, const QByteArray& text) {
        kirt::PlotFeed feed;
        kirt::ComSettings line;
        line.baudRate = baud;
        feed.setLineSettings(line);
        feed.clear(cleared);
        feed.received(nullptr, 0, cleared); // an empty read decides nothing
        feed.received(reinterpret_cast<const std::uint8_t*>(text.data()),
                      static_cast<std::size_t>(text.size()),
                      cleared + std::chrono::milliseconds(ms));
        return feed.parser().names().join(u' ');
    };
    QCOMPARE(names(9600, 2, "unt:17\ny:5\n"), "y");
    QCOMPARE(names(300, 100, "unt:17\ny:5\n"), "y");
    QCOMPARE(names(9600, 100, "unt:17\ny:5\n"), "unt y");
    QCOMPARE(names(115200, 150, "time,volts,amps\n1,2,3\n"), "time volts amps");
}

void TestPlotParser::extentsMatchTheSamplesAfterDrops()
{
    // Blocks of summaries against every sample, with gaps, a late series and the ring wrapped
    // at an odd place, so block edges and dropped blocks are crossed.
    kirt::PlotStore store(1000);
    std::mt19937 random(7);
    for (int n = 0; n < 2537; ++n) {
        PlotSample sample;
        for (std::size_t s = 0; s < 2; ++s) {
            sample.present[s] = random() % 5 != 0 && (s == 0 || n > 1700);
            sample.values[s] = static_cast<double>(static_cast<int>(random() % 2001) - 1000);
        }
        store.add(sample, n);
    }
    for (int trial = 0; trial < 2000; ++trial) {
        const std::size_t from = random() % 1001;
        const std::size_t to = from + random() % (1001 - from);
        for (int s = 0; s < 2; ++s) {
            kirt::PlotExtent expected;
            for (std::size_t i = from; i < to; ++i)
                expected.take(store.value(s, i));
            const kirt::PlotExtent got = store.extent(s, from, to);
            QVERIFY2((got.empty() && expected.empty()) ||
                         (got.low == expected.low && got.high == expected.high),
                     qPrintable(QStringLiteral("series %1 [%2, %3)").arg(s).arg(from).arg(to)));
        }
    }
}

void TestPlotParser::viewKeepsSpikesAndGaps()
{
    kirt::PlotStore store;
    for (int n = 0; n < 100000; ++n) {
        PlotSample sample;
        sample.present[0] = n < 50000 || n >= 60000; // a stretch of gaps
        sample.values[0] = n == 77777 ? 1e6 : 1.0;   // one spike among 100,000
        store.add(sample, n / 1000.0);
    }
    std::vector<kirt::PlotPoint> points;
    for (const bool time : {false, true}) {
        kirt::viewPoints(store, 0, 0, store.size(), 1000, time, points);
        QVERIFY(points.size() <= 2000);
        QVERIFY(std::any_of(points.begin(), points.end(),
                            [](const kirt::PlotPoint& p) { return p.y == 1e6; }));
        const auto gap = std::find_if(points.begin(), points.end(),
                                      [](const kirt::PlotPoint& p) { return std::isnan(p.y); });
        QVERIFY(gap != points.end());
        QVERIFY(gap->x >= (time ? 50.0 : 50000.0) && gap->x < (time ? 60.0 : 60000.0));
        QVERIFY(std::is_sorted(points.begin(), points.end(),
                               [](const auto& a, const auto& b) { return a.x < b.x; }));
    }
    // Few samples: every one, as it is.
    kirt::viewPoints(store, 0, 77770, 77780, 1000, false, points);
    QCOMPARE(points.size(), std::size_t(10));
    QCOMPARE(points[7].x, 77777.0);
    QCOMPARE(points[7].y, 1e6);

    // The y range: the values inside with room, a finite span any plotting axis takes.
    const double top = std::numeric_limits<double>::max();
    for (const auto& [low, high] : std::vector<std::pair<double, double>>{
             {0, 1e308}, {-top, top}, {top, top}, {-2, 3}, {1e-310, 3e-310}}) {
        const kirt::PlotYRange r = kirt::yRangeFor(low, high, true);
        QVERIFY(r.lower < low / r.scale && high / r.scale < r.upper);
        QVERIFY(r.upper - r.lower > 1e-100 && r.upper - r.lower < 1e100);
    }
}

QTEST_GUILESS_MAIN(TestPlotParser)
#include "tst_plotparser.moc"
