// Line control as the window sees it: the custom rate, flow control, DTR and RTS, break and
// the modem status lamps.
#include "app/Umain.h"

#include "app/dialogs.h"
#include "ui_Umain.h"

#include <QStyle>

namespace {

const QString NoModemLines = QStringLiteral("no modem lines on this device");

void lightLamp(QLabel* lamp, bool lit, bool enabled, const QString& toolTip)
{
    lamp->setEnabled(enabled);
    lamp->setToolTip(toolTip);
    if (lamp->property("lit").toBool() == lit)
        return;
    lamp->setProperty("lit", lit);
    // The style sheet picks the lit look from the property; it is read again only on a polish.
    lamp->style()->unpolish(lamp);
    lamp->style()->polish(lamp);
}

} // namespace

void TFmain::PickBaudRate()
{
    QComboBox* box = m_ui->BaudRateComboBox;
    if (box->currentIndex() == kirt::CustomBaudIndex) {
        const std::uint32_t offered = kirt::customBaudAllowed(m_picks.customBaudRate)
                                          ? m_picks.customBaudRate
                                          : port().settings().baudRate;
        const std::optional<int> rate = kirt::dialogs().askInteger(
            this, QStringLiteral("Custom Baud Rate"),
            QStringLiteral("Baud rate (%1 .. %2):")
                .arg(kirt::MinCustomBaud)
                .arg(kirt::MaxCustomBaud),
            static_cast<int>(offered), static_cast<int>(kirt::MinCustomBaud),
            static_cast<int>(kirt::MaxCustomBaud));
        if (!rate || !kirt::customBaudAllowed(*rate)) {
            box->setCurrentIndex(m_picks.baudIndexBefore);
            return;
        }
        m_picks.customBaudRate = static_cast<std::uint32_t>(*rate);
        showCustomBaudRate();
    }
    BaudRateComboBoxClick();
}

void TFmain::showCustomBaudRate()
{
    QComboBox* box = m_ui->BaudRateComboBox;
    const bool known = kirt::customBaudAllowed(m_picks.customBaudRate);
    box->setItemText(kirt::CustomBaudIndex,
                     known ? QStringLiteral("Custom (%1)").arg(m_picks.customBaudRate)
                           : QStringLiteral("Custom..."));
    // The custom item without a rate has nothing to run at: the layout's rate instead.
    if (box->currentIndex() == kirt::CustomBaudIndex && !known)
        box->setCurrentIndex(12);
}

void TFmain::FlowControlComboBoxClick()
{
    kirt::flowControlFromIndex(m_ui->FlowControlComboBox->currentIndex(),
                               port().settings().flowControl);
}

void TFmain::setModemLine(kirt::ModemLine line, bool on)
{
    if (!portOpen())
        return;
    const kirt::SerialStatus status = port().session().setModemLine(line, on);
    if (!status.ok())
        kirt::dialogs().message(this, QStringLiteral("Set ComPort Status ERROR!"), status.reason);
}

void TFmain::DTRButtonClick()
{
    setModemLine(kirt::ModemLine::Dtr, m_ui->DTRButton->isChecked());
}

void TFmain::RTSButtonClick()
{
    setModemLine(kirt::ModemLine::Rts, m_ui->RTSButton->isChecked());
}

void TFmain::BreakButtonClick()
{
    // A press while the line is held (by an earlier press or a script) neither restarts nor
    // cuts short the break under way.
    if (!port().session().deviceOpen() || port().session().breakHeld())
        return;
    // Timed by the session rather than slept in the backend, so the window keeps serving the
    // receive thread while the line is held; the session's close ends it.
    const kirt::SerialStatus status = port().session().holdBreak(BreakMs);
    if (!status.ok())
        kirt::dialogs().message(this, QStringLiteral("Set ComPort Status ERROR!"), status.reason);
}

void TFmain::ModemStatusTimerTimer()
{
    port().session().pollModemStatus();
}

void TFmain::showModemStatus(const kirt::ModemStatus& status)
{
    // Greyed while the port is closed or its device away; on a device without the lines, the
    // tool tip says why.
    const QString toolTip =
        !status.available && port().session().deviceOpen() ? NoModemLines : QString();
    const std::pair<QLabel*, bool> lamps[] = {{m_ui->CTSLamp, status.cts},
                                              {m_ui->DSRLamp, status.dsr},
                                              {m_ui->DCDLamp, status.dcd},
                                              {m_ui->RILamp, status.ri}};
    for (const auto& [lamp, on] : lamps)
        lightLamp(lamp, status.available && on, status.available, toolTip);
}
