#pragma once

#include "base/benchcounts.h"
#include "base/codec.h"
#include "display/logfile.h"
#include "display/logformat.h"
#include "display/rowstamp.h"
#include "protocol/protocolrule.h"
#include "serial/receivethread.h"
#include "serial/rxringbuffer.h"

#include <QByteArray>
#include <QDateTime>
#include <QString>

#include <array>
#include <chrono>
#include <cstdint>
#include <deque>

namespace kirt {

// Where received text is shown: rows of text, cut to a limit. The window's display is one; a
// run without a window may have none.
class ReceiveDisplaySink
{
public:
    // Where the end of the display stands: at the start of a line, right after a CR that an
    // LF would join, or inside a line; Unknown leaves it to the pipeline to keep track.
    enum class LineEnd { Unknown, Start, AfterCr, Inside };

    virtual ~ReceiveDisplaySink() = default;
    virtual void appendData(const QString& text) = 0;
    // Text the program sent, shown apart from received text where the display can.
    virtual void appendSent(const QString& text) { appendData(text); }
    // Appends a monitor port's text, shown apart from the port's own where the display can.
    virtual void appendMonitor(const QString& text) { appendData(text); }
    virtual void appendLineBreak() = 0;
    virtual bool isEmpty() const = 0;
    virtual LineEnd lineEnd() const { return LineEnd::Unknown; }
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
    // Each display line begins with the read time of its first byte; the log then carries the
    // display's lines instead of its own layout.
    TimeStampMode timeStamp = TimeStampMode::Off;
    // A byte read more than this long after the previous one starts a new line; 0 is off.
    std::uint32_t gapSplitMs = 0;
    // With a monitor port merged in, the names rows begin with: the port's and the monitor's
    // ("COM1> ", "COM2> "). Every row then holds the bytes of one port only, and the log carries
    // the display's rows. Empty: no monitor.
    std::array<QString, 2> rowNames;
    bool merged() const { return !rowNames[1].isEmpty(); }
};

// The receive side of the design for one hand-over: the chunk into the ring buffer, then per
// displayed byte the echo, the new-line character, the text, the log, the four rules in order
// and the caret; at the end of the hand-over the traffic figure, the log written once, and the
// cut to the line limit. Runs on the thread that serves the receive thread's hand-overs.
class ReceivePipeline final : public RxSink
{
public:
    static constexpr int Rules = ProtocolRuleCount;

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
    // Drops what waits in the receive buffer, with the read times kept for it.
    void clearReceived();
    const RxRingBuffer& rxMemory() const { return m_rxMemory; }
    LogFile& log() { return m_log; }
    // Ends the log: a stamped line still open is written first, as it stands.
    void stopLog();
    // Shows bytes the program wrote, at the time of the call, as received bytes are shown but
    // in the sent colour; they are not logged and no rule sees them.
    void showSent(const std::uint8_t* bytes, std::uint32_t count);

    // RxSink.
    void RxHandOverBegins() override;
    void StoreRxChunk(const std::uint8_t* bytes, std::uint32_t count,
                      const ReadTime& readAt) override;
    // The same for bytes of a given port: 0 the port's own, 1 a monitor port's (shown, logged,
    // never echoed or answered).
    void storeChunk(const std::uint8_t* bytes, std::uint32_t count, const ReadTime& readAt,
                    std::uint8_t source);
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
    // The read time of each stored chunk, by the count of stored bytes that ends it, and the
    // port it came from.
    struct ChunkTime
    {
        std::uint64_t end = 0;
        ReadTime at;
        std::uint8_t source = 0;
    };
    // The chunk of the byte taken as the index-th since the buffer was last cleared.
    const ChunkTime& chunkOfByte(std::uint64_t index);
    bool linesOn() const
    {
        return m_settings.timeStamp != TimeStampMode::Off || m_settings.gapSplitMs > 0 ||
               m_settings.merged();
    }
    // What a row begins with: its stamp when stamps are on, its port's name when merged.
    void appendRowStart(QString& text, const ReadTime& at, std::uint8_t source);
    // The line state as the display has it; text appended since by others counts.
    void syncLine();
    // Where appendStamped put a byte's stamp (-1: none) and its text, in the text given.
    struct Shown
    {
        qsizetype stamp = -1;
        qsizetype bytes = 0;
    };
    // Appends a shown byte after the stamp its line begins with, and follows the line state.
    Shown appendStamped(QString& text, std::uint8_t ch, const ReadTime& at,
                        std::uint8_t source = 0);
    bool anyRuleEnabled() const;
    // The new-line character starts a new row, except as the first character of an empty
    // display (pending: the text not yet handed to it).
    bool startsRow(std::uint8_t ch, const QString& pending) const;
    // The byte ends a display line by itself (a CR or LF shown as a character).
    bool rowEnds(std::uint8_t ch) const;
    // Ends the stamped log line into text.
    void endLogLine(QString& logText);

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

    std::deque<ChunkTime> m_chunkTimes;
    ChunkTime m_latestChunk{0, ReadTime::now(), 0};
    std::uint64_t m_storedBytes = 0;
    std::uint64_t m_takenBytes = 0;

    // The line being filled at the end of the display.
    struct LineState
    {
        bool start = true;    // nothing on it yet
        bool afterCr = false; // a CR ended the last line; an LF now joins it
    };
    LineState m_line;
    std::uint8_t m_rowSource = 0;  // the port whose bytes the last row holds
    std::uint8_t m_textSource = 0; // the port whose bytes wait in the text being made
    RowStamps m_stamps;
    bool m_haveLastByte = false;
    std::chrono::steady_clock::time_point m_lastByteAt;
    // The stamped log line being filled; written when it ends.
    QString m_logLine;
    bool m_logLineOpen = false;

    bool m_inHandOver = false;
    bool m_displayChanged = false;
    // When the bytes being displayed were read; put into words only when the log needs it, as
    // a calendar time costs microseconds to make.
    std::chrono::system_clock::time_point m_time;
    mutable QString m_timeText;
};

} // namespace kirt
