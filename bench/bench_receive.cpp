// Receive figures: the cost of one display step; the highest paced rate through a
// pseudo-terminal that is displayed and echoed with no byte lost, plain and with the log on and
// two rules tried on every byte; a 1 MiB burst; CPU on a quiet line; resident memory. Prints its
// figures; asserts nothing.
//   bench_receive [seconds-per-rate [idle | burst | stamps | network | rate]]
//     default 5 s; "idle": the quiet line only; "burst": the 1 MiB burst only; "stamps": the
//     ladder with and without stamps and gap rows, and a search; "network": the ladder through
//     the local pseudo-terminal, then over RFC 2217 to a ser2net on loopback serving one; a
//     rate in bytes/s: that paced run only; "terminal RATE": text lines at RATE with the
//     terminal view in front (default 1200000); "monitor RATE": COM1 echoed and COM2 merged in
//     as its monitor port, each at RATE (default 600000), TIME stamps and the log on
#include "app/Umain.h"
#include "session/portsession.h"
#include "tests/support/controls.h"
#include "tests/support/cputime.h"
#include "tests/support/dialoganswerer.h"
#include "tests/support/ptydevice.h"
#include "tests/support/ser2netserver.h"
#include "tests/support/tempsettings.h"
#include "ui/caretblink.h"
#include "ui/receivedisplay.h"

#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <optional>
#include <random>
#include <span>
#include <thread>
#include <vector>

#include <poll.h>
#include <time.h>
#include <unistd.h>

using kirt::test::choose;
using kirt::test::processCpuSeconds;

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

// Streams `rate` bytes/s (0: as fast as the device takes them) for `total` bytes into the open
// port and reads the echo back on a thread of its own, as a real peer would. Lossless when
// every byte comes back, in order, the receive buffer never filled, and the terminal never held
// back from the writer more than a real line's 4 KB of driver buffer. The writer's own lateness
// (this machine not running it on time) is shown apart: a line is never late.
struct RunResult
{
    bool allEchoed = false;
    bool inOrder = false;
    bool everFull = false;
    long long behind = 0;  // most bytes the terminal held back from the writer
    long long unread = 0;  // most bytes written earlier that the program had not read
    long long late = 0;    // most bytes the writer was behind its schedule, for whatever reason
    double seconds = 0;    // from the first byte written until all displayed and echoed
    double lagSeconds = 0; // after the writer finished
    bool lossless() const { return allEchoed && inOrder && !everFull && behind <= 4096; }
};

// The stream's n-th byte: a ramp through all 256 values, or a board's text lines.
bool g_textStream = false;
std::uint8_t streamByte(long long n)
{
    static const QByteArray line =
        "I (12345) main: THE QUICK BROWN FOX JUMPS OVER THE LAZY DOG\r\n";
    return g_textStream ? static_cast<std::uint8_t>(line[n % line.size()])
                        : static_cast<std::uint8_t>(n);
}

// What a writer playing a line saw: the bytes written, how far it was held back or late, and
// how much of what it wrote the program had not read.
struct WriterFigures
{
    std::atomic<long long> sent{0};
    std::atomic<bool> done{false};
    std::atomic<long long> maxBehind{0};
    std::atomic<long long> maxLate{0};
    std::atomic<long long> maxUnread{0};
};

void writeStream(int fd, long long rate, long long total, const kirt::PortSession& session,
                 WriterFigures& f)
{
    const std::uint64_t readBefore = session.bytesRead();
    const auto start = std::chrono::steady_clock::now();
    long long value = 0;
    char chunk[4096];
    while (f.sent < total) {
        const auto elapsed = std::chrono::steady_clock::now() - start;
        const long long due =
            rate == 0
                ? total
                : std::min<long long>(
                      total, static_cast<long long>(std::chrono::duration<double>(elapsed).count() *
                                                    static_cast<double>(rate)));
        if (rate != 0)
            f.maxLate = std::max<long long>(f.maxLate, due - f.sent);
        // A USB adapter delivers in bulk packets of up to 512 bytes; bytes come in pieces of
        // at most half a millisecond's worth, not in as many tiny writes as this thread can
        // make (which cost a core of kernel time here, taken from the program).
        const long long piece =
            std::min<long long>({512, std::max<long long>(1, rate / 2000), total - f.sent});
        if (rate != 0 && due - f.sent < piece) {
            std::this_thread::sleep_for(std::chrono::microseconds(200));
            continue;
        }
        const auto n = static_cast<int>(std::min<long long>(due - f.sent, sizeof chunk));
        for (int i = 0; i < n; ++i)
            chunk[i] = static_cast<char>(streamByte(value++));
        const long long writtenBefore = f.sent;
        pollfd p{fd, POLLOUT, 0};
        ::poll(&p, 1, 100);
        const ssize_t w = ::write(fd, chunk, static_cast<size_t>(n));
        if (w > 0)
            f.sent += w;
        // Held back: what was due and the terminal refused; a line would have lost what
        // goes beyond a driver's 4 KB. Also shown: how much of what was written earlier
        // the program had not read yet (sampled before the next write, so a catch-up burst
        // after this thread was late does not count the instant it is written).
        if (rate != 0 && w < n)
            f.maxBehind = std::max<long long>(f.maxBehind, due - f.sent);
        if (rate != 0)
            f.maxUnread = std::max<long long>(
                f.maxUnread,
                writtenBefore - static_cast<long long>(session.bytesRead() - readBefore));
    }
    f.done = true;
}

// monitor: a second device playing the monitor port, written at the same rate; the program
// must never write to it.
RunResult pacedRun(TFmain& window, kirt::PtyDevice& device, long long rate, long long total,
                   kirt::PtyDevice* monitor = nullptr, long long* monitorBehind = nullptr,
                   long long* monitorWrittenTo = nullptr)
{
    const int fd = device.masterFd();
    const kirt::PortSession& session = window.session();
    QElapsedTimer clock;
    clock.start();
    WriterFigures figures;
    WriterFigures monitorFigures;
    const std::uint64_t monitorReadBefore =
        monitor ? window.monitorPort().session().bytesRead() : 0;
    std::thread writer([&] { writeStream(fd, rate, total, session, figures); });
    std::thread monitorWriter([&] {
        if (monitor)
            writeStream(monitor->masterFd(), rate, total, window.monitorPort().session(),
                        monitorFigures);
    });
    std::atomic<bool>& writerDone = figures.done;
    std::atomic<long long> echoed{0};
    std::atomic<bool> inOrder{true};
    std::atomic<bool> stopReader{false};
    std::thread reader([&] {
        long long expect = 0;
        while (!stopReader) {
            pollfd p{fd, POLLIN, 0};
            if (::poll(&p, 1, 20) <= 0)
                continue;
            char buffer[4096];
            const ssize_t r = ::read(fd, buffer, sizeof buffer);
            for (ssize_t i = 0; i < r; ++i) {
                if (static_cast<std::uint8_t>(buffer[i]) != streamByte(expect))
                    inOrder = false;
                ++expect;
            }
            if (r > 0)
                echoed += r;
        }
    });
    RunResult result;
    QElapsedTimer afterWriter;
    bool writerFinished = false;
    // The window's thread sleeps between events, as in the program's own loop; the tick only
    // wakes it to look at the figures.
    QTimer tick;
    tick.start(5);
    while (true) {
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        result.everFull = result.everFull || window.rxMemory().RxFull();
        if (writerDone && !writerFinished) {
            writerFinished = true;
            afterWriter.start();
        }
        const bool monitorDone =
            !monitor || (monitorFigures.done &&
                         window.monitorPort().session().bytesRead() - monitorReadBefore >=
                             static_cast<std::uint64_t>(total));
        if (writerFinished && ((echoed >= total && monitorDone && !window.rxMemory().pending()) ||
                               afterWriter.elapsed() > 60000))
            break;
    }
    result.seconds = static_cast<double>(clock.nsecsElapsed()) / 1e9;
    stopReader = true;
    reader.join();
    writer.join();
    monitorWriter.join();
    if (monitor) {
        *monitorBehind = monitorFigures.maxBehind;
        pollfd p{monitor->masterFd(), POLLIN, 0};
        *monitorWrittenTo = ::poll(&p, 1, 0) > 0 ? 1 : 0;
    }
    result.lagSeconds = static_cast<double>(afterWriter.elapsed()) / 1000.0;
    result.behind = figures.maxBehind;
    result.late = figures.maxLate;
    result.unread = figures.maxUnread;
    result.allEchoed = echoed == total;
    result.inOrder = inOrder;
    return result;
}

// CPU nanoseconds the window's thread (the process's first) has run.
long long windowThreadNs()
{
    QFile schedstat(QStringLiteral("/proc/self/task/%1/schedstat").arg(::getpid()));
    return schedstat.open(QIODevice::ReadOnly)
               ? schedstat.readAll().split(' ').value(0).toLongLong()
               : 0;
}

// A paced run with the share of one core the window's thread used meanwhile.
RunResult measuredRun(TFmain& window, kirt::PtyDevice& device, long long rate, long long total,
                      double& windowShare)
{
    const long long before = windowThreadNs();
    QElapsedTimer wall;
    wall.start();
    const RunResult r = pacedRun(window, device, rate, total);
    windowShare = static_cast<double>(windowThreadNs() - before) /
                  static_cast<double>(std::max<qint64>(1, wall.nsecsElapsed()));
    return r;
}

long long ladder(TFmain& window, kirt::PtyDevice& device, int seconds)
{
    long long best = 0;
    for (long long rate :
         {11520LL, 23040LL, 46080LL, 92160LL, 184320LL, 300000LL, 600000LL, 1000000LL, 1200000LL}) {
        double share = 0;
        const RunResult r = measuredRun(window, device, rate, rate * seconds, share);
        std::printf("  %8lld bytes/s for %d s: %-10s (all echoed %s, in order %s, buffer full %s, "
                    "held back at most %lld bytes; at most %lld unread, writer at most %lld late; "
                    "done %.2f s after the writer; window's thread %.0f %% of one core)\n",
                    rate, seconds, r.lossless() ? "lossless" : "LOSSY", r.allEchoed ? "yes" : "no",
                    r.inOrder ? "yes" : "no", r.everFull ? "yes" : "no", r.behind, r.unread, r.late,
                    r.lagSeconds, 100.0 * share);
        if (!r.lossless())
            break;
        best = rate;
    }
    std::printf("  highest lossless rate on the ladder: %lld bytes/s\n", best);
    return best;
}

// Rows at the new-line character 0A (one in 256 random bytes), first without stamps or gap
// rows, then with "TIME" stamps and rows after 20 ms gaps; then a search over the 5000 rows
// the display is left with.
void stampedLadder(TFmain& window, kirt::PtyDevice& device, int seconds)
{
    window.findChild<QLineEdit*>(QStringLiteral("NewLineCharEdit"))->setText(QStringLiteral("0A"));
    std::printf("\nThe ladder with rows at 0A, stamps and gap rows OFF:\n");
    const long long plain = ladder(window, device, seconds);
    choose(&window, "TimeStampComboBox", 1);
    choose(&window, "GapSplitComboBox", 3);
    std::printf("\nThe same with \"TIME\" stamps and a new row after a 20 ms gap:\n");
    const long long stamped = ladder(window, device, seconds);
    std::printf("  stamped rate / plain rate: %.0f %%\n",
                plain > 0 ? 100.0 * static_cast<double>(stamped) / static_cast<double>(plain)
                          : 0.0);

    auto* display = window.findChild<kirt::ReceiveDisplay*>(QStringLiteral("mMessage"));
    display->flushPending();
    auto* edit = window.findChild<QLineEdit*>(QStringLiteral("SearchEdit"));
    auto* next = window.findChild<QAbstractButton*>(QStringLiteral("SearchNextButton"));
    auto* count = window.findChild<QLabel*>(QStringLiteral("SearchCountLabel"));
    window.EditFindClick();
    std::vector<double> typed;
    std::vector<double> stepped;
    for (int i = 0; i < 7; ++i) {
        QElapsedTimer t;
        t.start();
        edit->setText(i % 2 ? QStringLiteral("09 0a") : QStringLiteral("090A"));
        typed.push_back(static_cast<double>(t.nsecsElapsed()) / 1e6);
        t.restart();
        next->click();
        stepped.push_back(static_cast<double>(t.nsecsElapsed()) / 1e6);
    }
    std::printf("\nSearch over %u rows (HEX, stamped), \"09 0A\" (each across a row end and a "
                "stamp): typing %.1f ms, Next %.1f ms "
                "(medians of 7; %s matches)\n",
                display->rowCount(), median(typed), median(stepped),
                qPrintable(count->text().section(QStringLiteral(" of "), 1)));
    window.findChild<QWidget*>(QStringLiteral("SearchBar"))->hide();
    choose(&window, "TimeStampComboBox", 0);
    choose(&window, "GapSplitComboBox", 0);
    window.findChild<QLineEdit*>(QStringLiteral("NewLineCharEdit"))->setText(QStringLiteral("00"));
}

// CPU nanoseconds each thread of the process has run, by name: the scheduler's own count,
// exact where the tick counts of stat only sample.
std::vector<std::pair<QByteArray, long long>> threadTimes()
{
    std::vector<std::pair<QByteArray, long long>> times;
    const QDir tasks(QStringLiteral("/proc/self/task"));
    for (const QString& tid : tasks.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile schedstat(tasks.filePath(tid + QStringLiteral("/schedstat")));
        QFile comm(tasks.filePath(tid + QStringLiteral("/comm")));
        if (!schedstat.open(QIODevice::ReadOnly) || !comm.open(QIODevice::ReadOnly))
            continue;
        times.emplace_back(tid.toLatin1() + ' ' + comm.readAll().trimmed(),
                           schedstat.readAll().split(' ').value(0).toLongLong());
    }
    return times;
}

// The process's resident and peak resident memory, in KiB, as the kernel reports them.
void printMemory()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return;
    for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith("VmRSS") || line.startsWith("VmHWM"))
            std::printf("  %s\n", line.simplified().constData());
}

void quietLine(const QByteArray& what)
{
    const auto timesBefore = threadTimes();
    const double cpuBefore = processCpuSeconds();
    QElapsedTimer wall;
    wall.start();
    QEventLoop quiet;
    QTimer::singleShot(10000, &quiet, &QEventLoop::quit);
    quiet.exec();
    const double cpu = processCpuSeconds() - cpuBefore;
    const double seconds = static_cast<double>(wall.nsecsElapsed()) / 1e9;
    std::printf("\nQuiet line, port open, 10 s, %s: %.3f %% of one core (%.1f ms CPU in %.1f s)\n",
                what.constData(), 100.0 * cpu / seconds, cpu * 1000.0, seconds);
    for (const auto& [name, ns] : threadTimes()) {
        long long before = 0;
        for (const auto& [n, t] : timesBefore)
            if (n == name)
                before = t;
        if (ns != before)
            std::printf("  thread %-28s %.1f ms\n", name.constData(),
                        static_cast<double>(ns - before) / 1e6);
    }
}

} // namespace

// The ladder again with COM2 leading to ser2net on loopback, which serves a pseudo-terminal of
// its own: the device end writes to that one's master, Kirt reads and echoes over RFC 2217.
void networkLadder(TFmain& window, int seconds)
{
    kirt::PtyDevice served(3);
    kirt::test::Ser2netServer server;
    QString error;
    if (!server.start(served.slavePath(), true, error)) {
        std::printf("\nNo RFC 2217 ladder: %s\n", qPrintable(error));
        return;
    }
    qputenv("KIRT_COM2", server.address().toUtf8());
    if (window.portOpen())
        window.COM_BitBtnClick();
    choose(&window, "SerialPortComboBox", 1);
    window.COM_BitBtnClick();
    std::printf("\nThe same ladder over RFC 2217 (%s, ser2net serving a pseudo-terminal):\n",
                qPrintable(server.address()));
    if (!window.portOpen()) {
        std::printf("  could not open it\n");
        return;
    }
    ladder(window, served, seconds);
    window.COM_BitBtnClick();
    choose(&window, "SerialPortComboBox", 0);
}

// The log of a merged run: every row one port's, its stamp never before the row above's,
// each port's bytes its whole stream in order.
void checkMergedLog(const QString& path, long long total, bool stamped)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        std::printf("  log: NOT READ\n");
        return;
    }
    static const QRegularExpression stampedRow(
        QStringLiteral(R"(^\[(\d\d):(\d\d):(\d\d)\.(\d\d\d)\] COM([12])> (.*)$)"));
    static const QRegularExpression plainRow(QStringLiteral(R"(^()()()()COM([12])> (.*)$)"));
    const QRegularExpression& row = stamped ? stampedRow : plainRow;
    long long count[2] = {0, 0};
    long long rows = 0;
    long long badRows = 0;
    long long stampsBack = 0;
    bool inOrder[2] = {true, true};
    int lastMs = -1;
    while (!file.atEnd()) {
        const QString line = QString::fromLatin1(file.readLine()).trimmed();
        if (line.isEmpty())
            continue;
        const QRegularExpressionMatch m = row.match(line);
        if (!m.hasMatch()) {
            ++badRows;
            continue;
        }
        ++rows;
        const int ms =
            ((m.captured(1).toInt() * 60 + m.captured(2).toInt()) * 60 + m.captured(3).toInt()) *
                1000 +
            m.captured(4).toInt();
        if (ms < lastMs)
            ++stampsBack;
        lastMs = ms;
        const int source = m.captured(5).toInt() - 1;
        for (const QString& byte : m.captured(6).split(u' ', Qt::SkipEmptyParts)) {
            if (byte.toUInt(nullptr, 16) != streamByte(count[source]))
                inOrder[source] = false;
            ++count[source];
        }
    }
    const QByteArray order =
        stamped ? QByteArray::number(stampsBack) + " rows stamped before the row above"
                : QByteArray("no stamps");
    std::printf("  log: %lld rows (%lld not a port's row), %s; COM1 %lld of %lld bytes %s, COM2 "
                "%lld of %lld bytes %s\n",
                rows, badRows, order.constData(), count[0], total,
                inOrder[0] ? "in order" : "OUT OF ORDER", count[1], total,
                inOrder[1] ? "in order" : "OUT OF ORDER");
}

int main(int argc, char* argv[])
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const int seconds = argc > 1 ? std::max(1, atoi(argv[1])) : 5;
    kirt::test::TempSettings settings;
    kirt::test::DialogAnswerer answers;
    const bool idleOnly = argc > 2 && QByteArray(argv[2]) == "idle";
    const bool burstOnly = argc > 2 && QByteArray(argv[2]) == "burst";
    const bool stampsOnly = argc > 2 && QByteArray(argv[2]) == "stamps";
    const bool networkOnly = argc > 2 && QByteArray(argv[2]) == "network";
    const bool terminalOnly = argc > 2 && QByteArray(argv[2]) == "terminal";
    const bool monitorOnly = argc > 2 && QByteArray(argv[2]) == "monitor";
    const long long oneRate = monitorOnly ? (argc > 3 ? QByteArray(argv[3]).toLongLong() : 600000)
                              : terminalOnly
                                  ? (argc > 3 ? QByteArray(argv[3]).toLongLong() : 1200000)
                              : argc > 2 && !idleOnly && !burstOnly && !stampsOnly && !networkOnly
                                  ? QByteArray(argv[2]).toLongLong()
                                  : 0;
    g_textStream = terminalOnly;

    std::printf("Display step, median microseconds per byte (hand-over + display):\n");
    const Config configs[] = {{"HEX, Default", 0, false},
                              {"ASC, Default", 1, false},
                              {"HEX, 5000 rows, vertical", 0, true},
                              {"ASC, 5000 rows, vertical", 1, true}};
    const bool stepsToo = !idleOnly && !burstOnly && !networkOnly && oneRate == 0;
    if (terminalOnly || monitorOnly)
        std::printf("  (none: the %s run only)\n", terminalOnly ? "terminal" : "monitor");
    for (const Config& c : stepsToo ? std::span(configs) : std::span<const Config>()) {
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

    std::printf("\nPaced ladder through a pseudo-terminal, HEX, 5000 rows, vertical scroll bar, "
                "echo on:\n");
    kirt::PtyDevice device(1);
    TFmain window;
    window.show();
    choose(&window, "DisplayFormatComboBox", 0);
    choose(&window, "ScrollBarComboBox", 1);
    choose(&window, "LineLimitComboBox", 15);
    choose(&window, "EchoOnOffComboBox", 1);
    std::optional<kirt::PtyDevice> monitor;
    if (monitorOnly) {
        monitor.emplace(2);
        choose(&window, "MonitorPortComboBox", 2);
    }
    window.COM_BitBtnClick();
    if (!window.portOpen()) {
        std::printf("  could not open the pseudo-terminal\n");
        return 1;
    }
    if (terminalOnly) {
        // A board's console: text lines, the terminal in front drawing them as they come.
        window.TerminalView_BitBtnClick();
        std::printf("  text lines, terminal view in front\n");
    }
    if (monitorOnly) {
        // First as asked of a bench (rows named, no stamps), then with "TIME" stamps, which let
        // the log show that the rows came in the order they were read.
        for (const int stamps : {0, 1}) {
            choose(&window, "TimeStampComboBox", stamps);
            QTemporaryDir logDir;
            logDir.setAutoRemove(qEnvironmentVariableIsEmpty("KIRT_BENCH_KEEP_LOG"));
            const QString log = logDir.filePath(QStringLiteral("merged.log"));
            answers.answers.push_back(true);
            answers.paths.push_back(log);
            window.RunTimeSave1Click();
            std::printf(
                "  COM1 echoed, COM2 its monitor, each at %lld bytes/s for %d s; %s; log %s\n",
                oneRate, seconds, stamps ? "TIME stamps" : "no stamps",
                window.realTimeSaveOn() ? "on" : "DID NOT START");
            long long monitorBehind = 0;
            long long monitorWrittenTo = 0;
            const long long before = windowThreadNs();
            QElapsedTimer wall;
            wall.start();
            const RunResult r = pacedRun(window, device, oneRate, oneRate * seconds, &*monitor,
                                         &monitorBehind, &monitorWrittenTo);
            const double share = static_cast<double>(windowThreadNs() - before) /
                                 static_cast<double>(std::max<qint64>(1, wall.nsecsElapsed()));
            // The monitor's last reads may still be on their way to the display and the log.
            QElapsedTimer settle;
            settle.start();
            while (settle.elapsed() < 500)
                QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
            answers.answers.push_back(true); // "OK to Run Time Save Stop ?"
            window.RunTimeSave1Click();
            std::printf("  COM1: %s (held back at most %lld bytes; at most %lld unread, writer at "
                        "most %lld late); COM2: %s (held back at most %lld bytes, %s written to "
                        "it); window's thread %.0f %% of one core\n",
                        r.lossless() ? "lossless" : "LOSSY", r.behind, r.unread, r.late,
                        monitorBehind <= 4096 ? "lossless" : "LOSSY", monitorBehind,
                        monitorWrittenTo ? "SOMETHING" : "nothing", 100.0 * share);
            checkMergedLog(log, oneRate * seconds, stamps != 0);
        }
        return 0;
    }
    if (oneRate > 0) {
        double share = 0;
        const RunResult r = measuredRun(window, device, oneRate, oneRate * seconds, share);
        std::printf("  %lld bytes/s for %d s: %s (held back at most %lld bytes; at most %lld "
                    "unread, writer at most %lld late; window's thread %.0f %% of one core)\n",
                    oneRate, seconds, r.lossless() ? "lossless" : "LOSSY", r.behind, r.unread,
                    r.late, 100.0 * share);
        return 0;
    }
    if (stampsOnly) {
        stampedLadder(window, device, seconds);
        return 0;
    }
    if (networkOnly) {
        ladder(window, device, seconds);
        networkLadder(window, seconds);
        return 0;
    }
    if (!idleOnly && !burstOnly)
        ladder(window, device, seconds);

    constexpr long long Burst = 1 << 20;
    const long long windowBefore = windowThreadNs();
    const RunResult burst = pacedRun(window, device, 0, idleOnly ? 1 : Burst);
    std::printf("\n1 MiB written as fast as the device takes it, until all displayed and echoed: "
                "%.3f s (%s; the window's thread ran %.0f ms of it)\n",
                burst.seconds, burst.allEchoed && burst.inOrder ? "all echoed in order" : "LOSSY",
                static_cast<double>(windowThreadNs() - windowBefore) / 1e6);
    if (burstOnly)
        return 0;

    // A quiet line: the whole process, window and receive thread, over 10 s of its own loop;
    // first right after a key (the caret blinks), then with nobody at the keys (it rests).
    auto* blink = window.findChild<kirt::CaretBlink*>(QStringLiteral("CaretBlink"));
    QEventLoop settle;
    QTimer::singleShot(1000, &settle, &QEventLoop::quit);
    settle.exec();
    blink->wake();
    quietLine(QByteArrayLiteral("right after a key, caret blinking"));
    QTimer::singleShot(1000, &settle, &QEventLoop::quit);
    settle.exec(); // the caret comes to rest 10 s after the key and is painted on once
    quietLine(blink->resting() ? QByteArrayLiteral("nobody at the keys, caret at rest")
                               : QByteArrayLiteral("caret STILL BLINKING"));

    if (idleOnly)
        return 0;
    stampedLadder(window, device, seconds);
    std::printf("\nThe same ladder with the real-time log on and two rules tried on every byte:\n");
    // Requests the ramp of the stream never holds, so every byte is tried and none answered.
    kirt::test::enableRule(&window, 1, QStringLiteral("A55A"), QStringLiteral("01"));
    kirt::test::enableRule(&window, 2, QStringLiteral("C33C"), QStringLiteral("02"));
    QTemporaryDir logDir;
    answers.answers.push_back(true);
    answers.paths.push_back(logDir.filePath(QStringLiteral("bench.XLS")));
    window.RunTimeSave1Click();
    std::printf("  log %s\n", window.realTimeSaveOn() ? "on" : "DID NOT START");
    ladder(window, device, seconds);

    std::printf("\nResident memory at the end:\n");
    printMemory();
    window.COM_BitBtnClick();
    return 0;
}
