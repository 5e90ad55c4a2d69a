#pragma once

#include "serial/serialport.h"

#include <QObject>
#include <QPointer>
#include <QThread>

#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>

namespace kirt {

// When a read returned, taken on the receive thread right after it: the steady clock for
// intervals, the system clock for the calendar.
struct ReadTime
{
    std::chrono::steady_clock::time_point steady;
    std::chrono::system_clock::time_point system;

    static ReadTime now()
    {
        return {std::chrono::steady_clock::now(), std::chrono::system_clock::now()};
    }
};

// What the receive thread hands to the main thread. Every call runs on the thread of the
// context object given to the receive thread, one hand-over at a time; the receive thread goes
// on reading meanwhile, so a busy window never holds the line back. A hand-over is:
// RxHandOverBegins, then for every read queued since the last one StoreRxChunk (when the read
// succeeded) and its display steps, then RxDisplayStepsDone, then RxPending.
class RxSink
{
public:
    virtual ~RxSink() = default;
    // First call of every hand-over: what holds for the whole batch (its time) is taken here.
    virtual void RxHandOverBegins() {}
    // Every successful read of the hand-over, also one that delivered nothing, with the time
    // the read returned.
    virtual void StoreRxChunk(const std::uint8_t* bytes, std::uint32_t count,
                              const ReadTime& readAt) = 0;
    // Displays at most one pending byte and refreshes the traffic figure.
    virtual void RxDisplayStep() = 0;
    // count display steps in a row; a sink may take them as one batch.
    virtual void RxDisplaySteps(std::uint32_t count)
    {
        for (std::uint32_t i = 0; i < count; ++i)
            RxDisplayStep();
    }
    // After the display steps of one hand-over: work that the steps may leave for the end of
    // the batch (laying out the display, writing what they produced) is done here, before the
    // thread goes on.
    virtual void RxDisplayStepsDone() {}
    // Whether received bytes still wait to be displayed. While none do, a read that delivered
    // nothing needs no hand-over; a sink that cannot tell gets one after every read.
    virtual bool RxPending() const { return true; }
    // Once, when the port found its device gone; the thread ends after it.
    virtual void deviceLost() {}
};

} // namespace kirt

// The receive loop. Created running by a successful open; deletes itself when its loop ends.
//
// Ownership and lifetime: the thread shares the port, so a close on the main thread while it
// is inside a read never leaves it with a closed or reused descriptor. The sink and the
// context object must outlive the thread; hold the thread in a QPointer, since it may delete
// itself whenever the main thread returns to its event loop.
//
// Closing the port (the thread keeps running until it notices):
//     thread->requestInterruption();
//     port->purge();
//     port->close();
// Never wait for the thread there: it may be blocked in a call into the main thread. Reads
// handed over before the close still reach the sink afterwards, as they did when read.
//
// Stopping it for good, at program exit, before the sink goes away (close the port as above
// first, so that a pending read ends at once instead of after its time-out):
//     TReceiveComThread::stopAndWait(thread);
// which requests the stop and pumps the main thread's events until the loop has ended
// (while (!wait(5)) QCoreApplication::processEvents();), so the thread's last calls into the
// main thread are served instead of deadlocking.
class TReceiveComThread final : public QThread
{
    Q_OBJECT

public:
    // Starts at once. rxEnabled is owned by the window and read once per pass.
    TReceiveComThread(std::shared_ptr<kirt::SerialPort> port, kirt::RxSink& sink, QObject& context,
                      const std::atomic<bool>& rxEnabled);
    ~TReceiveComThread() override = default;

    // The request and the event pump described above; safe with a thread already gone.
    static void stopAndWait(QPointer<TReceiveComThread> thread);

    // Passes whose read failed, for diagnostics; atomic so any thread may read it.
    std::uint64_t failedReads() const { return m_failedReads.load(); }
    std::uint64_t passes() const { return m_passes.load(); }
    // Bytes the reads have taken from the device, counted on the thread right after each read.
    std::uint64_t bytesRead() const { return m_bytesRead.load(); }
    // When the oldest bytes read but not yet handed over were read; none when all were. Bytes
    // read before that time have all reached the sink, which lets two ports' bytes be merged
    // in the order they were read.
    std::optional<std::chrono::steady_clock::time_point> oldestUnservedRead() const;

    // As much as a fast adapter delivers between two reads; a read returns with whatever is
    // waiting, so at slow rates reads still carry one or a few bytes.
    static constexpr std::uint32_t ReadSize = 4096;
    // Bytes read but not yet handed over, at most: a second at 12 Mbaud. Beyond it the thread
    // stops reading until the window catches up, so the device is held back as a line would
    // be, and memory stays bounded.
    static constexpr std::size_t QueueLimit = 1u << 20;
    static constexpr std::uint32_t IdleDisplaySteps = 20;
    // How long a read waits on a quiet line with nothing left to display: nothing is handed
    // over when it ends empty, and a close wakes it through the purge, so only a bare stop
    // request waits this long. Every wake-up of a thread costs ~0.2 ms of CPU here.
    static constexpr std::uint32_t QuietWaitMs = 1000;
    // While a dense stream flows (a read brought at least DenseChunk bytes), the next read
    // waits until DenseGapUs after the last one, so the window serves reads of a millisecond's
    // bytes instead of many small ones. A request on a quiet or slow line comes in small reads
    // and is handed over at once.
    static constexpr std::uint32_t DenseChunk = 32;
    static constexpr std::uint32_t DenseGapUs = 1000;
    // A read this big found the driver's buffer half full or more: the next read goes at once,
    // or a line faster than half the buffer a millisecond would be held back. The terminal
    // driver keeps at most 4095 bytes, so a read never fills ReadSize.
    static constexpr std::uint32_t BusyChunk = 2048;

protected:
    void run() override;

private:
    struct Handoff;

    void Execute();
    void ReadRxChunk();
    template <typename Function> void Synchronize(Function&& function);
    // Queues a pass for the window and asks for a hand-over when none is on its way.
    void queuePass(std::uint32_t steps);
    static void serve(const std::shared_ptr<Handoff>& handoff, kirt::RxSink& sink);
    // Waits until the window has served what is queued, or the thread is stopped.
    void waitUntilServed();
    void waitForRoom();
    void waitForMoreOfTheStream();
    void pauseAfterFailedRead();
    void pauseForAReadTime();

    std::shared_ptr<kirt::SerialPort> m_port;
    kirt::RxSink& m_sink;
    QObject& m_context;
    const std::atomic<bool>& m_rxEnabled;

    std::array<std::uint8_t, ReadSize> m_chunk{};
    std::uint32_t m_chunkCount = 0;
    kirt::ReadTime m_readAt;
    bool m_chunkReady = false; // the last read succeeded (also with 0 bytes): store it
    bool m_quiet = false;      // the last read was empty and nothing waited to be displayed
    bool m_dense = false;      // the last read brought a dense stream's bytes
    std::chrono::steady_clock::time_point m_passEnded; // when the last pass queued its read
    std::shared_ptr<Handoff> m_handoff; // shared with hand-overs still in the window's queue

    std::atomic<std::uint64_t> m_failedReads{0};
    std::atomic<std::uint64_t> m_passes{0};
    std::atomic<std::uint64_t> m_bytesRead{0};
};
