#pragma once

#include "base/comsettings.h"
#include "serial/deviceidentity.h"
#include "serial/portfactory.h"
#include "serial/portmap.h"
#include "serial/receivethread.h"

#include <QObject>
#include <QPointer>
#include <QString>

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

class QSocketNotifier;
class QTimer;

namespace kirt {

// What the owner asks an open for.
struct OpenRequest
{
    QString portName; // "COM1"
    // A device path or an address to open in place of the one portName leads to, which then
    // only names it.
    QString devicePath;
    ComSettings settings;
    bool dtr = false; // raised after the line state has cleared both lines
    bool rts = false;
    // Why the settings cannot be applied (a box with nothing chosen); the open then fails at
    // the apply step with this reason.
    QString settingsRefusal;
};

struct OpenResult
{
    // The step that failed: the device could not be opened, its state not read, or the line
    // settings and modem lines not applied.
    enum class Step { None, Open, ReadState, ApplyState };
    Step failed = Step::None;
    SerialStatus status;

    bool ok() const { return failed == Step::None; }
};

// One open port, from open to close: the port made by the factory, the receive thread, the
// read switch, the single write path with its batching, the loss of the device and its return,
// the modem lines and break. Received bytes go to the receiver given at construction, one
// hand-over at a time on this object's thread; every write made during a hand-over leaves, in
// order, in as few writes as the device takes, when the hand-over ends and before the receiver
// hears of its end.
//
// The port stays open as far as the owner is concerned when its device goes away: writes are
// discarded, deviceLost() is signalled, and the session reopens the device when it is back. A
// device with an identity (a persistent by-id name, or USB ids and serial number) is taken
// again only with the same identity; one without (a pseudo-terminal, whose number the system
// gives to the next program that asks) only through a port-map link made anew after the loss.
// A network address names its device: the session connects to it again once a second, off
// this thread, since a far host may take seconds to answer.
class PortSession final : public QObject, private RxSink
{
    Q_OBJECT

public:
    PortSession(PortFactory factory, RxSink& receiver, QObject* parent = nullptr);
    ~PortSession() override;

    PortSession(const PortSession&) = delete;
    PortSession& operator=(const PortSession&) = delete;

    void setPortFactory(PortFactory factory);

    // Resolve, open, read the state, apply the line settings and flow control, clear and then
    // raise the modem lines asked for; then the receive thread starts. A failed step leaves
    // nothing open.
    OpenResult open(const OpenRequest& request);
    // The same open in three steps, for an owner that opens a far port on another thread:
    // prepareOpen closes what is open, resolves the name and makes the port here;
    // openPrepared opens the device on any thread, touching nothing of the session's;
    // finishOpen, back here, starts reading (or closes the port after a failure).
    struct PreparedOpen
    {
        OpenRequest request;
        PortResolution resolution;
        std::shared_ptr<SerialPort> port; // none when the name did not resolve
        OpenResult result;
    };
    PreparedOpen prepareOpen(const OpenRequest& request);
    static void openPrepared(PreparedOpen& prepared);
    OpenResult finishOpen(PreparedOpen& prepared);
    // Ends the waiting for a lost device, stops the thread, purges and closes the port.
    void close();
    // At exit: as close, then waits for the thread, serving its last hand-overs meanwhile.
    void shutdown();
    // Discards both queues of the device and ends a pending read.
    void purge();

    // From a successful open until close, also while the device is lost.
    bool isOpen() const { return m_open; }
    // Bytes taken from the device by the current opening's reads (for figures of a run).
    std::uint64_t bytesRead() const { return m_thread ? m_thread->bytesRead() : 0; }
    // Bytes read but not yet handed over: the read time of the oldest; none when there are none.
    std::optional<std::chrono::steady_clock::time_point> oldestUnservedRead() const
    {
        return m_thread ? m_thread->oldestUnservedRead() : std::nullopt;
    }
    // The device is there and its port open: writes reach it.
    bool deviceOpen() const;
    // The device went away and the session waits for it.
    bool waitingForDevice() const { return m_lost; }
    // Why the port let the device go, when it did so itself; empty otherwise.
    QString lossReason() const { return m_lossReason; }
    // The port name of the current opening ("COM3").
    QString portName() const { return m_portName; }
    // The device as the user named it (a link's target, or the path), and its identity.
    QString devicePath() const { return m_devicePath; }
    const DeviceIdentity& identity() const { return m_identity; }

    // The read switch: while off, the thread skips its reads.
    void setRxEnabled(bool on) { m_rxEnabled = on; }
    bool exchangeRxEnabled(bool on) { return m_rxEnabled.exchange(on); }
    bool rxEnabled() const { return m_rxEnabled; }

    // The single write path. Without an open device the bytes are discarded; during a
    // hand-over they wait for its end. What the device does not take at once waits in a queue
    // of TxQueueLimit bytes, drained as the device takes bytes; nothing here ever waits for
    // the device. Bytes that find the queue full are dropped and counted (writeDropped).
    // Returns the bytes that went out or wait to.
    std::size_t write(const std::uint8_t* bytes, std::size_t count);
    // Bytes waiting for the device.
    std::size_t txQueued() const { return m_txQueue.size() - m_txHead; }
    // Bytes dropped since the port was opened.
    std::uint64_t txDropped() const { return m_txDropped; }

    // An output line; kept for a reopen also while the device is lost. A device without modem
    // lines takes it as done.
    SerialStatus setModemLine(ModemLine line, bool on);
    SerialStatus setBreak(bool on);
    // Holds a break for ms, ended by a timer so the session goes on serving the port meanwhile.
    // A break already held lasts to the later of its end and this one's: one holder's short
    // break never cuts another's long one short. The reason when it could not be set.
    SerialStatus holdBreak(int ms);
    bool breakHeld() const;
    // Asks the device for its input lines and signals a change.
    void pollModemStatus();
    ModemStatus modemStatus() const { return m_modemStatus; }

    // The device folders changed: a device that vanished while nothing was read is lost, a
    // lost one may be back.
    void checkDevice();

    // The receiver's hand-over as the thread runs it, for an owner that feeds bytes itself.
    RxSink& handOver() { return *this; }

    static constexpr std::size_t TxQueueLimit = 1u << 20;
    static constexpr int TxDrainMs = 2;
    static constexpr int RetryMs = 300;
    static constexpr int NetworkRetryMs = 1000;
    static constexpr int ModemStatusPollMs = 20;

signals:
    void lost(const QString& devicePath);
    void reconnected(const QString& devicePath);
    void modemStatusChanged(const kirt::ModemStatus& status);
    // Bytes were dropped: the device had not taken what was queued before them.
    void writeDropped(std::size_t count);

private:
    // RxSink, as the receive thread calls it.
    void RxHandOverBegins() override;
    void StoreRxChunk(const std::uint8_t* bytes, std::uint32_t count,
                      const ReadTime& readAt) override;
    void RxDisplayStep() override;
    void RxDisplaySteps(std::uint32_t count) override;
    void RxDisplayStepsDone() override;
    bool RxPending() const override;
    void deviceLost() override;

    std::shared_ptr<SerialPort> makePort() const;
    void start(std::shared_ptr<SerialPort> port, const QString& devicePath,
               const QString& namedPath);
    void stopThread();
    void loseDevice();
    void retry();
    void reconnectInBackground(const PortResolution& resolution);
    bool sameDevice(const PortResolution& resolution) const;
    void writeNow(const std::uint8_t* bytes, std::size_t count);
    void drainWrites();
    void clearWrites();
    void releaseWriteNotifier();
    void setModemStatus(const ModemStatus& status);

    PortFactory m_factory;
    RxSink& m_receiver;
    std::shared_ptr<SerialPort> m_port;
    QPointer<TReceiveComThread> m_thread;
    std::atomic<bool> m_rxEnabled{false};

    bool m_open = false;
    bool m_lost = false;
    QString m_portName;
    QString m_givenDevice; // the request's own device path, for a reopen after a loss
    QString m_lossReason;
    ComSettings m_settings; // as opened; a reopen applies them again
    bool m_dtr = false;
    bool m_rts = false;
    QString m_devicePath; // as the user named it
    QString m_node;       // the device node, links followed; a network address as it is
    uint m_nodeOwner = 0; // the user the node belonged to when it was opened
    bool m_networked = false;
    bool m_mapped = false;
    DeviceIdentity m_identity;
    // The port's mapping as it was when the device went: the variable's path, or the link.
    struct Mapping
    {
        PortSource source = PortSource::Default;
        QString devicePath;
        LinkStamp link;
    };
    Mapping m_mappingAtLoss;

    bool m_inHandOver = false;
    std::vector<std::uint8_t> m_pendingWrites;

    std::vector<std::uint8_t> m_txQueue; // from m_txHead on: bytes the device has not taken
    std::size_t m_txHead = 0;
    std::uint64_t m_txDropped = 0;
    QTimer* m_txDrain = nullptr;          // tries again, for a port without a descriptor
    QSocketNotifier* m_txReady = nullptr; // the device takes more bytes

    QTimer* m_retry = nullptr;
    bool m_attempting = false;      // a network reconnect runs on its own thread
    std::uint64_t m_generation = 0; // a close makes a running attempt's result stale
    QTimer* m_modemPoll = nullptr;
    ModemStatus m_modemStatus;
    QTimer* m_breakEnd = nullptr; // the end of the break held, whoever asked for it
};

} // namespace kirt
