// The network port against servers that misbehave: one that talks without reading, one whose
// device streams while the settings wait, one that answers late.
#include "serial/networkport.h"
#include "tests/serial/playedserver.h"
#include "tests/support/ptydevice.h"

#include <QtTest>

using kirt::ComSettings;
using kirt::NetworkPort;
using kirt::PtyDevice;
using kirt::test::PlayedServer;
namespace telnet = kirt::telnet;

namespace {

constexpr NetworkPort::Timing Answer(int ms)
{
    return {std::chrono::milliseconds(5000), std::chrono::milliseconds(ms),
            std::chrono::milliseconds(5000), std::chrono::milliseconds(5000)};
}

} // namespace

class TestRfc2217Peers : public QObject
{
    Q_OBJECT

private slots:
    void serverThatDoesNotReadIsDropped();
    void dataWhileTheSettingsWaitIsBounded();
    void lateAnswerIsNoRefusal();
};

// It turns BINARY on and off without end and reads nothing: every change is answered, and once
// the answers pile up the port gives the server up and says why.
void TestRfc2217Peers::serverThatDoesNotReadIsDropped()
{
    PlayedServer server(false);
    NetworkPort port;
    QVERIFY(port.open(server.address()).ok());
    QVERIFY(server.accept());
    std::atomic<bool> stop{false};
    std::thread talker([&] {
        telnet::Bytes flapping;
        for (int i = 0; i < 1024; ++i)
            flapping.insert(flapping.end(), {telnet::Iac, telnet::Will, telnet::OptionBinary,
                                             telnet::Iac, telnet::Wont, telnet::OptionBinary});
        for (int round = 0; round < 10'000 && !stop.load(); ++round)
            server.sendAll(flapping.data(), flapping.size(), 100);
    });
    std::thread reader([&] {
        std::uint8_t buffer[4096];
        while (!stop.load() && port.readChunkWithin(buffer, sizeof buffer, 100) >= 0) {
        }
    });
    const bool dropped = PtyDevice::waitUntil([&] { return port.deviceLost(); }, 20000);
    stop.store(true);
    talker.join();
    reader.join();
    QVERIFY(dropped);
    QVERIFY2(port.dropReason().contains(QStringLiteral("does not read")),
             qPrintable(port.dropReason()));
}

// The device streams while the settings wait for answers that never come: the port holds no
// more than its bound, the rest waits at the server, and all of it is read in order after.
void TestRfc2217Peers::dataWhileTheSettingsWaitIsBounded()
{
    const auto byteAt = [](std::size_t i) { return static_cast<std::uint8_t>(i % 251); };
    PlayedServer server(false);
    NetworkPort port(Answer(1500));
    QVERIFY(port.open(server.address()).ok());
    QVERIFY(server.accept());
    server.sendToClient({telnet::Iac, telnet::Do, telnet::OptionComPort});
    std::size_t pushed = 0;
    std::thread device([&] {
        std::vector<std::uint8_t> block(65536);
        // 16 MiB, or until the port stops taking it.
        for (std::size_t n = block.size(); n == block.size() && pushed < (16u << 20);) {
            for (std::size_t i = 0; i < block.size(); ++i)
                block[i] = byteAt(pushed + i);
            n = server.sendAll(block.data(), block.size(), 500);
            pushed += n;
        }
    });
    QVERIFY(!port.applyState(ComSettings{}).ok());
    device.join();
    // The bound, and the two sides' queues in the system.
    QVERIFY2(pushed < NetworkPort::MaxHeldWhileWaiting + (2u << 20),
             qPrintable(QString::number(pushed)));

    std::size_t inOrder = 0;
    std::uint8_t buffer[4096];
    for (int n = 1; n > 0 && inOrder < pushed;) {
        n = port.readChunkWithin(buffer, sizeof buffer, 1000);
        for (int i = 0; i < n && buffer[i] == byteAt(inOrder); ++i)
            ++inOrder;
    }
    QCOMPARE(inOrder, pushed);
}

// Answers that come after the wait are reported as late, not as settings the server refused.
void TestRfc2217Peers::lateAnswerIsNoRefusal()
{
    std::atomic<bool> first{true};
    PlayedServer server(true, true, [&](const telnet::Bytes&) {
        if (first.exchange(false))
            std::this_thread::sleep_for(std::chrono::milliseconds(600));
        return std::optional<telnet::Bytes>();
    });
    NetworkPort port(Answer(300));
    QVERIFY(port.open(server.address()).ok());
    const kirt::SerialStatus status = port.applyState(ComSettings{});
    QCOMPARE(status.error, kirt::SerialError::SetStateFailed);
    QVERIFY2(status.reason.contains(QStringLiteral("did not answer the line settings in time")),
             qPrintable(status.reason));
}

QTEST_GUILESS_MAIN(TestRfc2217Peers)
#include "tst_rfc2217peers.moc"
