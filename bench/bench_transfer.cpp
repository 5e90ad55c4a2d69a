// YMODEM send speed beside the reference: Kirt sends an image to lrzsz's rb over a
// pseudo-terminal, then sb sends the same image to rb over another pair of the same kind (each
// program through a relay, as the tests run them). Prints the median times and their ratio, and
// the longest time the main thread (the window's, where the transfer runs) went without serving
// a timer; asserts nothing.
//   bench_transfer [megabytes] [rounds]      (default 10 and 3)
#include "tests/support/lrzszpeer.h"
#include "tests/support/ptydevice.h"
#include "transfer/transferrequest.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <vector>

#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

using namespace kirt;

namespace {

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values.empty() ? 0.0 : values[values.size() / 2];
}

// Seconds for Kirt to send the image to rb; negative when it failed. gapMs: the longest gap
// between two ticks of a 1 ms timer meanwhile.
double kirtToRb(const QString& image, const QString& boardDir, double& gapMs)
{
    PtyDevice device;
    PortController port;
    OpenRequest request;
    request.portName = device.portName();
    request.settings.portName = request.portName;
    request.settings.baudRate = 115200;
    test::LrzszPeer board;
    if (!port.open(request).ok() || !board.start(device.masterFd(), "rb", {"-y"}, boardDir))
        return -1;
    port.session().setRxEnabled(true);
    TransferRequest send;
    send.protocol = TransferProtocol::Ymodem;
    send.paths = {image};
    std::unique_ptr<Transfer> transfer = makeTransfer(port, send);
    std::optional<TransferResult> result;
    QObject::connect(transfer.get(), &Transfer::finished,
                     [&result](const TransferResult& r, const QString&) { result = r; });
    QElapsedTimer clock, tick;
    QTimer ticker;
    ticker.setTimerType(Qt::PreciseTimer);
    QObject::connect(&ticker, &QTimer::timeout, [&tick, &gapMs] {
        gapMs = std::max(gapMs, static_cast<double>(tick.nsecsElapsed()) / 1e6);
        tick.start();
    });
    gapMs = 0;
    clock.start();
    tick.start();
    ticker.start(1);
    transfer->start();
    PtyDevice::waitUntil([&result] { return result.has_value(); }, 600000);
    ticker.stop();
    const double seconds = static_cast<double>(clock.nsecsElapsed()) / 1e9;
    board.waitForEnd();
    return result && result->ok() ? seconds : -1;
}

// Seconds for sb to send the image to rb, each on one side of a pseudo-terminal; in 1K blocks
// as Kirt sends them (sb's own choice is 128 bytes, several times slower).
double sbToRb(const QString& image, const QString& boardDir)
{
    PtyDevice device;
    const int slave = ::open(QFile::encodeName(device.slavePath()).constData(),
                             O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    termios state{};
    if (slave < 0 || ::tcgetattr(slave, &state) != 0)
        return -1;
    ::cfmakeraw(&state);
    ::tcsetattr(slave, TCSANOW, &state);
    test::LrzszPeer receiver, sender;
    QElapsedTimer clock;
    clock.start();
    const bool started = receiver.start(device.masterFd(), "rb", {"-y"}, boardDir) &&
                         sender.start(slave, "sb", {"-k", image});
    const bool ended = started && sender.waitForEnd(600000) && receiver.waitForEnd(600000);
    const double seconds = static_cast<double>(clock.nsecsElapsed()) / 1e9;
    const bool ok = ended && sender.exitCode() == 0 && receiver.exitCode() == 0;
    sender.stop();
    receiver.stop();
    ::close(slave);
    return ok ? seconds : -1;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const int megabytes = argc > 1 ? std::max(1, std::atoi(argv[1])) : 10;
    const int rounds = argc > 2 ? std::max(1, std::atoi(argv[2])) : 3;
    if (!test::LrzszPeer::installed()) {
        std::printf("lrzsz is not installed\n");
        return 1;
    }
    QTemporaryDir dir;
    const QString image = dir.filePath("image.bin");
    {
        QByteArray bytes(qsizetype(megabytes) << 20, '\0');
        QRandomGenerator random(1);
        random.fillRange(reinterpret_cast<quint32*>(bytes.data()), bytes.size() / 4);
        QFile file(image);
        if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
            return 1;
    }
    std::vector<double> kirt, reference;
    double longestGap = 0;
    for (int round = 0; round < rounds; ++round) {
        QTemporaryDir boardA, boardB;
        double gap = 0;
        kirt.push_back(kirtToRb(image, boardA.path(), gap));
        longestGap = std::max(longestGap, gap);
        reference.push_back(sbToRb(image, boardB.path()));
        std::printf("round %d: Kirt %.2f s (main thread's longest gap %.1f ms), sb %.2f s\n",
                    round + 1, kirt.back(), gap, reference.back());
        if (kirt.back() < 0 || reference.back() < 0) {
            std::printf("a transfer failed\n");
            return 1;
        }
    }
    const double ours = median(kirt), theirs = median(reference);
    std::printf("YMODEM %d MB to rb over a pseudo-terminal, median of %d: Kirt %.2f s "
                "(%.0f kB/s), sb %.2f s (%.0f kB/s), ratio %.2f (goal <= 1.10)\n",
                megabytes, rounds, ours, megabytes * 1024.0 / ours, theirs,
                megabytes * 1024.0 / theirs, ours / theirs);
    std::printf("main thread's longest gap during Kirt's transfers: %.1f ms (goal < 50)\n",
                longestGap);
    return 0;
}
