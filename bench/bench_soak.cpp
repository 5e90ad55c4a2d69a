// Soak: a paced stream (11,520 bytes/s unless given) into a HEX display of 5000 rows, with two
// protocol rules answering and the real-time log on. Prints the resident memory every minute,
// what was sent, logged and answered, the most bytes the device was held back, and the
// resident memory at start, peak and end; exits 1 when a byte or an answer went missing.
//   bench_soak [seconds [bytes/s]]        (default 600 s; CI runs 60)
#include "app/Umain.h"
#include "tests/support/controls.h"
#include "tests/support/dialoganswerer.h"
#include "tests/support/ptydevice.h"
#include "tests/support/tempsettings.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <random>
#include <thread>
#include <utility>
#include <vector>

#include <poll.h>
#include <unistd.h>

namespace {

constexpr int DefaultRate = 11520;

long residentKb()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').first().toLong();
    return 0;
}

// The stream: random bytes that never start a request, with a request of rule 1 (A5 5A) or
// rule 2 (C3 3C) after every 97 bytes. Made as it is sent and again as the log is checked, so
// the bench holds no copy of it.
class Stream
{
public:
    static constexpr int Cycle = 99;

    std::uint8_t next()
    {
        const auto at = static_cast<int>(m_at++ % Cycle);
        if (at == 97)
            return m_requests % 2 == 0 ? 0xA5 : 0xC3;
        if (at == 98)
            return m_requests++ % 2 == 0 ? 0x5A : 0x3C;
        auto b = static_cast<std::uint8_t>(m_random());
        return b == 0xA5 || b == 0xC3 ? 0x00 : b;
    }

    // Whole requests among the first total bytes, of rule 1 and of rule 2.
    static std::pair<int, int> requestsIn(long long total)
    {
        const auto whole = static_cast<int>(total / Cycle);
        return {(whole + 1) / 2, whole / 2};
    }

private:
    std::mt19937 m_random{11520};
    long long m_at = 0;
    int m_requests = 0;
};

// Compares the bytes of a HEX log, one "XX" per row, with the stream, reading the file a row
// at a time; returns how many rows matched before the first difference or the end.
long long matchingLogBytes(QFile& log)
{
    Stream expected;
    long long matched = 0;
    while (!log.atEnd()) {
        const QByteArray digits = log.readLine().trimmed();
        if (digits.isEmpty())
            continue;
        if (static_cast<std::uint8_t>(digits.left(2).toInt(nullptr, 16)) != expected.next())
            break;
        ++matched;
    }
    return matched;
}

} // namespace

int main(int argc, char* argv[])
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const int seconds = argc > 1 ? std::max(1, atoi(argv[1])) : 600;
    const int rate = argc > 2 ? std::max(1, atoi(argv[2])) : DefaultRate;
    kirt::test::TempSettings settings;
    kirt::test::DialogAnswerer answers;
    kirt::PtyDevice device(1);
    QTemporaryDir dir;
    const QString logPath = dir.path() + QStringLiteral("/soak.log");

    TFmain window;
    window.show();
    using kirt::test::choose;
    choose(&window, QStringLiteral("DisplayFormatComboBox"), 0);
    choose(&window, QStringLiteral("ScrollBarComboBox"), 1);
    choose(&window, QStringLiteral("LineLimitComboBox"), 15);
    kirt::test::enableRule(&window, 1, QStringLiteral("A55A"), QStringLiteral("01"));
    kirt::test::enableRule(&window, 2, QStringLiteral("C33C"), QStringLiteral("02"));
    window.COM_BitBtnClick();
    answers.answers.push_back(true);
    answers.paths.push_back(logPath);
    window.RunTimeSave1Click();
    if (!window.portOpen() || !window.realTimeSaveOn()) {
        std::printf("soak: could not open the port or start the log\n");
        return 1;
    }

    const long long total = static_cast<long long>(rate) * seconds;
    const auto [requests1, requests2] = Stream::requestsIn(total);
    const int fd = device.masterFd();
    std::atomic<long long> sent{0};
    std::atomic<bool> writerDone{false};
    std::atomic<int> answers1{0};
    std::atomic<int> answers2{0};
    std::atomic<int> strayBytes{0};
    std::atomic<long long> maxBehind{0};
    std::atomic<long long> maxLate{0};
    std::thread writer([&] {
        const auto start = std::chrono::steady_clock::now();
        Stream stream;
        std::vector<char> piece; // made but not yet taken by the terminal
        while (sent < total) {
            const double elapsed =
                std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
            const long long due =
                std::min<long long>(total, static_cast<long long>(elapsed * rate));
            maxLate = std::max<long long>(maxLate, due - sent);
            if (due <= sent) {
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
                continue;
            }
            while (static_cast<long long>(piece.size()) < due - sent)
                piece.push_back(static_cast<char>(stream.next()));
            const ssize_t w = ::write(fd, piece.data(), piece.size());
            const auto taken = static_cast<std::size_t>(std::max<ssize_t>(w, 0));
            piece.erase(piece.begin(), piece.begin() + static_cast<std::ptrdiff_t>(taken));
            sent += static_cast<long long>(taken);
            // A line cannot wait: what was due and the terminal refused counts.
            if (!piece.empty())
                maxBehind = std::max<long long>(maxBehind, due - sent);
        }
        writerDone = true;
    });
    std::atomic<bool> stopReader{false};
    std::thread reader([&] {
        while (!stopReader) {
            pollfd p{fd, POLLIN, 0};
            if (::poll(&p, 1, 50) <= 0)
                continue;
            char buffer[256];
            const ssize_t n = ::read(fd, buffer, sizeof buffer);
            for (ssize_t i = 0; i < n; ++i) {
                if (buffer[i] == '\x01')
                    ++answers1;
                else if (buffer[i] == '\x02')
                    ++answers2;
                else
                    ++strayBytes;
            }
        }
    });

    const long rssStart = residentKb();
    long rssPeak = rssStart;
    bool everFull = false;
    QElapsedTimer clock;
    clock.start();
    qint64 lastReport = 0;
    qint64 minutesReported = 0;
    while (!writerDone || window.rxMemory().pending() || device.pendingForProgram() > 0) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        everFull = everFull || window.rxMemory().RxFull();
        if (clock.elapsed() - lastReport >= 1000) {
            lastReport = clock.elapsed();
            const long rss = residentKb();
            rssPeak = std::max(rssPeak, rss);
            if (lastReport / 60000 > minutesReported) {
                minutesReported = lastReport / 60000;
                std::printf("  minute %lld: resident %ld KB\n", minutesReported, rss);
                std::fflush(stdout);
            }
        }
        if (clock.elapsed() > (seconds + 120) * 1000LL)
            break;
    }
    kirt::PtyDevice::serveEvents(500);
    const long rssEnd = residentKb();
    stopReader = true;
    writer.join();
    reader.join();
    window.COM_BitBtnClick();

    QFile logFile(logPath);
    const long long logged = logFile.open(QIODevice::ReadOnly) ? matchingLogBytes(logFile) : 0;
    const bool bytesOk = logged == total && logFile.atEnd();
    const bool answersOk = answers1 == requests1 && answers2 == requests2 && strayBytes == 0;
    std::printf("Soak %d s at %d bytes/s, HEX, 5000 rows, two rules, real-time log on:\n", seconds,
                rate);
    std::printf("  sent %lld bytes, logged as sent %lld, identical: %s, buffer ever full: %s\n",
                total, logged, bytesOk ? "yes" : "NO", everFull ? "YES" : "no");
    std::printf("  answers: rule 1 %d of %d, rule 2 %d of %d, other bytes %d\n", answers1.load(),
                requests1, answers2.load(), requests2, strayBytes.load());
    std::printf("  device held back at most %lld bytes (writer at most %lld late)\n",
                maxBehind.load(), maxLate.load());
    std::printf("  resident memory: start %ld KB, peak %ld KB, end %ld KB\n", rssStart, rssPeak,
                rssEnd);
    return bytesOk && answersOk && !everFull ? 0 : 1;
}
