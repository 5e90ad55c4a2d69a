// The port as the window sees it: open and close, the receive buffer, the write path.
#include "app/Umain.h"

#include "app/monitorhost.h"

#include "app/dialogs.h"
#include "display/displaytables.h"
#include "script/sessionport.h"
#include "serial/netaddress.h"
#include "serial/portmap.h"
#include "ui/plotpanel.h"
#include "ui/receivedisplay.h"
#include "ui_Umain.h"

#include <QTimer>

// Line settings: recorded only; an open port keeps its state until it is opened again.

void TFmain::SerialPortComboBoxClick()
{
    port().settings().portName = m_ui->SerialPortComboBox->currentText();
    showPortDevice();
    UpdateStatusLine();
}

void TFmain::BaudRateComboBoxClick()
{
    const int index = m_ui->BaudRateComboBox->currentIndex();
    kirt::baudRateFromIndex(index, m_picks.customBaudRate, port().settings().baudRate);
    m_picks.baudIndexBefore = index;
}

void TFmain::DataBitsComboBoxClick()
{
    kirt::dataBitsFromIndex(m_ui->DataBitsComboBox->currentIndex(), port().settings().dataBits);
}

void TFmain::StopBitsComboBoxClick()
{
    kirt::stopBitsFromIndex(m_ui->StopBitsComboBox->currentIndex(), port().settings().stopBits);
}

void TFmain::ParityBitsComboBoxClick()
{
    kirt::parityFromIndex(m_ui->ParityBitsComboBox->currentIndex(), port().settings().parity);
}

void TFmain::TimeOutComboBoxClick()
{
    kirt::tableEntry(kirt::ReadTimeoutTable, m_ui->TimeOutComboBox->currentIndex(),
                     port().settings().readTimeoutMs);
}

void TFmain::resetReceiveBuffer()
{
    port().pipeline().clearReceived();
}

kirt::PortController& TFmain::monitorPort()
{
    return m_monitor->controller();
}

void TFmain::setPortMaker(PortMaker maker)
{
    port().session().setPortFactory(std::move(maker));
}

void TFmain::COM_BitBtnClick()
{
    if (port().opening()) {
        // A far port still connecting: F2 gives up on it without a word.
        port().close();
        showPortDevice();
        stopWaitingForDevice();
        return;
    }
    resetReceiveBuffer();
    if (!portOpen()) {
        OpenComPort(m_ui->SerialPortComboBox->currentText());
        return; // the rest when the open has finished, at once for a local port
    }
    CloseComPort();
    afterComClick();
}

void TFmain::showComButtonOpen(bool open)
{
    QPushButton* button = m_ui->COM_BitBtn;
    QPalette p = button->palette();
    p.setColor(QPalette::ButtonText, open ? Qt::red : Qt::black);
    button->setPalette(p);
    button->setText(open ? QStringLiteral("COM CLOSE") : QStringLiteral("COM OPEN"));
}

void TFmain::afterComClick()
{
    UpdateStatusLine();
    m_typing.hexKeyPair.count = 0;
    // A user at the board's console stays there.
    if (terminalInFront()) {
        TerminalView_BitBtnClick();
        return;
    }
    ReceiveView_BitBtnClick();
    m_ui->mMessage->setFocus();
}

kirt::OpenRequest TFmain::openRequest(const QString& portName,
                                      const kirt::ComSettings& settings) const
{
    kirt::OpenRequest request;
    request.portName = portName;
    request.settings = settings;
    request.dtr = m_ui->DTRButton->isChecked();
    request.rts = m_ui->RTSButton->isChecked();
    request.settingsRefusal = lineSettingsRefusal();
    return request;
}

bool TFmain::OpenComPort(const QString& portName)
{
    port().beginOpen(openRequest(portName, port().settings()));
    if (port().opening()) {
        // A far host may take seconds to answer (at most 5 s to connect, 2 s for each answer).
        const QString text = QStringLiteral(" Connecting to %1...").arg(port().openingTarget());
        m_ui->SerialPortDeviceLabel->setText(text);
        showDeviceState(text);
    }
    return portOpen();
}

void TFmain::comOpenFinished(const kirt::OpenResult& result)
{
    if (!result.ok()) {
        showPortDevice();
        stopWaitingForDevice();
        const kirt::OpenFailureWords words =
            kirt::openFailureWords(m_ui->SerialPortComboBox->currentText(), result);
        if (result.failed == kirt::OpenResult::Step::Open)
            kirt::dialogs().error(this, words.title, words.detail());
        else
            kirt::dialogs().message(this, words.title, words.detail());
    }
    clearDisplay();
    if (result.ok())
        m_monitor->portOpened();
    afterComClick();
}

void TFmain::portOpened()
{
    // Whoever opened it: the COM button, or a script.
    showPortDevice();
    stopWaitingForDevice();
    showComButtonOpen(true);
    port().session().setRxEnabled(true);
    m_plotPanel->clearPlot(); // as the display: a new opening plots anew
    m_plotPanel->feed()->setLineSettings(port().openSettings());
    m_ui->TxDroppedLabel->hide(); // counted from this opening on
}

QString TFmain::lineSettingsRefusal() const
{
    // A box with no item chosen has no value: the port is not opened with an older one.
    const std::pair<const QComboBox*, const char*> boxes[] = {
        {m_ui->BaudRateComboBox, "baud rate"},
        {m_ui->DataBitsComboBox, "number of data bits"},
        {m_ui->StopBitsComboBox, "number of stop bits"},
        {m_ui->ParityBitsComboBox, "parity"},
        {m_ui->TimeOutComboBox, "read time-out"},
        {m_ui->FlowControlComboBox, "flow control"},
    };
    for (const auto& [box, what] : boxes)
        if (box->currentIndex() < 0)
            return QStringLiteral("No %1 is chosen.").arg(QLatin1String(what));
    return {};
}

kirt::OpenResult TFmain::openForScript(const QString& portName, const kirt::ComSettings& settings)
{
    resetReceiveBuffer();
    const kirt::OpenResult result = port().open(openRequest(portName, settings));
    clearDisplay();
    afterComClick();
    return result;
}

void TFmain::showClaim(bool claimed)
{
    // Transmit lines, automatic sends, typed keys and answers wait while another has the port.
    if (claimed && port().claimant())
        showDeviceState(QStringLiteral(" %1 has the port").arg(port().claimant()->claimName()));
    else if (!claimed)
        stopWaitingForDevice();
}

void TFmain::CloseComPort()
{
    if (portOpen()) {
        stopWaitingForDevice();
        if (m_autoTransIntervalTimer->isActive())
            SendStopBtnClick();
        port().close();
        if (realTimeSaveOn())
            StopRealTimeSave();
    }
    UpdateStatusLine();
}

void TFmain::PurgeComPort()
{
    port().session().purge();
}

void TFmain::ReleasePortHandle()
{
    // The program is ending: the handle goes back and the thread ends.
    stopWaitingForDevice();
    port().session().shutdown();
}

std::uint32_t TFmain::WriteComBytes(const std::uint8_t* bytes, std::uint32_t count)
{
    if (port().claimed()) {
        port().write(bytes, count); // held back, and said so
        return 0;
    }
    if (showingSent())
        showSentBytes(bytes, count);
    writeToPort(bytes, count);
    return count;
}

void TFmain::writeToPort(const std::uint8_t* bytes, std::uint32_t count)
{
    port().write(bytes, count);
}

// The receive thread's hand-over, for callers that run it themselves.

void TFmain::RxHandOverBegins()
{
    port().session().handOver().RxHandOverBegins();
}

void TFmain::StoreRxChunk(const std::uint8_t* bytes, std::uint32_t count)
{
    port().session().handOver().StoreRxChunk(bytes, count, kirt::ReadTime::now());
}

void TFmain::RxDisplayStep()
{
    port().session().handOver().RxDisplayStep();
}

void TFmain::RxDisplayStepsDone()
{
    port().session().handOver().RxDisplayStepsDone();
}

bool TFmain::RxPending() const
{
    return port().pipeline().RxPending();
}

void TFmain::ShowTraffic()
{
    port().pipeline().ShowTraffic();
}
