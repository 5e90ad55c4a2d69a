#pragma once

#include "session/portcontroller.h"
#include "transfer/transfermachine.h"
#include "transfer/transferresult.h"

#include <QElapsedTimer>
#include <QObject>
#include <QStringList>

#include <memory>

class QTimer;

namespace kirt {

class ReceiveTarget;

// One file transfer over a port it claims for its whole run: its bytes are the transfer's
// alone, and everybody else's writes wait. Lives on the port's thread.
class Transfer : public QObject, public PortClaimant
{
    Q_OBJECT

public:
    Transfer(PortController& port, TransferProtocol protocol, TransferDirection direction,
             QObject* parent = nullptr);
    ~Transfer() override;

    // Claims the port and begins. finished() follows in every case, never inside this call.
    virtual void start() = 0;
    // Ends the transfer within a second; the other side is told (CAN CAN).
    virtual void cancel() = 0;
    bool running() const { return m_running; }
    TransferProtocol protocol() const { return m_protocol; }
    TransferDirection direction() const { return m_direction; }

    QString claimName() const override;

signals:
    void progress(const kirt::TransferProgress& progress);
    // line: the summary for the display ("YMODEM: sent fw.bin, 412,672 bytes in ...").
    void finished(const kirt::TransferResult& result, const QString& line);

protected:
    // Claims the port; false (and finished() on its way) when it cannot be had.
    bool claimPort();
    // Releases the claim and tells the end, later, from the event loop.
    void complete(const TransferResult& result);
    // "the port was closed", "the device was lost: ..."
    QString claimEndReason(ClaimEnd why) const;
    // A transfer that fails before it starts (a file that cannot be read).
    TransferResult failedResult(const QString& reason) const;

    PortController& m_port;
    TransferProtocol m_protocol;
    TransferDirection m_direction;
    bool m_running = false;
};

// XMODEM and YMODEM in Kirt's own code: the protocol's machine, fed the claimed port's bytes
// and woken by a timer while it waits.
class TransferJob final : public Transfer
{
    Q_OBJECT

public:
    // target: where a receive writes, owned by the job. failure: a reason not to start at all.
    TransferJob(PortController& port, std::unique_ptr<TransferMachine> machine,
                std::unique_ptr<ReceiveTarget> target, QObject* parent = nullptr,
                const QString& failure = {});
    ~TransferJob() override;

    void start() override;
    void cancel() override;

    void received(const std::uint8_t* bytes, std::size_t count, const ReadTime& readAt) override;
    void claimEnded(ClaimEnd why) override;

    // After a failure, the bytes still on their way are swallowed until the line is quiet,
    // so the rest of a block does not spill into the display; never longer than LingerMs.
    // What comes meanwhile after a cancel is answered with the cancel again, a few times: a
    // receiver that reads ahead drops the CANs that came with the block before them.
    static constexpr int QuietMs = 200;
    static constexpr int LingerMs = 800;
    static constexpr int CancelRepeats = 3;
    static constexpr int ProgressMs = 100;

private:
    TransferMachine::Ms now() const { return m_clock.elapsed(); }
    // Writes what the machine gave, tells the progress, arms the timer or ends.
    void serve();
    void ended();
    void lingerDone();

    std::unique_ptr<ReceiveTarget> m_target; // before the machine, which refers to it
    std::unique_ptr<TransferMachine> m_machine;
    QString m_failure;
    QElapsedTimer m_clock;
    QTimer* m_timer;
    QTimer* m_linger;
    bool m_lingering = false;
    int m_cancelRepeats = 0;
    TransferMachine::Ms m_lingerEnd = 0;
    TransferMachine::Ms m_lastProgress = -1;
    QString m_lastFile;
};

} // namespace kirt
