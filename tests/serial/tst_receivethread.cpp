#include "serial/receivethread.h"
#include "serial/rxringbuffer.h"
#include "serial/termiosport.h"
#include "tests/support/ptydevice.h"
#include "tests/support/ptyport.h"

#include <QElapsedTimer>
#include <QPointer>
#include <QTest>

#include <atomic>
#include <functional>
#include <memory>
#include <thread>
#include <vector>

using kirt::PtyDevice;

namespace {

// Plays the window: owns the ring buffer and "displays" by collecting the bytes it takes.
class TestSink : public QObject, public kirt::RxSink
{
public:
    void StoreRxChunk(const std::uint8_t* bytes, std::uint32_t count,
                      const kirt::ReadTime&) override
    {
        noteThread();
        if (onStore && count > 0)
            std::exchange(onStore, nullptr)();
        if (m_storeCount > 0)
            stepsAfterStore.push_back({m_lastCount, m_stepsSinceStore});
        ++m_storeCount;
        m_lastCount = count;
        m_stepsSinceStore = 0;
        if (ring->StoreRxChunk(bytes, count).showFullPanel)
            fullPanelShown = true;
    }

    void RxDisplayStep() override
    {
        noteThread();
        ++steps;
        ++m_stepsSinceStore;
        if (ring->pending())
            displayed.append(static_cast<char>(ring->TakeRxByte().byte));
    }

    void deviceLost() override { ++lost; }

    int stores() const { return m_storeCount; }

    struct Pass
    {
        std::uint32_t count;
        int steps;
    };

    std::function<void()> onStore; // runs once, inside the next hand-over that stores bytes
    std::unique_ptr<kirt::RxRingBuffer> ring = std::make_unique<kirt::RxRingBuffer>();
    QByteArray displayed;
    std::vector<Pass> stepsAfterStore;
    int steps = 0;
    int lost = 0;
    bool fullPanelShown = false;
    bool calledOffMainThread = false;

private:
    void noteThread()
    {
        if (QThread::currentThread() != thread())
            calledOffMainThread = true;
    }

    int m_storeCount = 0;
    std::uint32_t m_lastCount = 0;
    int m_stepsSinceStore = 0;
};

// The open sequence of the window, then the thread.
struct Link
{
    explicit Link(std::uint32_t readTimeoutMs = 2) : port(std::make_shared<kirt::TermiosPort>())
    {
        kirt::ComSettings settings;
        settings.baudRate = 115200;
        settings.readTimeoutMs = readTimeoutMs;
        opened = kirt::test::openOver(*port, device, settings);
        rxEnabled = true;
        if (opened)
            thread = new TReceiveComThread(port, sink, sink, rxEnabled);
    }

    ~Link()
    {
        TReceiveComThread::stopAndWait(thread);
        port->close();
    }

    // How the window closes: no wait for the thread.
    void closePort()
    {
        if (thread)
            thread->requestInterruption();
        port->purge();
        port->close();
    }

    PtyDevice device;
    TestSink sink;
    std::atomic<bool> rxEnabled{false};
    std::shared_ptr<kirt::TermiosPort> port;
    QPointer<TReceiveComThread> thread;
    bool opened = false;
};

QByteArray burst(int size)
{
    QByteArray bytes;
    bytes.reserve(size);
    for (int i = 0; i < size; ++i)
        bytes.append(static_cast<char>((i * 13 + i / 251) & 0xFF));
    return bytes;
}

// Plays a device that never stops sending, from its own thread.
class Streamer
{
public:
    explicit Streamer(int masterFd)
        : m_thread([this, masterFd] {
              const QByteArray bytes = burst(256);
              while (m_running) {
                  if (::write(masterFd, bytes.constData(), static_cast<std::size_t>(bytes.size())) <
                      0)
                      std::this_thread::sleep_for(std::chrono::milliseconds(1));
              }
          })
    {
    }
    ~Streamer()
    {
        m_running = false;
        m_thread.join();
    }
    Streamer(const Streamer&) = delete;
    Streamer& operator=(const Streamer&) = delete;

private:
    std::atomic<bool> m_running{true};
    std::thread m_thread;
};

} // namespace

class TestReceiveThread : public QObject
{
    Q_OBJECT

private slots:
    void burstArrivesInOrder();
    void displayStepsFollowEachRead();
    void busyWindowDoesNotHoldTheLine();
    void disabledReceiveLeavesBytesOnTheLine();
    void deviceGoneDoesNotSpin_data();
    void deviceGoneDoesNotSpin();
    void closeDuringALongReadEndsTheThread();
    void closeWhileStreaming();
    void stopAtExitWhileStreaming();
};

void TestReceiveThread::burstArrivesInOrder()
{
    Link link;
    QVERIFY(link.opened);
    const QByteArray sent = burst(10000);
    QVERIFY(link.device.send(sent, 30000));
    QVERIFY(PtyDevice::waitUntil([&] { return link.sink.displayed.size() >= sent.size(); }, 30000));
    QCOMPARE(link.sink.displayed, sent);
    QVERIFY(!link.sink.fullPanelShown);
    QVERIFY(!link.sink.calledOffMainThread);
}

void TestReceiveThread::displayStepsFollowEachRead()
{
    Link link;
    QVERIFY(link.opened);
    QVERIFY(link.device.send(burst(2000)));
    QVERIFY(PtyDevice::waitUntil([&] { return link.sink.displayed.size() >= 2000; }, 30000));
    // Let a few quiet passes follow as well.
    QVERIFY(PtyDevice::waitUntil([&] { return link.sink.stores() > 0; }));
    const int storesSoFar = link.sink.stores();
    QVERIFY(PtyDevice::waitUntil([&] { return link.sink.stores() > storesSoFar + 5; }));

    // After a read of k bytes, k display steps; after an empty read, 20.
    int withBytes = 0;
    for (const TestSink::Pass& pass : link.sink.stepsAfterStore) {
        QCOMPARE(pass.steps, pass.count != 0 ? static_cast<int>(pass.count) : 20);
        withBytes += pass.count != 0 ? 1 : 0;
    }
    QVERIFY(withBytes > 0);
}

void TestReceiveThread::busyWindowDoesNotHoldTheLine()
{
    Link link;
    QVERIFY(link.opened);
    const QByteArray rest = burst(12000);
    bool readWhileBusy = false;
    // The window is stuck inside a hand-over while the device goes on sending.
    // Written straight to the terminal: a send that served events would nest hand-overs.
    link.sink.onStore = [&] {
        QElapsedTimer busy;
        busy.start();
        qsizetype written = 0;
        while (!readWhileBusy && busy.elapsed() < 5000) {
            const ssize_t n = ::write(link.device.masterFd(), rest.constData() + written,
                                      static_cast<std::size_t>(rest.size() - written));
            written += std::max<ssize_t>(n, 0);
            readWhileBusy = link.thread &&
                            link.thread->bytesRead() == static_cast<std::uint64_t>(1 + rest.size());
            QThread::msleep(1);
        }
    };
    QVERIFY(link.device.send("x"));
    QVERIFY(PtyDevice::waitUntil([&] { return link.sink.displayed.size() == 1 + rest.size(); }));
    QVERIFY(readWhileBusy);
    QCOMPARE(link.sink.displayed, "x" + rest);
}

void TestReceiveThread::disabledReceiveLeavesBytesOnTheLine()
{
    Link link;
    QVERIFY(link.opened);
    link.rxEnabled = false;
    // A pass that started before the flag changed may still read once.
    PtyDevice::serveEvents(50);
    const int storesBefore = link.sink.stores();
    const int stepsBefore = link.sink.steps;

    QVERIFY(link.device.send("held"));
    PtyDevice::serveEvents(100);
    QCOMPARE(link.sink.stores(), storesBefore);
    QVERIFY(link.sink.steps > stepsBefore); // the display steps go on
    QCOMPARE(link.device.pendingForProgram(), 4);

    link.rxEnabled = true;
    QVERIFY(PtyDevice::waitUntil([&] { return link.sink.displayed == "held"; }));
}

void TestReceiveThread::deviceGoneDoesNotSpin_data()
{
    QTest::addColumn<std::uint32_t>("readTimeoutMs");
    QTest::newRow("1 ms") << 1u;
    QTest::newRow("2 ms") << 2u;
    QTest::newRow("20 ms") << 20u;
}

void TestReceiveThread::deviceGoneDoesNotSpin()
{
    QFETCH(std::uint32_t, readTimeoutMs);
    Link link(readTimeoutMs);
    QVERIFY(link.opened);
    QVERIFY(link.device.send("before"));
    QVERIFY(PtyDevice::waitUntil([&] { return link.sink.displayed == "before"; }));

    // The adapter is pulled out: the read finds the device gone, says so once and the thread
    // ends, so nothing waits on the dead descriptor, let alone spins on it.
    link.device.closeMaster();
    QVERIFY(PtyDevice::waitUntil([&] { return link.sink.lost > 0 && !link.thread; }));
    QVERIFY(link.port->deviceLost());
    const int stepsBefore = link.sink.steps;
    PtyDevice::serveEvents(500);
    QCOMPARE(link.sink.lost, 1);
    QCOMPARE(link.sink.steps, stepsBefore);
    qInfo("device gone at a %u ms read time-out: reported once, thread ended", readTimeoutMs);
}

void TestReceiveThread::closeDuringALongReadEndsTheThread()
{
    Link link(500);
    QVERIFY(link.opened);
    PtyDevice::serveEvents(20); // the thread is now waiting in a read
    link.closePort();
    QVERIFY(!link.port->isOpen());
    QVERIFY(PtyDevice::waitUntil([&] { return link.thread.isNull(); }, 10000));
}

void TestReceiveThread::closeWhileStreaming()
{
    Link link;
    QVERIFY(link.opened);
    Streamer streamer(link.device.masterFd());
    QVERIFY(PtyDevice::waitUntil([&] { return link.sink.displayed.size() > 1000; }));
    link.closePort();
    QVERIFY(PtyDevice::waitUntil([&] { return link.thread.isNull(); }, 10000));
    QVERIFY(!link.sink.calledOffMainThread);
}

void TestReceiveThread::stopAtExitWhileStreaming()
{
    auto link = std::make_unique<Link>();
    QVERIFY(link->opened);
    auto streamer = std::make_unique<Streamer>(link->device.masterFd());
    QVERIFY(PtyDevice::waitUntil([&] { return link->sink.displayed.size() > 1000; }));

    // What the window does when it closes with the port open and data flowing.
    QPointer<TReceiveComThread> thread = link->thread;
    TReceiveComThread::stopAndWait(thread);
    QVERIFY(thread.isNull() || thread->isFinished());
    link->port->close();
    QVERIFY(PtyDevice::waitUntil([&] { return thread.isNull(); }));
    streamer.reset();
    link.reset();
}

QTEST_GUILESS_MAIN(TestReceiveThread)
#include "tst_receivethread.moc"
