// The port as the window sees it: open and close, the receive buffer, the write path.
#include "app/Umain.h"

#include "app/dialogs.h"
#include "display/displaytables.h"
#include "script/sessionport.h"
#include "serial/netaddress.h"
#include "serial/portmap.h"
#include "ui/plotpanel.h"
#include "ui/receivedisplay.h"
#include "ui_Umain.h"

#include <QGuiApplication>
#include <QTimer>

// Line settings: recorded only; an open port keeps its state until it is opened again.

void TFmain::SerialPortComboBoxClick()
{
    m_comSettings.portName = m_ui->SerialPortComboBox->currentText();
    showPortDevice();
    UpdateStatusLine();
}

void TFmain::BaudRateComboBoxClick()
{
    const int index = m_ui->BaudRateComboBox->currentIndex();
    kirt::baudRateFromIndex(index, m_customBaudRate, m_comSettings.baudRate);
    m_baudIndexBeforePick = index;
}

void TFmain::DataBitsComboBoxClick()
{
    kirt::dataBitsFromIndex(m_ui->DataBitsComboBox->currentIndex(), m_comSettings.dataBits);
}

void TFmain::StopBitsComboBoxClick()
{
    kirt::stopBitsFromIndex(m_ui->StopBitsComboBox->currentIndex(), m_comSettings.stopBits);
}

void TFmain::ParityBitsComboBoxClick()
{
    kirt::parityFromIndex(m_ui->ParityBitsComboBox->currentIndex(), m_comSettings.parity);
}

void TFmain::TimeOutComboBoxClick()
{
    kirt::tableEntry(kirt::ReadTimeoutTable, m_ui->TimeOutComboBox->currentIndex(),
                     m_comSettings.readTimeoutMs);
}

void TFmain::resetReceiveBuffer()
{
    m_pipeline->clearReceived();
}

void TFmain::setPortMaker(PortMaker maker)
{
    m_session->setPortFactory(std::move(maker));
}

void TFmain::COM_BitBtnClick()
{
    resetReceiveBuffer();
    QPushButton* button = m_ui->COM_BitBtn;
    QPalette p = button->palette();
    if (!portOpen()) {
        const QString name = m_ui->SerialPortComboBox->currentText();
        if (OpenComPort(name)) {
            p.setColor(QPalette::ButtonText, Qt::red);
            button->setPalette(p);
            button->setText(QStringLiteral("COM CLOSE"));
            m_session->setRxEnabled(true);
            m_plotPanel->clearPlot(); // as the display: a new opening plots anew
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
    kirt::OpenRequest request;
    request.portName = portName;
    request.settings = m_comSettings;
    request.dtr = m_ui->DTRButton->isChecked();
    request.rts = m_ui->RTSButton->isChecked();
    request.settingsRefusal = lineSettingsRefusal();
    // A far host may take seconds to answer (at most 5 s to connect, 2 s for each answer).
    const auto target = kirt::resolvePort(portName);
    const bool networked = target && target->networked();
    if (networked)
        QGuiApplication::setOverrideCursor(Qt::WaitCursor);
    const kirt::OpenResult result = m_session->open(request);
    if (networked)
        QGuiApplication::restoreOverrideCursor();
    if (m_quietOpen) {
        // A script's open: the script names the port and reports the failure itself.
        *m_quietOpen = result;
    } else if (!result.ok()) {
        const kirt::OpenFailureWords words = kirt::openFailureWords(portName, result);
        if (result.failed == kirt::OpenResult::Step::Open)
            kirt::dialogs().error(this, words.title, words.detail());
        else
            kirt::dialogs().message(this, words.title, words.detail());
    }
    if (!result.ok())
        return false;
    m_ui->TxDroppedLabel->hide(); // counted from this opening on
    return true;
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

bool TFmain::openPortQuietly(kirt::OpenResult& result)
{
    m_quietOpen = &result;
    COM_BitBtnClick();
    m_quietOpen = nullptr;
    return portOpen();
}

void TFmain::CloseComPort()
{
    if (portOpen()) {
        stopWaitingForDevice();
        if (m_autoTransIntervalTimer->isActive())
            SendStopBtnClick();
        m_session->close();
        if (realTimeSaveOn())
            StopRealTimeSave();
    }
    UpdateStatusLine();
}

void TFmain::PurgeComPort()
{
    m_session->purge();
}

void TFmain::ReleasePortHandle()
{
    // The program is ending: the handle goes back and the thread ends.
    stopWaitingForDevice();
    m_session->shutdown();
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
    m_session->write(bytes, count);
}

// The receive thread's hand-over, for callers that run it themselves.

void TFmain::RxHandOverBegins()
{
    m_session->handOver().RxHandOverBegins();
}

void TFmain::StoreRxChunk(const std::uint8_t* bytes, std::uint32_t count)
{
    m_session->handOver().StoreRxChunk(bytes, count, kirt::ReadTime::now());
}

void TFmain::RxDisplayStep()
{
    m_session->handOver().RxDisplayStep();
}

void TFmain::RxDisplayStepsDone()
{
    m_session->handOver().RxDisplayStepsDone();
}

bool TFmain::RxPending() const
{
    return m_pipeline->RxPending();
}

void TFmain::ShowTraffic()
{
    m_pipeline->ShowTraffic();
}
