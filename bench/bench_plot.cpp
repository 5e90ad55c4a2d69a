// Plot figures: the time of one redraw with 8 series of 1,000,000 points, all in view and with
// a 1000-sample window; the highest paced rate of an 8-column stream through a pseudo-terminal
// with no line lost (a counter column checked for gaps), with the plot in front and with the
// display in front; resident memory with 16 series of 1,000,000 points. Prints its figures;
// asserts nothing.
//   bench_plot [seconds-per-rate [redraw | rate | memory]]   default 5 s, all three
#include "app/Umain.h"
#include "plot/plotfeed.h"
#include "tests/support/controls.h"
#include "tests/support/dialoganswerer.h"
#include "tests/support/ptydevice.h"
#include "tests/support/tempsettings.h"
#include "ui/plotpanel.h"

#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QFile>
#include <QTimer>

#include <qcustomplot.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <thread>
#include <vector>

#include <poll.h>
#include <unistd.h>

using kirt::test::choose;

namespace {

constexpr std::size_t Million = 1'000'000;

// A line of the stream: a counter, then columns - 1 values that move.
QByteArray streamLine(std::uint64_t n, int columns)
{
    QByteArray line = QByteArray::number(static_cast<qulonglong>(n));
    for (int c = 1; c < columns; ++c)
        line += ',' + QByteArray::number(std::sin(static_cast<double>(n) / (50.0 + c)) * 100.0 * c,
                                         'f', 3);
    return line + '\n';
}

void feedLines(kirt::PlotFeed& feed, std::uint64_t from, std::uint64_t count, int columns,
               std::chrono::steady_clock::time_point& clock)
{
    QByteArray chunk;
    for (std::uint64_t n = from; n < from + count; ++n) {
        chunk += streamLine(n, columns);
        if (chunk.size() > 60000 || n + 1 == from + count) {
            clock += std::chrono::microseconds(500);
            feed.received(reinterpret_cast<const std::uint8_t*>(chunk.constData()),
                          static_cast<std::size_t>(chunk.size()), clock);
            chunk.clear();
        }
    }
}

void printMemory(const char* what)
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return;
    for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith("VmRSS"))
            std::printf("  %-58s %s\n", what, line.simplified().constData());
}

// A plot view of its own, shown at a common size, with its feed.
struct ShownPlot
{
    kirt::PlotFeed feed;
    kirt::PlotPanel panel;
    std::chrono::steady_clock::time_point clock = std::chrono::steady_clock::now();

    ShownPlot()
    {
        panel.setFeed(&feed);
        panel.resize(1000, 640);
        panel.show();
    }
    void draw()
    {
        panel.redraw();
        panel.plot()->replot(QCustomPlot::rpImmediateRefresh);
    }
};

std::pair<double, double> medianAndMax(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return {v[v.size() / 2], v.back()};
}

// One frame as the running view makes it: a tick's worth of new lines at 2,000 lines a second,
// then the redraw and the paint.
void redrawFigures()
{
    std::printf("Redraw, 8 series x 1,000,000 points, view 1000 x 600 pixels, 67 new lines a "
                "frame:\n");
    ShownPlot shown;
    kirt::PlotPanel& panel = shown.panel;
    QElapsedTimer parse;
    parse.start();
    feedLines(shown.feed, 0, Million, 8, shown.clock);
    std::printf("  parsing 1,000,000 lines of 8 columns: %.2f s\n",
                static_cast<double>(parse.nsecsElapsed()) / 1e9);
    std::uint64_t next = Million;
    auto* window = panel.findChild<QComboBox*>(QStringLiteral("PlotWindowComboBox"));
    for (const auto& [index, name] :
         {std::pair{3, "all points in view"}, {1, "1000-sample window"}}) {
        QElapsedTimer first;
        first.start();
        window->setCurrentIndex(index); // hands the points in view to the graphs once
        panel.plot()->replot(QCustomPlot::rpImmediateRefresh);
        const double firstMs = static_cast<double>(first.nsecsElapsed()) / 1e6;
        std::vector<double> frames;
        for (int frame = 0; frame < 100; ++frame) {
            feedLines(shown.feed, next, 67, 8, shown.clock);
            next += 67;
            QElapsedTimer t;
            t.start();
            shown.draw();
            frames.push_back(static_cast<double>(t.nsecsElapsed()) / 1e6);
        }
        const auto [median, max] = medianAndMax(frames);
        std::printf("  %-20s median %6.2f ms, max %6.2f ms over 100 frames (first draw after "
                    "the switch %.0f ms)\n",
                    name, median, max, firstMs);
    }
}

struct LineRun
{
    long long heldBack = 0; // most bytes due that the terminal refused
    std::uint64_t lines = 0;
    std::uint64_t collected = 0;
    std::uint64_t gaps = 0; // counter steps other than +1
    std::uint64_t skipped = 0;
    double windowShare = 0;
    bool lossless() const
    {
        return heldBack <= 4096 && collected == lines && gaps == 0 && skipped == 0;
    }
};

long long windowThreadNs()
{
    QFile schedstat(QStringLiteral("/proc/self/task/%1/schedstat").arg(::getpid()));
    return schedstat.open(QIODevice::ReadOnly)
               ? schedstat.readAll().split(' ').value(0).toLongLong()
               : 0;
}

// Lines written on schedule as a board prints them; a terminal that refuses what is due holds
// it back, and a line beyond a driver's 4 KB would have been lost.
LineRun pacedLines(TFmain& window, kirt::PtyDevice& device, int linesPerSecond, int seconds)
{
    auto* panel = window.findChild<kirt::PlotPanel*>(QStringLiteral("PlotPanel"));
    const kirt::PlotFeed& feed = *panel->feed();
    panel->clearPlot();
    LineRun run;
    run.lines = static_cast<std::uint64_t>(linesPerSecond) * static_cast<std::uint64_t>(seconds);
    std::atomic<bool> done{false};
    std::atomic<long long> heldBack{0};
    const long long threadBefore = windowThreadNs();
    QElapsedTimer wall;
    wall.start();
    std::thread writer([&] {
        // The clear drops what comes before the first line end: this one.
        QByteArray pending = "\n";
        std::uint64_t n = 0;
        long long dueBytes = 1;
        const auto start = std::chrono::steady_clock::now();
        while (n < run.lines || !pending.isEmpty()) {
            const double elapsed =
                std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
            const auto due = std::min<std::uint64_t>(
                run.lines, static_cast<std::uint64_t>(elapsed * linesPerSecond));
            for (; n < due; ++n) {
                const QByteArray line = streamLine(n, 8);
                pending += line;
                dueBytes += line.size();
            }
            if (pending.isEmpty()) {
                std::this_thread::sleep_for(std::chrono::microseconds(300));
                continue;
            }
            pollfd p{device.masterFd(), POLLOUT, 0};
            ::poll(&p, 1, 50);
            const ssize_t w =
                ::write(device.masterFd(), pending.constData(),
                        static_cast<size_t>(std::min<qsizetype>(pending.size(), 512)));
            if (w > 0)
                pending.remove(0, w);
            heldBack = std::max<long long>(heldBack, pending.size());
        }
        done = true;
    });
    QTimer tick;
    tick.start(5);
    QElapsedTimer after;
    while (!done || feed.store().size() < run.lines) {
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        if (done && !after.isValid())
            after.start();
        if (after.isValid() && after.elapsed() > 20000)
            break;
    }
    writer.join();
    run.windowShare = static_cast<double>(windowThreadNs() - threadBefore) /
                      static_cast<double>(std::max<qint64>(1, wall.nsecsElapsed()));
    run.heldBack = heldBack;
    const kirt::PlotStore& store = feed.store();
    run.collected = store.size();
    run.skipped = feed.parser().skipped();
    for (std::size_t i = 1; i < store.size(); ++i)
        if (store.value(0, i) != store.value(0, i - 1) + 1)
            ++run.gaps;
    if (store.size() > 0 && store.value(0, 0) != 0)
        ++run.gaps;
    return run;
}

void rateFigures(int seconds)
{
    std::printf("\nPaced 8-column lines through a pseudo-terminal (a counter and 7 values, about "
                "46 bytes a line), ASC display, %d s a rate:\n",
                seconds);
    kirt::PtyDevice device(1);
    TFmain window;
    window.resize(1000, 700);
    window.show();
    choose(&window, "DisplayFormatComboBox", 1);
    window.COM_BitBtnClick();
    if (!window.portOpen()) {
        std::printf("  could not open the pseudo-terminal\n");
        return;
    }
    for (const auto& [front, name] : {std::pair{"PlotView_BitBtn", "plot in front"},
                                      {"ReceiveView_BitBtn", "display in front"}}) {
        window.findChild<QAbstractButton*>(QString::fromLatin1(front))->click();
        int best = 0;
        for (int rate : {1000, 2000, 4000, 8000, 16000, 24000, 32000}) {
            const LineRun r = pacedLines(window, device, rate, seconds);
            std::printf(
                "  %-16s %6d lines/s (%7d B/s): %-8s (collected %llu of %llu, counter "
                "gaps %llu, skipped %llu, held back at most %lld bytes; window's thread "
                "%.0f %% of one core)\n",
                name, rate, rate * 46, r.lossless() ? "lossless" : "LOSSY",
                static_cast<unsigned long long>(r.collected),
                static_cast<unsigned long long>(r.lines), static_cast<unsigned long long>(r.gaps),
                static_cast<unsigned long long>(r.skipped), r.heldBack, 100.0 * r.windowShare);
            if (!r.lossless())
                break;
            best = rate;
        }
        std::printf("  %-16s highest lossless rate on the ladder: %d lines/s\n", name, best);
    }
    window.COM_BitBtnClick();
}

void memoryFigures()
{
    std::printf("\nResident memory, 16 series:\n");
    printMemory("before");
    ShownPlot shown;
    feedLines(shown.feed, 0, Million, 16, shown.clock);
    shown.draw();
    printMemory("16 x 1,000,000 points collected, 1000-sample window");
    shown.panel.findChild<QComboBox*>(QStringLiteral("PlotWindowComboBox"))->setCurrentIndex(3);
    shown.panel.plot()->replot(QCustomPlot::rpImmediateRefresh);
    printMemory("the same with all points in view");
}

} // namespace

int main(int argc, char* argv[])
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const int seconds = argc > 1 ? std::max(1, atoi(argv[1])) : 5;
    const QByteArray only = argc > 2 ? QByteArray(argv[2]) : QByteArray();
    kirt::test::TempSettings settings;
    kirt::test::DialogAnswerer answers;
    if (only.isEmpty() || only == "memory")
        memoryFigures(); // first, so no other part's memory is counted
    if (only.isEmpty() || only == "redraw")
        redrawFigures();
    if (only.isEmpty() || only == "rate")
        rateFigures(seconds);
    return 0;
}
