// Reads, writes and purge of an open port, with a pseudo-terminal playing the device.
#include "serial/termiosport.h"
#include "tests/support/ptyport.h"

#include <QElapsedTimer>
#include <QTest>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <thread>
#include <vector>

#include <poll.h>
#include <unistd.h>

using kirt::PtyDevice;
using kirt::TermiosPort;
using kirt::test::openOver;
using kirt::test::settings8N1;

class TestTermiosIo : public QObject
{
    Q_OBJECT

private slots:
    void readReturnsWhenBytesAreThere();
    void readReturnsWhenBytesArriveDuringTheWait();
    void readTakesAtMostCapacity();
    void emptyReadReturnsZeroAfterTimeout();
    void bytesPassUnchangedBothWays();
    void writeLargerThanTheDeviceHolds();
    void purgeWakesABlockedRead();
    void purgeDiscardsInput();
};

void TestTermiosIo::readReturnsWhenBytesAreThere()
{
    PtyDevice device;
    QVERIFY(device.isValid());
    TermiosPort port;
    QVERIFY(openOver(port, device, settings8N1(500)));

    QVERIFY(device.send("ab"));
    QVERIFY(PtyDevice::waitUntil([&] { return device.pendingForProgram() == 2; }));
    std::uint8_t buffer[4] = {};
    QElapsedTimer clock;
    clock.start();
    QCOMPARE(port.readChunk(buffer, 4), 2);
    // Not held back until the time-out: the read ends well before its 504 ms budget.
    QVERIFY2(clock.elapsed() < 504, qPrintable(QString::number(clock.elapsed())));
    QCOMPARE(buffer[0], std::uint8_t{'a'});
    QCOMPARE(buffer[1], std::uint8_t{'b'});
}

void TestTermiosIo::readReturnsWhenBytesArriveDuringTheWait()
{
    PtyDevice device;
    TermiosPort port;
    QVERIFY(openOver(port, device, settings8N1(500)));

    const int master = device.masterFd();
    std::thread sender([master] {
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
        [[maybe_unused]] const ssize_t sent = ::write(master, "z", 1);
    });
    std::uint8_t buffer[4] = {};
    QElapsedTimer clock;
    clock.start();
    const int got = port.readChunk(buffer, 4);
    const qint64 elapsed = clock.elapsed();
    sender.join();
    QCOMPARE(got, 1);
    QCOMPARE(buffer[0], std::uint8_t{'z'});
    QVERIFY2(elapsed < 504, qPrintable(QString::number(elapsed)));
}

void TestTermiosIo::readTakesAtMostCapacity()
{
    PtyDevice device;
    TermiosPort port;
    QVERIFY(openOver(port, device, settings8N1(50)));

    const QByteArray sent = "0123456789";
    QVERIFY(device.send(sent));
    QVERIFY(PtyDevice::waitUntil([&] { return device.pendingForProgram() == 10; }));
    QByteArray received;
    for (int reads = 0; reads < 3; ++reads) {
        std::uint8_t buffer[8] = {};
        const int got = port.readChunk(buffer, 4);
        QVERIFY(got >= 1 && got <= 4);
        received.append(reinterpret_cast<const char*>(buffer), got);
    }
    QCOMPARE(received, sent);
}

void TestTermiosIo::emptyReadReturnsZeroAfterTimeout()
{
    PtyDevice device;
    TermiosPort port;
    QVERIFY(openOver(port, device, settings8N1(20)));
    QCOMPARE(port.readTimeoutMs(), 20u);

    std::uint8_t buffer[4] = {};
    QElapsedTimer clock;
    clock.start();
    QCOMPARE(port.readChunk(buffer, 4), 0);
    QVERIFY2(clock.elapsed() >= 20, qPrintable(QString::number(clock.elapsed())));
}

void TestTermiosIo::bytesPassUnchangedBothWays()
{
    PtyDevice device;
    TermiosPort port;
    QVERIFY(openOver(port, device, settings8N1()));

    // Every value, including CR, LF, XON, XOFF and the control characters.
    QByteArray all;
    for (int value = 0; value < 256; ++value)
        all.append(static_cast<char>(value));

    for (const char byte : all)
        QVERIFY(port.writeByte(static_cast<std::uint8_t>(byte)));
    QCOMPARE(device.receive(256), all);

    QVERIFY(device.send(all));
    QByteArray received;
    for (int reads = 0; reads < 1000 && received.size() < all.size(); ++reads) {
        std::uint8_t buffer[4] = {};
        const int got = port.readChunk(buffer, 4);
        QVERIFY(got >= 0);
        received.append(reinterpret_cast<const char*>(buffer), got);
    }
    QCOMPARE(received, all);
}

void TestTermiosIo::writeLargerThanTheDeviceHolds()
{
    PtyDevice device;
    TermiosPort port;
    QVERIFY(openOver(port, device, settings8N1()));
    // Far more than the pseudo-terminal buffers: the write goes out in pieces, waiting for
    // room while the device has not read yet.
    std::vector<std::uint8_t> sent(256 * 1024);
    for (std::size_t i = 0; i < sent.size(); ++i)
        sent[i] = static_cast<std::uint8_t>(i * 31 + i / 253);
    QByteArray got;
    std::thread reader([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        char buffer[4096];
        while (got.size() < static_cast<qsizetype>(sent.size())) {
            pollfd ready{device.masterFd(), POLLIN, 0};
            if (::poll(&ready, 1, 2000) <= 0)
                break;
            const ssize_t n = ::read(device.masterFd(), buffer, sizeof buffer);
            if (n > 0)
                got.append(buffer, n);
            else if (n < 0 && errno != EAGAIN && errno != EINTR)
                break;
        }
    });
    const std::size_t written = port.writeBytes(sent.data(), sent.size());
    reader.join();
    QCOMPARE(written, sent.size());
    QCOMPARE(got, QByteArray(reinterpret_cast<const char*>(sent.data()),
                             static_cast<qsizetype>(sent.size())));
}

void TestTermiosIo::purgeWakesABlockedRead()
{
    PtyDevice device;
    TermiosPort port;
    QVERIFY(openOver(port, device, settings8N1(500)));

    std::atomic<int> result{-2};
    std::atomic<qint64> elapsed{0};
    std::thread reader([&] {
        QElapsedTimer clock;
        clock.start();
        std::uint8_t buffer[4];
        result = port.readChunk(buffer, 4);
        elapsed = clock.elapsed();
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    port.purge();
    reader.join();
    QCOMPARE(result.load(), 0);
    QVERIFY2(elapsed.load() < 504, qPrintable(QString::number(elapsed.load())));
    QVERIFY(port.isOpen());
}

void TestTermiosIo::purgeDiscardsInput()
{
    PtyDevice device;
    TermiosPort port;
    QVERIFY(openOver(port, device, settings8N1(10)));

    QVERIFY(device.send("stale"));
    QVERIFY(PtyDevice::waitUntil([&] { return device.pendingForProgram() == 5; }));
    port.purge();
    QCOMPARE(device.pendingForProgram(), 0);
    std::uint8_t buffer[4];
    QCOMPARE(port.readChunk(buffer, 4), 0);
    QCOMPARE(port.readChunk(buffer, 4), 0);

    // The port goes on working after a purge.
    QVERIFY(device.send("x"));
    int got = 0;
    for (int reads = 0; reads < 100 && got == 0; ++reads)
        got = port.readChunk(buffer, 4);
    QCOMPARE(got, 1);
    QCOMPARE(buffer[0], std::uint8_t{'x'});
}

QTEST_GUILESS_MAIN(TestTermiosIo)
#include "tst_termiosio.moc"
