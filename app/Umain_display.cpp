// The receive display: one received byte at a time, and what is typed into it.
#include "app/Umain.h"

#include "display/bytetext.h"
#include "ui/receivedisplay.h"
#include "ui_Umain.h"

#include <QThread>
#include <QTimer>

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

    if (m_ui->EchoOnOffComboBox->currentIndex() == 1)
        WriteComBytes(&ch, 1);
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
