// The port as the window sees it: line settings shown, the receive buffer, the write path.
#include "app/Umain.h"

#include "serial/portmap.h"
#include "ui_Umain.h"

void TFmain::showPortDevice()
{
    // Shows a user with a USB adapter which device the chosen name opens, so they know what to link.
    m_ui->SerialPortDeviceLabel->setText(kirt::describePort(m_ui->SerialPortComboBox->currentText()));
}

void TFmain::resetReceiveBuffer()
{
}
