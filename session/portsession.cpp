#include "session/portsession.h"

#include "serial/netaddress.h"

#include <QFileInfo>
#include <QSocketNotifier>
#include <QThread>
#include <QTimer>

#include <algorithm>
#include <new>
#include <utility>

namespace kirt {

namespace {

// The device as the user named it: a link's target (often a by-id name) or the variable's path.
QString namedDevice(const PortResolution& resolution)
{
    return resolution.linkTarget.isEmpty() ? resolution.devicePath : resolution.linkTarget;
}

// The by-id link may appear a moment after the node: compare what both sides know.
bool sameIdentity(const DeviceIdentity& was, const DeviceIdentity& now)
{
    if (!was.byId.isEmpty() && !now.byId.isEmpty())
        return was.byId == now.byId;
    if (!was.usb.isEmpty() && !now.usb.isEmpty())
        return was.usb == now.usb;
    return false;
}

// A device the request names itself is taken as one a variable names would be.
std::optional<PortResolution> resolveDevice(const QString& portName, const QString& devicePath)
{
    if (devicePath.isEmpty())
        return resolvePort(portName);
    PortResolution given;
    given.devicePath = devicePath;
    given.source = PortSource::Environment;
    return given;
}

SerialStatus refusal(const QString& reason)
{
    SerialStatus status;
    status.error = SerialError::SetStateFailed;
    status.reason = reason;
    return status;
}

// One sequence for the open and the reconnect: open, read the state, apply the line settings
// (which clears DTR and RTS), then raise the lines that are switched on.
OpenResult openDevice(SerialPort& port, const QString& devicePath, const ComSettings& settings,
                      bool dtr, bool rts, const QString& settingsRefusal = {})
{
    SerialStatus status = port.open(devicePath);
    if (!status.ok())
        return {OpenResult::Step::Open, status};
    status = port.readState();
    if (!status.ok())
        return {OpenResult::Step::ReadState, status};
    if (!settingsRefusal.isEmpty())
        return {OpenResult::Step::ApplyState, refusal(settingsRefusal)};
    status = port.applyState(settings);
    if (status.ok() && dtr)
        status = port.setModemLine(ModemLine::Dtr, true);
    if (status.ok() && rts)
        status = port.setModemLine(ModemLine::Rts, true);
    if (!status.ok())
        return {OpenResult::Step::ApplyState, status};
    return {};
}

} // namespace

PortSession::PortSession(PortFactory factory, RxSink& receiver, QObject* parent)
    : QObject(parent), m_factory(std::move(factory)), m_receiver(receiver),
      m_txDrain(new QTimer(this)), m_retry(new QTimer(this)), m_modemPoll(new QTimer(this)),
      m_breakEnd(new QTimer(this))
{
    // While bytes wait, the device is offered them every few milliseconds; a timer, so the
    // window never waits for a device that does not read.
    m_txDrain->setInterval(TxDrainMs);
    connect(m_txDrain, &QTimer::timeout, this, &PortSession::drainWrites);
    m_retry->setInterval(RetryMs);
    m_modemPoll->setInterval(ModemStatusPollMs);
    m_modemPoll->setObjectName(QStringLiteral("ModemStatusTimer"));
    connect(m_retry, &QTimer::timeout, this, &PortSession::retry);
    connect(m_modemPoll, &QTimer::timeout, this, &PortSession::pollModemStatus);
    m_breakEnd->setSingleShot(true);
    m_breakEnd->setTimerType(Qt::PreciseTimer); // a device may time the break it sees
    connect(m_breakEnd, &QTimer::timeout, this, [this] { setBreak(false); });
}

PortSession::~PortSession()
{
    shutdown();
}

void PortSession::setPortFactory(PortFactory factory)
{
    m_factory = std::move(factory);
}

OpenResult PortSession::open(const OpenRequest& request)
{
    PreparedOpen prepared = prepareOpen(request);
    openPrepared(prepared);
    return finishOpen(prepared);
}

PortSession::PreparedOpen PortSession::prepareOpen(const OpenRequest& request)
{
    if (m_open)
        close();
    PreparedOpen prepared;
    prepared.request = request;
    const auto resolution = resolveDevice(request.portName, request.devicePath);
    if (!resolution) {
        prepared.result.failed = OpenResult::Step::Open;
        prepared.result.status.error = SerialError::NotFound;
        prepared.result.status.reason =
            request.portName.isEmpty()
                ? QStringLiteral("No port is selected.")
                : QStringLiteral("%1 is not a port name.").arg(request.portName);
        return prepared;
    }
    prepared.resolution = *resolution;
    prepared.port = makePort();
    return prepared;
}

void PortSession::openPrepared(PreparedOpen& prepared)
{
    if (!prepared.port)
        return;
    const OpenRequest& request = prepared.request;
    prepared.result = openDevice(*prepared.port, prepared.resolution.devicePath, request.settings,
                                 request.dtr, request.rts, request.settingsRefusal);
}

OpenResult PortSession::finishOpen(PreparedOpen& prepared)
{
    if (!prepared.port)
        return prepared.result;
    if (!prepared.result.ok()) {
        prepared.port->close();
        return prepared.result;
    }
    if (m_open)
        close();
    const PortResolution& resolution = prepared.resolution;
    m_settings = prepared.request.settings;
    m_dtr = prepared.request.dtr;
    m_rts = prepared.request.rts;
    m_portName = prepared.request.portName;
    m_givenDevice = prepared.request.devicePath;
    m_mapped = resolution.source != PortSource::Default;
    m_open = true;
    m_txDropped = 0;
    start(std::move(prepared.port), resolution.devicePath, namedDevice(resolution));
    m_identity = m_networked ? DeviceIdentity{} : identifyDevice(m_node);
    return prepared.result;
}

std::shared_ptr<SerialPort> PortSession::makePort() const
{
    return m_factory ? m_factory() : systemPortFactory()();
}

void PortSession::start(std::shared_ptr<SerialPort> port, const QString& devicePath,
                        const QString& namedPath)
{
    m_port = std::move(port);
    releaseWriteNotifier();
    // Writes the device could not take go on as soon as it takes more.
    if (const int fd = m_port->writeReadyDescriptor(); fd >= 0) {
        m_txReady = new QSocketNotifier(fd, QSocketNotifier::Write, this);
        m_txReady->setEnabled(false);
        connect(m_txReady, &QSocketNotifier::activated, this, &PortSession::drainWrites);
    }
    m_devicePath = namedPath;
    m_networked = isNetworkAddress(devicePath);
    m_node = m_networked ? devicePath : QFileInfo(devicePath).canonicalFilePath();
    m_nodeOwner = m_networked ? 0 : QFileInfo(m_node).ownerId();
    // The thread starts only now, so it never sees a half-configured port.
    m_thread = new TReceiveComThread(m_port, *this, *this, m_rxEnabled);
    // One question a poll: far cheaper than a thread blocked in the driver, and quick enough
    // for a lamp. A device that cannot answer it has no lines to watch.
    const ModemStatus status = m_port->modemStatus();
    m_modemStatus = status;
    emit modemStatusChanged(status);
    if (status.available || m_port->modemLinesMayAppear())
        m_modemPoll->start();
}

void PortSession::stopThread()
{
    // The thread holds its own reference to the port, so a read in progress never sees a
    // reused descriptor; it ends by itself once it sees the request.
    if (m_thread)
        m_thread->requestInterruption();
}

void PortSession::close()
{
    if (m_breakEnd->isActive()) {
        // The line is left idle, not held in break by a port nobody has open.
        m_breakEnd->stop();
        setBreak(false);
    }
    ++m_generation;
    m_retry->stop();
    m_lost = false;
    stopThread();
    m_modemPoll->stop();
    releaseWriteNotifier();
    if (m_port) {
        m_port->purge();
        m_port->close();
    }
    m_port.reset();
    m_pendingWrites.clear();
    clearWrites();
    const bool wasOpen = m_open;
    m_open = false;
    if (wasOpen)
        setModemStatus({});
}

void PortSession::shutdown()
{
    close();
    // Serve the thread's last calls while it winds down.
    TReceiveComThread::stopAndWait(m_thread);
}

void PortSession::purge()
{
    clearWrites();
    if (m_port)
        m_port->purge();
}

bool PortSession::deviceOpen() const
{
    return m_port && m_port->isOpen();
}

std::size_t PortSession::write(const std::uint8_t* bytes, std::size_t count)
{
    // With no open device every byte is discarded; bytes a stuck device does not take are not
    // retried.
    if (!deviceOpen() || count == 0)
        return 0;
    if (m_inHandOver) {
        // Echo and answers of one hand-over leave together, in order, when it ends.
        try {
            m_pendingWrites.insert(m_pendingWrites.end(), bytes, bytes + count);
        } catch (const std::bad_alloc&) {
            // As a device that takes nothing: this hand-over's writes are given up.
            m_txDropped += m_pendingWrites.size() + count;
            emit writeDropped(m_pendingWrites.size() + count);
            m_pendingWrites.clear();
            return 0;
        }
        return count;
    }
    writeNow(bytes, count);
    return count;
}

void PortSession::writeNow(const std::uint8_t* bytes, std::size_t count)
{
    // Straight to the device only while nothing waits, so the order holds.
    const std::size_t taken = txQueued() == 0 ? m_port->writeAvailable(bytes, count) : 0;
    const std::size_t rest = count - taken;
    std::size_t kept = std::min(rest, TxQueueLimit - std::min(TxQueueLimit, txQueued()));
    try {
        if (m_txHead > 0 && m_txHead >= m_txQueue.size() / 2) {
            m_txQueue.erase(m_txQueue.begin(),
                            m_txQueue.begin() + static_cast<std::ptrdiff_t>(m_txHead));
            m_txHead = 0;
        }
        m_txQueue.insert(m_txQueue.end(), bytes + taken, bytes + taken + kept);
    } catch (const std::bad_alloc&) {
        kept = 0;
    }
    if (kept < rest) {
        m_txDropped += rest - kept;
        emit writeDropped(rest - kept);
    }
    if (txQueued() == 0)
        return;
    if (m_txReady)
        m_txReady->setEnabled(true);
    else if (!m_txDrain->isActive())
        m_txDrain->start();
}

void PortSession::releaseWriteNotifier()
{
    // Before its descriptor closes.
    delete m_txReady;
    m_txReady = nullptr;
}

void PortSession::drainWrites()
{
    if (!deviceOpen()) {
        clearWrites();
        return;
    }
    m_txHead += m_port->writeAvailable(m_txQueue.data() + m_txHead, txQueued());
    if (txQueued() == 0)
        clearWrites();
}

void PortSession::clearWrites()
{
    if (m_txReady)
        m_txReady->setEnabled(false);
    m_txDrain->stop();
    m_txQueue.clear();
    m_txHead = 0;
}

SerialStatus PortSession::setModemLine(ModemLine line, bool on)
{
    if (!m_open)
        return {};
    (line == ModemLine::Dtr ? m_dtr : m_rts) = on;
    if (!deviceOpen())
        return {}; // raised again when the device is back
    return m_port->setModemLine(line, on);
}

SerialStatus PortSession::setBreak(bool on)
{
    if (!deviceOpen())
        return {};
    return m_port->setBreak(on);
}

SerialStatus PortSession::holdBreak(int ms)
{
    ms = std::max(0, ms);
    if (m_breakEnd->isActive()) {
        if (ms > m_breakEnd->remainingTime())
            m_breakEnd->start(ms);
        return {};
    }
    const SerialStatus status = setBreak(true);
    if (status.ok())
        m_breakEnd->start(ms);
    return status;
}

bool PortSession::breakHeld() const
{
    return m_breakEnd->isActive();
}

void PortSession::pollModemStatus()
{
    if (!deviceOpen()) {
        m_modemPoll->stop();
        return;
    }
    const ModemStatus status = m_port->modemStatus();
    if (!status.available && !m_port->modemLinesMayAppear())
        m_modemPoll->stop();
    setModemStatus(status);
}

void PortSession::setModemStatus(const ModemStatus& status)
{
    if (status == m_modemStatus)
        return;
    m_modemStatus = status;
    emit modemStatusChanged(status);
}

void PortSession::checkDevice()
{
    if (m_lost)
        retry();
    else if (deviceOpen() && !m_networked && !QFileInfo::exists(m_node))
        loseDevice(); // the node went while nothing was read
}

void PortSession::loseDevice()
{
    // Only the descriptor goes: writes are discarded and nothing is read until the device is
    // back.
    m_lost = true;
    stopThread();
    m_modemPoll->stop();
    releaseWriteNotifier();
    m_lossReason = m_port ? m_port->dropReason() : QString();
    if (m_port)
        m_port->close();
    m_port.reset();
    m_pendingWrites.clear();
    clearWrites();
    m_mappingAtLoss = {};
    if (const auto resolution = resolveDevice(m_portName, m_givenDevice)) {
        m_mappingAtLoss.source = resolution->source;
        m_mappingAtLoss.devicePath = resolution->devicePath;
        if (resolution->source == PortSource::ConfigLink)
            m_mappingAtLoss.link = stampOfLink(resolution->origin);
    }
    setModemStatus({});
    emit lost(m_devicePath);
    m_retry->start(m_networked ? NetworkRetryMs : RetryMs);
}

bool PortSession::sameDevice(const PortResolution& resolution) const
{
    // A node of another user is never the device that was lost: a link made anew to someone
    // else's terminal would, followed by a Kirt run as root, type into their session.
    if (QFileInfo(resolution.devicePath).ownerId() != m_nodeOwner)
        return false;
    if (m_identity.known())
        return sameIdentity(m_identity, identifyDevice(resolution.devicePath));
    // Nothing tells this node from the next device to get its name (a pseudo-terminal's
    // number goes to the next program that asks): only a mapping made anew leads to it
    // again, a link put there since the loss or a variable that now names another path.
    switch (resolution.source) {
    case PortSource::ConfigLink: {
        const LinkStamp now = stampOfLink(resolution.origin);
        return now.exists &&
               (m_mappingAtLoss.source != PortSource::ConfigLink || now != m_mappingAtLoss.link);
    }
    case PortSource::Environment:
        return m_mappingAtLoss.source != PortSource::Environment ||
               resolution.devicePath != m_mappingAtLoss.devicePath;
    case PortSource::Default:
        break;
    }
    return false;
}

void PortSession::retry()
{
    // The old thread ends by itself once it sees its port closed; its successor waits for it.
    if (!m_lost || m_attempting || (m_thread && m_thread->isRunning()))
        return;
    const auto resolution = resolveDevice(m_portName, m_givenDevice);
    // A mapping that went away falls back to the kernel's port, which is another device.
    if (!resolution || (m_mapped && resolution->source == PortSource::Default))
        return;
    // An address is the device itself: whatever answers there now is the port.
    if (resolution->networked()) {
        reconnectInBackground(*resolution);
        return;
    }
    if (!QFileInfo::exists(resolution->devicePath) || !sameDevice(*resolution))
        return;
    std::shared_ptr<SerialPort> port = makePort();
    if (!openDevice(*port, resolution->devicePath, m_settings, m_dtr, m_rts).ok()) {
        port->close(); // not ready yet (still being set up, busy): the next attempt may do
        return;
    }
    m_lost = false;
    m_retry->stop();
    start(std::move(port), resolution->devicePath, namedDevice(*resolution));
    emit reconnected(m_devicePath);
}

void PortSession::reconnectInBackground(const PortResolution& resolution)
{
    m_attempting = true;
    const std::uint64_t generation = m_generation;
    std::shared_ptr<SerialPort> port = makePort();
    auto outcome = std::make_shared<OpenResult>();
    const QString path = resolution.devicePath;
    QThread* attempt =
        QThread::create([port, path, outcome, settings = m_settings, dtr = m_dtr, rts = m_rts] {
            *outcome = openDevice(*port, path, settings, dtr, rts);
        });
    // Not a child: a session that goes first must not take a running thread with it.
    connect(attempt, &QThread::finished, attempt, &QObject::deleteLater);
    connect(attempt, &QThread::finished, this,
            [this, port, outcome, generation, path, named = namedDevice(resolution)] {
                m_attempting = false;
                if (generation != m_generation || !m_lost || !outcome->ok()) {
                    port->close(); // closed meanwhile, or nobody there yet
                    return;
                }
                m_lost = false;
                m_retry->stop();
                start(port, path, named);
                emit reconnected(m_devicePath);
            });
    attempt->start();
}

void PortSession::RxHandOverBegins()
{
    m_inHandOver = true;
    m_receiver.RxHandOverBegins();
}

void PortSession::StoreRxChunk(const std::uint8_t* bytes, std::uint32_t count,
                               const ReadTime& readAt)
{
    m_receiver.StoreRxChunk(bytes, count, readAt);
}

void PortSession::RxDisplayStep()
{
    m_receiver.RxDisplayStep();
}

void PortSession::RxDisplaySteps(std::uint32_t count)
{
    m_receiver.RxDisplaySteps(count);
}

void PortSession::RxDisplayStepsDone()
{
    // Answers first: the device waits for them, the display can wait a moment.
    m_inHandOver = false;
    if (!m_pendingWrites.empty() && deviceOpen())
        writeNow(m_pendingWrites.data(), m_pendingWrites.size());
    m_pendingWrites.clear();
    m_receiver.RxDisplayStepsDone();
}

bool PortSession::RxPending() const
{
    return m_receiver.RxPending();
}

void PortSession::deviceLost()
{
    // A report about a port that was closed meanwhile (by the owner, at exit) is stale.
    if (m_open && !m_lost && m_port && m_port->deviceLost())
        loseDevice();
}

} // namespace kirt
