// Auto-response latency at the device end: from writing the last byte of a request to reading
// the first byte of the response, over 1000 requests at the default read time-out, on a quiet
// line and under a background stream; through a local pseudo-terminal, then over RFC 2217 to a
// ser2net on loopback serving one. First, the hand-over of what a network port read while a
// server answered its settings late, with the device streaming meanwhile. Prints its figures;
// asserts nothing.
#include "app/Umain.h"
#include "serial/networkport.h"
#include "tests/serial/playedserver.h"
#include "tests/support/controls.h"
#include "tests/support/dialoganswerer.h"
#include "tests/support/ptydevice.h"
#include "tests/support/ser2netserver.h"
#include "tests/support/tempsettings.h"

#include <QApplication>
#include <QEventLoop>
#include <QTimer>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <thread>
#include <vector>

#include <poll.h>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;

struct Figures
{
    double median = 0, p99 = 0, worst = 0;
    int lost = 0;
};

Figures summarise(std::vector<double> us, int lost)
{
    Figures f;
    f.lost = lost;
    if (us.empty())
        return f;
    std::sort(us.begin(), us.end());
    f.median = us[us.size() / 2];
    f.p99 = us[std::min(us.size() - 1, us.size() * 99 / 100)];
    f.worst = us.back();
    return f;
}

// Runs on its own thread while the window's thread serves events.
Figures measure(int fd, int requests, int backgroundRate)
{
    std::atomic<bool> stop{false};
    std::thread background([&] {
        if (backgroundRate <= 0)
            return;
        // Bytes no rule answers, written in small pieces at the given rate.
        const char filler[5] = {' ', ' ', ' ', ' ', ' '};
        const auto period = std::chrono::microseconds(1000000LL * 5 / backgroundRate);
        auto next = Clock::now();
        while (!stop) {
            [[maybe_unused]] const auto w = ::write(fd, filler, sizeof filler);
            next += period;
            std::this_thread::sleep_until(next);
        }
    });
    std::vector<double> latencies;
    int lost = 0;
    const char request[2] = {'\x01', '\x03'};
    for (int i = 0; i < requests; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
        // One write keeps the request in one piece among the background bytes. The master is
        // non-blocking and a write that meets the background writer's refuses with EAGAIN:
        // that is this harness, not the line, so it is tried again.
        ssize_t written = 0;
        while ((written = ::write(fd, request, sizeof request)) < 0 && errno == EAGAIN)
            std::this_thread::yield();
        if (written != 2) {
            ++lost;
            continue;
        }
        const auto sent = Clock::now();
        bool answered = false;
        while (!answered) {
            pollfd p{fd, POLLIN, 0};
            const auto waited = Clock::now() - sent;
            const int left =
                1000 - static_cast<int>(
                           std::chrono::duration_cast<std::chrono::milliseconds>(waited).count());
            if (left <= 0 || ::poll(&p, 1, left) <= 0)
                break;
            char buffer[64];
            const ssize_t n = ::read(fd, buffer, sizeof buffer);
            for (ssize_t k = 0; k < n && !answered; ++k)
                if (buffer[k] == '\x5A') {
                    answered = true;
                    latencies.push_back(
                        std::chrono::duration<double, std::micro>(Clock::now() - sent).count());
                }
        }
        if (!answered)
            ++lost;
        // Drain the rest of the response.
        std::this_thread::sleep_for(std::chrono::microseconds(300));
        char rest[64];
        while (::read(fd, rest, sizeof rest) > 0) {
        }
    }
    stop = true;
    background.join();
    return summarise(std::move(latencies), lost);
}

// Both runs on the device's master, while this thread serves the window.
void measureAll(TFmain& window, int fd, int requests, const char* where)
{
    std::printf("Response latency at the device end, %s, %d requests, read time-out %u ms:\n",
                where, requests, window.comSettings().readTimeoutMs);
    const int runs[] = {0, 5000};
    std::vector<Figures> results;
    QEventLoop loop;
    std::thread worker([&] {
        for (int rate : runs)
            results.push_back(measure(fd, requests, rate));
        QMetaObject::invokeMethod(&loop, &QEventLoop::quit, Qt::QueuedConnection);
    });
    loop.exec();
    worker.join();
    for (std::size_t i = 0; i < results.size(); ++i) {
        const Figures& f = results[i];
        std::printf("  %-32s median %7.0f us   p99 %7.0f us   worst %7.0f us   unanswered %d\n",
                    runs[i] == 0 ? "quiet line" : "background 5,000 bytes/s", f.median, f.p99,
                    f.worst, f.lost);
    }
}

} // namespace

// A server that answers the settings half a second late while its device streams 32 MiB: what
// the port held when the settings were done, and the time to read the whole stream after.
void lateAnswerWhileStreaming()
{
    constexpr std::size_t Stream = 32u << 20;
    std::atomic<bool> first{true};
    kirt::test::PlayedServer server(true, true, [&](const kirt::telnet::Bytes&) {
        if (first.exchange(false))
            std::this_thread::sleep_for(std::chrono::milliseconds(500));
        return std::optional<kirt::telnet::Bytes>();
    });
    std::vector<std::uint8_t> data(Stream);
    for (std::size_t i = 0; i < data.size(); ++i)
        data[i] = static_cast<std::uint8_t>(i % 251);
    kirt::NetworkPort port;
    if (!port.open(server.address()).ok()) {
        std::printf("could not connect to the played server\n");
        return;
    }
    std::thread device([&] {
        for (int tries = 0; tries < 1000 && !server.connected(); ++tries)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        server.sendAll(data.data(), data.size(), 10000);
    });
    const kirt::SerialStatus applied = port.applyState(kirt::ComSettings{});
    const auto start = Clock::now();
    const std::clock_t cpu = std::clock();
    std::size_t read = 0;
    std::uint8_t buffer[4096];
    for (int n = 1; n > 0 && read < Stream;) {
        n = port.readChunkWithin(buffer, sizeof buffer, 2000);
        read += static_cast<std::size_t>(std::max(n, 0));
    }
    const double ms = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
    device.join();
    std::printf("settings answered 0.5 s late while the device streams 32 MiB over RFC 2217: %s\n"
                "  %zu bytes read after the settings in %.0f ms (%.0f ms of CPU)\n",
                applied.ok() ? "applied" : qPrintable(applied.reason), read, ms,
                1000.0 * static_cast<double>(std::clock() - cpu) / CLOCKS_PER_SEC);
}

int main(int argc, char* argv[])
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const int requests = argc > 1 ? std::max(10, atoi(argv[1])) : 1000;
    lateAnswerWhileStreaming();
    kirt::test::TempSettings settings;
    kirt::test::DialogAnswerer answers;
    kirt::PtyDevice device(1);
    TFmain window;
    window.show();
    kirt::test::enableRule(&window, 1, QStringLiteral("0103"), QStringLiteral("5A5B"));
    window.COM_BitBtnClick();
    if (!window.portOpen()) {
        std::printf("could not open the pseudo-terminal\n");
        return 1;
    }
    measureAll(window, device.masterFd(), requests, "local pseudo-terminal");
    window.COM_BitBtnClick();

    // COM2: ser2net serving another pseudo-terminal, reached over RFC 2217 on loopback.
    kirt::PtyDevice served(3);
    kirt::test::Ser2netServer server;
    QString error;
    if (!server.start(served.slavePath(), true, error)) {
        std::printf("\nno RFC 2217 run: %s\n", qPrintable(error));
        return 0;
    }
    kirt::test::choose(&window, "SerialPortComboBox", 1);
    // COM2 leads to the server as it runs now; both runs open it, measure and close it.
    const auto overTheServer = [&](const char* where) {
        qputenv("KIRT_COM2", server.address().toUtf8());
        window.COM_BitBtnClick();
        // A network port opens on a thread of its own.
        kirt::PtyDevice::waitUntil([&] { return !window.port().opening(); }, 10000);
        if (!window.portOpen()) {
            std::printf("\ncould not open %s\n", qPrintable(server.address()));
            return false;
        }
        std::printf("\n");
        measureAll(window, served.masterFd(), requests, where);
        window.COM_BitBtnClick();
        return true;
    };
    if (!overTheServer("RFC 2217 to ser2net on loopback serving a pseudo-terminal (its default "
                       "character delay)"))
        return 1;
    server.charDelay = false;
    if (!server.start(served.slavePath(), true, error)) {
        std::printf("\nser2net did not start again: %s\n", qPrintable(error));
        return 1;
    }
    if (!overTheServer("the same, ser2net's character delay off (chardelay: false)"))
        return 1;
    return 0;
}
