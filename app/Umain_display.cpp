// The receive display: one received byte at a time, and what is typed into it.
#include "app/Umain.h"

#include "display/bytetext.h"
#include "ui/receivedisplay.h"
#include "ui_Umain.h"

#include <QThread>
#include <QTimer>

#include <utility>

void TFmain::DisplayRxByte()
{
    // A byte displayed outside a hand-over has a time of its own.
    if (!m_inRxHandOver) {
        m_rxTime = QDateTime::currentDateTime();
        m_rxTimeText.clear();
    }
    // While a file goes out, received bytes wait in the buffer.
    if (!m_ui->DownloadPanel->isHidden())
        return;
    const auto taken = m_rxMemory.TakeRxByte();
    if (taken.pause)
        QThread::msleep(1);
    if (taken.hideFullPanel)
        m_ui->RxMemoryFull->hide();
    const std::uint8_t ch = taken.byte;

    // The echo is the received byte again: it is not shown a second time as sent data.
    if (m_ui->EchoOnOffComboBox->currentIndex() == 1)
        writeToPort(&ch, 1);
    if (m_newLineEnabled && ch == m_newLineChar && !m_display->isEmpty()) {
        m_display->appendLineBreak();
        if (m_realTimeSaveOn)
            LogLineBreak();
    }
    m_display->appendData(
        kirt::ByteText(kirt::dataFormatFromIndex(m_ui->DisplayFormatComboBox->currentIndex()), ch));
    m_rxDisplayChanged = true;
    // The cut to the line limit follows at the end of the hand-over (RxDisplayStepsDone).
    if (m_realTimeSaveOn)
        LogRxByte(ch);
    for (int n = 1; n <= ProtocolRules; ++n)
        MatchProtocolByte(n, ch);
    ScrollDisplayToEnd();
}

bool TFmain::showingSent() const
{
    return m_ui->ShowSentComboBox->currentIndex() == 1 && m_port && m_port->isOpen();
}

void TFmain::showSentBytes(const std::uint8_t* bytes, std::uint32_t count)
{
    // Shown as received bytes are, new-line character included, but not logged, not matched
    // by the rules and not in the traffic figure: none of them is about sent data.
    const kirt::DataFormat format =
        kirt::dataFormatFromIndex(m_ui->DisplayFormatComboBox->currentIndex());
    QString text;
    for (std::uint32_t i = 0; i < count; ++i) {
        if (m_newLineEnabled && bytes[i] == m_newLineChar &&
            !(m_display->isEmpty() && text.isEmpty())) {
            m_display->appendSent(std::exchange(text, QString()));
            m_display->appendLineBreak();
        }
        kirt::AppendByteText(text, format, bytes[i]);
    }
    m_display->appendSent(text);
    // Sent rows count against the line limit as received ones do; within a hand-over the cut
    // waits for its end, as for the received text around them.
    if (m_inRxHandOver)
        m_rxDisplayChanged = true;
    else
        TrimDisplayLines();
    ScrollDisplayToEnd();
}

void TFmain::TrimDisplayLines()
{
    m_display->trimToRows(m_displayLineLimit);
}

void TFmain::ScrollDisplayToEnd()
{
    m_display->scrollToEnd();
}

void TFmain::clearDisplay()
{
    m_display->clearDisplay();
}
