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
// rule 2 (C3 3C) after every 97 bytes.
QByteArray makeStream(long long total, int& requests1, int& requests2)
{
    std::mt19937 random(11520);
    QByteArray data;
    data.reserve(static_cast<qsizetype>(total));
    requests1 = requests2 = 0;
    while (data.size() < total) {
        for (int i = 0; i < 97 && data.size() < total; ++i) {
            auto b = static_cast<std::uint8_t>(random());
            if (b == 0xA5 || b == 0xC3)
                b = 0x00;
            data.append(static_cast<char>(b));
        }
        if (data.size() + 2 > total)
            break;
        if ((requests1 + requests2) % 2 == 0) {
            data.append("\xA5\x5A", 2);
            ++requests1;
        } else {
            data.append("\xC3\x3C", 2);
            ++requests2;
        }
    }
    return data;
}

QByteArray bytesOfHexLog(const QByteArray& log)
{
    QByteArray bytes;
    for (const QByteArray& row : log.split('\n')) {
        const QByteArray digits = row.trimmed();
        if (!digits.isEmpty())
            bytes.append(static_cast<char>(digits.left(2).toInt(nullptr, 16)));
    }
    return bytes;
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

    int requests1 = 0;
    int requests2 = 0;
    const QByteArray stream =
        makeStream(static_cast<long long>(rate) * seconds, requests1, requests2);
    const int fd = device.masterFd();
    std::atomic<long long> sent{0};
    std::atomic<bool> writerDone{false};
    std::atomic<int> answers1{0};
    std::atomic<int> answers2{0};
    std::atomic<int> strayBytes{0};
    std::atomic<long long> maxBehind{0};
    std::thread writer([&] {
        const auto start = std::chrono::steady_clock::now();
        while (sent < stream.size()) {
            const double elapsed =
                std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
            const long long due =
                std::min<long long>(stream.size(), static_cast<long long>(elapsed * rate));
            // A line cannot wait: what the terminal held back from the device counts.
            maxBehind = std::max<long long>(maxBehind, due - sent);
            if (due <= sent) {
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
                continue;
            }
            const ssize_t w =
                ::write(fd, stream.constData() + sent, static_cast<size_t>(due - sent));
            if (w > 0)
                sent += w;
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
    const QByteArray logged =
        logFile.open(QIODevice::ReadOnly) ? bytesOfHexLog(logFile.readAll()) : QByteArray();
    const bool bytesOk = logged == stream;
    const bool answersOk = answers1 == requests1 && answers2 == requests2 && strayBytes == 0;
    std::printf("Soak %d s at %d bytes/s, HEX, 5000 rows, two rules, real-time log on:\n", seconds,
                rate);
    std::printf("  sent %lld bytes, logged %lld, identical: %s, buffer ever full: %s\n",
                static_cast<long long>(stream.size()), static_cast<long long>(logged.size()),
                bytesOk ? "yes" : "NO", everFull ? "YES" : "no");
    std::printf("  answers: rule 1 %d of %d, rule 2 %d of %d, other bytes %d\n", answers1.load(),
                requests1, answers2.load(), requests2, strayBytes.load());
    std::printf("  device held back at most %lld bytes\n", maxBehind.load());
    std::printf("  resident memory: start %ld KB, peak %ld KB, end %ld KB\n", rssStart, rssPeak,
                rssEnd);
    return bytesOk && answersOk && !everFull ? 0 : 1;
}
