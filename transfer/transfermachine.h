#pragma once

#include "transfer/transferresult.h"

#include <QByteArray>

#include <cstdint>
#include <optional>

namespace kirt {

// One transfer's protocol as a plain state machine: fed the bytes received and the time, it
// gives the bytes to write and says when it wants to be woken. It keeps no timer and touches no
// port, so a test or a fuzzer drives it byte by byte and second by second.
class TransferMachine
{
public:
    using Ms = std::int64_t;
    // The protocol's waits; a test makes them short.
    struct Timing
    {
        Ms noPeer = 60000;    // for the other side to start at all
        Ms answer = 10000;    // for an answer to a block, or for the next block
        Ms startRetry = 3000; // between a receiver's first asks
        Ms gap = 1000;        // the quiet that ends a broken block
        int tries = 10;       // sends of one block (or asks for it) before giving up
    };

    explicit TransferMachine(TransferProtocol protocol, TransferDirection direction,
                             const Timing& timing);
    virtual ~TransferMachine() = default;
    TransferMachine(const TransferMachine&) = delete;
    TransferMachine& operator=(const TransferMachine&) = delete;

    virtual void start(Ms now) = 0;
    virtual void received(const std::uint8_t* bytes, std::size_t count, Ms now) = 0;
    // Time has passed; call it at deadline() (earlier calls do nothing).
    void tick(Ms now);
    // Ends the transfer now: CAN CAN goes out and the result says cancelled.
    void cancel(Ms now);
    // The end from outside: the port went (no CAN: nothing would carry it).
    void abandon(const QString& reason, Ms now);

    bool finished() const { return m_finished; }
    // When tick() wants to be called; nothing once finished.
    std::optional<Ms> deadline() const;
    // The bytes to write, in order; taken once.
    QByteArray takeOutput();
    bool hasOutput() const { return !m_out.isEmpty(); }
    const TransferResult& result() const { return m_result; }
    // The end sent CAN CAN to the other side.
    bool cancelSent() const { return m_cancelSent; }
    const TransferProgress& progress() const { return m_progress; }

protected:
    virtual void timedOut(Ms now) = 0;
    // The transfer ended without success: drop what is half written.
    virtual void endedEarly() {}
    void finish(TransferResult::End end, const QString& reason, Ms now, bool sendCancel);
    void retried() { m_progress.retries = ++m_result.retries; }
    void wakeAt(Ms at) { m_deadline = at; }

    QByteArray m_out;
    TransferResult m_result;
    TransferProgress m_progress;
    Timing m_timing;
    Ms m_started = 0;

private:
    bool m_finished = false;
    bool m_cancelSent = false;
    Ms m_deadline = 0;
};

} // namespace kirt
