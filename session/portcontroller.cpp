#include "session/portcontroller.h"

#include <QThread>

#include <algorithm>
#include <chrono>
#include <iterator>
#include <utility>

namespace kirt {

// A network open under way on its own thread. The thread keeps the prepared open alive
// however the controller's state changes meanwhile; a cancel closes its port, which ends a
// wait for the server at once, and its outcome is then dropped.
struct PortController::PendingOpen
{
    std::shared_ptr<PortSession::PreparedOpen> prepared;
    QThread* thread = nullptr;
};

PortController::PortController(PortFactory factory, ReceiveDisplaySink* display,
                               ReceiveOutput* output, QObject* parent)
    : QObject(parent), m_pipeline(display, output ? *output : static_cast<ReceiveOutput&>(*this)),
      m_session(
          std::make_unique<PortSession>(std::move(factory), static_cast<RxSink&>(*this), this))
{
    connect(m_session.get(), &PortSession::lost, this, [this] {
        if (m_claimant)
            endClaim(PortClaimant::ClaimEnd::Lost);
    });
}

PortController::~PortController()
{
    if (m_mergeInto)
        m_mergeInto->mergeMonitor(nullptr);
    if (m_monitor)
        mergeMonitor(nullptr);
    cancelOpening();
    m_session->shutdown();
}

OpenResult PortController::open(const OpenRequest& request)
{
    cancelOpening();
    if (isOpen())
        close();
    return adopted(m_session->open(request), request.settings);
}

void PortController::beginOpen(const OpenRequest& request)
{
    cancelOpening();
    if (isOpen())
        close();
    auto prepared = std::make_shared<PortSession::PreparedOpen>(m_session->prepareOpen(request));
    if (!prepared->port || !prepared->resolution.networked()) {
        PortSession::openPrepared(*prepared);
        emit openFinished(adopted(m_session->finishOpen(*prepared), request.settings));
        return;
    }
    m_opening = std::make_unique<PendingOpen>();
    m_opening->prepared = prepared;
    m_opening->thread = QThread::create([prepared] { PortSession::openPrepared(*prepared); });
    QThread* thread = m_opening->thread;
    // Not a child: a controller that goes first must not take a running thread with it.
    connect(thread, &QThread::finished, thread, &QObject::deleteLater);
    connect(thread, &QThread::finished, this, [this, prepared] {
        if (!m_opening || m_opening->prepared != prepared) {
            if (prepared->port)
                prepared->port->close(); // cancelled meanwhile
            return;
        }
        m_opening.reset();
        emit openFinished(adopted(m_session->finishOpen(*prepared), prepared->request.settings));
    });
    thread->start();
}

OpenResult PortController::adopted(const OpenResult& result, const ComSettings& settings)
{
    if (result.ok()) {
        m_opened = settings;
        emit opened();
    }
    return result;
}

QString PortController::openingTarget() const
{
    return m_opening ? m_opening->prepared->resolution.devicePath : QString();
}

void PortController::cancelOpening()
{
    if (!m_opening)
        return;
    // The port's close ends its wait for the server; the thread's outcome is dropped.
    const std::shared_ptr<PortSession::PreparedOpen> prepared = m_opening->prepared;
    m_opening.reset();
    prepared->port->cancelOpen();
}

void PortController::close()
{
    cancelOpening();
    if (m_claimant)
        endClaim(PortClaimant::ClaimEnd::Closed);
    const bool wasOpen = isOpen();
    m_session->close();
    if (wasOpen)
        emit closed();
}

void PortController::addReceiver(PortReceiver* receiver)
{
    if (std::find(m_receivers.begin(), m_receivers.end(), receiver) == m_receivers.end())
        m_receivers.push_back(receiver);
}

void PortController::removeReceiver(PortReceiver* receiver)
{
    // While the receivers are told, a leaving one is only blanked, so the loop's indices hold.
    if (m_telling) {
        std::replace(m_receivers.begin(), m_receivers.end(), receiver,
                     static_cast<PortReceiver*>(nullptr));
        return;
    }
    std::erase(m_receivers, receiver);
}

bool PortController::claim(PortClaimant& claimant)
{
    if (m_claimant || !isOpen())
        return false;
    m_claimant = &claimant;
    emit claimChanged(true);
    return true;
}

void PortController::release(PortClaimant& claimant)
{
    if (m_claimant != &claimant)
        return;
    m_claimant = nullptr;
    emit claimChanged(false);
}

void PortController::endClaim(PortClaimant::ClaimEnd why)
{
    PortClaimant* claimant = m_claimant;
    m_claimant = nullptr;
    claimant->claimEnded(why);
    emit claimChanged(false);
}

std::size_t PortController::write(const std::uint8_t* bytes, std::size_t count)
{
    if (m_claimant) {
        emit writeHeld(m_claimant->claimName());
        return 0;
    }
    return m_session->write(bytes, count);
}

std::size_t PortController::writeClaimed(PortClaimant& claimant, const std::uint8_t* bytes,
                                         std::size_t count)
{
    return m_claimant == &claimant ? m_session->write(bytes, count) : 0;
}

void PortController::mergeMonitor(PortController* monitor)
{
    if (m_monitor == monitor)
        return;
    if (m_monitor) {
        releaseMerged(true);
        const std::uint32_t released = std::exchange(m_releasedBytes, 0);
        if (!m_claimant)
            m_pipeline.RxDisplaySteps(released);
        m_monitor->m_mergeInto = nullptr;
    }
    m_monitor = monitor;
    if (monitor)
        monitor->m_mergeInto = this;
}

void PortController::holdMerged(std::uint8_t source, const std::uint8_t* bytes, std::uint32_t count,
                                const ReadTime& readAt)
{
    if (count == 0)
        return;
    auto at = m_held.end();
    while (at != m_held.begin() && std::prev(at)->at.steady > readAt.steady)
        --at;
    m_held.insert(at, HeldChunk{source, std::vector<std::uint8_t>(bytes, bytes + count), readAt});
}

void PortController::releaseMerged(bool all)
{
    // Each port's reads reach this thread in order, but the two ports' hand-overs may pass each
    // other: a chunk waits while the other port has bytes read before it still on their way.
    // Called at the end of a hand-over, when all of its reads are held here. Nothing waits
    // longer than MaxHold, whatever the other thread does.
    constexpr auto MaxHold = std::chrono::milliseconds(1000);
    const auto now = std::chrono::steady_clock::now();
    while (!m_held.empty()) {
        HeldChunk& front = m_held.front();
        const PortController* other = front.source == 0 ? m_monitor : this;
        if (!all && other && now - front.at.steady < MaxHold) {
            const auto unserved = other->session().oldestUnservedRead();
            if (unserved && *unserved < front.at.steady)
                break;
        }
        m_pipeline.storeChunk(front.bytes.data(), static_cast<std::uint32_t>(front.bytes.size()),
                              front.at, front.source);
        m_releasedBytes += static_cast<std::uint32_t>(front.bytes.size());
        m_held.pop_front();
    }
}

void PortController::RxHandOverBegins()
{
    if (m_mergeInto)
        m_mergeInto->m_pipeline.RxHandOverBegins();
    else
        m_pipeline.RxHandOverBegins();
}

void PortController::StoreRxChunk(const std::uint8_t* bytes, std::uint32_t count,
                                  const ReadTime& readAt)
{
    if (m_mergeInto) {
        m_mergeInto->holdMerged(1, bytes, count, readAt);
        return;
    }
    if (m_claimant) {
        m_claimant->received(bytes, count, readAt);
        return;
    }
    // A receiver may leave (a script that ends) or join while it is told: no copy of the list
    // per chunk, the loop reads it by index and the blanks are swept after.
    m_telling = true;
    for (std::size_t i = 0; i < m_receivers.size(); ++i)
        if (PortReceiver* receiver = m_receivers[i])
            receiver->received(bytes, count, readAt);
    m_telling = false;
    std::erase(m_receivers, nullptr);
    if (m_monitor)
        holdMerged(0, bytes, count, readAt);
    else
        m_pipeline.StoreRxChunk(bytes, count, readAt);
}

void PortController::RxDisplayStep()
{
    if (m_mergeInto)
        m_mergeInto->RxDisplayStep();
    else if (!m_claimant)
        m_pipeline.RxDisplayStep();
}

void PortController::RxDisplaySteps(std::uint32_t count)
{
    if (m_mergeInto) {
        m_mergeInto->RxDisplaySteps(count);
        return;
    }
    if (!m_claimant)
        m_pipeline.RxDisplaySteps(count);
}

void PortController::RxDisplayStepsDone()
{
    if (m_mergeInto) {
        m_mergeInto->RxDisplayStepsDone();
        return;
    }
    // The hand-over's reads, and those held for the other port's earlier reads, go in order.
    if (!m_held.empty()) {
        releaseMerged(false);
        const std::uint32_t released = std::exchange(m_releasedBytes, 0);
        if (!m_claimant)
            m_pipeline.RxDisplaySteps(released);
    }
    m_pipeline.RxDisplayStepsDone();
}

bool PortController::RxPending() const
{
    if (m_mergeInto)
        return m_mergeInto->RxPending();
    // Bytes stored before a claim wait for its end.
    return !m_held.empty() || (!m_claimant && m_pipeline.RxPending());
}

void PortController::writeEcho(const std::uint8_t* bytes, std::uint32_t count)
{
    write(bytes, count);
}

void PortController::writeResponse(int, const std::uint8_t* bytes, std::uint32_t count)
{
    write(bytes, count);
}

void PortController::logFailed(const QString& path, const QString& reason)
{
    m_logError = path + QStringLiteral(": ") + reason;
}

} // namespace kirt
