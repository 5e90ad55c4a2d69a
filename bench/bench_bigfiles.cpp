// Big files through "Open": the time to load one into the display and to set up its transmit,
// and the resident memory before, at the peak and after, for a single 1 MB line, a large file
// of mixed lines and, the worst case for finding where the shown part starts, a large file
// that is one line. Prints its figures; asserts nothing.
//   bench_bigfiles [megabytes] [--whole]     (default 100; --whole also times loading the
//                                             large file the old way, all of it at once)
#include "app/Umain.h"
#include "tests/support/dialoganswerer.h"
#include "tests/support/ptydevice.h"
#include "tests/support/tempsettings.h"
#include "ui/receivedisplay.h"

#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <random>
#include <thread>

namespace {

long statusKb(const char* field)
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith(field))
            return line.mid(qsizetype(qstrlen(field))).trimmed().split(' ').first().toLong();
    return 0;
}

// Resident memory around one step: before, the highest seen while it ran, and after.
class MemoryWatch
{
public:
    MemoryWatch() : m_before(statusKb("VmRSS:"))
    {
        m_peak = m_before;
        // The kernel's own peak is reset where it allows; a sampler backs it up.
        QFile refs(QStringLiteral("/proc/self/clear_refs"));
        m_kernelPeak = refs.open(QIODevice::WriteOnly) && refs.write("5") == 1;
        m_sampler = std::thread([this] {
            while (!m_stop) {
                m_peak = std::max(m_peak.load(), statusKb("VmRSS:"));
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            }
        });
    }
    ~MemoryWatch() { stop(); }
    MemoryWatch(const MemoryWatch&) = delete;
    MemoryWatch& operator=(const MemoryWatch&) = delete;

    void stop()
    {
        if (m_stop.exchange(true))
            return;
        m_sampler.join();
        if (m_kernelPeak)
            m_peak = std::max(m_peak.load(), statusKb("VmHWM:"));
        m_after = statusKb("VmRSS:");
    }
    QString figures() const
    {
        return QStringLiteral("RSS before %1 MB, peak %2 MB, after %3 MB")
            .arg(double(m_before) / 1024, 0, 'f', 1)
            .arg(double(m_peak.load()) / 1024, 0, 'f', 1)
            .arg(double(m_after) / 1024, 0, 'f', 1);
    }

private:
    long m_before = 0;
    long m_after = 0;
    std::atomic<long> m_peak{0};
    std::atomic<bool> m_stop{false};
    bool m_kernelPeak = false;
    std::thread m_sampler;
};

void print(const QString& line)
{
    std::printf("%s\n", qPrintable(line));
    std::fflush(stdout);
}

// Mixed lines written a megabyte at a time, so making the file costs no memory: mostly short
// text lines with CR LF, some empty, some longer than a transmit piece, a few lone LFs.
bool writeMixedFile(const QString& path, qint64 bytes)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    std::mt19937 random(1234);
    std::uniform_int_distribution<int> kind(0, 99);
    std::uniform_int_distribution<int> length(0, 120);
    QByteArray block;
    qint64 written = 0;
    qint64 line = 0;
    while (written < bytes) {
        block.clear();
        while (block.size() < (1 << 20)) {
            const int k = kind(random);
            if (k < 5) {
                block += "\r\n";
                continue;
            }
            block += QByteArray::number(line++).rightJustified(10, '0');
            block += ' ';
            block += QByteArray(k < 8 ? 450 : length(random), char('a' + k % 26));
            block += k < 12 ? "\n" : "\r\n";
        }
        const qint64 n = std::min<qint64>(block.size(), bytes - written);
        if (file.write(block.constData(), n) != n)
            return false;
        written += n;
    }
    return file.flush();
}

struct Bench
{
    kirt::test::TempSettings settings;
    kirt::test::DialogAnswerer answers;
    kirt::PtyDevice device{1};
    TFmain window;
    kirt::ReceiveDisplay* display = nullptr;
    QWidget* downloadPanel = nullptr;

    Bench()
    {
        display = window.findChild<kirt::ReceiveDisplay*>(QStringLiteral("mMessage"));
        downloadPanel = window.findChild<QWidget*>(QStringLiteral("DownloadPanel"));
        window.show();
        kirt::PtyDevice::serveEvents(100);
    }

    // A scroll bar and the line limit at the given entry of its box.
    void keepRows(int index)
    {
        for (const auto& [name, entry] :
             {std::pair{"ScrollBarComboBox", 1}, std::pair{"LineLimitComboBox", index}}) {
            auto* box = window.findChild<QComboBox*>(QLatin1String(name));
            box->setCurrentIndex(entry);
            emit box->activated(entry);
        }
    }

    void load(const QString& label, const QString& path)
    {
        if (window.portOpen())
            window.COM_BitBtnClick();
        display->clearDisplay();
        MemoryWatch memory;
        QElapsedTimer clock;
        clock.start();
        answers.paths.push_back(path);
        window.FileOpenClick();
        const double ms = double(clock.nsecsElapsed()) / 1e6;
        memory.stop();
        print(QStringLiteral("%1  load: %2 ms, %3 rows shown; %4")
                  .arg(label)
                  .arg(ms, 0, 'f', 1)
                  .arg(display->rowCount())
                  .arg(memory.figures()));
    }

    // The transmit set-up (counting the lines), then a second of ticks, timing the longest
    // wait the window's events had meanwhile.
    void send(const QString& label, const QString& path)
    {
        if (!window.portOpen())
            window.COM_BitBtnClick();
        MemoryWatch memory;
        QElapsedTimer clock;
        clock.start();
        answers.paths.push_back(path);
        answers.answers.push_back(true);
        window.FileOpenClick();
        const double setupMs = double(clock.nsecsElapsed()) / 1e6;
        memory.stop();

        MemoryWatch ticking;
        QElapsedTimer gap;
        gap.start();
        qint64 longestGapNs = 0;
        QTimer probe;
        probe.setInterval(2);
        QObject::connect(&probe, &QTimer::timeout, [&] {
            longestGapNs = std::max(longestGapNs, gap.nsecsElapsed());
            gap.restart();
        });
        probe.start();
        qint64 received = 0;
        QElapsedTimer run;
        run.start();
        while (run.elapsed() < 1000)
            received += device.receive(1 << 20, 20).size();
        probe.stop();
        const bool stillSending = !downloadPanel->isHidden();
        window.COM_BitBtnClick(); // ends the transmit at its next tick
        kirt::PtyDevice::serveEvents(50);
        ticking.stop();
        print(QStringLiteral("%1  transmit set-up: %2 ms; %3")
                  .arg(label)
                  .arg(setupMs, 0, 'f', 1)
                  .arg(memory.figures()));
        print(QStringLiteral("%1  one second of ticks: %2 bytes sent%3, longest event wait "
                             "%4 ms; %5")
                  .arg(label)
                  .arg(received)
                  .arg(stillSending ? QString() : QStringLiteral(" (file done)"))
                  .arg(double(longestGapNs) / 1e6, 0, 'f', 1)
                  .arg(ticking.figures()));
    }

    // The old way, for comparison: all of the file into memory and the display, then cut.
    void wholeLoad(const QString& label, const QString& path)
    {
        display->clearDisplay();
        MemoryWatch memory;
        QElapsedTimer clock;
        clock.start();
        {
            QFile file(path);
            if (!file.open(QIODevice::ReadOnly))
                return;
            display->setDisplayText(QString::fromLatin1(file.readAll()));
            window.TrimDisplayLines();
        }
        const double ms = double(clock.nsecsElapsed()) / 1e6;
        memory.stop();
        print(QStringLiteral("%1  whole load (old way): %2 ms; %3")
                  .arg(label)
                  .arg(ms, 0, 'f', 1)
                  .arg(memory.figures()));
    }
};

} // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    const QStringList args = app.arguments().mid(1);
    const bool whole = args.contains(QStringLiteral("--whole"));
    qint64 megabytes = 100;
    for (const QString& a : args)
        if (a.toLongLong() > 0)
            megabytes = a.toLongLong();

    QTemporaryDir dir;
    const QString linePath = dir.filePath(QStringLiteral("line.txt"));
    const QString bigPath = dir.filePath(QStringLiteral("big.txt"));
    const QString bigLinePath = dir.filePath(QStringLiteral("bigline.txt"));
    const auto writeLine = [](const QString& path, qint64 size) {
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly))
            return false;
        const QByteArray block(1 << 20, 'L');
        for (qint64 i = 0; i < size; ++i)
            if (file.write(block) != block.size())
                return false;
        return true;
    };
    if (!writeLine(linePath, 1) || !writeLine(bigLinePath, megabytes) ||
        !writeMixedFile(bigPath, megabytes << 20))
        return 1;

    Bench bench;
    print(QStringLiteral("display: %1 columns, %2 rows kept")
              .arg(bench.display->columns())
              .arg(bench.window.displayLineLimit()));
    const QString bigLabel = QStringLiteral("%1 MB mixed lines").arg(megabytes);
    const QString lineLabel = QStringLiteral("1 MB single line");
    const QString bigLineLabel = QStringLiteral("%1 MB single line").arg(megabytes);
    bench.load(lineLabel, linePath);
    bench.load(bigLabel, bigPath);
    bench.load(bigLineLabel, bigLinePath);
    bench.keepRows(15);
    print(QStringLiteral("display: %1 rows kept").arg(bench.window.displayLineLimit()));
    bench.load(lineLabel, linePath);
    bench.load(bigLabel, bigPath);
    bench.load(bigLineLabel, bigLinePath);
    bench.send(lineLabel, linePath);
    bench.send(bigLabel, bigPath);
    bench.send(bigLineLabel, bigLinePath);
    bench.wholeLoad(lineLabel, linePath);
    if (whole)
        bench.wholeLoad(bigLabel, bigPath);
    print(
        QStringLiteral("at the end: RSS %1 MB").arg(double(statusKb("VmRSS:")) / 1024, 0, 'f', 1));
    return 0;
}
