#pragma once

#include "base/codec.h"
#include "display/logfile.h"
#include "display/logformat.h"
#include "protocol/protocolrule.h"
#include "serial/receivethread.h"
#include "serial/rxringbuffer.h"

#include <QByteArray>
#include <QDateTime>
#include <QString>

#include <array>
#include <chrono>
#include <cstdint>

namespace kirt {

// Where received text is shown: rows of text, cut to a limit. The window's display is one; a
// run without a window may have none.
class ReceiveDisplaySink
{
public:
    virtual ~ReceiveDisplaySink() = default;
    virtual void appendData(const QString& text) = 0;
    virtual void appendLineBreak() = 0;
    virtual bool isEmpty() const = 0;
    // Cuts the oldest rows until at most limit remain; the display may make the cut together
    // with its next edit, as long as it counts the rows as cut from now on.
    virtual void limitRows(std::uint32_t limit) = 0;
    virtual void scrollToEnd() = 0;
    // The bytes of one hand-over have been appended and answered.
    virtual void batchEnded() = 0;
};

// What the pipeline hands on besides the display: the bytes it writes, and the state its owner
// shows.
class ReceiveOutput
{
public:
    virtual ~ReceiveOutput() = default;
    // The received byte again (echo); it is not shown as sent data.
    virtual void writeEcho(const std::uint8_t* bytes, std::uint32_t count) = 0;
    // A rule matched: its response goes out (shown as sent data where that is on).
    virtual void writeResponse(int rule, const std::uint8_t* bytes, std::uint32_t count) = 0;
    // A rule's count of responses changed (after its response was written).
    virtual void responseCounted(int /*rule*/, std::uint32_t /*count*/) {}
    // " Rx Memory Full" is to be shown or hidden.
    virtual void rxMemoryFull(bool /*shown*/) {}
    // The figures of the traffic caption, after a display step or a hand-over.
    virtual void trafficChanged(std::uint32_t /*written*/, std::uint32_t /*backlog*/) {}
    // The log could not be written; logging has stopped.
    virtual void logFailed(const QString& /*path*/, const QString& /*reason*/) {}
    // A hand-over begins: the owner may bring the settings up to date.
    virtual void handOverBegins() {}
};

// What the pipeline reads for every byte; the owner updates it when a control changes.
struct ReceiveSettings
{
    DataFormat format = DataFormat::Hex;
    bool echo = false;
    bool newLineEnabled = false;
    std::uint8_t newLineChar = 0;
    std::uint32_t lineLimit = 27;
    // A file is being sent: received bytes wait in the buffer.
    bool holdDisplay = false;
    bool logging = false;
    LogLayout log;
};

// The receive side of the design for one hand-over: the chunk into the ring buffer, then per
// displayed byte the echo, the new-line character, the text, the log, the four rules in order
// and the caret; at the end of the hand-over the traffic figure, the log written once, and the
// cut to the line limit. Runs on the thread that serves the receive thread's hand-overs.
class ReceivePipeline final : public RxSink
{
public:
    static constexpr int Rules = 4;

    ReceivePipeline(ReceiveDisplaySink* display, ReceiveOutput& output);

    ReceiveSettings& settings() { return m_settings; }
    const ReceiveSettings& settings() const { return m_settings; }
    void setDisplay(ReceiveDisplaySink* display) { m_display = display; }

    // Rules, numbered 1..4: the matcher state, whether the rule is on and its response bytes.
    ProtocolRule& rule(int n) { return m_rules.at(index(n)).rule; }
    const ProtocolRule& rule(int n) const { return m_rules.at(index(n)).rule; }
    void setRuleEnabled(int n, bool on) { m_rules.at(index(n)).enabled = on; }
    bool ruleEnabled(int n) const { return m_rules.at(index(n)).enabled; }
    void setRuleResponse(int n, const QByteArray& bytes) { m_rules.at(index(n)).response = bytes; }
    const QByteArray& ruleResponse(int n) const { return m_rules.at(index(n)).response; }
    void resetRules();

    RxRingBuffer& rxMemory() { return m_rxMemory; }
    const RxRingBuffer& rxMemory() const { return m_rxMemory; }
    LogFile& log() { return m_log; }

    // RxSink.
    void RxHandOverBegins() override;
    void StoreRxChunk(const std::uint8_t* bytes, std::uint32_t count,
                      const ReadTime& readAt) override;
    void RxDisplayStep() override;
    // Within a hand-over the steps' bytes are taken as one batch, with the order of the
    // steps kept: what each byte makes (echo, line break, text, log entry, answers) comes out
    // in the order the byte-by-byte steps would give.
    void RxDisplaySteps(std::uint32_t count) override;
    void RxDisplayStepsDone() override;
    bool RxPending() const override { return m_rxMemory.pending(); }

    // One pending byte through the display steps.
    void DisplayRxByte();
    // Feeds one byte to rule n; a match writes the response and counts it.
    void MatchProtocolByte(int n, std::uint8_t byte);
    // The time of the bytes being displayed, as the log writes it.
    QString LogTimeStamp() const;
    void TrimDisplayLines();
    void ShowTraffic();
    // Writes what was logged; a failure stops the log and is reported once.
    void flushLog();
    bool inHandOver() const { return m_inHandOver; }
    // Sent text was shown during the hand-over: the cut waits for its end.
    void markDisplayChanged() { m_displayChanged = true; }

private:
    struct Rule
    {
        ProtocolRule rule;
        bool enabled = false;
        QByteArray response;
    };

    static std::size_t index(int n) { return static_cast<std::size_t>(n - 1); }
    // An allocation that fails on the receive path drops the batch and stops the log; the
    // program goes on.
    template <typename Work> void guarded(Work&& work);
    void outOfMemory();
    void displayStep();
    void displaySteps(std::uint32_t count);
    void stepsDone();
    void displayRun(const std::uint8_t* bytes, std::uint32_t count);
    // The log entry of one byte; one without a time stamp depends on the layout and the byte
    // only, and comes from a table made once per layout.
    QString logEntry(std::uint8_t ch);
    void setTime(std::chrono::system_clock::time_point time);

    ReceiveDisplaySink* m_display;
    ReceiveOutput& m_output;
    ReceiveSettings m_settings;
    std::array<Rule, Rules> m_rules{};
    RxRingBuffer m_rxMemory;
    LogFile m_log;

    struct LogTable
    {
        bool made = false;
        LogLayout layout;
        std::array<QString, 256> entries;
    };
    LogTable m_logTable;

    bool m_inHandOver = false;
    bool m_displayChanged = false;
    // When the bytes being displayed were read; put into words only when the log needs it, as
    // a calendar time costs microseconds to make.
    std::chrono::system_clock::time_point m_time;
    mutable QString m_timeText;
};

} // namespace kirt
