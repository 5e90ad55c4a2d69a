// Receive display figures: the cost of one display step, and the highest paced rate through a
// pseudo-terminal that is displayed with no byte lost. Prints its figures; asserts nothing.
//   bench_receive [seconds-per-rate-run]     (default 30 for the goal rate, 10 for the search)
#include "app/Umain.h"
#include "tests/support/controls.h"
#include "tests/support/dialoganswerer.h"
#include "tests/support/ptydevice.h"
#include "tests/support/tempsettings.h"
#include "ui/receivedisplay.h"

#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <random>
#include <thread>
#include <vector>

#include <poll.h>
#include <unistd.h>

using kirt::test::choose;

namespace {

struct Config
{
    const char* name;
    int format; // 0 HEX, 1 ASC
    bool vertical5000;
};

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v.empty() ? 0.0 : v[v.size() / 2];
}

// Median microseconds of one step (hand a byte over, display it), in batches of 64.
double stepCost(TFmain& window, kirt::ReceiveDisplay* display, int format, bool full)
{
    std::mt19937 random(7);
    auto nextByte = [&] {
        // Text with a line every ~70 characters in ASC; any byte in HEX.
        const auto r = static_cast<std::uint8_t>(random());
        if (format == 1)
            return r % 71 == 0 ? std::uint8_t{'\n'} : static_cast<std::uint8_t>(0x20 + r % 95);
        return r;
    };
    window.CLEAR_BitBtnClick();
    if (full) {
        while (display->rowCount() < window.displayLineLimit()) {
            for (int i = 0; i < 256; ++i) {
                const std::uint8_t b = nextByte();
                window.StoreRxChunk(&b, 1);
                window.RxDisplayStep();
            }
            window.RxDisplayStepsDone();
            QCoreApplication::processEvents();
        }
    }
    std::vector<double> samples;
    constexpr int Batch = 64;
    for (int round = 0; round < 200; ++round) {
        QElapsedTimer timer;
        timer.start();
        for (int i = 0; i < Batch; ++i) {
            const std::uint8_t b = nextByte();
            window.StoreRxChunk(&b, 1);
            window.RxDisplayStep();
            if (i % 4 == 3) {
                window.RxDisplayStepsDone(); // one hand-over carries up to four steps
                QCoreApplication::processEvents();
            }
        }
        samples.push_back(static_cast<double>(timer.nsecsElapsed()) / 1000.0 / Batch);
        if (!full && display->rowCount() > window.displayLineLimit() / 2)
            window.CLEAR_BitBtnClick();
    }
    return median(samples);
}

// Streams `rate` bytes/s for `seconds` into the open port and reads the echo back. Lossless
// when every byte comes back, in order, and the receive buffer never filled.
bool pacedRun(TFmain& window, kirt::PtyDevice& device, int rate, int seconds, double& lagSeconds,
              long long& behindBytes)
{
    const int fd = device.masterFd();
    const long long total = static_cast<long long>(rate) * seconds;
    std::atomic<long long> sent{0};
    std::atomic<bool> writerDone{false};
    std::atomic<long long> maxBehind{0};
    std::thread writer([&] {
        const auto start = std::chrono::steady_clock::now();
        std::uint8_t value = 0;
        char chunk[64];
        while (sent < total) {
            const auto elapsed = std::chrono::steady_clock::now() - start;
            const long long due = std::min<long long>(
                total,
                static_cast<long long>(std::chrono::duration<double>(elapsed).count() * rate));
            maxBehind = std::max<long long>(maxBehind, due - sent);
            if (sent >= due) {
                std::this_thread::sleep_for(std::chrono::microseconds(200));
                continue;
            }
            const auto n = static_cast<int>(std::min<long long>(due - sent, sizeof chunk));
            for (int i = 0; i < n; ++i)
                chunk[i] = static_cast<char>(value++);
            pollfd p{fd, POLLOUT, 0};
            ::poll(&p, 1, 100);
            const ssize_t w = ::write(fd, chunk, static_cast<size_t>(n));
            if (w > 0)
                sent += w;
            value = static_cast<std::uint8_t>(value - (n - std::max<ssize_t>(w, 0)));
        }
        writerDone = true;
    });
    // The device reads the echo on its own thread, as a real peer would, so the window's
    // thread only runs the window.
    std::atomic<long long> echoed{0};
    std::atomic<bool> inOrder{true};
    std::atomic<bool> stopReader{false};
    std::thread reader([&] {
        std::uint8_t expect = 0;
        while (!stopReader) {
            pollfd p{fd, POLLIN, 0};
            if (::poll(&p, 1, 20) <= 0)
                continue;
            char buffer[4096];
            const ssize_t r = ::read(fd, buffer, sizeof buffer);
            for (ssize_t i = 0; i < r; ++i) {
                if (static_cast<std::uint8_t>(buffer[i]) != expect)
                    inOrder = false;
                ++expect;
            }
            if (r > 0)
                echoed += r;
        }
    });
    bool everFull = false;
    QElapsedTimer afterWriter;
    bool writerFinished = false;
    while (true) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        everFull = everFull || window.rxMemory().RxFull();
        if (writerDone && !writerFinished) {
            writerFinished = true;
            afterWriter.start();
        }
        if (writerFinished && (echoed >= total || afterWriter.elapsed() > 60000))
            break;
    }
    stopReader = true;
    reader.join();
    writer.join();
    lagSeconds = static_cast<double>(afterWriter.elapsed()) / 1000.0;
    behindBytes = maxBehind;
    // The pseudo-terminal holds the writer back while the reader lags; how far is printed, since
    // on a real line more than the driver's 4 KB buffer would have been lost.
    return echoed == total && inOrder && !everFull;
}

} // namespace

int main(int argc, char* argv[])
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const int seconds = argc > 1 ? std::max(1, atoi(argv[1])) : 30;
    kirt::test::TempSettings settings;
    kirt::test::DialogAnswerer answers;

    std::printf("Display step, median microseconds per byte (hand-over + display):\n");
    const Config configs[] = {{"HEX, Default", 0, false},
                              {"ASC, Default", 1, false},
                              {"HEX, 5000 rows, vertical", 0, true},
                              {"ASC, 5000 rows, vertical", 1, true}};
    for (const Config& c : configs) {
        TFmain window;
        window.show();
        choose(&window, "DisplayFormatComboBox", c.format);
        if (c.vertical5000) {
            choose(&window, "ScrollBarComboBox", 1);
            choose(&window, "LineLimitComboBox", 15);
        }
        auto* display = window.findChild<kirt::ReceiveDisplay*>(QStringLiteral("mMessage"));
        const double empty = stepCost(window, display, c.format, false);
        const double full = stepCost(window, display, c.format, true);
        std::printf("  %-26s empty %6.1f us   full (%u rows) %6.1f us   full/empty %.2f\n", c.name,
                    empty, display->rowCount(), full, full / empty);
    }

    std::printf("\nPaced stream through a pseudo-terminal, HEX, 5000 rows, vertical scroll bar, "
                "echo on:\n");
    kirt::PtyDevice device(1);
    TFmain window;
    window.show();
    choose(&window, "DisplayFormatComboBox", 0);
    choose(&window, "ScrollBarComboBox", 1);
    choose(&window, "LineLimitComboBox", 15);
    choose(&window, "EchoOnOffComboBox", 1);
    window.COM_BitBtnClick();
    if (!window.portOpen()) {
        std::printf("  could not open the pseudo-terminal\n");
        return 1;
    }
    double lag = 0;
    long long behind = 0;
    const int goal = 23040;
    const bool goalOk = pacedRun(window, device, goal, seconds, lag, behind);
    std::printf("  %6d bytes/s for %d s: %s (writer at most %lld bytes behind; display done %.2f s "
                "after the writer)\n",
                goal, seconds, goalOk ? "lossless" : "LOST BYTES", behind, lag);
    int best = goalOk ? goal : 0;
    const int search = std::max(1, seconds / 3);
    for (int rate : {27000, 32000, 38000, 46080, 57600, 80000}) {
        const bool ok = pacedRun(window, device, rate, search, lag, behind);
        std::printf("  %6d bytes/s for %d s: %s (writer at most %lld bytes behind; done %.2f s "
                    "after)\n",
                    rate, search, ok ? "lossless" : "LOST BYTES", behind, lag);
        if (!ok)
            break;
        best = rate;
    }
    std::printf("  highest lossless rate measured: %d bytes/s (%.1fx the goal)\n", best,
                static_cast<double>(best) / goal);
    window.COM_BitBtnClick();
    return 0;
}
