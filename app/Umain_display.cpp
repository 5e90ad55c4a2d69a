// The receive display: what the receive pipeline hands on, and what is typed into it.
#include "app/Umain.h"

#include "app/dialogs.h"
#include "display/bytetext.h"
#include "display/traffic.h"
#include "ui/datalineedit.h"
#include "ui/receivedisplay.h"
#include "ui_Umain.h"

#include <QTimer>

#include <algorithm>
#include <array>
#include <utility>

void TFmain::DisplayRxByte()
{
    port().pipeline().DisplayRxByte();
}

void TFmain::syncReceiveSettings()
{
    kirt::ReceiveSettings& s = rx();
    s.format = kirt::dataFormatFromIndex(m_ui->DisplayFormatComboBox->currentIndex());
    s.echo = m_ui->EchoOnOffComboBox->currentIndex() == 1;
    s.log.hex = m_ui->DisplayFormatComboBox->currentIndex() == 0;
    s.log.condition =
        static_cast<kirt::LogCondition>(std::clamp(m_ui->ConditionComboBox->currentIndex(), 0, 2));
    s.log.timeLog = m_ui->TimeLogComboBox->currentIndex() == 1;
    s.holdDisplay = !m_ui->DownloadPanel->isHidden();
    s.timeStamp =
        static_cast<kirt::TimeStampMode>(std::clamp(m_ui->TimeStampComboBox->currentIndex(), 0, 2));
    // "OFF", "5 ms" .. "500 ms".
    static constexpr std::array<std::uint32_t, 7> GapsMs = {0, 5, 10, 20, 50, 100, 500};
    const int gap = m_ui->GapSplitComboBox->currentIndex();
    s.gapSplitMs = gap >= 0 && gap < static_cast<int>(GapsMs.size())
                       ? GapsMs[static_cast<std::size_t>(gap)]
                       : 0;
}

void TFmain::syncRule(int n)
{
    const RuleRow& row = m_ruleRows.row(n);
    port().pipeline().setRuleEnabled(n, row.enable->currentIndex() == 1);
    kirt::LoadTransmitText(m_transmit.buffer, row.response->fieldText());
    const std::uint32_t count = kirt::ConvertTransmitText(
        m_transmit.buffer, kirt::dataFormatFromIndex(row.format->currentIndex()));
    port().pipeline().setRuleResponse(
        n, QByteArray(reinterpret_cast<const char*>(m_transmit.buffer.data()),
                      static_cast<qsizetype>(count)));
}

void TFmain::handOverBegins()
{
    // Shown and hidden by the file transmit, and by nothing that signals it.
    rx().holdDisplay = !m_ui->DownloadPanel->isHidden();
}

void TFmain::writeEcho(const std::uint8_t* bytes, std::uint32_t count)
{
    // The echo is the received byte again: it is not shown a second time as sent data.
    writeToPort(bytes, count);
}

void TFmain::writeResponse(int rule, const std::uint8_t* bytes, std::uint32_t count)
{
    Q_UNUSED(rule);
    if (!portOpen())
        return;
    WriteComBytes(bytes, count);
    UpdateStatusLine();
}

void TFmain::responseCounted(int rule, std::uint32_t count)
{
    m_ruleRows.row(rule).responseCount->setText(kirt::responseCountCaption(rule, count));
}

void TFmain::rxMemoryFull(bool shown)
{
    m_ui->RxMemoryFull->setVisible(shown);
}

void TFmain::trafficChanged(std::uint32_t written, std::uint32_t backlog)
{
    const QString caption = kirt::TrafficCaption(written, backlog);
    if (m_ui->TrafficPanel->text() != caption)
        m_ui->TrafficPanel->setText(caption);
}

void TFmain::logFailed(const QString& path, const QString& reason)
{
    StopRealTimeSave();
    // The box waits until this hand-over has returned, so reception and display go on
    // meanwhile.
    QTimer::singleShot(0, this, [this, path, reason] {
        kirt::dialogs().error(this,
                              QStringLiteral("Cannot write the log file \"%1\". Real Time Save has "
                                             "stopped.")
                                  .arg(path),
                              reason);
    });
}

bool TFmain::showingSent() const
{
    return m_ui->ShowSentComboBox->currentIndex() == 1 && port().session().deviceOpen();
}

void TFmain::showSentBytes(const std::uint8_t* bytes, std::uint32_t count)
{
    // Shown as received bytes are, new-line character and stamps included, but not logged,
    // not matched by the rules and not in the traffic figure: none of them is about sent data.
    port().pipeline().showSent(bytes, count);
    // Sent rows count against the line limit as received ones do; within a hand-over the cut
    // waits for its end, as for the received text around them.
    if (port().pipeline().inHandOver())
        port().pipeline().markDisplayChanged();
    else
        TrimDisplayLines();
    ScrollDisplayToEnd();
}

void TFmain::showNoteLines(const QStringList& lines)
{
    // Trimmed and scrolled once, however many.
    kirt::ReceiveDisplay* display = m_ui->mMessage;
    for (const QString& text : lines) {
        if (display->lineEnd() != kirt::ReceiveDisplaySink::LineEnd::Start)
            display->appendLineBreak();
        display->appendSent(text);
        display->appendLineBreak();
    }
    TrimDisplayLines();
    ScrollDisplayToEnd();
}

void TFmain::TrimDisplayLines()
{
    port().pipeline().TrimDisplayLines();
}

void TFmain::ScrollDisplayToEnd()
{
    m_display->scrollToEnd();
}

void TFmain::clearDisplay()
{
    m_display->clearDisplay();
}
