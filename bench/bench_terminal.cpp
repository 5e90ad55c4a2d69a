// The terminal view: the median time of a full redraw of a 200x60 screen of coloured text; the
// emulator alone taking text (MB/s); and a board printing text at 1.2 MB/s through emulator and
// view for a few seconds with the view's repaints running, as the CPU share of one core.
// Prints its figures; asserts nothing.
//   bench_terminal [seconds]     (default 5)
#include "tests/support/cputime.h"
#include "ui/terminalscreen.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QThread>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

QByteArray textLines(int count, int first)
{
    QByteArray out;
    for (int i = 0; i < count; ++i)
        out += QByteArray::number(first + i).rightJustified(6, '0') +
               " THE QUICK BROWN FOX JUMPS OVER THE LAZY DOG\r\n";
    return out;
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

} // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    const double seconds = argc > 1 ? std::max(1.0, QString::fromLatin1(argv[1]).toDouble()) : 5;

    kirt::TerminalScreen screen;
    screen.setTerminalSize(60, 200);
    screen.resize(screen.sizeHint());
    screen.show();
    QCoreApplication::processEvents();

    // Every cell written, in runs of eight colours with bold and underline between.
    QByteArray full("\x1b[H");
    for (int row = 0; row < 60; ++row) {
        for (int run = 0; run < 25; ++run)
            full += "\x1b[" + QByteArray::number(31 + (row + run) % 7) +
                    (run % 3 == 0   ? ";1"
                     : run % 3 == 1 ? ";4"
                                    : "") +
                    "mabcdefgh";
        full += "\x1b[m";
    }
    screen.feed(full);
    screen.flushPaint();
    std::vector<double> redraws;
    for (int i = 0; i < 50; ++i) {
        QElapsedTimer timer;
        timer.start();
        screen.viewport()->repaint();
        redraws.push_back(static_cast<double>(timer.nsecsElapsed()) / 1e6);
    }
    std::printf("full redraw of 200x60 coloured cells: median %.2f ms (of %zu)\n", median(redraws),
                redraws.size());

    kirt::TerminalEmulator alone(24, 80);
    const QByteArray block = textLines(20000, 0);
    QElapsedTimer timer;
    timer.start();
    for (int i = 0; i < 5; ++i)
        alone.feed(block);
    std::printf("emulator alone, text lines: %.1f MB/s\n",
                5.0 * static_cast<double>(block.size()) / 1e6 /
                    (static_cast<double>(timer.nsecsElapsed()) / 1e9));

    // 1.2 MB/s as a port delivers it: a read every 4 ms, the window's thread painting between.
    screen.setTerminalSize(24, 80);
    constexpr int PeriodMs = 4;
    constexpr int BytesPerRead = 1'200'000 / (1000 / PeriodMs);
    const QByteArray stream = textLines(200000, 0);
    qsizetype at = 0;
    std::int64_t fed = 0;
    const kirt::ReadTime readAt{};
    const double share = kirt::test::cpuShareDuring([&] {
        QElapsedTimer wall;
        wall.start();
        std::int64_t reads = 0;
        while (static_cast<double>(wall.elapsed()) < seconds * 1000) {
            if (wall.elapsed() >= reads * PeriodMs) {
                if (at + BytesPerRead > stream.size())
                    at = 0;
                screen.received(reinterpret_cast<const std::uint8_t*>(stream.constData() + at),
                                BytesPerRead, readAt);
                at += BytesPerRead;
                fed += BytesPerRead;
                ++reads;
            }
            QCoreApplication::processEvents(QEventLoop::AllEvents, 1);
            const qint64 next = reads * PeriodMs - wall.elapsed();
            if (next > 0)
                QThread::msleep(static_cast<unsigned long>(next));
        }
    });
    std::printf("text at 1.2 MB/s through emulator and view: %.2f MB/s fed, CPU %.0f%% of a "
                "core\n",
                static_cast<double>(fed) / 1e6 / seconds, share * 100);
    return 0;
}
