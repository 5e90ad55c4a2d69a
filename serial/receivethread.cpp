#include "serial/receivethread.h"

#include <QCoreApplication>
#include <QMetaObject>

#include <algorithm>
#include <chrono>
#include <utility>

TReceiveComThread::TReceiveComThread(std::shared_ptr<kirt::SerialPort> port, kirt::RxSink& sink,
                                     QObject& context, const std::atomic<bool>& rxEnabled)
    : m_port(std::move(port)), m_sink(sink), m_context(context), m_rxEnabled(rxEnabled)
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
        if (read)
            ReadRxChunk();
        // A quiet line with nothing left to display costs no hand-over.
        m_quiet = m_chunkReady && m_chunkCount == 0 && !m_sinkPending;
        m_dense = m_chunkCount >= DenseChunk;
        if (m_chunkCount != 0 || m_sinkPending)
            DispatchRxDisplay();
        else if (!read)
            pauseForAReadTime();
        m_handedOver = std::chrono::steady_clock::now();
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
}

void TReceiveComThread::DispatchRxDisplay()
{
    // One display step per byte read keeps the display abreast of a steady stream; a quiet
    // pass drains the backlog. Storing the chunk and the steps of a pass share one hand-over,
    // since each hand-over costs as much as many display steps.
    const std::uint32_t steps = m_chunkCount != 0 ? m_chunkCount : IdleDisplaySteps;
    const bool store = m_chunkReady;
    Synchronize([this, steps, store] {
        m_sink.RxHandOverBegins();
        if (store)
            m_sink.StoreRxChunk(m_chunk.data(), m_chunkCount, m_readAt);
        m_sink.RxDisplaySteps(steps);
        m_sink.RxDisplayStepsDone();
        // Read here, while the receive thread waits, so the answer needs no lock.
        m_sinkPending = m_sink.RxPending();
    });
}

template <typename Function> void TReceiveComThread::Synchronize(Function&& function)
{
    QMetaObject::invokeMethod(&m_context, std::forward<Function>(function),
                              Qt::BlockingQueuedConnection);
}

void TReceiveComThread::waitForMoreOfTheStream()
{
    using namespace std::chrono;
    const auto left = m_handedOver + microseconds(DenseGapUs) - steady_clock::now();
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
