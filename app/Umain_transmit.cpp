// Transmit lines, automatic transmission and the checksum calculator.
#include "app/Umain.h"

#include "app/dialogs.h"
#include "checksum/checksum.h"
#include "ui/datalineedit.h"
#include "ui_Umain.h"

#include <QPushButton>
#include <QTextDocument>
#include <QTimer>

namespace {

// The check buttons that compute something; a button's number is also its kind. Button3 and
// Button4 have no check and stay unconnected.
constexpr std::array<int, 6> CheckButtonKinds{1, 2, 5, 6, 7, 8};

} // namespace

struct TFmain::TransmitState
{
    // What is selected in the current transmit line, as last seen by the selection watch.
    QString selectedTransmitText;
    std::array<QPushButton*, 8> checkButtons{};
};

void TFmain::AreaDeleter::operator()(TransmitState* state) const
{
    delete state;
}

void TFmain::connectTransmit()
{
    m_transmit.reset(new TransmitState);
    Ui::TFmain* ui = m_ui.get();

    // SendStopBtn is wired with the other command-bar controls.
    connect(ui->SendStartBtn, &QPushButton::clicked, this, &TFmain::SendStartBtnClick);
    QPushButton* const sendButtons[TransmitRows] = {ui->BitBtn9,  ui->BitBtn10, ui->BitBtn11,
                                                    ui->BitBtn12, ui->BitBtn13, ui->BitBtn14,
                                                    ui->BitBtn15, ui->BitBtn16, ui->BitBtn17};
    for (int n = 1; n <= TransmitRows; ++n) {
        connect(sendButtons[n - 1], &QPushButton::clicked, this, [this, n] { SendButtonClick(n); });
        connect(m_transmitAuto[static_cast<std::size_t>(n)], &QComboBox::activated, this,
                &TFmain::TransmitAutoComboBoxClick);
    }
    // A coarse timer may tick up to 5% early; a device paced by these sends should never see
    // a gap shorter than the interval chosen.
    m_autoTransIntervalTimer->setTimerType(Qt::PreciseTimer);
    connect(m_autoTransIntervalTimer, &QTimer::timeout, this, &TFmain::AutoTransIntervalTimerTimer);

    m_transmit->checkButtons = {ui->Button1, ui->Button2, ui->Button3, ui->Button4,
                                ui->Button5, ui->Button6, ui->Button7, ui->Button8};
    for (const int kind : CheckButtonKinds)
        connect(m_transmit->checkButtons[static_cast<std::size_t>(kind - 1)], &QPushButton::clicked,
                this, [this, kind] { ComputeChecksum(kind); });
    connect(m_timer1, &QTimer::timeout, this, &TFmain::Timer1Timer);
}

// Transmit lines.

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
        m_transmitEdit[static_cast<std::size_t>(n)]->setFocus();
}

void TFmain::SendTransmitLine(int n)
{
    if (!m_portOpen)
        return;
    const auto i = static_cast<std::size_t>(n);
    kirt::LoadTransmitText(m_transmitBuffer, m_transmitEdit[i]->fieldText());
    std::uint32_t count = kirt::ConvertTransmitText(m_transmitBuffer, m_transmitLineFormat[i]);
    // A line too short to give a byte sends nothing at all, not even its line end.
    if (count == 0)
        return;
    // The loaded text is cut two bytes short of the buffer, so CR LF always fits.
    if (m_crlf[i]->currentIndex() == 1 && count + 2 <= m_transmitBuffer.size()) {
        m_transmitBuffer[count] = 0x0D;
        m_transmitBuffer[count + 1] = 0x0A;
        count += 2;
    }
    WriteComBytes(m_transmitBuffer.data(), count);
    UpdateStatusLine();
}

// Auto transmit.

void TFmain::SendStartBtnClick()
{
    if (!m_portOpen)
        return;
    if (m_autoCycle.isEmpty()) {
        dialogs().error(this, QStringLiteral("Not. Auto Mode"));
    } else if (!m_autoTransIntervalTimer->isActive()) {
        // Restarting a running timer would shift its ticks, so a second START is ignored.
        m_autoTransIntervalTimer->setInterval(m_autoIntervalMs);
        m_autoTransIntervalTimer->start();
    }
    UpdateStatusLine();
}

void TFmain::SendStopBtnClick()
{
    m_autoTransIntervalTimer->stop();
    m_autoCycle.stop();
    UpdateStatusLine();
}

void TFmain::AutoTransIntervalTimerTimer()
{
    m_autoCycle.tick([this](int line) { SendTransmitLine(line); });
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
            m_transmitAuto[static_cast<std::size_t>(n)]->currentIndex() == 1;
    m_autoCycle.rebuild(autoOn);
    if (!m_autoCycle.isEmpty() && wasRunning)
        SendStartBtnClick();
    UpdateStatusLine();
}

// Checksum calculator.

void TFmain::Timer1Timer()
{
    if (m_currentTransmitLine == 0)
        return;
    m_transmit->selectedTransmitText =
        m_transmitEdit[static_cast<std::size_t>(m_currentTransmitLine)]->selectedFieldText();
    const bool any = !m_transmit->selectedTransmitText.isEmpty();
    for (QPushButton* button : m_transmit->checkButtons)
        button->setEnabled(any);
}

void TFmain::ComputeChecksum(int kind)
{
    if (m_currentTransmitLine <= 0)
        return;
    const auto i = static_cast<std::size_t>(m_currentTransmitLine);
    // Read the selection now rather than trust the watch's copy, which may be up to one tick
    // old and may still belong to the line that had the focus before.
    m_transmit->selectedTransmitText = m_transmitEdit[i]->selectedFieldText();
    const auto captions =
        kirt::ComputeChecksum(kind, m_transmit->selectedTransmitText, m_transmitLineFormat[i]);
    if (!captions)
        return;
    m_ui->LengthDisplay->setText(captions->length);
    m_ui->CheckSumDisplay->setText(captions->checksum);
}
