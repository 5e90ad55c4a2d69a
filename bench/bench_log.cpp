// Real-time log figures: the cost of one logged byte with an empty log and with a 10 MB log,
// for the log step alone and for a whole display step with the log running, beside the cost of
// rewriting the whole file after every byte. Prints its figures; asserts nothing.
//   bench_log [samples]     (default 20000 per figure)
#include "app/Umain.h"
#include "display/logfile.h"
#include "display/logformat.h"
#include "tests/support/controls.h"
#include "tests/support/dialoganswerer.h"
#include "tests/support/ptydevice.h"
#include "tests/support/tempsettings.h"

#include <QApplication>
#include <QComboBox>
#include <QDateTime>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <vector>

using kirt::test::choose;

namespace {

constexpr qint64 LargeLog = 10 * 1024 * 1024;

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v.empty() ? 0.0 : v[v.size() / 2];
}

double percentile90(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v.empty() ? 0.0 : v[v.size() * 9 / 10];
}

// Grows a log file to at least `size` bytes with rows like the log's own.
bool growTo(const QString& path, qint64 size)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Append))
        return false;
    const QByteArray rows = QByteArray("41   5 Mar 2024 14:07:09\r\n").repeated(40000);
    while (file.size() < size)
        if (file.write(rows) != rows.size())
            return false;
    return true;
}

// Microseconds of each log step (time stamp, entry text, append) on an open log.
std::vector<double> logSteps(kirt::LogFile& log, int samples)
{
    const kirt::LogLayout layout{true, kirt::LogCondition::EveryByte, true};
    std::vector<double> costs;
    costs.reserve(static_cast<std::size_t>(samples));
    for (int i = 0; i < samples; ++i) {
        QElapsedTimer timer;
        timer.start();
        const auto ch = static_cast<std::uint8_t>(i);
        const QString stamp = kirt::LogEntryNeedsTimeStamp(layout, ch)
                                  ? kirt::LogTimeStampText(QDateTime::currentDateTime())
                                  : QString();
        log.append(kirt::LogEntry(layout, ch, stamp));
        costs.push_back(static_cast<double>(timer.nsecsElapsed()) / 1000.0);
    }
    return costs;
}

void printFigure(const char* what, const std::vector<double>& empty,
                 const std::vector<double>& large)
{
    const double e = median(empty);
    const double l = median(large);
    std::printf("  %-34s empty %7.2f us (p90 %7.2f)   10 MB %7.2f us (p90 %7.2f)   10 MB/empty "
                "%.2f\n",
                what, e, percentile90(empty), l, percentile90(large), l / e);
}

// Microseconds of each display step (hand-over, display, log) with the window's log running.
std::vector<double> displaySteps(TFmain& window, int samples)
{
    std::vector<double> costs;
    costs.reserve(static_cast<std::size_t>(samples));
    for (int i = 0; i < samples; ++i) {
        const auto b = static_cast<std::uint8_t>(i);
        QElapsedTimer timer;
        timer.start();
        window.StoreRxChunk(&b, 1);
        window.RxDisplayStep();
        window.RxDisplayStepsDone();
        costs.push_back(static_cast<double>(timer.nsecsElapsed()) / 1000.0);
        if (i % 16 == 15)
            QCoreApplication::processEvents();
    }
    return costs;
}

} // namespace

int main(int argc, char* argv[])
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const int samples = argc > 1 ? std::max(100, atoi(argv[1])) : 20000;
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("bench.XLS"));

    std::printf("Real-time log, HEX with time stamps, median microseconds per logged byte:\n");
    {
        kirt::LogFile log;
        if (!log.start(path))
            return 1;
        const auto empty = logSteps(log, samples);
        log.start(path);
        if (!growTo(path, LargeLog))
            return 1;
        const auto large = logSteps(log, samples);
        printFigure("log step (entry appended)", empty, large);
    }

    {
        kirt::test::TempSettings settings;
        kirt::test::DialogAnswerer answers;
        kirt::PtyDevice device(1);
        TFmain window;
        window.show();
        choose(&window, "DisplayFormatComboBox", 0);
        choose(&window, "TimeLogComboBox", 1);
        window.COM_BitBtnClick();
        answers.answers.push_back(true);
        answers.paths.push_back(path);
        window.RunTimeSave1Click();
        if (!window.realTimeSaveOn()) {
            std::printf("  could not start the window's log\n");
            return 1;
        }
        const auto empty = displaySteps(window, samples);
        answers.answers.push_back(true);
        window.RunTimeSave1Click(); // stop
        answers.answers.push_back(true);
        answers.paths.push_back(path);
        window.RunTimeSave1Click(); // and start again, empty
        if (!growTo(path, LargeLog))
            return 1;
        const auto large = displaySteps(window, samples);
        printFigure("display step with the log running", empty, large);
        if (!answers.errors.isEmpty())
            std::printf("  errors: %s\n", qPrintable(answers.errors.join(QStringLiteral("; "))));
    }

    // For comparison: the whole log text written again after every byte.
    std::printf("\nWhole file rewritten after every byte, median microseconds per byte:\n");
    for (const qint64 size : {qint64{0}, qint64{100 * 1024}, qint64{1024 * 1024}, LargeLog}) {
        QByteArray text = QByteArray("41   5 Mar 2024 14:07:09\r\n").repeated(size / 26 + 1);
        text.truncate(size);
        std::vector<double> costs;
        const int rounds = size >= LargeLog ? 20 : 200;
        for (int i = 0; i < rounds; ++i) {
            QElapsedTimer timer;
            timer.start();
            text += "42   5 Mar 2024 14:07:09\r\n";
            QFile file(path);
            if (file.open(QIODevice::WriteOnly | QIODevice::Truncate))
                file.write(text);
            costs.push_back(static_cast<double>(timer.nsecsElapsed()) / 1000.0);
        }
        std::printf("  log of %8lld bytes: %10.1f us\n", static_cast<long long>(size),
                    median(costs));
    }
    return 0;
}
