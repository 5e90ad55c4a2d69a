#include "serial/rxringbuffer.h"
#include "tests/support/columns.h"

#include <QTest>

#include <deque>
#include <random>
#include <vector>

using kirt::RxRingBuffer;

namespace {

constexpr std::uint32_t Size = RxRingBuffer::Size;

// A byte sequence in which neighbours differ, so a lost or repeated byte shows.
std::uint8_t patternByte(std::uint32_t i)
{
    return static_cast<std::uint8_t>((i * 7u + i / 256u) & 0xFFu);
}

// Stores count pattern bytes starting at sequence number first, in chunks of chunkSize.
std::uint32_t storePattern(RxRingBuffer& ring, std::uint32_t first, std::uint32_t count,
                           std::uint32_t chunkSize)
{
    std::uint32_t stored = 0;
    std::vector<std::uint8_t> chunk;
    for (std::uint32_t done = 0; done < count; done += chunkSize) {
        const std::uint32_t n = std::min(chunkSize, count - done);
        chunk.clear();
        for (std::uint32_t i = 0; i < n; ++i)
            chunk.push_back(patternByte(first + done + i));
        stored += ring.StoreRxChunk(chunk.data(), n).stored;
    }
    return stored;
}

// Checks the invariants that hold between any two operations.
bool consistent(const RxRingBuffer& ring)
{
    if (!ring.RxWrapped())
        return ring.RxReadIndex() <= ring.RxWriteIndex() && ring.RxWriteIndex() <= Size;
    return ring.RxWriteIndex() <= ring.RxReadIndex() && ring.RxReadIndex() < Size &&
           (ring.RxWriteIndex() != ring.RxReadIndex() || ring.RxFull());
}

} // namespace

class TestRxRingBuffer : public QObject
{
    Q_OBJECT

private slots:
    void turnAtTheEnd_data();
    void turnAtTheEnd();
    void fullState_data();
    void fullState();
    void emptyChunkReportsFullOnly();
    void takeWithNothingPending();
    void clearEmptiesEverything();
    void trafficFigures_data();
    void trafficFigures();
    void matchesAQueueUnderRandomTraffic();
};

void TestRxRingBuffer::turnAtTheEnd_data()
{
    kirt::test::columns<std::uint32_t, std::uint32_t, std::uint32_t, std::uint32_t>(
        {"prefill", "takenFirst", "more", "chunkSize"});

    // The writer reaches slot 40959 with the reader ahead of slot 0.
    QTest::newRow("last slot, reader at 2") << Size - 1 << 2u << 2u << 1u;
    QTest::newRow("turn inside a chunk") << Size - 2 << 10u << 4u << 4u;
    QTest::newRow("turn then fill up to the reader") << Size - 100 << 300u << 399u << 3u;
    QTest::newRow("whole buffer round") << 40000u << 100u << 1000u << 4u;
    // One read of several KB, split by the turn.
    QTest::newRow("4 KB read across the turn") << Size - 1000 << 3500u << 4096u << 4096u;
}

void TestRxRingBuffer::turnAtTheEnd()
{
    QFETCH(std::uint32_t, prefill);
    QFETCH(std::uint32_t, takenFirst);
    QFETCH(std::uint32_t, more);
    QFETCH(std::uint32_t, chunkSize);

    auto ring = std::make_unique<RxRingBuffer>();
    QCOMPARE(storePattern(*ring, 0, prefill, chunkSize), prefill);
    for (std::uint32_t i = 0; i < takenFirst; ++i)
        QCOMPARE(ring->TakeRxByte().byte, patternByte(i));

    QCOMPARE(storePattern(*ring, prefill, more, chunkSize), more);
    QVERIFY(ring->RxWrapped());
    QVERIFY(!ring->RxFull());
    QCOMPARE(ring->RxWriteIndex(), prefill + more - Size);
    QCOMPARE(ring->slot(0), patternByte(Size)); // the first byte after the turn
    QVERIFY(consistent(*ring));

    // Everything comes out in order, and the reader turns back to slot 0 with it.
    for (std::uint32_t i = takenFirst; i < prefill + more; ++i) {
        const RxRingBuffer::TakeResult taken = ring->TakeRxByte();
        QVERIFY(taken.taken);
        QCOMPARE(taken.byte, patternByte(i));
        QVERIFY(!taken.pause);
        QVERIFY(consistent(*ring));
    }
    QVERIFY(!ring->pending());
    QCOMPARE(ring->RxReadIndex(), 0u);
    QCOMPARE(ring->RxWriteIndex(), 0u);
    QVERIFY(!ring->RxWrapped());
}

void TestRxRingBuffer::fullState_data()
{
    kirt::test::columns<std::uint32_t, std::uint32_t>({"takenFirst", "chunkSize"});

    QTest::newRow("unwrapped, reader at 0") << 0u << 4u;
    QTest::newRow("unwrapped, single bytes") << 0u << 1u;
    QTest::newRow("wrapped, reader ahead") << 5000u << 4u;
    QTest::newRow("wrapped, reader one slot ahead") << 1u << 3u;
}

void TestRxRingBuffer::fullState()
{
    QFETCH(std::uint32_t, takenFirst);
    QFETCH(std::uint32_t, chunkSize);

    auto ring = std::make_unique<RxRingBuffer>();
    storePattern(*ring, 0, Size, chunkSize);
    for (std::uint32_t i = 0; i < takenFirst; ++i)
        ring->TakeRxByte();

    // Offer far more than fits: exactly 40960 unread bytes stay, and the buffer is full once
    // a byte has been turned away.
    const std::uint32_t offered = takenFirst + 100;
    const std::uint32_t stored = storePattern(*ring, Size, offered, chunkSize);
    QCOMPARE(stored, takenFirst);
    QVERIFY(ring->RxFull());
    QCOMPARE(ring->backlog(), Size);
    QVERIFY(consistent(*ring));

    // Every chunk that arrives while full is dropped whole and asks for the panel.
    const std::uint8_t extra[4] = {1, 2, 3, 4};
    RxRingBuffer::StoreResult dropped = ring->StoreRxChunk(extra, 4);
    QCOMPARE(dropped.stored, 0u);
    QVERIFY(dropped.showFullPanel);

    // Taking a byte frees a slot but does not end the full state.
    RxRingBuffer::TakeResult first = ring->TakeRxByte();
    QCOMPARE(first.byte, patternByte(takenFirst));
    QVERIFY(first.pause);
    QVERIFY(!first.hideFullPanel);
    dropped = ring->StoreRxChunk(extra, 4);
    QCOMPARE(dropped.stored, 0u);
    QVERIFY(dropped.showFullPanel);

    // Each remaining byte comes out in order with the pause; the last one ends the state.
    std::uint32_t pauses = 1;
    for (std::uint32_t i = takenFirst + 1; i < takenFirst + Size; ++i) {
        const RxRingBuffer::TakeResult taken = ring->TakeRxByte();
        QCOMPARE(taken.byte, patternByte(i));
        pauses += taken.pause ? 1 : 0;
        QCOMPARE(taken.hideFullPanel, i == takenFirst + Size - 1);
        QVERIFY(consistent(*ring));
    }
    QCOMPARE(pauses, Size);
    QVERIFY(!ring->RxFull());
    QVERIFY(!ring->pending());

    // Storing resumes from slot 0.
    const RxRingBuffer::StoreResult resumed = ring->StoreRxChunk(extra, 4);
    QCOMPARE(resumed.stored, 4u);
    QVERIFY(!resumed.showFullPanel);
    QCOMPARE(ring->TakeRxByte().byte, std::uint8_t{1});
}

void TestRxRingBuffer::emptyChunkReportsFullOnly()
{
    auto ring = std::make_unique<RxRingBuffer>();
    QVERIFY(!ring->StoreRxChunk(nullptr, 0).showFullPanel);
    QVERIFY(!ring->pending());

    storePattern(*ring, 0, Size + 1, 4);
    QVERIFY(ring->RxFull());
    // A read that delivered nothing still shows the panel while full.
    const RxRingBuffer::StoreResult empty = ring->StoreRxChunk(nullptr, 0);
    QVERIFY(empty.showFullPanel);
    QCOMPARE(empty.stored, 0u);
}

void TestRxRingBuffer::takeWithNothingPending()
{
    auto ring = std::make_unique<RxRingBuffer>();
    const std::uint8_t one = 0x5A;
    ring->StoreRxChunk(&one, 1);
    QCOMPARE(ring->TakeRxByte().byte, one);
    const RxRingBuffer::TakeResult none = ring->TakeRxByte();
    QVERIFY(!none.taken);
    QCOMPARE(ring->RxReadIndex(), 0u);
    QCOMPARE(ring->RxWriteIndex(), 0u);
}

void TestRxRingBuffer::clearEmptiesEverything()
{
    auto ring = std::make_unique<RxRingBuffer>();
    storePattern(*ring, 0, Size, 4);
    for (int i = 0; i < 10; ++i)
        ring->TakeRxByte();
    storePattern(*ring, Size, 20, 4);
    QVERIFY(ring->RxWrapped());
    QVERIFY(ring->RxFull());

    ring->clear();
    QCOMPARE(ring->RxWriteIndex(), 0u);
    QCOMPARE(ring->RxReadIndex(), 0u);
    QVERIFY(!ring->RxWrapped());
    QVERIFY(!ring->RxFull());
    QVERIFY(!ring->pending());
    QCOMPARE(ring->backlog(), 0u);

    const std::uint8_t byte = 0x42;
    QCOMPARE(ring->StoreRxChunk(&byte, 1).stored, 1u);
    QCOMPARE(ring->TakeRxByte().byte, byte);
}

void TestRxRingBuffer::trafficFigures_data()
{
    kirt::test::columns<std::uint32_t, std::uint32_t, std::uint32_t, std::uint32_t, std::uint32_t>(
        {"stored", "taken", "storedAfter", "written", "backlog"});

    QTest::newRow("empty") << 0u << 0u << 0u << 0u << 0u;
    QTest::newRow("half read") << 20u << 10u << 0u << 20u << 10u;
    QTest::newRow("read empty resets the round") << 20u << 20u << 5u << 5u << 5u;
    QTest::newRow("wrapped") << Size << 100u << 30u << Size + 30 << Size - 70;
    QTest::newRow("wrapped to full") << Size << 100u << 500u << Size + 100 << Size;
}

void TestRxRingBuffer::trafficFigures()
{
    QFETCH(std::uint32_t, stored);
    QFETCH(std::uint32_t, taken);
    QFETCH(std::uint32_t, storedAfter);
    QFETCH(std::uint32_t, written);
    QFETCH(std::uint32_t, backlog);

    auto ring = std::make_unique<RxRingBuffer>();
    storePattern(*ring, 0, stored, 4);
    for (std::uint32_t i = 0; i < taken; ++i)
        ring->TakeRxByte();
    storePattern(*ring, stored, storedAfter, 4);
    QCOMPARE(ring->written(), written);
    QCOMPARE(ring->backlog(), backlog);
}

void TestRxRingBuffer::matchesAQueueUnderRandomTraffic()
{
    // Against a plain queue: whatever the buffer accepts comes out in order, the backlog is
    // the queue's length, and bytes are turned away only when the buffer is full.
    auto ring = std::make_unique<RxRingBuffer>();
    std::deque<std::uint8_t> model;
    std::mt19937 random(20240611u);
    std::uint32_t sequence = 0;
    int wrappedRounds = 0;
    int fullRounds = 0;

    for (int round = 0; round < 450000; ++round) {
        // Phases that favour storing, then taking, so the buffer fills, wraps and drains.
        const bool storePhase = round % 90000 < 30000;
        const bool storing = storePhase ? random() % 100 < 80 : random() % 100 < 5;
        if (storing) {
            const auto n = static_cast<std::uint32_t>(random() % 5);
            std::uint8_t chunk[4];
            for (std::uint32_t i = 0; i < n; ++i)
                chunk[i] = patternByte(sequence++);
            const bool wasFull = ring->RxFull();
            const RxRingBuffer::StoreResult result = ring->StoreRxChunk(chunk, n);
            QVERIFY(result.stored <= n);
            if (result.stored < n)
                QVERIFY(ring->RxFull());
            QCOMPARE(result.showFullPanel, wasFull);
            for (std::uint32_t i = 0; i < result.stored; ++i)
                model.push_back(chunk[i]);
        } else if (!model.empty()) {
            QVERIFY(ring->pending());
            const bool wasFull = ring->RxFull();
            const RxRingBuffer::TakeResult taken = ring->TakeRxByte();
            QCOMPARE(taken.byte, model.front());
            QCOMPARE(taken.pause, wasFull);
            model.pop_front();
        } else {
            QVERIFY(!ring->pending());
        }
        QCOMPARE(ring->backlog(), static_cast<std::uint32_t>(model.size()));
        QVERIFY(model.size() <= Size);
        if (!consistent(*ring))
            QFAIL(qPrintable(QStringLiteral("invariant broken at round %1").arg(round)));
        wrappedRounds += ring->RxWrapped() ? 1 : 0;
        fullRounds += ring->RxFull() ? 1 : 0;
    }
    // The traffic must have reached the states under test.
    QVERIFY(wrappedRounds > 0);
    QVERIFY(fullRounds > 0);
}

QTEST_GUILESS_MAIN(TestRxRingBuffer)
#include "tst_rxringbuffer.moc"
