#include "serial/receivethread.h"

#include <QCoreApplication>
#include <QMetaObject>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <limits>
#include <mutex>
#include <new>
#include <utility>
#include <vector>

// The reads queued for the window, shared by the thread and the hand-overs it has posted.
struct TReceiveComThread::Handoff
{
    struct Pass
    {
        std::vector<std::uint8_t> bytes;
        kirt::ReadTime readAt;
        bool stored = false; // the read succeeded (also with 0 bytes): store it
        std::uint32_t steps = 0;
    };

    std::mutex mutex;
    std::condition_variable served;
    std::vector<Pass> passes;
    std::size_t queuedBytes = 0;
    bool posted = false;  // a hand-over waits in the window's event queue
    bool serving = false; // the window is inside a hand-over
    // The sink held undisplayed bytes after the last hand-over.
    std::atomic<bool> sinkPending{true};
    // The read time of the oldest bytes queued and not yet taken by a hand-over, and the time
    // a read that returned is on its way to the queue (taken before its read time).
    std::atomic<std::int64_t> oldestQueued{NoneQueued};
    std::atomic<std::int64_t> readInFlight{NoneQueued};
    static constexpr std::int64_t NoneQueued = std::numeric_limits<std::int64_t>::max();
};

TReceiveComThread::TReceiveComThread(std::shared_ptr<kirt::SerialPort> port, kirt::RxSink& sink,
                                     QObject& context, const std::atomic<bool>& rxEnabled)
    : m_port(std::move(port)), m_sink(sink), m_context(context), m_rxEnabled(rxEnabled),
      m_handoff(std::make_shared<Handoff>())
{
    connect(this, &QThread::finished, this, &QObject::deleteLater);
    start();
}

void TReceiveComThread::stopAndWait(QPointer<TReceiveComThread> thread)
{
    if (!thread)
        return;
    thread->requestInterruption();
    // The pump may run the deferred delete; the guard then ends the loop.
    while (thread && !thread->wait(5))
        QCoreApplication::processEvents();
}

void TReceiveComThread::run()
{
    Execute();
}

void TReceiveComThread::Execute()
{
    while (!isInterruptionRequested()) {
        m_chunkReady = false;
        const bool read = m_rxEnabled.load();
        if (read && m_dense)
            waitForMoreOfTheStream();
        if (read) {
            waitForRoom();
            ReadRxChunk();
        }
        const bool sinkPending = m_handoff->sinkPending.load();
        // A quiet line with nothing left to display costs no hand-over.
        m_quiet = m_chunkReady && m_chunkCount == 0 && !sinkPending;
        // A big read left more waiting: the next read goes at once.
        m_dense = m_chunkCount >= DenseChunk && m_chunkCount < BusyChunk;
        if (m_chunkCount != 0) {
            queuePass(m_chunkCount);
        } else if (sinkPending && !isInterruptionRequested()) {
            // Draining what waits in the sink goes at the window's pace, one pass at a time.
            queuePass(IdleDisplaySteps);
            waitUntilServed();
        } else if (!read) {
            pauseForAReadTime();
        }
        m_passEnded = std::chrono::steady_clock::now();
        m_chunkCount = 0;
        ++m_passes;
    }
}

void TReceiveComThread::ReadRxChunk()
{
    // A first empty read still ends after the read time-out; after it the thread sleeps in
    // the read until a byte arrives, so a quiet line costs a few wake-ups a second.
    const int got = m_quiet ? m_port->readChunkWithin(m_chunk.data(), m_chunk.size(), QuietWaitMs)
                            : m_port->readChunk(m_chunk.data(), m_chunk.size());
    // Bytes in hand count as unserved from before their read time on, so a merge of two ports
    // never passes them while they are on their way to the queue.
    if (got > 0)
        m_handoff->readInFlight = std::chrono::steady_clock::now().time_since_epoch().count();
    m_readAt = kirt::ReadTime::now();
    if (got < 0 && m_port->deviceLost()) {
        // Nothing more will come from this opening: tell the window and end, rather than wait
        // on a dead descriptor.
        if (!isInterruptionRequested())
            Synchronize([this] { m_sink.deviceLost(); });
        requestInterruption();
        return;
    }
    if (got < 0) {
        // An unplugged adapter fails every read at once; without a pause the loop would
        // spin and flood the main thread with display calls.
        ++m_failedReads;
        pauseAfterFailedRead();
        return;
    }
    m_chunkCount = static_cast<std::uint32_t>(got);
    m_chunkReady = true;
    m_bytesRead += m_chunkCount;
}

void TReceiveComThread::queuePass(std::uint32_t steps)
{
    // One display step per byte read keeps the display abreast of a steady stream; a pass
    // without bytes drains the backlog.
    bool post = false;
    try {
        Handoff::Pass pass;
        pass.bytes.assign(m_chunk.begin(), m_chunk.begin() + m_chunkCount);
        pass.readAt = m_readAt;
        pass.stored = m_chunkReady;
        pass.steps = steps;
        const std::lock_guard lock(m_handoff->mutex);
        if (!pass.bytes.empty() && m_handoff->oldestQueued == Handoff::NoneQueued)
            m_handoff->oldestQueued = pass.readAt.steady.time_since_epoch().count();
        m_handoff->queuedBytes += pass.bytes.size();
        m_handoff->passes.push_back(std::move(pass));
        post = !std::exchange(m_handoff->posted, true);
    } catch (const std::bad_alloc&) {
        // Out of memory: this read is dropped, as the window drops a batch it cannot hold.
        m_handoff->readInFlight = Handoff::NoneQueued;
        return;
    }
    m_handoff->readInFlight = Handoff::NoneQueued;
    if (post)
        QMetaObject::invokeMethod(
            &m_context, [handoff = m_handoff, &sink = m_sink] { serve(handoff, sink); },
            Qt::QueuedConnection);
}

void TReceiveComThread::serve(const std::shared_ptr<Handoff>& handoff, kirt::RxSink& sink)
{
    std::vector<Handoff::Pass> passes;
    {
        const std::lock_guard lock(handoff->mutex);
        passes.swap(handoff->passes);
        handoff->oldestQueued = Handoff::NoneQueued;
        handoff->queuedBytes = 0;
        handoff->posted = false;
        handoff->serving = true;
    }
    // The thread waits on serving, so it ends even if the sink throws.
    struct Served
    {
        Handoff& handoff;
        ~Served()
        {
            {
                const std::lock_guard lock(handoff.mutex);
                handoff.serving = false;
            }
            handoff.served.notify_all();
        }
    } served{*handoff};
    if (!passes.empty()) {
        // Each read keeps its own time; the steps of all of them make one batch.
        sink.RxHandOverBegins();
        for (const Handoff::Pass& pass : passes) {
            if (pass.stored)
                sink.StoreRxChunk(pass.bytes.data(), static_cast<std::uint32_t>(pass.bytes.size()),
                                  pass.readAt);
            sink.RxDisplaySteps(pass.steps);
        }
        sink.RxDisplayStepsDone();
        handoff->sinkPending = sink.RxPending();
    }
}

std::optional<std::chrono::steady_clock::time_point> TReceiveComThread::oldestUnservedRead() const
{
    const std::int64_t oldest =
        std::min(m_handoff->oldestQueued.load(), m_handoff->readInFlight.load());
    if (oldest == Handoff::NoneQueued)
        return std::nullopt;
    return std::chrono::steady_clock::time_point(std::chrono::steady_clock::duration(oldest));
}

void TReceiveComThread::waitUntilServed()
{
    std::unique_lock lock(m_handoff->mutex);
    // Slices, so a stop request is seen while the window is busy elsewhere.
    while ((m_handoff->posted || m_handoff->serving) && !isInterruptionRequested())
        m_handoff->served.wait_for(lock, std::chrono::milliseconds(20));
}

void TReceiveComThread::waitForRoom()
{
    std::unique_lock lock(m_handoff->mutex);
    while (m_handoff->queuedBytes >= QueueLimit && !isInterruptionRequested())
        m_handoff->served.wait_for(lock, std::chrono::milliseconds(20));
}

template <typename Function> void TReceiveComThread::Synchronize(Function&& function)
{
    QMetaObject::invokeMethod(&m_context, std::forward<Function>(function),
                              Qt::BlockingQueuedConnection);
}

void TReceiveComThread::waitForMoreOfTheStream()
{
    using namespace std::chrono;
    const auto left = m_passEnded + microseconds(DenseGapUs) - steady_clock::now();
    if (left > microseconds(0) && !isInterruptionRequested())
        QThread::usleep(static_cast<unsigned long>(duration_cast<microseconds>(left).count()));
}

void TReceiveComThread::pauseAfterFailedRead()
{
    pauseForAReadTime();
}

void TReceiveComThread::pauseForAReadTime()
{
    using namespace std::chrono;
    // As long as a read that timed out: 4 + read time-out, in slices so a stop request is
    // seen promptly.
    const auto end = steady_clock::now() + milliseconds(4 + m_port->readTimeoutMs());
    while (!isInterruptionRequested()) {
        const auto left = ceil<milliseconds>(end - steady_clock::now()).count();
        if (left <= 0)
            break;
        QThread::msleep(static_cast<unsigned long>(std::min<long long>(left, 5)));
    }
}
