// The port as the window sees it: open and close, the receive buffer, the write path.
#include "app/Umain.h"

#include "app/dialogs.h"
#include "display/displaytables.h"
#include "display/traffic.h"
#include "serial/portmap.h"
#include "serial/termiosport.h"
#include "ui/receivedisplay.h"
#include "ui_Umain.h"

#include <QThread>
#include <QTimer>

namespace {

QString openFailureDetail(const kirt::SerialStatus& status)
{
    QString detail = status.reason;
    if (!status.hint.isEmpty())
        detail += (detail.isEmpty() ? QString() : QStringLiteral("\n")) + status.hint;
    return detail;
}

} // namespace

// Line settings: recorded only; an open port keeps its state until it is opened again.

void TFmain::SerialPortComboBoxClick()
{
    m_comSettings.portName = m_ui->SerialPortComboBox->currentText();
    showPortDevice();
}

void TFmain::BaudRateComboBoxClick()
{
    const int index = m_ui->BaudRateComboBox->currentIndex();
    if (index == kirt::CustomBaudIndex && kirt::customBaudAllowed(m_customBaudRate))
        m_comSettings.baudRate = m_customBaudRate;
    else
        kirt::tableEntry(kirt::BaudRateTable, index, m_comSettings.baudRate);
    m_baudIndexBeforePick = index;
}

void TFmain::DataBitsComboBoxClick()
{
    const int index = m_ui->DataBitsComboBox->currentIndex();
    if (index >= 0)
        m_comSettings.dataBits = static_cast<std::uint8_t>(index + 4);
}

void TFmain::StopBitsComboBoxClick()
{
    const int index = m_ui->StopBitsComboBox->currentIndex();
    if (index >= 0)
        m_comSettings.stopBits = static_cast<std::uint8_t>(index);
}

void TFmain::ParityBitsComboBoxClick()
{
    const int index = m_ui->ParityBitsComboBox->currentIndex();
    if (index >= 0)
        m_comSettings.parity = static_cast<std::uint8_t>(index);
}

void TFmain::TimeOutComboBoxClick()
{
    kirt::tableEntry(kirt::ReadTimeoutTable, m_ui->TimeOutComboBox->currentIndex(),
                     m_comSettings.readTimeoutMs);
}

void TFmain::resetReceiveBuffer()
{
    m_rxMemory.clear();
}

void TFmain::COM_BitBtnClick()
{
    m_rxMemory.clear();
    QPushButton* button = m_ui->COM_BitBtn;
    QPalette p = button->palette();
    if (!m_portOpen) {
        const QString name = m_ui->SerialPortComboBox->currentText();
        if (OpenComPort(name)) {
            m_portOpen = true;
            p.setColor(QPalette::ButtonText, Qt::red);
            button->setPalette(p);
            button->setText(QStringLiteral("COM CLOSE"));
            m_rxEnabled = true;
            startLineControl();
        }
        clearDisplay();
    } else {
        CloseComPort();
        p.setColor(QPalette::ButtonText, Qt::black);
        button->setPalette(p);
        button->setText(QStringLiteral("COM OPEN"));
    }
    UpdateStatusLine();
    ReceiveView_BitBtnClick();
    m_ui->mMessage->setFocus();
    m_hexKeyPair.count = 0;
}

bool TFmain::OpenComPort(const QString& portName)
{
    const auto resolution = kirt::resolvePort(portName);
    std::shared_ptr<kirt::SerialPort> port =
        m_portMaker ? m_portMaker() : std::make_shared<kirt::TermiosPort>();
    kirt::SerialStatus status;
    if (resolution) {
        status = port->open(resolution->devicePath);
    } else {
        status.error = kirt::SerialError::NotFound;
        status.reason = portName.isEmpty() ? QStringLiteral("No port is selected.")
                                           : QStringLiteral("%1 is not a port name.").arg(portName);
    }
    if (!status.ok()) {
        port->close();
        kirt::dialogs().error(this, QStringLiteral("Error Opening ") + portName,
                              openFailureDetail(status));
        return false;
    }
    status = port->readState();
    if (!status.ok()) {
        port->close();
        kirt::dialogs().message(this, QStringLiteral("Get ComPort Status ERROR!"), status.reason);
        return false;
    }
    status = applyLineSettings(*port);
    if (status.ok())
        status = assertModemLines(*port);
    if (!status.ok()) {
        port->close();
        kirt::dialogs().message(this, QStringLiteral("Set ComPort Status ERROR!"), status.reason);
        return false;
    }
    m_port = std::move(port);
    rememberOpenedDevice(portName);
    // The thread starts only now, so it never sees a half-configured port.
    m_receiveThread = new TReceiveComThread(m_port, *this, *this, m_rxEnabled);
    return true;
}

kirt::SerialStatus TFmain::applyLineSettings(kirt::SerialPort& port)
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
    for (const auto& [box, what] : boxes) {
        if (box->currentIndex() < 0) {
            kirt::SerialStatus status;
            status.error = kirt::SerialError::SetStateFailed;
            status.reason = QStringLiteral("No %1 is chosen.").arg(QLatin1String(what));
            return status;
        }
    }
    return port.applyState(m_comSettings);
}

void TFmain::CloseComPort()
{
    if (m_portOpen) {
        stopWaitingForDevice();
        if (m_autoTransIntervalTimer->isActive())
            SendStopBtnClick();
        if (m_receiveThread)
            m_receiveThread->requestInterruption();
        stopLineControl();
        PurgeComPort();
        // The thread holds its own reference: a read in progress never sees a reused descriptor.
        if (m_port)
            m_port->close();
        m_port.reset();
        m_portOpen = false;
        if (m_realTimeSaveOn)
            StopRealTimeSave();
    }
    UpdateStatusLine();
}

void TFmain::PurgeComPort()
{
    if (m_port)
        m_port->purge();
}

void TFmain::ReleasePortHandle()
{
    // The program is ending: the handle goes back, the thread is ended by the destructor.
    stopWaitingForDevice();
    if (m_receiveThread)
        m_receiveThread->requestInterruption();
    if (m_port) {
        m_port->purge();
        m_port->close();
    }
}

std::uint32_t TFmain::WriteComBytes(const std::uint8_t* bytes, std::uint32_t count)
{
    if (showingSent())
        showSentBytes(bytes, count);
    writeToPort(bytes, count);
    return count;
}

void TFmain::writeToPort(const std::uint8_t* bytes, std::uint32_t count)
{
    // With no open port every byte is discarded; bytes a stuck device does not take are not
    // retried.
    if (!m_port || !m_port->isOpen() || count == 0)
        return;
    if (m_inRxHandOver) {
        // Echo and answers of one hand-over leave together, in order, when it ends.
        m_rxWrites.insert(m_rxWrites.end(), bytes, bytes + count);
        return;
    }
    m_port->writeBytes(bytes, count);
}

void TFmain::flushRxWrites()
{
    if (m_rxWrites.empty())
        return;
    if (m_port && m_port->isOpen())
        m_port->writeBytes(m_rxWrites.data(), m_rxWrites.size());
    m_rxWrites.clear();
}

void TFmain::RxHandOverBegins()
{
    m_inRxHandOver = true;
    // One time for every byte of the batch: they arrived together.
    m_rxTime = QDateTime::currentDateTime();
    m_rxTimeText.clear();
}

void TFmain::StoreRxChunk(const std::uint8_t* bytes, std::uint32_t count)
{
    const auto result = m_rxMemory.StoreRxChunk(bytes, count);
    if (result.showFullPanel)
        m_ui->RxMemoryFull->show();
}

void TFmain::RxDisplayStep()
{
    if (m_rxMemory.pending())
        DisplayRxByte();
    // Within a hand-over the figure and the log are brought up to date when it ends: nothing
    // paints or reads them in between.
    if (!m_inRxHandOver) {
        ShowTraffic();
        flushLog();
    }
}

void TFmain::RxDisplayStepsDone()
{
    // Answers first: the device waits for them, the display can wait a moment.
    m_inRxHandOver = false;
    flushRxWrites();
    ShowTraffic();
    flushLog();
    // The steps of one hand-over appended their text; it goes into the display in one edit
    // and is cut back to the line limit before anything else sees the display. A hand-over
    // that displayed nothing leaves the display alone: a new limit waits for new text.
    if (!m_rxDisplayChanged)
        return;
    m_rxDisplayChanged = false;
    TrimDisplayLines();
    m_display->batchEnded();
}

bool TFmain::RxPending() const
{
    return m_rxMemory.pending();
}

void TFmain::ShowTraffic()
{
    const QString caption = kirt::TrafficCaption(m_rxMemory.written(), m_rxMemory.backlog());
    if (m_ui->TrafficPanel->text() != caption)
        m_ui->TrafficPanel->setText(caption);
}
