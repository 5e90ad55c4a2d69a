#pragma once

#include "session/portsession.h"
#include "session/receivepipeline.h"

#include <QObject>

#include <cstdint>
#include <deque>
#include <memory>
#include <vector>

namespace kirt {

// Takes the bytes a port received, with their read time, on the port's thread.
class PortReceiver
{
public:
    virtual ~PortReceiver() = default;
    virtual void received(const std::uint8_t* bytes, std::size_t count, const ReadTime& readAt) = 0;
};

// A receiver that may have the port to itself (a file transfer).
class PortClaimant : public PortReceiver
{
public:
    enum class ClaimEnd { Closed, Lost };
    // Said in place of the bytes the others would have written ("XMODEM transfer").
    virtual QString claimName() const = 0;
    // The claim ended without the claimant's release: the port was closed or its device lost.
    virtual void claimEnded(ClaimEnd why) = 0;
};

// One port, from the settings it will open with to its close: the session, the receive
// pipeline that feeds the display, the log and the rules, and any number of receivers that
// read along (a plot, a script, a terminal). Views, scripts and transfers talk to this, never
// to a window's controls.
//
// A claimant has the port to itself while it holds its claim: the received bytes go to it
// alone (no echo, rules, display steps, log or other receivers), and its writes are the only
// ones; everybody else's are held back (refused and signalled). The claim ends with the
// claimant's release, a close or the loss of the device; the port is then as before.
class PortController final : public QObject, private RxSink, private ReceiveOutput
{
    Q_OBJECT

public:
    // output: where the pipeline's echo, answers and state go; without one the controller
    // writes the echo and the answers itself (a run without a window).
    explicit PortController(PortFactory factory = systemPortFactory(),
                            ReceiveDisplaySink* display = nullptr, ReceiveOutput* output = nullptr,
                            QObject* parent = nullptr);
    ~PortController() override;

    PortController(const PortController&) = delete;
    PortController& operator=(const PortController&) = delete;

    PortSession& session() { return *m_session; }
    const PortSession& session() const { return *m_session; }
    ReceivePipeline& pipeline() { return m_pipeline; }
    const ReceivePipeline& pipeline() const { return m_pipeline; }

    // The line settings the next opening uses (the settings page, a workbench).
    ComSettings& settings() { return m_settings; }
    const ComSettings& settings() const { return m_settings; }
    // Those of the current opening; the settings above while nothing is open.
    const ComSettings& openSettings() const { return m_session->isOpen() ? m_opened : m_settings; }

    // Opens now, on this thread, and starts reading.
    OpenResult open(const OpenRequest& request);
    // Opens a network port on a thread of its own, since a far host may take seconds to
    // answer, and a local one at once; openFinished tells either way (for a local port before
    // this returns). A close meanwhile cancels it without a word.
    void beginOpen(const OpenRequest& request);
    bool opening() const { return m_opening != nullptr; }
    // The address a network open is connecting to; empty when none is under way.
    QString openingTarget() const;
    void close();
    bool isOpen() const { return m_session->isOpen(); }
    QString portName() const { return m_session->portName(); }

    void addReceiver(PortReceiver* receiver);
    void removeReceiver(PortReceiver* receiver);

    // False when the port is not open or somebody else holds it.
    bool claim(PortClaimant& claimant);
    void release(PortClaimant& claimant);
    bool claimed() const { return m_claimant != nullptr; }
    PortClaimant* claimant() const { return m_claimant; }

    // Everybody's write path; while the port is claimed nothing goes out (writeHeld tells).
    // Returns the bytes that went out or wait to.
    std::size_t write(const std::uint8_t* bytes, std::size_t count);
    // The claimant's own writes.
    std::size_t writeClaimed(PortClaimant& claimant, const std::uint8_t* bytes, std::size_t count);

    // Why the log stopped, when it could not be written and nobody else was told.
    QString logError() const { return m_logError; }

    // A monitor port: another controller whose received bytes go into this one's display and
    // log, merged with this port's own in the order they were read (the pipeline's rowNames
    // tell them apart). The monitor's own pipeline and receivers then get nothing, and nothing
    // here writes to it. nullptr ends the merge; a chunk still held for the order goes first.
    void mergeMonitor(PortController* monitor);
    PortController* monitor() const { return m_monitor; }

signals:
    // After every successful open, by either way, before openFinished.
    void opened();
    void openFinished(const kirt::OpenResult& result);
    void closed();
    void claimChanged(bool claimed);
    // A write was held back because the port is claimed.
    void writeHeld(const QString& claimName);

private:
    struct PendingOpen;

    // RxSink: between the session and the pipeline, so a claim can take the bytes away.
    void RxHandOverBegins() override;
    void StoreRxChunk(const std::uint8_t* bytes, std::uint32_t count,
                      const ReadTime& readAt) override;
    void RxDisplayStep() override;
    void RxDisplaySteps(std::uint32_t count) override;
    void RxDisplayStepsDone() override;
    bool RxPending() const override;
    // ReceiveOutput, when nobody else takes it.
    void writeEcho(const std::uint8_t* bytes, std::uint32_t count) override;
    void writeResponse(int rule, const std::uint8_t* bytes, std::uint32_t count) override;
    void logFailed(const QString& path, const QString& reason) override;

    OpenResult adopted(const OpenResult& result, const ComSettings& settings);
    // A merged chunk waits until no earlier read of the other port can still arrive.
    void holdMerged(std::uint8_t source, const std::uint8_t* bytes, std::uint32_t count,
                    const ReadTime& readAt);
    void releaseMerged(bool all);
    void endClaim(PortClaimant::ClaimEnd why);
    void cancelOpening();

    ComSettings m_settings;
    ComSettings m_opened;
    ReceivePipeline m_pipeline;
    std::vector<PortReceiver*> m_receivers;
    bool m_telling = false;
    PortClaimant* m_claimant = nullptr;
    std::unique_ptr<PendingOpen> m_opening;
    QString m_logError;
    struct HeldChunk
    {
        std::uint8_t source = 0;
        std::vector<std::uint8_t> bytes;
        ReadTime at;
    };
    std::deque<HeldChunk> m_held;          // by read time
    PortController* m_monitor = nullptr;   // merged into this one
    PortController* m_mergeInto = nullptr; // the port this one is the monitor of
    std::uint32_t m_releasedBytes = 0;     // released for the next display steps
    // After the pipeline: the session's thread is stopped before the pipeline goes.
    std::unique_ptr<PortSession> m_session;
};

} // namespace kirt
