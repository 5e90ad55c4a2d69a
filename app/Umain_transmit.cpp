// Transmit lines, automatic transmission and the checksum calculator.
#include "app/Umain.h"

#include "app/dialogs.h"
#include "checksum/checksum.h"
#include "display/displaytables.h"
#include "ui/datalineedit.h"
#include "ui_Umain.h"

#include <QPushButton>
#include <QTextCursor>
#include <QTextDocument>
#include <QThread>
#include <QTimer>

// Transmit lines.

void TFmain::SetTransmitFormat(int n)
{
    TransmitRow& row = m_transmitRows.row(n);
    row.lineFormat = kirt::dataFormatFromIndex(row.format->currentIndex());
    row.edit->setMaxLength(kirt::fieldLimit(row.lineFormat));
    // An empty line stays untouched, so its caret does not move (the key filter keeps the
    // previous format until the user moves in a line).
    if (row.lineFormat != m_transmit.activeFormat && !row.edit->document()->isEmpty())
        row.edit->clear();
    if (m_transmit.shownCheck.line == n)
        forgetShownCheck();
    UpdateStatusLine();
}

void TFmain::TransmitFormatComboBoxClick(int n)
{
    m_transmit.activeFormat = m_transmitRows.row(n).lineFormat;
    SetTransmitFormat(n);
    watchSelection(n);
}

void TFmain::TransmitEditSelectionChange(int n)
{
    m_transmit.activeFormat = m_transmitRows.row(n).lineFormat;
    watchSelection(n);
}

void TFmain::TransmitEditEnter(int n)
{
    m_transmit.currentLine = n;
    if (m_transmit.shownCheck.line != n)
        forgetShownCheck();
    watchSelection(n);
}

void TFmain::TransmitEditChange(int n)
{
    watchSelection(n);
    m_transmitRows.row(n).edit->keepLastLine();
    // The result belongs to the text it was computed from.
    if (m_transmit.shownCheck.line == n)
        forgetShownCheck();
}

void TFmain::SendButtonClick(int n)
{
    FocusBeforeSend(n);
    SendTransmitLine(n);
}

void TFmain::FocusBeforeSend(int n)
{
    // Asked of the view in front, which is what the user sees even before the window is shown.
    if (!m_ui->mMessage->isHidden())
        ReceiveView_BitBtnClick();
    else if (!m_ui->BoardPanel1->isHidden())
        m_transmitRows.row(n).edit->setFocus();
}

void TFmain::SendTransmitLine(int n)
{
    if (!portOpen())
        return;
    const TransmitRow& row = m_transmitRows.row(n);
    kirt::LoadTransmitText(m_transmit.buffer, row.edit->fieldText());
    std::uint32_t count = kirt::ConvertTransmitText(m_transmit.buffer, row.lineFormat);
    // A line too short to give a byte sends nothing at all, not even its line end.
    if (count == 0)
        return;
    // The loaded text is cut two bytes short of the buffer, so CR LF always fits.
    if (row.crlf->currentIndex() == 1 && count + 2 <= m_transmit.buffer.size()) {
        m_transmit.buffer[count] = 0x0D;
        m_transmit.buffer[count + 1] = 0x0A;
        count += 2;
    }
    WriteComBytes(m_transmit.buffer.data(), count);
    UpdateStatusLine();
}

// Auto transmit.

void TFmain::SendStartBtnClick()
{
    if (!portOpen())
        return;
    if (m_transmit.autoCycle.isEmpty()) {
        kirt::dialogs().error(this, QStringLiteral("Not. Auto Mode"));
    } else if (!m_autoTransIntervalTimer->isActive()) {
        // Restarting a running timer would shift its ticks, so a second START is ignored.
        m_autoTransIntervalTimer->setInterval(m_transmit.autoIntervalMs);
        m_autoTransIntervalTimer->start();
    }
    UpdateStatusLine();
}

void TFmain::SendStopBtnClick()
{
    m_autoTransIntervalTimer->stop();
    m_transmit.autoCycle.stop();
    UpdateStatusLine();
}

void TFmain::AutoTransIntervalTimerTimer()
{
    m_transmit.autoCycle.tick([this](int line) { SendTransmitLine(line); });
}

void TFmain::TransmitAutoComboBoxClick()
{
    // A changed list restarts a running cycle from its first line.
    const bool wasRunning = m_autoTransIntervalTimer->isActive();
    if (wasRunning)
        SendStopBtnClick();
    std::array<bool, kirt::AutoTransmitCycle::LineCount> autoOn{};
    for (int n = 1; n <= TransmitRows; ++n)
        autoOn[static_cast<std::size_t>(n - 1)] =
            m_transmitRows.row(n).autoSend->currentIndex() == 1;
    m_transmit.autoCycle.rebuild(autoOn);
    if (!m_transmit.autoCycle.isEmpty() && wasRunning)
        SendStartBtnClick();
    UpdateStatusLine();
}

// Auto-transmit interval.

void TFmain::TrackBar1Change()
{
    const int position = m_ui->TrackBar1->value();
    const int ms = kirt::autoIntervalMs(position);
    m_ui->AutoTimeValue->setText(kirt::autoTimeCaption(position));
    m_transmit.autoIntervalMs = ms;
    if (m_autoTransIntervalTimer->isActive()) {
        // The interval restarts from now; the place in the cycle is kept.
        m_autoTransIntervalTimer->stop();
        m_autoTransIntervalTimer->setInterval(m_transmit.autoIntervalMs);
        QThread::msleep(100);
        m_autoTransIntervalTimer->start();
    }
    UpdateStatusLine();
}

// Checksum calculator.

void TFmain::watchSelection(int n)
{
    // Only the current line's selection feeds the buttons; one tick takes in every change
    // made before it.
    if (n == m_transmit.currentLine && !m_timer1->isActive())
        m_timer1->start();
}

void TFmain::Timer1Timer()
{
    if (m_transmit.currentLine == 0)
        return;
    m_transmit.selectedText = m_transmitRows.row(m_transmit.currentLine).edit->selectedFieldText();
    const bool any = !m_transmit.selectedText.isEmpty();
    for (QPushButton* button : m_transmit.checkButtons)
        button->setEnabled(any);
}

void TFmain::ComputeChecksum(int kind)
{
    if (m_transmit.currentLine <= 0)
        return;
    const TransmitRow& row = m_transmitRows.row(m_transmit.currentLine);
    // Read the selection now rather than trust the watch's copy, which may be up to one tick
    // old and may still belong to the line that had the focus before.
    m_transmit.selectedText = row.edit->selectedFieldText();
    const auto captions = kirt::ComputeChecksum(kind, m_transmit.selectedText, row.lineFormat);
    if (!captions)
        return;
    m_ui->LengthDisplay->setText(captions->length);
    m_ui->CheckSumDisplay->setText(captions->checksum);
    m_transmit.shownCheck = {m_transmit.currentLine, captions->kind, captions->value};
    m_ui->AppendCheckButton->setEnabled(true);
}

void TFmain::forgetShownCheck()
{
    m_transmit.shownCheck = {};
    m_ui->AppendCheckButton->setEnabled(false);
}

void TFmain::AppendCheckButtonClick()
{
    const int n = m_transmit.shownCheck.line;
    if (n <= 0 || n != m_transmit.currentLine)
        return;
    TransmitRow& row = m_transmitRows.row(n);
    const std::optional<QString> text = kirt::checkAppendText(
        m_transmit.shownCheck.kind, m_transmit.shownCheck.value, row.lineFormat);
    // A check cut short by the limit would be a wrong check: all of it or nothing.
    if (!text || row.edit->fieldText().size() + text->size() > kirt::fieldLimit(row.lineFormat))
        return;
    // Before a final line break, which would otherwise start a new line and lose the data.
    const QString current = row.edit->fieldText();
    QTextCursor cursor(row.edit->document());
    cursor.setPosition(
        static_cast<int>(current.endsWith(u'\n') ? current.size() - 1 : current.size()));
    cursor.insertText(*text);
    row.edit->setTextCursor(cursor);
}
