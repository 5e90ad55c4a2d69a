// Transmit figures: the auto-transmit pace actually achieved, seen from the device end of a
// pseudo-terminal, and the throughput of each check kind. Prints its figures; asserts nothing.
//   bench_transmit [ticks at 20 ms] [ticks at 500 ms]     (default 200 and 200)
#include "app/Umain.h"
#include "checksum/checksum.h"
#include "tests/support/controls.h"
#include "tests/support/dialoganswerer.h"
#include "tests/support/ptydevice.h"
#include "tests/support/tempsettings.h"

#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QPlainTextEdit>
#include <QSlider>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <thread>
#include <vector>

#include <poll.h>
#include <unistd.h>

using kirt::test::choose;

namespace {

using Clock = std::chrono::steady_clock;

double percentile(std::vector<double> v, double p)
{
    if (v.empty())
        return 0.0;
    std::sort(v.begin(), v.end());
    const auto i = static_cast<std::size_t>(p * static_cast<double>(v.size() - 1) + 0.5);
    return v[i];
}

// Reads the master side on its own thread and stamps each byte as it arrives, so the main
// thread, which runs the timer, is not the one measuring itself.
class ArrivalClock
{
public:
    ArrivalClock(int fd, int wanted, QEventLoop& loop) : m_fd(fd), m_wanted(wanted), m_loop(loop)
    {
        m_arrivals.reserve(static_cast<std::size_t>(wanted));
        m_thread = std::thread([this] { run(); });
    }
    ~ArrivalClock()
    {
        m_stop = true;
        m_thread.join();
    }
    ArrivalClock(const ArrivalClock&) = delete;
    ArrivalClock& operator=(const ArrivalClock&) = delete;

    // Valid once the loop has been told to quit.
    const std::vector<Clock::time_point>& arrivals() const { return m_arrivals; }

private:
    void run()
    {
        while (!m_stop && static_cast<int>(m_arrivals.size()) < m_wanted) {
            pollfd p{m_fd, POLLIN, 0};
            if (::poll(&p, 1, 20) <= 0)
                continue;
            char buffer[256];
            const ssize_t n = ::read(m_fd, buffer, sizeof buffer);
            const Clock::time_point now = Clock::now();
            // One byte is one tick; bytes read together arrived together.
            for (ssize_t i = 0; i < n && static_cast<int>(m_arrivals.size()) < m_wanted; ++i)
                m_arrivals.push_back(now);
        }
        QMetaObject::invokeMethod(&m_loop, &QEventLoop::quit, Qt::QueuedConnection);
    }

    int m_fd;
    int m_wanted;
    QEventLoop& m_loop;
    std::vector<Clock::time_point> m_arrivals;
    std::atomic<bool> m_stop{false};
    std::thread m_thread;
};

void measureInterval(int sliderPosition, int ticks)
{
    kirt::test::TempSettings settings;
    kirt::test::DialogAnswerer answers;
    kirt::PtyDevice device(1);
    TFmain window;
    window.show();
    window.COM_BitBtnClick();
    if (!device.isValid() || !window.portOpen()) {
        std::printf("  could not open the pseudo-terminal\n");
        return;
    }
    choose(&window, "TransmitFormatComboBox1", 1);
    window.findChild<QPlainTextEdit*>(QStringLiteral("TransmitEdit1"))
        ->setPlainText(QStringLiteral("X"));
    choose(&window, "TransmitAutoComboBox1", 1);
    window.findChild<QSlider*>(QStringLiteral("TrackBar1"))->setValue(sliderPosition);
    const int interval = window.autoIntervalMs();

    QEventLoop loop;
    // One arrival more than the gaps wanted.
    ArrivalClock clock(device.masterFd(), ticks + 1, loop);
    const Clock::time_point start = Clock::now();
    window.SendStartBtnClick();
    loop.exec();
    window.SendStopBtnClick();

    const auto& at = clock.arrivals();
    std::vector<double> gaps;
    for (std::size_t i = 1; i < at.size(); ++i)
        gaps.push_back(std::chrono::duration<double, std::milli>(at[i] - at[i - 1]).count());
    const double first =
        at.empty() ? 0.0 : std::chrono::duration<double, std::milli>(at.front() - start).count();
    std::printf("  %5d ms: %3zu gaps  median %7.2f ms  p95 %7.2f ms  worst %7.2f ms  "
                "shortest %7.2f ms  first after start %7.2f ms\n",
                interval, gaps.size(), percentile(gaps, 0.5), percentile(gaps, 0.95),
                gaps.empty() ? 0.0 : *std::max_element(gaps.begin(), gaps.end()),
                gaps.empty() ? 0.0 : *std::min_element(gaps.begin(), gaps.end()), first);
}

void measureChecks()
{
    constexpr std::size_t Size = 4 << 20;
    QByteArray data(static_cast<qsizetype>(Size), Qt::Uninitialized);
    std::mt19937 random(11);
    for (char& c : data)
        c = static_cast<char>(random());

    const std::pair<kirt::CheckKind, const char*> kinds[] = {
        {kirt::CheckKind::Xor, "XOR"},
        {kirt::CheckKind::Add, "ADD"},
        {kirt::CheckKind::Crc16, "CRC-16"},
        {kirt::CheckKind::Modbus, "CRC-16(Modbus)"},
        {kirt::CheckKind::XModem, "CRC-CCITT(XModem)"},
        {kirt::CheckKind::Hdlc, "HDLC"}};
    volatile std::uint32_t sink = 0;
    std::printf("\nCheck engine over %zu MiB of random bytes, median of 9 runs:\n", Size >> 20);
    for (const auto& [kind, name] : kinds) {
        std::vector<double> rates;
        for (int run = 0; run < 9; ++run) {
            QElapsedTimer timer;
            timer.start();
            sink = sink + kirt::computeCheck(kind, data);
            const double seconds = static_cast<double>(timer.nsecsElapsed()) / 1e9;
            rates.push_back(static_cast<double>(Size) / 1e6 / seconds);
        }
        std::printf("  %-18s %8.1f MB/s\n", name, percentile(rates, 0.5));
    }

    // What a button press costs at the largest selection a line can hold: 1000 HEX characters
    // decoded to 500 bytes, checked and formatted.
    QString selection;
    for (int i = 0; i < 500; ++i)
        selection += kirt::HexByte(static_cast<std::uint8_t>(random()));
    std::vector<double> micros;
    for (int run = 0; run < 2000; ++run) {
        QElapsedTimer timer;
        timer.start();
        const auto captions = kirt::ComputeChecksum(6, selection, kirt::DataFormat::Hex);
        micros.push_back(static_cast<double>(timer.nsecsElapsed()) / 1e3);
        sink = sink + static_cast<std::uint32_t>(captions ? captions->checksum.size() : 0);
    }
    std::printf("\nOne press, 1000-character HEX selection (Modbus): median %.1f us, p95 %.1f us\n",
                percentile(micros, 0.5), percentile(micros, 0.95));
    (void)sink;
}

} // namespace

int main(int argc, char* argv[])
{
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const int ticks20 = argc > 1 ? std::max(2, std::atoi(argv[1])) : 200;
    const int ticks500 = argc > 2 ? std::max(2, std::atoi(argv[2])) : 200;

    std::printf("Auto transmit, one byte per tick, gaps between arrivals at the device end:\n");
    measureInterval(0, ticks20);
    measureInterval(6, ticks500);
    measureChecks();
    return 0;
}
