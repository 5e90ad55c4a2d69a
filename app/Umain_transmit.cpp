// Transmit lines, automatic transmission and the checksum calculator.
#include "app/Umain.h"

#include "ui_Umain.h"

#include <QTimer>

struct TFmain::TransmitState
{
};

void TFmain::AreaDeleter::operator()(TransmitState* state) const
{
    delete state;
}

void TFmain::connectTransmit()
{
    m_transmit.reset(new TransmitState);
}

void TFmain::SendTransmitLine(int) {}
void TFmain::FocusBeforeSend(int) {}
void TFmain::SendButtonClick(int) {}
void TFmain::SendStartBtnClick() {}
void TFmain::AutoTransIntervalTimerTimer() {}
void TFmain::TransmitAutoComboBoxClick() {}
void TFmain::Timer1Timer() {}
void TFmain::ComputeChecksum(int) {}

void TFmain::SendStopBtnClick()
{
    m_autoTransIntervalTimer->stop();
    m_autoCycle.stop();
    UpdateStatusLine();
}
