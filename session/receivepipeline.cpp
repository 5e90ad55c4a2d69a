#include "session/receivepipeline.h"

#include "display/bytetext.h"

#include <QThread>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <new>
#include <utility>

namespace kirt {

namespace {

constexpr std::uint8_t Cr = 0x0D;
constexpr std::uint8_t Lf = 0x0A;

} // namespace

bool ReceivePipeline::anyRuleEnabled() const
{
    return std::any_of(m_rules.begin(), m_rules.end(), [](const Rule& r) { return r.enabled; });
}

bool ReceivePipeline::startsRow(std::uint8_t ch, const QString& pending) const
{
    return m_settings.newLineEnabled && ch == m_settings.newLineChar && m_display &&
           !(m_display->isEmpty() && pending.isEmpty());
}

bool ReceivePipeline::rowEnds(std::uint8_t ch) const
{
    // In HEX a CR or LF is two digits like any byte; only the new-line character breaks.
    return m_settings.format == DataFormat::Asc && (ch == Cr || ch == Lf);
}

ReceivePipeline::ReceivePipeline(ReceiveDisplaySink* display, ReceiveOutput& output)
    : m_display(display), m_output(output)
{
}

void ReceivePipeline::resetRules()
{
    for (Rule& rule : m_rules)
        rule.rule = ProtocolRule{};
}

void ReceivePipeline::setTime(std::chrono::system_clock::time_point time)
{
    m_time = time;
    m_timeText.clear();
}

void ReceivePipeline::RxHandOverBegins()
{
    m_inHandOver = true;
    m_output.handOverBegins();
    // One time for every byte of the batch: they arrived together.
    setTime(std::chrono::system_clock::now());
}

void ReceivePipeline::StoreRxChunk(const std::uint8_t* bytes, std::uint32_t count,
                                   const ReadTime& readAt)
{
    storeChunk(bytes, count, readAt, 0);
}

void ReceivePipeline::storeChunk(const std::uint8_t* bytes, std::uint32_t count,
                                 const ReadTime& readAt, std::uint8_t source)
{
    if (count != 0)
        setTime(readAt.system);
    const RxRingBuffer::StoreResult stored = m_rxMemory.StoreRxChunk(bytes, count);
    if (stored.stored != 0) {
        m_storedBytes += stored.stored;
        m_chunkTimes.push_back({m_storedBytes, readAt, source});
        m_latestChunk = m_chunkTimes.back();
    }
    if (stored.showFullPanel)
        m_output.rxMemoryFull(true);
}

void ReceivePipeline::clearReceived()
{
    m_rxMemory.clear();
    m_chunkTimes.clear();
    m_takenBytes = m_storedBytes;
}

const ReceivePipeline::ChunkTime& ReceivePipeline::chunkOfByte(std::uint64_t index)
{
    while (!m_chunkTimes.empty() && m_chunkTimes.front().end <= index)
        m_chunkTimes.pop_front();
    return m_chunkTimes.empty() ? m_latestChunk : m_chunkTimes.front();
}

template <typename Work> void ReceivePipeline::guarded(Work&& work)
{
    try {
        work();
    } catch (const std::bad_alloc&) {
        outOfMemory();
    }
}

void ReceivePipeline::outOfMemory()
{
    // Quietly, as a full buffer: what waited to be displayed is dropped, reception goes on.
    clearReceived();
    m_logLine.clear();
    m_logLineOpen = false;
    if (!m_settings.logging)
        return;
    m_settings.logging = false;
    const QString path = m_log.path();
    m_log.stop();
    try {
        m_output.logFailed(path, QStringLiteral("Out of memory."));
    } catch (const std::bad_alloc&) {
        // Not even the report could be made; the log has stopped all the same.
    }
}

void ReceivePipeline::RxDisplayStep()
{
    guarded([this] { displayStep(); });
}

void ReceivePipeline::displayStep()
{
    if (m_rxMemory.pending())
        DisplayRxByte();
    // Within a hand-over the figure and the log are brought up to date when it ends: nothing
    // paints or reads them in between.
    if (!m_inHandOver) {
        ShowTraffic();
        flushLog();
    }
}

void ReceivePipeline::RxDisplaySteps(std::uint32_t count)
{
    guarded([this, count] { displaySteps(count); });
}

void ReceivePipeline::displaySteps(std::uint32_t count)
{
    // Outside a hand-over every step brings the figure and the log up to date: step by step.
    // A file on its way out holds the bytes back, and a full buffer pauses on every byte.
    if (!m_inHandOver || m_settings.holdDisplay || m_rxMemory.RxFull()) {
        for (std::uint32_t i = 0; i < count; ++i)
            displayStep();
        return;
    }
    while (count > 0 && m_rxMemory.pending() && !m_rxMemory.RxFull()) {
        const RxRingBuffer::SpanResult span = m_rxMemory.TakeRxSpan(count);
        if (span.count == 0)
            break;
        count -= span.count;
        if (span.hideFullPanel)
            m_output.rxMemoryFull(false);
        displayRun(span.bytes, span.count);
    }
}

void ReceivePipeline::displayRun(const std::uint8_t* bytes, std::uint32_t count)
{
    // Bytes go out together up to the next event that must come between two of them: the echo
    // as one write up to an answer, the text as one append up to a line break or an answer,
    // the log entries as one addition.
    std::uint32_t echoed = 0;
    QString text;
    QString logText;
    const bool lines = linesOn();
    const bool merged = m_settings.merged();
    const bool lineLog =
        m_settings.logging && (m_settings.timeStamp != TimeStampMode::Off || merged);
    if (m_logLineOpen && !lineLog) {
        // The stamps went off (or the log stopped): the line is written as it stands.
        if (m_settings.logging)
            endLogLine(logText);
        m_logLine.clear();
        m_logLineOpen = false;
    }
    if (lines) {
        m_stamps.setMode(m_settings.timeStamp);
        syncLine();
    }
    const auto echoUpTo = [&](std::uint32_t end) {
        if (m_settings.echo && end > echoed)
            m_output.writeEcho(bytes + echoed, end - echoed);
        echoed = end;
    };
    const auto showText = [&] {
        if (!text.isEmpty() && m_display) {
            if (m_textSource == 0)
                m_display->appendData(text);
            else
                m_display->appendMonitor(text);
        }
        text.clear();
    };
    // designed: the new-line character's break, which the designed log layouts carry too.
    const auto breakLine = [&](bool designed) {
        if (m_display) {
            showText();
            m_display->appendLineBreak();
        }
        m_line = {};
        if (lineLog)
            endLogLine(logText);
        else if (designed && m_settings.logging)
            logText += LogLineBreakText();
    };
    // Without a rule no answer can come between two bytes: the text goes in runs from one
    // new-line character to the next.
    const bool plain = !lines && !anyRuleEnabled();
    const bool breaks = m_settings.newLineEnabled && m_display;
    for (std::uint32_t i = 0; plain && i < count;) {
        std::uint32_t end = count;
        if (breaks) {
            const void* next =
                i + 1 < count ? std::memchr(bytes + i + 1, m_settings.newLineChar, count - i - 1)
                              : nullptr;
            if (next)
                end = static_cast<std::uint32_t>(static_cast<const std::uint8_t*>(next) - bytes);
            if (startsRow(bytes[i], text))
                breakLine(true);
        }
        AppendBytesText(text, m_settings.format, bytes + i, end - i);
        if (m_settings.logging)
            for (std::uint32_t k = i; k < end; ++k)
                logText += logEntry(bytes[k]);
        i = end;
    }
    const auto gap = std::chrono::milliseconds(m_settings.gapSplitMs);
    for (std::uint32_t i = 0; !plain && i < count; ++i) {
        const std::uint8_t ch = bytes[i];
        const bool newLine = startsRow(ch, text);
        if (!lines) {
            if (newLine)
                breakLine(true);
            AppendBytesText(text, m_settings.format, &ch, 1);
            if (m_settings.logging)
                logText += logEntry(ch);
        } else {
            const ChunkTime& origin = chunkOfByte(m_takenBytes + i);
            const ReadTime& at = origin.at;
            const std::uint8_t source = merged ? origin.source : 0;
            if (source != m_textSource) {
                showText();
                m_textSource = source;
            }
            if (source != 0) {
                // A monitor port is only read: its bytes are neither echoed nor answered.
                echoUpTo(i);
                echoed = i + 1;
            }
            // A change of port starts a row.
            if (source != m_rowSource && !m_line.start)
                breakLine(false);
            // The new-line character's own break stands for the gap's.
            if (gap.count() > 0 && m_haveLastByte && !newLine && !m_line.start &&
                at.steady - m_lastByteAt > gap)
                breakLine(false);
            m_lastByteAt = at.steady;
            m_haveLastByte = true;
            if (newLine)
                breakLine(true);
            const LineState before = m_line;
            const Shown shown = appendStamped(text, ch, at, source);
            m_rowSource = source;
            if (lineLog) {
                if (shown.stamp >= 0) {
                    endLogLine(logText);
                    m_logLine = text.mid(shown.stamp, shown.bytes - shown.stamp);
                    m_logLineOpen = true;
                }
                if (rowEnds(ch)) {
                    // An LF that joins a CR adds nothing.
                    if (!(ch == Lf && before.afterCr))
                        endLogLine(logText);
                } else if (shown.bytes < text.size()) {
                    if (!m_logLineOpen) {
                        // A line the log joins in the middle still begins with a stamp.
                        appendRowStart(m_logLine, at, source);
                        m_logLineOpen = true;
                    }
                    m_logLine += QStringView(text).mid(shown.bytes);
                }
            } else if (m_settings.logging) {
                logText += logEntry(ch);
            }
            if (source != 0)
                continue;
        }
        for (int n = 1; n <= Rules; ++n) {
            Rule& rule = m_rules.at(index(n));
            if (!rule.enabled || !rule.rule.match(ch))
                continue;
            // The answer leaves after this byte's echo and text, before the next byte's.
            echoUpTo(i + 1);
            showText();
            if (!rule.response.isEmpty())
                m_output.writeResponse(
                    n, reinterpret_cast<const std::uint8_t*>(rule.response.constData()),
                    static_cast<std::uint32_t>(rule.response.size()));
            m_output.responseCounted(n, rule.rule.responseCount());
            // The response may have been shown as sent text.
            if (lines)
                syncLine();
        }
    }
    m_takenBytes += count;
    chunkOfByte(m_takenBytes);
    echoUpTo(count);
    showText();
    if (m_settings.logging && !logText.isEmpty())
        m_log.add(logText);
    m_displayChanged = true;
    if (m_display)
        m_display->scrollToEnd();
}

void ReceivePipeline::syncLine()
{
    if (!m_display)
        return;
    switch (m_display->lineEnd()) {
    case ReceiveDisplaySink::LineEnd::Unknown:
        return;
    case ReceiveDisplaySink::LineEnd::Start:
        m_line = {};
        break;
    case ReceiveDisplaySink::LineEnd::AfterCr:
        m_line = {true, true};
        break;
    case ReceiveDisplaySink::LineEnd::Inside:
        m_line = {false, false};
        break;
    }
    // A cleared display starts the differences again.
    if (m_display->isEmpty())
        m_stamps.restart();
}

void ReceivePipeline::appendRowStart(QString& text, const ReadTime& at, std::uint8_t source)
{
    if (m_settings.timeStamp != TimeStampMode::Off)
        m_stamps.append(text, at.system, at.steady);
    if (m_settings.merged())
        text += m_settings.rowNames[source];
}

ReceivePipeline::Shown ReceivePipeline::appendStamped(QString& text, std::uint8_t ch,
                                                      const ReadTime& at, std::uint8_t source)
{
    Shown shown;
    // A zero byte shows nothing, so it begins no line either.
    if (m_settings.format == DataFormat::Asc && ch == 0) {
        shown.bytes = text.size();
        return shown;
    }
    const bool joinsCr = ch == Lf && m_line.afterCr && rowEnds(ch) && source == m_rowSource;
    if ((m_settings.timeStamp != TimeStampMode::Off || m_settings.merged()) && m_line.start &&
        !joinsCr) {
        shown.stamp = text.size();
        appendRowStart(text, at, source);
    }
    shown.bytes = text.size();
    AppendBytesText(text, m_settings.format, &ch, 1);
    if (rowEnds(ch))
        m_line = {true, ch == Cr};
    else
        m_line = {false, false};
    return shown;
}

void ReceivePipeline::endLogLine(QString& logText)
{
    if (!m_logLineOpen)
        return;
    logText += m_logLine;
    logText += LogLineBreakText();
    m_logLine.clear();
    m_logLineOpen = false;
}

void ReceivePipeline::showSent(const std::uint8_t* bytes, std::uint32_t count)
{
    if (!m_display || count == 0)
        return;
    const bool stamped = m_settings.timeStamp != TimeStampMode::Off || m_settings.merged();
    const ReadTime writtenAt = ReadTime::now();
    if (stamped) {
        m_stamps.setMode(m_settings.timeStamp);
        syncLine();
    }
    QString text;
    for (std::uint32_t i = 0; i < count; ++i) {
        // What the port sent goes on a row of the port's, not on the monitor's.
        const bool otherRow = m_settings.merged() && m_rowSource != 0 && !m_line.start;
        if (otherRow || startsRow(bytes[i], text)) {
            m_display->appendSent(std::exchange(text, QString()));
            m_display->appendLineBreak();
            m_line = {};
        }
        if (stamped) {
            appendStamped(text, bytes[i], writtenAt);
            m_rowSource = 0;
        } else {
            AppendBytesText(text, m_settings.format, &bytes[i], 1);
        }
    }
    m_display->appendSent(text);
}

void ReceivePipeline::stopLog()
{
    if (m_logLineOpen && m_log.isOpen()) {
        QString logText;
        endLogLine(logText);
        m_log.append(logText);
    }
    m_logLine.clear();
    m_logLineOpen = false;
    m_log.stop();
}

QString ReceivePipeline::logEntry(std::uint8_t ch)
{
    const LogLayout& layout = m_settings.log;
    if (LogEntryNeedsTimeStamp(layout, ch))
        return LogEntry(layout, ch, LogTimeStamp());
    LogTable& table = m_logTable;
    if (!table.made || table.layout.hex != layout.hex ||
        table.layout.condition != layout.condition || table.layout.timeLog != layout.timeLog) {
        for (int b = 0; b < 256; ++b)
            table.entries[static_cast<std::size_t>(b)] =
                LogEntry(layout, static_cast<std::uint8_t>(b), QString());
        table.layout = layout;
        table.made = true;
    }
    return table.entries[ch];
}

void ReceivePipeline::RxDisplayStepsDone()
{
    guarded([this] { stepsDone(); });
}

void ReceivePipeline::stepsDone()
{
    m_inHandOver = false;
    ShowTraffic();
    flushLog();
    // The steps of one hand-over appended their text; it is cut back to the line limit before
    // anything else sees the display. A hand-over that displayed nothing leaves the display
    // alone: a new limit waits for new text.
    if (!m_displayChanged)
        return;
    m_displayChanged = false;
    TrimDisplayLines();
    if (m_display)
        m_display->batchEnded();
}

void ReceivePipeline::DisplayRxByte()
{
    // A byte displayed outside a hand-over has a time of its own.
    if (!m_inHandOver)
        setTime(std::chrono::system_clock::now());
    // While a file goes out, received bytes wait in the buffer.
    if (m_settings.holdDisplay)
        return;
    const auto taken = m_rxMemory.TakeRxByte();
    if (!taken.taken)
        return;
    if (taken.pause)
        QThread::msleep(1);
    if (taken.hideFullPanel)
        m_output.rxMemoryFull(false);
    // The same steps as a batch of one byte.
    displayRun(&taken.byte, 1);
}

void ReceivePipeline::MatchProtocolByte(int n, std::uint8_t byte)
{
    Rule& rule = m_rules.at(index(n));
    if (!rule.enabled || !rule.rule.match(byte))
        return;
    if (!rule.response.isEmpty())
        m_output.writeResponse(n, reinterpret_cast<const std::uint8_t*>(rule.response.constData()),
                               static_cast<std::uint32_t>(rule.response.size()));
    m_output.responseCounted(n, rule.rule.responseCount());
}

QString ReceivePipeline::LogTimeStamp() const
{
    if (m_timeText.isEmpty()) {
        using namespace std::chrono;
        m_timeText = LogTimeStampText(QDateTime::fromMSecsSinceEpoch(
            duration_cast<milliseconds>(m_time.time_since_epoch()).count()));
    }
    return m_timeText;
}

void ReceivePipeline::TrimDisplayLines()
{
    if (m_display)
        m_display->limitRows(m_settings.lineLimit);
}

void ReceivePipeline::ShowTraffic()
{
    m_output.trafficChanged(m_rxMemory.written(), m_rxMemory.backlog());
}

void ReceivePipeline::flushLog()
{
    if (!m_settings.logging || m_log.flush())
        return;
    // The log stops at once, so the failure is reported once.
    m_settings.logging = false;
    const QString path = m_log.path();
    const QString reason = m_log.errorString();
    m_log.stop();
    m_output.logFailed(path, reason);
}

} // namespace kirt
