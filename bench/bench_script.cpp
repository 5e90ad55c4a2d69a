// Test scripts against a running kirt-vdev: 10,000 "AT" CR / "OK" CR LF round trips made by a
// script through the port session, beside the same round trips on the bare pseudo-terminal;
// then the resident memory over a run of continuous round trips. Prints its figures; asserts
// nothing.
//   bench_script [seconds]   the length of the memory run (default 600)
//   bench_script flood [s]   the window under a script that floods it with output: log() in
//                            a loop for s seconds (default 8) then Stop, and 449,092 empty
//                            test() calls; how long the window stalls, how long it takes to
//                            be free after Stop, what it shows and its memory
#include "script/junit.h"
#include "script/scriptrunner.h"
#include "script/sessionport.h"
#include "tests/support/tempsettings.h"
#include "tests/support/windowfixture.h"
#include "ui/receivedisplay.h"

#include <QAction>
#include <QApplication>
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QLabel>
#include <QProcess>
#include <QRegularExpression>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;
constexpr int RoundTrips = 10000;

double usBetween(Clock::time_point from, Clock::time_point to)
{
    return std::chrono::duration<double, std::micro>(to - from).count();
}

long residentKb()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    const QByteArray text = status.readAll();
    const auto at = text.indexOf("VmRSS:");
    return at < 0 ? 0 : text.mid(at + 6, 20).trimmed().split(' ').first().toLong();
}

void printSpread(const char* what, std::vector<double> us)
{
    if (us.empty()) {
        std::printf("  %-40s no round trip\n", what);
        return;
    }
    std::sort(us.begin(), us.end());
    std::printf("  %-40s median %7.1f us   p99 %7.1f us   worst %8.1f us\n", what,
                us[us.size() / 2], us[std::min(us.size() - 1, us.size() * 99 / 100)], us.back());
}

// Finds "OK" CR LF in a stream that comes in pieces.
class AnswerWatch
{
public:
    bool take(std::uint8_t byte)
    {
        m_tail = (m_tail << 8) | byte;
        return m_tail == 0x4F4B0D0A;
    }

private:
    std::uint32_t m_tail = 0;
};

// The engine has no performance.now() and Date.now() counts whole milliseconds, so the round
// trips are timed here rather than in the script. Every send() of the script reaches the port
// on this thread; from one send to the next (to close() after the last) is one whole turn of
// the script's loop: the request written, the answer read by the session, handed to the
// script's thread, matched by expect(), and the next send() carried back here. The receive tap
// also stamps each answer's arrival, for the session's share alone.
class TimedPort final : public kirt::ScriptPort
{
public:
    explicit TimedPort(kirt::SessionScriptPort& inner) : m_inner(inner) {}

    bool recording = false;
    std::vector<Clock::time_point> sends, answers;
    Clock::time_point closed;
    long rssAtOpen = 0, rssAtClose = 0;

    void received(const std::uint8_t* bytes, std::size_t count)
    {
        if (!recording)
            return;
        for (std::size_t i = 0; i < count; ++i)
            if (m_watch.take(bytes[i]))
                answers.push_back(Clock::now());
    }

    QString open(const QString& port, const OpenOptions& options) override
    {
        const QString result = m_inner.open(port, options);
        rssAtOpen = residentKb();
        return result;
    }
    QString close() override
    {
        closed = Clock::now();
        rssAtClose = residentKb();
        return m_inner.close();
    }
    QString send(const QByteArray& bytes) override
    {
        if (recording)
            sends.push_back(Clock::now());
        return m_inner.send(bytes);
    }
    QString sendLine(int line) override { return m_inner.sendLine(line); }
    QString setModemLine(kirt::ModemLine line, bool on) override
    {
        return m_inner.setModemLine(line, on);
    }
    QString sendBreak(int ms) override { return m_inner.sendBreak(ms); }
    std::optional<kirt::ModemStatus> modem() override { return m_inner.modem(); }
    void log(const QString& text) override { m_inner.log(text); }

private:
    kirt::SessionScriptPort& m_inner;
    AnswerWatch m_watch;
};

// The script's loop, while `more` holds after `setup`. It counts the time-outs itself.
QString roundTripScript(const QString& setup, const QString& more)
{
    return QStringLiteral(R"JS(
open();
let trips = 0, timeouts = 0;
%1
while (%2) {
    send("AT\r");
    try {
        expect("OK\r\n", 1000);
    } catch (e) {
        if (!(e instanceof TimeoutError))
            throw e;
        ++timeouts;
    }
    ++trips;
}
close();
log("trips " + trips + " timeouts " + timeouts);
)JS")
        .arg(setup, more);
}

struct ScriptRun
{
    kirt::ScriptOutcome outcome;
    long trips = -1, timeouts = -1;
};

ScriptRun runScript(kirt::ScriptRunner& runner, const QStringList& said, const QString& source)
{
    ScriptRun run;
    QEventLoop loop;
    const auto connection = QObject::connect(&runner, &kirt::ScriptRunner::finished, &loop,
                                             [&](const kirt::ScriptOutcome& outcome) {
                                                 run.outcome = outcome;
                                                 loop.quit();
                                             });
    runner.start(QStringLiteral("bench.js"), source);
    loop.exec();
    QObject::disconnect(connection);
    static const QRegularExpression counts(QStringLiteral("^trips (\\d+) timeouts (\\d+)$"));
    for (const QString& line : said)
        if (const auto m = counts.match(line); m.hasMatch()) {
            run.trips = m.captured(1).toLong();
            run.timeouts = m.captured(2).toLong();
        }
    if (run.outcome.end != kirt::ScriptOutcome::End::Done)
        std::printf("  the script did not end well: %s\n",
                    qPrintable(kirt::outcomeProblem(run.outcome)));
    return run;
}

// The same round trips with nothing between the program and the pseudo-terminal.
std::vector<double> bareRoundTrips(const QString& path, int count, int& timeouts)
{
    std::vector<double> us;
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDWR | O_NOCTTY);
    termios raw{};
    if (fd < 0 || ::tcgetattr(fd, &raw) != 0) {
        std::printf("  cannot open %s\n", qPrintable(path));
        if (fd >= 0)
            ::close(fd);
        return us;
    }
    ::cfmakeraw(&raw);
    ::tcsetattr(fd, TCSANOW, &raw);
    AnswerWatch watch;
    for (int i = 0; i < count; ++i) {
        const auto start = Clock::now();
        if (::write(fd, "AT\r", 3) != 3)
            break;
        const auto deadline = start + std::chrono::milliseconds(1000);
        bool answered = false;
        while (!answered) {
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
            pollfd entry{fd, POLLIN, 0};
            if (left.count() <= 0 || ::poll(&entry, 1, static_cast<int>(left.count()) + 1) <= 0)
                break;
            std::uint8_t buffer[256];
            const ssize_t n = ::read(fd, buffer, sizeof buffer);
            for (ssize_t k = 0; k < n; ++k)
                answered = watch.take(buffer[k]) || answered;
        }
        if (answered)
            us.push_back(usBetween(start, Clock::now()));
        else
            ++timeouts;
    }
    ::close(fd);
    return us;
}

// The window's side of a flood: the longest the window did not answer (a 5 ms tick's largest
// gap) while it lasted.
class StallWatch
{
public:
    StallWatch()
    {
        m_tick.setInterval(5);
        QObject::connect(&m_tick, &QTimer::timeout, [this] {
            const auto now = Clock::now();
            worstMs = std::max(worstMs, usBetween(m_last, now) / 1000);
            m_last = now;
        });
        m_tick.start();
    }
    double worstMs = 0;

private:
    QTimer m_tick;
    Clock::time_point m_last = Clock::now();
};

// Serves events until done() or limitMs; the milliseconds it took, -1 at the limit.
template <typename Done> double serveUntil(Done done, int limitMs)
{
    QElapsedTimer clock;
    clock.start();
    while (!done()) {
        if (clock.elapsed() > limitMs)
            return -1;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    }
    return static_cast<double>(clock.nsecsElapsed()) / 1e6;
}

int floodTheWindow(int argc, char** argv, int seconds)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    kirt::test::WindowFixture f;
    f.window().show();
    auto* label = f.find<QLabel>(QStringLiteral("ScriptStateLabel"));
    const auto running = [label] { return label->text().endsWith(QLatin1String("running")); };
    const long rssAtStart = residentKb();

    std::printf("log() in a loop for %d s, then Stop:\n", seconds);
    f.answers.paths.push_back(
        f.fileWith(QStringLiteral("logs.js"), "let i = 0;\nfor (;;) log('line ' + i++);\n"));
    f.triggerAction(QStringLiteral("RunScriptAction"));
    {
        StallWatch stalls;
        serveUntil([] { return false; }, seconds * 1000);
        std::printf("  longest the window did not answer while it ran: %.0f ms\n", stalls.worstMs);
    }
    f.triggerAction(QStringLiteral("StopScriptAction"));
    const double free = serveUntil([&] { return !running(); }, 600000);
    std::printf("  Stop to the window free and the script ended: %.0f ms (%s)\n", free,
                qPrintable(label->text()));
    const QString shown = f.display()->displayText();
    std::printf("  the display holds %lld lines, the last: \"%s\"\n",
                static_cast<long long>(shown.count(u'\n')),
                qPrintable(shown.trimmed().section(u'\n', -1)));
    std::printf("  resident memory: %ld kB at the start, %ld kB after (%+ld kB)\n", rssAtStart,
                residentKb(), residentKb() - rssAtStart);

    constexpr int Cases = 449092;
    std::printf("\n%d empty test() calls:\n", Cases);
    f.answers.paths.push_back(f.fileWith(
        QStringLiteral("cases.js"), QByteArray("for (let i = 0; i < ") + QByteArray::number(Cases) +
                                        "; ++i) test('case ' + i, function () {});\n"));
    f.triggerAction(QStringLiteral("RunScriptAction"));
    {
        StallWatch stalls;
        const double ran = serveUntil([&] { return !running(); }, 600000);
        std::printf("  start to the outcome shown: %.0f ms (%s)\n", ran, qPrintable(label->text()));
        std::printf("  longest the window did not answer meanwhile: %.0f ms\n", stalls.worstMs);
    }
    std::printf("  resident memory after: %ld kB\n", residentKb());
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc > 1 && qstrcmp(argv[1], "flood") == 0)
        return floodTheWindow(argc, argv, argc > 2 ? std::max(1, atoi(argv[2])) : 8);
    QCoreApplication app(argc, argv);
    const int seconds = argc > 1 ? std::max(1, QString::fromLocal8Bit(argv[1]).toInt()) : 600;

    kirt::test::TempSettings settings;
    for (int n = 1; n <= 30; ++n)
        qunsetenv(qPrintable(QStringLiteral("KIRT_COM%1").arg(n)));

    // No status line: it ends in "OK" CR LF too, and an expect would take it for an answer.
    QProcess device;
    device.start(QStringLiteral(KIRT_VDEV_PATH),
                 {QStringLiteral("--port"), QStringLiteral("COM1"), QStringLiteral("--echo"),
                  QStringLiteral("--at")});
    if (!device.waitForStarted(5000) || !device.waitForReadyRead(10000)) {
        std::printf("kirt-vdev did not start: %s\n", qPrintable(device.errorString()));
        return 1;
    }
    std::printf("%s", device.readLine().constData());
    const QString pty =
        QFile::symLinkTarget(settings.configHome() + QStringLiteral("/kirt/ports/COM1"));

    QStringList said;
    kirt::StartOptions options;
    options.port = QStringLiteral("COM1");
    kirt::SessionScriptPort session(options, [&said](const QString& text) { said << text; });
    TimedPort port(session);
    kirt::ScriptRunner runner(port);
    struct Both final : kirt::PortReceiver
    {
        TimedPort& port;
        kirt::ScriptRunner& runner;
        Both(TimedPort& p, kirt::ScriptRunner& r) : port(p), runner(r) {}
        void received(const std::uint8_t* bytes, std::size_t count, const kirt::ReadTime&) override
        {
            port.received(bytes, count);
            runner.received(bytes, count);
        }
    } both(port, runner);
    session.controller().addReceiver(&both);

    std::printf("\n%d round trips \"AT\" CR -> \"OK\" CR LF, expect time-out 1000 ms:\n",
                RoundTrips);
    port.recording = true;
    const ScriptRun timed =
        runScript(runner, said, roundTripScript({}, QStringLiteral("trips < %1").arg(RoundTrips)));
    port.recording = false;
    std::vector<double> cycles, sessionShare;
    for (std::size_t i = 0; i < port.sends.size(); ++i) {
        cycles.push_back(
            usBetween(port.sends[i], i + 1 < port.sends.size() ? port.sends[i + 1] : port.closed));
        if (i < port.answers.size())
            sessionShare.push_back(usBetween(port.sends[i], port.answers[i]));
    }
    int bareTimeouts = 0;
    const std::vector<double> bare = bareRoundTrips(pty, RoundTrips, bareTimeouts);

    std::printf("  script: %ld round trips, %ld false time-outs; %zu sends, %zu answers seen\n",
                timed.trips, timed.timeouts, port.sends.size(), port.answers.size());
    printSpread("script, send to next send", cycles);
    printSpread("session alone, send to answer", sessionShare);
    std::printf("  bare pseudo-terminal: %zu round trips, %d time-outs\n", bare.size(),
                bareTimeouts);
    printSpread("bare pseudo-terminal, write to answer", bare);
    if (!cycles.empty() && !bare.empty()) {
        std::sort(cycles.begin(), cycles.end());
        std::vector<double> sortedBare = bare;
        std::sort(sortedBare.begin(), sortedBare.end());
        const double gap = (cycles[cycles.size() / 2] - sortedBare[sortedBare.size() / 2]) / 1000;
        std::printf("  script median - bare median: %.3f ms (goal: within 1 ms: %s)\n", gap,
                    gap <= 1.0 ? "met" : "NOT met");
    }

    std::printf("\nResident memory over %d s of continuous round trips:\n", seconds);
    const long rssBefore = residentKb();
    QTimer minute;
    int minutes = 0;
    QObject::connect(&minute, &QTimer::timeout, [&] {
        std::printf("  after %3d min: %6ld kB\n", ++minutes, residentKb());
        std::fflush(stdout);
    });
    minute.start(60000);
    said.clear();
    const ScriptRun soak = runScript(
        runner, said,
        roundTripScript(QStringLiteral("const end = Date.now() + %1;").arg(seconds * 1000LL),
                        QStringLiteral("Date.now() < end")));
    minute.stop();
    std::printf("  before the script: %ld kB; after open(): %ld kB; at close(): %ld kB (%+ld kB)\n",
                rssBefore, port.rssAtOpen, port.rssAtClose, port.rssAtClose - port.rssAtOpen);
    std::printf("  %ld round trips (%.0f a second), %ld false time-outs\n", soak.trips,
                double(soak.trips) / seconds, soak.timeouts);

    device.terminate();
    device.waitForFinished(5000);
    std::printf("%s", device.readAllStandardOutput().constData());
    return 0;
}
