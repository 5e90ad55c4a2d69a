#include "transfer/transfermachine.h"

#include "transfer/blockcodec.h"

#include <utility>

namespace kirt {

TransferMachine::TransferMachine(TransferProtocol protocol, TransferDirection direction,
                                 const Timing& timing)
    : m_timing(timing)
{
    m_result.protocol = protocol;
    m_result.direction = direction;
}

void TransferMachine::tick(Ms now)
{
    if (!m_finished && now >= m_deadline)
        timedOut(now);
}

void TransferMachine::cancel(Ms now)
{
    if (!m_finished)
        finish(TransferResult::End::Cancelled, QStringLiteral("cancelled"), now, true);
}

void TransferMachine::abandon(const QString& reason, Ms now)
{
    if (!m_finished)
        finish(TransferResult::End::Failed, reason, now, false);
}

std::optional<TransferMachine::Ms> TransferMachine::deadline() const
{
    if (m_finished)
        return std::nullopt;
    return m_deadline;
}

QByteArray TransferMachine::takeOutput()
{
    return std::exchange(m_out, QByteArray());
}

void TransferMachine::finish(TransferResult::End end, const QString& reason, Ms now,
                             bool sendCancel)
{
    if (m_finished)
        return;
    m_finished = true;
    m_result.end = end;
    m_result.reason = end == TransferResult::End::Done ? QString() : reason;
    m_result.ms = now - m_started;
    m_progress.ms = m_result.ms;
    m_cancelSent = sendCancel;
    if (sendCancel)
        m_out.append(xmodem::cancelSequence());
    if (end != TransferResult::End::Done)
        endedEarly();
}

} // namespace kirt
