#include "transfer/transfer.h"

#include "transfer/blockcodec.h"
#include "transfer/receivetarget.h"

#include <QTimer>

namespace kirt {

Transfer::Transfer(PortController& port, TransferProtocol protocol, TransferDirection direction,
                   QObject* parent)
    : QObject(parent), m_port(port), m_protocol(protocol), m_direction(direction)
{
    qRegisterMetaType<kirt::TransferProgress>();
    qRegisterMetaType<kirt::TransferResult>();
}

Transfer::~Transfer()
{
    m_port.release(*this);
}

QString Transfer::claimName() const
{
    return protocolName(m_protocol) + QStringLiteral(" transfer");
}

bool Transfer::claimPort()
{
    if (m_port.claim(*this)) {
        m_running = true;
        return true;
    }
    complete(failedResult(
        m_port.claimed()
            ? QStringLiteral("the port is busy: %1 has it").arg(m_port.claimant()->claimName())
            : QStringLiteral("the port is not open")));
    return false;
}

void Transfer::complete(const TransferResult& result)
{
    m_running = false;
    m_port.release(*this);
    QMetaObject::invokeMethod(
        this, [this, result] { emit finished(result, summaryLine(result)); }, Qt::QueuedConnection);
}

QString Transfer::claimEndReason(ClaimEnd why) const
{
    if (why == ClaimEnd::Closed)
        return QStringLiteral("the port was closed");
    const QString detail = m_port.session().lossReason();
    return detail.isEmpty() ? QStringLiteral("the device was lost")
                            : QStringLiteral("the device was lost: ") + detail;
}

TransferResult Transfer::failedResult(const QString& reason) const
{
    TransferResult result;
    result.protocol = m_protocol;
    result.direction = m_direction;
    result.end = TransferResult::End::Failed;
    result.reason = reason;
    return result;
}

TransferJob::TransferJob(PortController& port, std::unique_ptr<TransferMachine> machine,
                         std::unique_ptr<ReceiveTarget> target, QObject* parent,
                         const QString& failure)
    : Transfer(port, machine->result().protocol, machine->result().direction, parent),
      m_target(std::move(target)), m_machine(std::move(machine)), m_failure(failure),
      m_timer(new QTimer(this)), m_linger(new QTimer(this))
{
    m_timer->setSingleShot(true);
    m_timer->setTimerType(Qt::PreciseTimer);
    connect(m_timer, &QTimer::timeout, this, [this] {
        m_machine->tick(now());
        serve();
    });
    m_linger->setSingleShot(true);
    connect(m_linger, &QTimer::timeout, this, &TransferJob::lingerDone);
}

TransferJob::~TransferJob()
{
    // A job that goes while it runs tells the other side.
    if (m_running && !m_lingering) {
        m_machine->cancel(now());
        const QByteArray out = m_machine->takeOutput();
        m_port.writeClaimed(*this, reinterpret_cast<const std::uint8_t*>(out.constData()),
                            static_cast<std::size_t>(out.size()));
    }
}

void TransferJob::start()
{
    m_clock.start();
    if (!m_failure.isEmpty()) {
        TransferResult result = m_machine->result();
        result.end = TransferResult::End::Failed;
        result.reason = m_failure;
        complete(result);
        return;
    }
    if (!claimPort())
        return;
    m_machine->start(now());
    serve();
}

void TransferJob::cancel()
{
    if (!m_running || m_lingering)
        return;
    m_machine->cancel(now());
    serve();
}

void TransferJob::received(const std::uint8_t* bytes, std::size_t count, const ReadTime&)
{
    if (m_lingering) {
        if (m_machine->cancelSent() && m_cancelRepeats < CancelRepeats) {
            ++m_cancelRepeats;
            const QByteArray cancel = xmodem::cancelSequence();
            m_port.writeClaimed(*this, reinterpret_cast<const std::uint8_t*>(cancel.constData()),
                                static_cast<std::size_t>(cancel.size()));
        }
        m_linger->start(
            static_cast<int>(std::clamp<TransferMachine::Ms>(m_lingerEnd - now(), 0, QuietMs)));
        return;
    }
    m_machine->received(bytes, count, now());
    serve();
}

void TransferJob::claimEnded(ClaimEnd why)
{
    // The claim is gone already: nothing more goes out.
    m_machine->abandon(claimEndReason(why), now());
    m_machine->takeOutput();
    m_timer->stop();
    m_linger->stop();
    m_lingering = false;
    complete(m_machine->result());
}

void TransferJob::serve()
{
    const QByteArray out = m_machine->takeOutput();
    if (!out.isEmpty())
        m_port.writeClaimed(*this, reinterpret_cast<const std::uint8_t*>(out.constData()),
                            static_cast<std::size_t>(out.size()));
    const TransferMachine::Ms at = now();
    TransferProgress state = m_machine->progress();
    if (m_machine->finished() || state.file != m_lastFile || at - m_lastProgress >= ProgressMs) {
        m_lastProgress = at;
        m_lastFile = state.file;
        state.ms = at;
        emit progress(state);
    }
    if (m_machine->finished()) {
        ended();
        return;
    }
    if (const auto deadline = m_machine->deadline())
        m_timer->start(
            static_cast<int>(std::clamp<TransferMachine::Ms>(*deadline - at, 0, 24 * 3600 * 1000)));
}

void TransferJob::ended()
{
    // Once: a cancel from a progress handler ends the transfer inside serve().
    if (m_lingering || !m_running)
        return;
    m_timer->stop();
    if (m_machine->result().ok()) {
        complete(m_machine->result());
        return;
    }
    m_lingering = true;
    m_lingerEnd = now() + LingerMs;
    m_linger->start(QuietMs);
}

void TransferJob::lingerDone()
{
    if (!m_lingering)
        return;
    m_lingering = false;
    complete(m_machine->result());
}

} // namespace kirt
