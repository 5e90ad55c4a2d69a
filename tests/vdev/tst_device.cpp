#include "tests/support/columns.h"
#include "vdev/device.h"
#include "vdev/pacer.h"
#include "vdev/streams.h"

#include <QtTest>

using namespace kirt::vdev;
using namespace std::chrono_literals;

namespace {

// Everything a device sends while the clock runs from `from` to `to` in steps.
QByteArray runDevice(VirtualDevice& device, Nanos from, Nanos to, Nanos step,
                     qsizetype room = 1 << 16)
{
    QByteArray out;
    for (Nanos now = from; now <= to; now += step) {
        const DeviceOutput due = device.tick(now, room);
        out += due.data + due.stream;
    }
    return out;
}

} // namespace

class TestDevice : public QObject
{
    Q_OBJECT

private slots:
    void pacerHoldsRate_data();
    void pacerHoldsRate();
    void pacerCapsBurst();
    void pacerTellsWhenBytesAreDue();

    void statusLineFormat_data();
    void statusLineFormat();
    void textStreamIsNumberedLinesCutAnywhere();
    void plotStreamIsLinesOfNumbers();
    void randomStreamIndependentOfChunking();

    void statusLinesOnlyWhileConnected();
    void statusAfterLongPauseSendsLatestOnly();
    void receiveOrdersEchoBeforeAnswers();
    void disconnectForgetsHalfCommands();
    void streamPacedAndHeldByRoom();
    void nextWakeFollowsBehaviours();

    void queueCountsWhatWentOut();
    void queueDropsPastLimitAndClears();
};

void TestDevice::pacerHoldsRate_data()
{
    kirt::test::columns<qint64, qint64>({"rate", "stepUs"});

    QTest::newRow("1 byte/s, 10 ms steps") << qint64(1) << qint64(10'000);
    QTest::newRow("960 byte/s, 1 ms steps") << qint64(960) << qint64(1'000);
    QTest::newRow("11520 byte/s, 7 ms steps") << qint64(11'520) << qint64(7'000);
    QTest::newRow("3 byte/s, odd steps") << qint64(3) << qint64(333'333);
    QTest::newRow("10 MB/s, 10 ms steps") << qint64(10'000'000) << qint64(10'000);
}

void TestDevice::pacerHoldsRate()
{
    QFETCH(qint64, rate);
    QFETCH(qint64, stepUs);
    Pacer pacer(rate, std::max<qint64>(rate / 10, 16));
    const Nanos start = 5s;
    const Nanos step = std::chrono::microseconds(stepUs);
    pacer.restart(start);
    qint64 sent = 0;
    Nanos last = start;
    for (Nanos now = start; now <= start + 10s; now += step) {
        const qint64 due = pacer.available(now);
        pacer.spend(due);
        sent += due;
        last = now;
    }
    // Exactly what the rate allows up to the last call: no byte lost or gained to rounding.
    QCOMPARE(sent, rate * (last - start).count() / 1'000'000'000);
}

void TestDevice::pacerCapsBurst()
{
    Pacer pacer(1000, 100);
    pacer.restart(0s);
    QCOMPARE(pacer.available(50ms), 50);
    // The reader stalled for a minute: only the burst is there, not sixty thousand bytes.
    QCOMPARE(pacer.available(60s), 100);
    pacer.spend(100);
    QCOMPARE(pacer.available(60s + 10ms), 10);
    // A clock that goes back gives nothing and takes nothing.
    QCOMPARE(pacer.available(30s), 10);
}

void TestDevice::pacerTellsWhenBytesAreDue()
{
    Pacer pacer(3, 10);
    pacer.restart(1s);
    const Nanos when = pacer.whenAvailable(1, 1s);
    // One byte at three a second needs a third of a second, rounded up to a whole nanosecond.
    QCOMPARE(when, 1s + 333'333'334ns);
    QCOMPARE(pacer.available(when - 1ns), 0);
    QCOMPARE(pacer.available(when), 1);
    QCOMPARE(pacer.whenAvailable(1, when), when);
}

void TestDevice::statusLineFormat_data()
{
    kirt::test::columns<quint64, qint64, QByteArray>({"sequence", "uptimeMs", "line"});

    kirt::test::row("first", quint64(1), qint64(1000),
                    QByteArray("STATUS 00001 UP 00:00:01 OK\r\n"));
    kirt::test::row("hours", quint64(3725), qint64(3'725'999),
                    QByteArray("STATUS 03725 UP 01:02:05 OK\r\n"));
    kirt::test::row("number wraps", quint64(123'456), qint64(100'000'000),
                    QByteArray("STATUS 23456 UP 27:46:40 OK\r\n"));
}

void TestDevice::statusLineFormat()
{
    QFETCH(quint64, sequence);
    QFETCH(qint64, uptimeMs);
    QFETCH(QByteArray, line);
    QCOMPARE(statusLine(sequence, std::chrono::milliseconds(uptimeMs)), line);
}

void TestDevice::textStreamIsNumberedLinesCutAnywhere()
{
    TextStream whole;
    TextStream pieces;
    const QByteArray all = whole.next(1000);
    QByteArray joined;
    for (qsizetype size : {1, 7, 0, 53, 200, 739})
        joined += pieces.next(size);
    QCOMPARE(joined, all);

    const QList<QByteArray> lines = all.split('\n');
    QVERIFY(lines.size() > 10);
    for (int i = 0; i < lines.size() - 1; ++i)
        QCOMPARE(lines[i], QByteArray::number(i + 1).rightJustified(6, '0') +
                               " THE QUICK BROWN FOX JUMPS OVER THE LAZY DOG\r");
}

void TestDevice::plotStreamIsLinesOfNumbers()
{
    kirt::vdev::PlotStream stream;
    const QList<QByteArray> lines = stream.next(2000).split('\n');
    QVERIFY(lines.size() > 30);
    QCOMPARE(lines[0], QByteArray("sine:0.000,ramp:0,noise:") +
                           lines[0].mid(24, lines[0].indexOf(",count") - 24) + ",count:0\r");
    QVERIFY(lines[25].startsWith("sine:1.000,ramp:25,noise:"));
    QVERIFY(lines[25].endsWith(",count:25\r"));
}

void TestDevice::randomStreamIndependentOfChunking()
{
    RandomStream whole(42);
    RandomStream pieces(42);
    RandomStream other(43);
    const QByteArray all = whole.next(4099);
    QByteArray joined;
    for (qsizetype size : {3, 1, 13, 4000, 82})
        joined += pieces.next(size);
    QCOMPARE(joined, all);
    QVERIFY(other.next(4099) != all);
    // Noise covers every byte value, not a few.
    QSet<char> seen(all.cbegin(), all.cend());
    QCOMPARE(seen.size(), 256);
}

void TestDevice::statusLinesOnlyWhileConnected()
{
    DeviceConfig config;
    config.statusPeriod = 100ms;
    VirtualDevice device(config, 10s);
    // Nobody listens for the first half second.
    QCOMPARE(runDevice(device, 10s, 10s + 450ms, 10ms), QByteArray());
    device.connect(10s + 450ms);
    const QByteArray heard = runDevice(device, 10s + 450ms, 10s + 720ms, 10ms);
    QCOMPARE(heard, QByteArray("STATUS 00005 UP 00:00:00 OK\r\n"
                               "STATUS 00006 UP 00:00:00 OK\r\n"
                               "STATUS 00007 UP 00:00:00 OK\r\n"));
    device.disconnect();
    QCOMPARE(runDevice(device, 10s + 730ms, 11s, 10ms), QByteArray());
}

void TestDevice::statusAfterLongPauseSendsLatestOnly()
{
    DeviceConfig config;
    config.statusPeriod = 1s;
    VirtualDevice device(config, 0s);
    device.connect(0s);
    QCOMPARE(device.tick(1s, 0).data, QByteArray("STATUS 00001 UP 00:00:01 OK\r\n"));
    QCOMPARE(device.tick(3600s + 500ms, 0).data, QByteArray("STATUS 03600 UP 01:00:00 OK\r\n"));
    QCOMPARE(device.tick(3600s + 900ms, 0).data, QByteArray());
}

void TestDevice::receiveOrdersEchoBeforeAnswers()
{
    DeviceConfig config;
    config.echo = true;
    config.at = true;
    config.modbusAddress = 1;
    VirtualDevice device(config, 0s);
    device.connect(0s);
    QCOMPARE(device.receive("AT\r", 1ms), QByteArray("AT\rOK\r\n"));
    const QByteArray request = QByteArray::fromHex("010300000002C40B");
    // After a pause, so that the AT line and the request are separate frames.
    QCOMPARE(device.receive(request, 100ms), request + readHoldingResponse(1, 0, 2));

    DeviceConfig quiet;
    quiet.at = true;
    VirtualDevice noEcho(quiet, 0s);
    QCOMPARE(noEcho.receive("AT\r", 1ms), QByteArray("OK\r\n"));
}

void TestDevice::disconnectForgetsHalfCommands()
{
    DeviceConfig config;
    config.at = true;
    config.modbusAddress = 1;
    VirtualDevice device(config, 0s);
    device.connect(0s);
    QVERIFY(device.receive("ATZ", 1ms).isEmpty());
    QVERIFY(device.receive(QByteArray::fromHex("0103"), 2ms).isEmpty());
    device.disconnect();
    device.connect(3ms);
    QVERIFY(device.tick(1s, 0).data.isEmpty());
    QCOMPARE(device.receive("AT\r", 1s), QByteArray("OK\r\n"));
}

void TestDevice::streamPacedAndHeldByRoom()
{
    DeviceConfig config;
    config.stream = StreamKind::Text;
    config.rate = 1000;
    VirtualDevice device(config, 0s);
    QVERIFY(device.tick(1s, 1 << 16).stream.isEmpty());
    device.connect(1s);
    const QByteArray second = runDevice(device, 1s, 2s, 10ms);
    QCOMPARE(second.size(), 1000);
    QCOMPARE(second, TextStream().next(1000));

    // No room (the reader is behind): nothing now, and only a short burst once there is.
    QVERIFY(device.tick(5s, 0).stream.isEmpty());
    QCOMPARE(device.tick(5s, 1 << 16).stream.size(), 100);
    QCOMPARE(device.tick(5s + 10ms, 4).stream.size(), 4);
}

void TestDevice::nextWakeFollowsBehaviours()
{
    DeviceConfig none;
    VirtualDevice idle(none, 0s);
    QCOMPARE(idle.nextWake(5s), 6s);

    DeviceConfig config;
    config.statusPeriod = 250ms;
    config.modbusAddress = 1;
    config.stream = StreamKind::Random;
    config.rate = 100;
    VirtualDevice device(config, 0s);
    QCOMPARE(device.nextWake(10ms), 250ms);
    device.connect(0s);
    // One byte at a time at a hundred a second.
    QCOMPARE(device.nextWake(0s), 10ms);
    QCOMPARE(device.nextWake(0s, false), 250ms);
    // A pending unknown frame ends after the silence.
    device.receive(QByteArray::fromHex("01"), 1ms);
    QCOMPARE(device.nextWake(0s, false), 21ms);
    QCOMPARE(device.nextWake(1s, false), 1s);
}

void TestDevice::queueCountsWhatWentOut()
{
    OutputQueue queue;
    queue.append("abc");
    queue.append("0123456789", true);
    queue.append("xy");
    QByteArray port;
    // A port that takes four bytes at a time, then nothing.
    int calls = 0;
    const auto takeFour = [&](const char* bytes, qsizetype size) -> qsizetype {
        if (++calls > 2)
            return -1;
        const qsizetype taken = std::min<qsizetype>(size, 4);
        port.append(bytes, taken);
        return taken;
    };
    QCOMPARE(queue.flush(takeFour), 8);
    QCOMPARE(port, QByteArray("abc01234"));
    QCOMPARE(queue.sent(), 8);
    QCOMPARE(queue.streamed(), 5);
    QCOMPARE(queue.size(), 7);

    const auto takeAll = [&](const char* bytes, qsizetype size) -> qsizetype {
        port.append(bytes, size);
        return size;
    };
    QCOMPARE(queue.flush(takeAll), 7);
    QCOMPARE(port, QByteArray("abc0123456789xy"));
    QCOMPARE(queue.sent(), 15);
    QCOMPARE(queue.streamed(), 10);
    QVERIFY(queue.isEmpty());
}

void TestDevice::queueDropsPastLimitAndClears()
{
    OutputQueue queue;
    queue.append(QByteArray(OutputQueue::MaxQueued - 1, 'a'), true);
    queue.append("bc");
    QCOMPARE(queue.dropped(), 2);
    QCOMPARE(queue.size(), OutputQueue::MaxQueued - 1);
    queue.clear();
    QVERIFY(queue.isEmpty());
    queue.append("z");
    const auto takeAll = [](const char*, qsizetype size) { return size; };
    queue.flush(takeAll);
    QCOMPARE(queue.sent(), 1);
    QCOMPARE(queue.streamed(), 0);
}

QTEST_GUILESS_MAIN(TestDevice)
#include "tst_device.moc"
